// Preloaded into the program (LD_PRELOAD) by its tests and by tests/soak/end-while-frames-stall, it
// makes the GPU hold work up as a busy CPU driver or a stalling GPU does:
// - while the file named by QUORVEL_STALL_FILE exists, every vkQueueSubmit2 and vkQueuePresentKHR
//   first waits for as many milliseconds as the file says, or for good when it says "forever". The
//   file is read at each call, so a stall can begin and end while the program runs. With
//   QUORVEL_STALL_THREAD set, only the calls of the thread of that name wait (its kernel name, as
//   `ps -L` shows it). Each call that begins to wait appends its thread's name and a newline to the
//   file's name with ".held" after it, so a test knows that a frame is truly held;
// - with QUORVEL_STALL_DEVICE_WAIT=forever, vkDeviceWaitIdle and vkQueueWaitIdle never return: a
//   GPU that stops completing work while nothing is submitted.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
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

static void forever(void) {
  for (;;) pause();
}

// Tells the test that the calling thread has begun to wait.
static void noteHeld(const char* thread) {
  const char* path = getenv("QUORVEL_STALL_FILE");
  char held[4096];
  if (!path || snprintf(held, sizeof held, "%s.held", path) >= (int)sizeof held) return;
  const int fd = open(held, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return;
  char line[64];
  const int length = snprintf(line, sizeof line, "%s\n", thread);
  if (length > 0) {
    const ssize_t written = write(fd, line, (size_t)length);
    (void)written;
  }
  close(fd);
}

static void stall(void) {
  char thread[32] = {0};
  pthread_getname_np(pthread_self(), thread, sizeof thread);
  const char* only = getenv("QUORVEL_STALL_THREAD");
  if (only && only[0] && strcmp(only, thread) != 0) return;
  const long milliseconds = stallMilliseconds();
  if (milliseconds == 0) return;
  noteHeld(thread);
  if (milliseconds < 0) forever();
  struct timespec left = {milliseconds / 1000, (milliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

static void deviceWait(void) {
  const char* wait = getenv("QUORVEL_STALL_DEVICE_WAIT");
  if (wait && strcmp(wait, "forever") == 0) forever();
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

VKAPI_ATTR VkResult VKAPI_CALL vkDeviceWaitIdle(VkDevice device) {
  static PFN_vkDeviceWaitIdle next;
  if (!next) next = (PFN_vkDeviceWaitIdle)dlsym(RTLD_NEXT, "vkDeviceWaitIdle");
  deviceWait();
  return next(device);
}

VKAPI_ATTR VkResult VKAPI_CALL vkQueueWaitIdle(VkQueue queue) {
  static PFN_vkQueueWaitIdle next;
  if (!next) next = (PFN_vkQueueWaitIdle)dlsym(RTLD_NEXT, "vkQueueWaitIdle");
  deviceWait();
  return next(queue);
}
