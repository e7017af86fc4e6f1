// Preloaded into the program (LD_PRELOAD) by its tests and by tests/soak/end-while-frames-stall, it
// makes the GPU hold frames up as a busy CPU driver or a stalling GPU does: while the file named by
// QUORVEL_STALL_FILE exists, every vkQueueSubmit2 and vkQueuePresentKHR first waits for as many
// milliseconds as the file says, or for good when it says "forever". The file is read at each call,
// so a stall can begin and end while the program runs.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>
#include <vulkan/vulkan.h>

// Milliseconds to wait; -1 for good; 0 without a stall.
static long stallMilliseconds(void) {
  const char* path = getenv("QUORVEL_STALL_FILE");
  if (!path) return 0;
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  char text[32] = {0};
  const ssize_t got = read(fd, text, sizeof text - 1);
  close(fd);
  if (got <= 0) return 0;
  if (strncmp(text, "forever", 7) == 0) return -1;
  return strtol(text, NULL, 10);
}

static void stall(void) {
  const long milliseconds = stallMilliseconds();
  if (milliseconds < 0) {
    for (;;) pause();
  }
  struct timespec left = {milliseconds / 1000, (milliseconds % 1000) * 1000000L};
  while (milliseconds > 0 && nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

VKAPI_ATTR VkResult VKAPI_CALL vkQueuePresentKHR(VkQueue queue, const VkPresentInfoKHR* info) {
  static PFN_vkQueuePresentKHR next;
  if (!next) next = (PFN_vkQueuePresentKHR)dlsym(RTLD_NEXT, "vkQueuePresentKHR");
  stall();
  return next(queue, info);
}

VKAPI_ATTR VkResult VKAPI_CALL vkQueueSubmit2(VkQueue queue, uint32_t count, const VkSubmitInfo2* submits,
                                              VkFence fence) {
  static PFN_vkQueueSubmit2 next;
  if (!next) next = (PFN_vkQueueSubmit2)dlsym(RTLD_NEXT, "vkQueueSubmit2");
  stall();
  return next(queue, count, submits, fence);
}
