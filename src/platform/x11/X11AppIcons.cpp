#include "platform/x11/X11AppIcons.h"

#include <xcb/xcb.h>

#include "platform/x11/X11Backend.h"
#include "platform/x11/X11IconPixmap.h"

namespace quorvel {

X11AppIcons::X11AppIcons(std::shared_ptr<X11Backend> backend, DesktopDirs dirs)
    : backend_(std::move(backend)), entries_(std::move(dirs)) {}

std::optional<AppIcon> X11AppIcons::largestIcon(const std::vector<uint32_t>& values, bool truncated,
                                                std::string* problem) {
  auto refuse = [&](const char* why) -> std::optional<AppIcon> {
    if (problem) *problem = why;
    return std::nullopt;
  };
  if (truncated) return refuse("it is longer than any real icon");
  if (values.empty()) return refuse("it is empty");
  size_t at = 0;
  size_t bestAt = 0;
  uint64_t bestArea = 0;
  uint32_t bestWidth = 0, bestHeight = 0;
  while (at < values.size()) {
    if (values.size() - at < 2) return refuse("its last image has no height");
    const uint32_t width = values[at], height = values[at + 1];
    if (width == 0 || height == 0) return refuse("it holds a zero-sized image");
    if (width > kMaxSide || height > kMaxSide) return refuse("it holds an absurdly large image");
    const uint64_t area = static_cast<uint64_t>(width) * height;
    if (area > values.size() - at - 2) return refuse("its sizes do not match its length");
    if (area > bestArea) {
      bestArea = area;
      bestAt = at + 2;
      bestWidth = width;
      bestHeight = height;
    }
    at += 2 + area;
  }
  AppIcon icon;
  icon.width = static_cast<int>(bestWidth);
  icon.height = static_cast<int>(bestHeight);
  icon.argb.assign(values.begin() + static_cast<ptrdiff_t>(bestAt),
                   values.begin() + static_cast<ptrdiff_t>(bestAt + bestArea));
  return icon;
}

std::optional<AppIcon> X11AppIcons::icon(int32_t pid) {
  std::vector<X11Window> windows;
  for (X11Window& w : backend_->windowsInClientOrder()) {
    if (w.pid == pid) windows.push_back(std::move(w));
  }
  if (windows.empty()) return std::nullopt;

  X11Connection& connection = backend_->connection();
  const uint32_t iconAtom = connection.atom("_NET_WM_ICON");
  if (iconAtom != 0) {
    for (const X11Window& w : windows) {
      const auto property = connection.property(w.id, iconAtom, XCB_ATOM_CARDINAL, kMaxPropertyUnits);
      if (!property) continue;
      if (property->format != 32) {
        log_.debug("Ignoring the icon of window 0x%x: its property is not made of 32-bit items.", w.id);
        continue;
      }
      std::string problem;
      if (auto icon = largestIcon(property->values32(), property->truncated, &problem)) return icon;
      log_.debug("Ignoring the icon of window 0x%x: %{public}s.", w.id, problem);
    }
  }

  {
    std::lock_guard lock(entriesMutex_);
    for (const X11Window& w : windows) {
      if (w.className.empty() && w.instanceName.empty()) continue;
      if (auto file = entries_.iconFile(w.className, w.instanceName)) {
        AppIcon icon;
        icon.file = *file;
        return icon;
      }
    }
  }

  for (const X11Window& w : windows) {
    std::string problem;
    if (auto icon = X11IconPixmap::read(connection, w.id, kMaxSide, &problem)) return icon;
    if (!problem.empty()) log_.debug("Ignoring the icon pixmap of window 0x%x: %{public}s.", w.id, problem);
  }
  return std::nullopt;
}

}  // namespace quorvel
