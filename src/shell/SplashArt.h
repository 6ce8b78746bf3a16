// The pictures of the start-up splash, drawn in code so that no image file
// has to travel with the program.
#pragma once

#include <QPixmap>

namespace splash {

// The program's logo: a seal with a check mark and the letter V.
QPixmap Logo(int size);

// A small padlock that stands for the secured signature.
QPixmap Lock(int size);

}  // namespace splash
