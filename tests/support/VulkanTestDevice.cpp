#include "VulkanTestDevice.h"

#include <dlfcn.h>

#include <mutex>

// The Khronos validation layer and the CPU driver keep a few allocations to the end of the process;
// they are theirs, not ours.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libVkLayer_khronos_validation.so\n"
         "leak:libvulkan_lvp.so\n"
         "leak:libLLVM\n";
}

namespace quorvel {

void VulkanTestDevice::keepDriversLoaded() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (const char* library : {"libVkLayer_khronos_validation.so", "libvulkan_lvp.so"})
      (void)dlopen(library, RTLD_NOW | RTLD_NODELETE);
  });
}

}  // namespace quorvel
