// Facts about the computer.
#pragma once

#include <QString>

namespace plat {

// The host name, at most 15 characters.
QString ComputerName();

}  // namespace plat
