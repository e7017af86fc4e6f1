#include "platform/x11/X11DesktopServer.h"

#include <algorithm>
#include <set>
#include <unordered_set>

#include "platform/x11/X11Backend.h"

namespace quorvel {

X11DesktopServer::X11DesktopServer(std::shared_ptr<X11Backend> backend) : backend_(std::move(backend)) {}

bool X11DesktopServer::isAvailable(Group group) {
  if (group == Group::blur) return false;
  const std::optional<uint32_t> count = backend_->numberOfDesktops();
  return count && *count > 0;
}

std::optional<std::vector<ManagedDisplaySpaces>> X11DesktopServer::copyManagedDisplaySpaces() {
  const std::optional<uint32_t> count = backend_->numberOfDesktops();
  if (!count || *count == 0) return std::nullopt;
  ManagedDisplaySpaces display;
  display.displayIdentifier = "Main";
  if (const std::optional<uint32_t> current = backend_->currentDesktop(); current && *current < *count) {
    display.currentSpaceID = int64_t{*current} + 1;
  }
  display.spaces.reserve(*count);
  for (uint32_t i = 0; i < *count; ++i) display.spaces.push_back(ManagedSpace{int64_t{i} + 1, 0});
  return std::vector<ManagedDisplaySpaces>{std::move(display)};
}

std::optional<std::vector<uint32_t>> X11DesktopServer::copyWindowsOnSpace(int64_t spaceID, uint32_t) {
  std::vector<X11Window> windows = backend_->windowsInClientOrder();
  if (backend_->isBroken()) return std::nullopt;
  std::vector<uint32_t> result;
  const uint32_t count = backend_->numberOfDesktops().value_or(0);
  if (spaceID < 1 || spaceID > int64_t{count}) return result;  // no such desktop: nothing is on it
  const uint32_t index = static_cast<uint32_t>(spaceID - 1);
  for (const X11Window& w : windows) {
    if (w.onAllDesktops || w.desktop == index) result.push_back(w.id);
  }
  return result;
}

std::optional<std::vector<int64_t>> X11DesktopServer::copySpacesForWindows(const std::vector<uint32_t>& windows,
                                                                           uint32_t) {
  if (windows.empty()) return std::vector<int64_t>{};
  const std::unordered_set<uint32_t> asked(windows.begin(), windows.end());
  std::vector<X11Window> all = backend_->windowsInClientOrder();
  if (backend_->isBroken()) return std::nullopt;
  const uint32_t count = backend_->numberOfDesktops().value_or(0);
  std::set<int64_t> spaces;
  for (const X11Window& w : all) {
    if (!asked.contains(w.id)) continue;
    if (w.onAllDesktops) {
      for (uint32_t i = 0; i < count; ++i) spaces.insert(int64_t{i} + 1);
    } else if (w.desktop && *w.desktop < count) {  // a desktop the window manager does not have is none
      spaces.insert(int64_t{*w.desktop} + 1);
    }
  }
  return std::vector<int64_t>(spaces.begin(), spaces.end());
}

bool X11DesktopServer::moveWindowsToSpace(const std::vector<uint32_t>& windows, int64_t spaceID) {
  if (windows.empty() || spaceID < 1 || spaceID > int64_t{UINT32_MAX}) return false;
  const uint32_t desktop = static_cast<uint32_t>(spaceID - 1);
  if (desktop == X11WindowActions::kAllDesktops) return false;
  bool all = true;
  for (uint32_t window : windows) all = backend_->actions().moveToDesktop(window, desktop) && all;
  return all;
}

int32_t X11DesktopServer::setWindowBackgroundBlur(uint32_t, int32_t) { return kBlurUnavailable; }

}  // namespace quorvel
