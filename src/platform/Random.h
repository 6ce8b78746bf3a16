// Random bytes from the kernel's generator, for secrets the service makes
// itself (the HTTP door's token).
#pragma once

#include <cstddef>
#include <sys/types.h>

namespace plat {

// Fills out[0..n) from getrandom(2); blocks only before the kernel's pool was
// first seeded. 0 or the errno value.
int RandomBytes(void* out, size_t n);

}  // namespace plat
