#include "platform/Host.h"

#include <QSysInfo>
#include <unistd.h>

namespace plat {

// Names travel in fixed 16-character fields (15 and the terminator).
QString ComputerName()
{
    return QSysInfo::machineHostName().left(15);
}

QString HostName()
{
    return QSysInfo::machineHostName();
}

int64_t ProcessId()
{
    return static_cast<int64_t>(::getpid());
}

}  // namespace plat
