#include "base/FreedMemory.h"

#include <cstdlib>  // defines __GLIBC__ with the GNU C library

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace quorvel {

void returnFreedMemory() {
#if defined(__GLIBC__)
  malloc_trim(0);
#endif
}

void limitHeapArenas() {
#if defined(__GLIBC__)
  mallopt(M_ARENA_MAX, 2);
#endif
}

}  // namespace quorvel
