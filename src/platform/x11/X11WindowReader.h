#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <unordered_set>
#include <vector>

#include "platform/x11/X11Window.h"

namespace quorvel {

class X11Connection;
class X11DisplayReader;

// Reads the managed windows of the session: the window manager's client lists and, per window, the
// facts of X11Window. Requests for all windows are sent before any reply is awaited, so one read of
// every window costs about one round trip. A window that vanishes during a read is left out.
//
// Any client may write the root window's lists, so what they name is bounded: a list is read up to
// kMaxListedWindows windows (a longer one is cut there, with one log line until it is short again),
// and an id the reads of the lists have not met before is first asked for its geometry alone. An id
// that is no window of this screen's root costs that one failed request and is then skipped by the
// list reads until that list changes.
class X11WindowReader {
 public:
  // Far beyond any real desktop.
  static constexpr uint32_t kMaxListedWindows = 4096;

  // `displays` gives the primary monitor, the origin of global coordinates.
  X11WindowReader(X11Connection& connection, X11DisplayReader& displays);

  // _NET_CLIENT_LIST: every managed window, in the order the window manager took them on. Both
  // lists name each window once.
  std::vector<uint32_t> clientList();
  // _NET_CLIENT_LIST_STACKING turned around: every managed window front to back (index 0 is the
  // front-most). The window manager keeps that list bottom to top.
  std::vector<uint32_t> frontToBack();

  // The same two lists less the ids that are no windows of the root (probing ids not met before).
  std::vector<uint32_t> managedClients();
  std::vector<uint32_t> managedFrontToBack();

  // Every managed window front to back; managed windows missing from the stacking list follow, in
  // client-list order.
  std::vector<X11Window> readAll();
  // Every managed window in client-list order.
  std::vector<X11Window> readClients();
  // The given windows in the given order, less those that are gone.
  std::vector<X11Window> read(const std::vector<uint32_t>& windows);
  // The same, with the primary monitor's frame in root coordinates (the origin of global
  // coordinates) given rather than asked of the server.
  std::vector<X11Window> read(const std::vector<uint32_t>& windows, const X11Rect& origin);
  // One window; absent when it is gone.
  std::optional<X11Window> read(uint32_t window);

 private:
  // What the list reads remember of one root window list.
  struct ListMemo {
    std::vector<uint32_t> raw;                // the list as last read
    std::unordered_set<uint32_t> windows;     // ids of it found to be windows of the root
    std::unordered_set<uint32_t> notWindows;  // ids of it found not to be: skipped until it changes
    bool reportedCut = false;
  };

  // A window list of the root window, cut at kMaxListedWindows, turned around when asked, each
  // window once.
  std::vector<uint32_t> rootWindows(uint32_t property, bool reversed);
  // The same less the ids that are no windows of the root (probing the ids not met before).
  std::vector<uint32_t> listedWindows(uint32_t property, bool reversed);
  // A read window without frame extents whose window manager put it in a frame window of its own.
  struct Framed {
    size_t index = 0;  // into the windows read
    uint32_t frameWindow = 0;
  };
  // Takes the frame of each such window from its frame window's rectangle.
  void readFrameWindows(std::vector<X11Window>& windows, const std::vector<Framed>& framed, const X11Rect& origin);
  // Process ids from the X-Resource extension for windows that do not name their own.
  void fillProcessIds(std::vector<X11Window>& windows);
  bool hasClientIds();

  X11Connection& connection_;
  X11DisplayReader& displays_;
  std::optional<bool> clientIds_;
  std::map<uint32_t, ListMemo> lists_;
};

}  // namespace quorvel
