// Facts about the computer.
#pragma once

#include <QString>
#include <cstdint>

namespace plat {

// The host name, at most 15 characters.
QString ComputerName();

// The full host name, as other programs on this computer see it.
QString HostName();

// This process's id.
int64_t ProcessId();

}  // namespace plat
