#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/Logger.h"
#include "platform/AppIconSource.h"
#include "platform/x11/DesktopEntryIcons.h"

namespace quorvel {

class X11Backend;

// Application icons on X11. The icon of a process is, in this order:
//   1. the largest image of a _NET_WM_ICON property among its managed windows (client order), in
//      the ARGB pixels the property holds;
//   2. else the icon file its desktop entry names in the user's icon theme (DesktopEntryIcons),
//      found by the window's WM_CLASS;
//   3. else the icon pixmap of a window's WM_HINTS, with its mask (X11IconPixmap), as older
//      programs give it;
//   4. else none (the caller goes without an icon).
// A process with no managed window is not running as far as icons go: none.
//
// Hostile properties: a _NET_WM_ICON is read up to kMaxPropertyUnits and checked before any pixel
// is copied; one whose sizes do not match its length, that is absurdly large (longer than the limit,
// or an image wider or taller than kMaxSide) or that holds a zero-sized image is ignored as a whole
// with a debug line, and never read past its end.
class X11AppIcons final : public AppIconSource {
 public:
  static constexpr uint32_t kMaxSide = 1024;
  // Enough for a 1024-pixel icon with a few smaller ones beside it (5 MiB).
  static constexpr uint32_t kMaxPropertyUnits = 1280 * 1024;

  X11AppIcons(std::shared_ptr<X11Backend> backend, DesktopDirs dirs = DesktopDirs::fromEnvironment());

  std::optional<AppIcon> icon(int32_t pid) override;

  // The largest image of a _NET_WM_ICON value (width, height, then width × height pixels, repeated);
  // none, with the reason in `problem`, when the value breaks the rules above. `truncated` says the
  // property was longer than what was read.
  static std::optional<AppIcon> largestIcon(const std::vector<uint32_t>& values, bool truncated,
                                            std::string* problem = nullptr);

 private:
  std::shared_ptr<X11Backend> backend_;
  Logger log_{"AppIcons"};
  std::mutex entriesMutex_;
  DesktopEntryIcons entries_;
};

}  // namespace quorvel
