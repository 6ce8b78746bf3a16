// The program's version, from the project's one definition in CMakeLists.txt;
// shown in the window and the technical data, written to Vok_TSE.INI and the
// status file.
#pragma once

#include <QString>

namespace plat {

inline QString ProgramVersion()
{
    return QStringLiteral(VOK_TSE_VERSION);
}

}  // namespace plat
