#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>

#include "platform/x11/X11Rect.h"

namespace quorvel {

class X11Connection;

// Asks the window manager to act on a managed window, the way a pager does (EWMH source indication
// 2, so focus-stealing prevention lets it through). Every action answers false when the window is
// gone, the request is out of range or the connection is lost; true means the window manager was
// asked, not that it has acted yet: callers read the window again to see the result.
class X11WindowActions {
 public:
  // The desktop "number" that puts a window on every desktop.
  static constexpr uint32_t kAllDesktops = 0xFFFFFFFFu;
  static constexpr std::chrono::milliseconds kDesktopSwitchWait{500};
  static constexpr std::chrono::milliseconds kActivationWait{300};
  static constexpr std::chrono::milliseconds kPollInterval{10};

  explicit X11WindowActions(X11Connection& connection);

  // Raises and focuses the window, un-minimizing it, by a _NET_ACTIVE_WINDOW request stamped with the
  // time of the user's triggering event, or with the server's current time when there is none. A
  // window on another desktop is reached by switching to that desktop first: the activation follows
  // once the window manager has switched (waiting at most kDesktopSwitchWait), and is sent once more
  // when the window has not become the active one within kActivationWait. Only then does the call
  // block, on round trips to the server; otherwise the request leaves after one round trip (which
  // also finds a window that is gone), and a second one checks that it was sent.
  bool activate(uint32_t window, std::optional<uint32_t> eventTime = std::nullopt);
  // The same request, answering the time stamp it carried (0 when the server's time could not be
  // had); none when it was not sent.
  std::optional<uint32_t> activateStamped(uint32_t window, std::optional<uint32_t> eventTime = std::nullopt);
  // Iconifies the window (WM_CHANGE_STATE to IconicState).
  bool minimize(uint32_t window);
  // Takes an iconified window back to its normal state by mapping it, as its own client would; the
  // window manager restores it (and may focus it).
  bool unminimize(uint32_t window);
  // Adds or removes the full-screen state (_NET_WM_STATE_FULLSCREEN).
  bool setFullScreen(uint32_t window, bool fullScreen);
  // Asks the window to close (_NET_CLOSE_WINDOW); the application may still keep it open.
  bool close(uint32_t window, std::optional<uint32_t> eventTime = std::nullopt);
  // Moves the window to a desktop counted from 0 (the second desktop is 1), or to every desktop with
  // kAllDesktops. False for a desktop the window manager does not have.
  bool moveToDesktop(uint32_t window, uint32_t desktop);
  // Asks the window manager to put the window's frame (decorations included; `frame` is where it is
  // now, root coordinates) at `origin` and/or give it `size`, by a _NET_MOVERESIZE_WINDOW request,
  // or by a configure request of the window where the window manager does not offer that. The
  // decorations are taken to stay as they are. Then waits at most kFrameWait until the window shows
  // the request: a window manager acts on it later, or never (a tiled window stays in its tile).
  bool setFrame(uint32_t window, const X11Rect& frame, std::optional<std::pair<int32_t, int32_t>> origin,
                std::optional<std::pair<int32_t, int32_t>> size);
  static constexpr std::chrono::milliseconds kFrameWait{200};

 private:
  bool exists(uint32_t window);
  // The window's own rectangle in root coordinates, outside its border; none when it is gone.
  std::optional<X11Rect> clientRect(uint32_t window);
  bool supports(uint32_t atom);
  // Polls `condition` until it holds or `bound` has passed; whether it held.
  static bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds bound);
  uint32_t timestamp(std::optional<uint32_t> eventTime);
  bool sendToRoot(uint32_t window, uint32_t type, uint32_t d0, uint32_t d1 = 0, uint32_t d2 = 0,
                  uint32_t d3 = 0);

  X11Connection& connection_;
};

}  // namespace quorvel
