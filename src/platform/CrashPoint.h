// A test switch for the service's durable steps: with VOK_TSE_CRASH_AFTER set
// to a step's name, the process kills itself (SIGKILL, as a power cut or
// the OOM killer would end it) the first time it passes that step. Tests
// use it to prove that a kill at any step neither signs a job twice nor
// leaves it unsigned. Unset, a step costs one comparison.
#pragma once

namespace plat {

void CrashPoint(const char* step);

}  // namespace plat
