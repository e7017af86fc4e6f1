// Preloaded into the program (LD_PRELOAD) by tests/soak/end-while-frames-stall, it makes pictures of
// windows slow to read, as a big window or a busy X server makes them: with QUORVEL_SLOW_READS set
// to a number of milliseconds, every xcb_get_image_reply and xcb_shm_get_image_reply that a thread
// other than the main thread waits for first waits that long.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

static void slow(void) {
  if (gettid() == getpid()) return;
  const char* text = getenv("QUORVEL_SLOW_READS");
  const long milliseconds = text ? strtol(text, NULL, 10) : 0;
  if (milliseconds <= 0) return;
  struct timespec left = {milliseconds / 1000, (milliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

xcb_get_image_reply_t* xcb_get_image_reply(xcb_connection_t* c, xcb_get_image_cookie_t cookie,
                                           xcb_generic_error_t** e) {
  static xcb_get_image_reply_t* (*next)(xcb_connection_t*, xcb_get_image_cookie_t, xcb_generic_error_t**);
  if (!next) next = dlsym(RTLD_NEXT, "xcb_get_image_reply");
  slow();
  return next(c, cookie, e);
}

xcb_shm_get_image_reply_t* xcb_shm_get_image_reply(xcb_connection_t* c, xcb_shm_get_image_cookie_t cookie,
                                                   xcb_generic_error_t** e) {
  static xcb_shm_get_image_reply_t* (*next)(xcb_connection_t*, xcb_shm_get_image_cookie_t, xcb_generic_error_t**);
  if (!next) next = dlsym(RTLD_NEXT, "xcb_shm_get_image_reply");
  slow();
  return next(c, cookie, e);
}
