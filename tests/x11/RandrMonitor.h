#pragma once

#include <sys/uio.h>
#include <xcb/randr.h>
#include <xcb/xcbext.h>

#include "platform/x11/X11Connection.h"

namespace quorvel {

// Defines a RandR monitor on the session's screen. The request is put together here because
// libxcb's own encoder for it miscounts its length and aborts.
inline bool setRandrMonitor(X11Connection& x, const xcb_randr_monitor_info_t& info) {
  struct {
    uint8_t major = 0, minor = 0;
    uint16_t length = 0;
    uint32_t window = 0;
    xcb_randr_monitor_info_t info;
  } request;
  static_assert(sizeof request == 32);
  request.window = x.root();
  request.info = info;
  iovec parts[3]{};
  parts[2].iov_base = &request;
  parts[2].iov_len = sizeof request;
  xcb_protocol_request_t protocol{1, &xcb_randr_id, XCB_RANDR_SET_MONITOR, 1};
  const unsigned sequence = xcb_send_request(x.xcb(), XCB_REQUEST_CHECKED, parts + 2, &protocol);
  return x.check(xcb_void_cookie_t{sequence});
}

}  // namespace quorvel
