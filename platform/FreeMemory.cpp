#include "platform/FreeMemory.h"

// Any header of the C library says which one it is.
#include <cstdlib>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace platform {

bool releaseFreeMemory() {
#if defined(__GLIBC__)
  return malloc_trim(0) != 0;
#else
  return false;
#endif
}

}  // namespace platform
