#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/x11/X11Window.h"

namespace quorvel {

class X11Connection;
class X11DisplayReader;

// Reads the managed windows of the session: the window manager's client lists and, per window, the
// facts of X11Window. Requests for all windows are sent before any reply is awaited, so one read of
// every window costs about one round trip. A window that vanishes during a read is left out.
class X11WindowReader {
 public:
  // `displays` gives the primary monitor, the origin of global coordinates.
  X11WindowReader(X11Connection& connection, X11DisplayReader& displays);

  // _NET_CLIENT_LIST: every managed window, in the order the window manager took them on. Both
  // lists name each window once.
  std::vector<uint32_t> clientList();
  // _NET_CLIENT_LIST_STACKING turned around: every managed window front to back (index 0 is the
  // front-most). The window manager keeps that list bottom to top.
  std::vector<uint32_t> frontToBack();

  // Every managed window front to back; managed windows missing from the stacking list follow, in
  // client-list order.
  std::vector<X11Window> readAll();
  // The given windows in the given order, less those that are gone.
  std::vector<X11Window> read(const std::vector<uint32_t>& windows);
  // One window; absent when it is gone.
  std::optional<X11Window> read(uint32_t window);

 private:
  // A window list of the root window, turned around when asked, each window once.
  std::vector<uint32_t> rootWindows(uint32_t property, bool reversed);
  // Process ids from the X-Resource extension for windows that do not name their own.
  void fillProcessIds(std::vector<X11Window>& windows);
  bool hasClientIds();

  X11Connection& connection_;
  X11DisplayReader& displays_;
  std::optional<bool> clientIds_;
};

}  // namespace quorvel
