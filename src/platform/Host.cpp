#include "platform/Host.h"

#include <QSysInfo>

namespace plat {

// Names travel in fixed 16-character fields (15 and the terminator).
QString ComputerName()
{
    return QSysInfo::machineHostName().left(15);
}

}  // namespace plat
