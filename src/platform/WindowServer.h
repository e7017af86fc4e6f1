#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/Geometry.h"

namespace quorvel {

// One entry of the window server's public window list. Every field may fail to read, as the
// platform's dictionaries may lack a key or hold a value of another type.
struct WindowListEntry {
  std::optional<uint32_t> number;
  std::optional<int64_t> layer;
  std::optional<int32_t> ownerPid;
  std::optional<std::string> ownerName;
  std::optional<Rect> bounds;  // global, top-left origin
  std::optional<std::string> name;
  std::optional<bool> isOnScreen;
};

// The focus as a platform knows it apart from its window list (see WindowServer::focus).
struct WindowFocus {
  // The window that has the keyboard focus; none when no window has it.
  std::optional<uint32_t> window;
};

// The window server's public window list and display list.
class WindowServer {
 public:
  virtual ~WindowServer() = default;
  // On-screen windows only, desktop elements excluded, front to back. None when the list is
  // unavailable (distinct from an empty list).
  virtual std::optional<std::vector<WindowListEntry>> onScreenWindows() = 0;
  // The numbers of onScreenWindows' entries in its order, 0 for an entry whose number cannot be
  // read; none when the list is unavailable. For readers of the stacking order alone: a backend
  // answers it without making the rest of each entry (this default reads the whole list).
  virtual std::optional<std::vector<uint32_t>> onScreenWindowNumbers() {
    auto entries = onScreenWindows();
    if (!entries) return std::nullopt;
    std::vector<uint32_t> numbers;
    numbers.reserve(entries->size());
    for (const WindowListEntry& entry : *entries) numbers.push_back(entry.number.value_or(0));
    return numbers;
  }
  // The ids of the active displays in the window server's order; none on error.
  virtual std::optional<std::vector<uint32_t>> activeDisplays() = 0;
  // The bounds of a display in global top-left coordinates; none when the id is unknown.
  virtual std::optional<Rect> displayBounds(uint32_t displayID) = 0;
  // Screen Recording: whether it is granted now (no prompt), and the request that may prompt.
  virtual bool preflightScreenCaptureAccess() = 0;
  virtual bool requestScreenCaptureAccess() = 0;

  // The focus, on a platform whose window list does not follow it: an X window manager may keep
  // its stacking in mapping order, update it late, or not raise the window it activates, while its
  // active window is always right. None (the default): the front-most window of onScreenWindows()
  // is the focused one.
  virtual std::optional<WindowFocus> focus() { return std::nullopt; }
  // On such a platform, an application's front window: the one of its windows that had the focus
  // last. None when unknown, and by default: the application's front-most window in the list is it.
  virtual std::optional<uint32_t> frontWindowOfApplication(int32_t /*pid*/) { return std::nullopt; }
};

}  // namespace quorvel
