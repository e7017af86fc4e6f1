#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvel {

class X11Connection;

// Reads the window manager's desktops and focus from the root window (EWMH). Desktops are counted
// from 0, as the window manager counts them: the second desktop is 1.
class X11DesktopReader {
 public:
  explicit X11DesktopReader(X11Connection& connection);

  // The name of the running EWMH window manager (_NET_SUPPORTING_WM_CHECK, confirmed on its check
  // window); absent when none runs. "" when it runs without giving a name.
  std::optional<std::string> windowManagerName();
  // The process of the running window manager as its check window gives it (_NET_WM_PID); absent
  // when none runs or it does not say.
  std::optional<uint32_t> windowManagerPid();
  // More desktops than any window manager keeps: a larger count is a damaged property.
  static constexpr uint32_t kMostDesktops = 1024;

  // _NET_NUMBER_OF_DESKTOPS; absent when the window manager does not say or names more than
  // kMostDesktops (any client may write the property, and callers list every desktop).
  std::optional<uint32_t> numberOfDesktops();
  // _NET_CURRENT_DESKTOP (from 0); absent when the window manager does not say.
  std::optional<uint32_t> currentDesktop();
  // _NET_DESKTOP_NAMES, one per desktop as far as the window manager names them.
  std::vector<std::string> desktopNames();
  // _NET_ACTIVE_WINDOW; absent when no window is active.
  std::optional<uint32_t> activeWindow();

 private:
  std::optional<uint32_t> rootCardinal(uint32_t property, uint32_t type);
  // The window manager's check window, when it names itself (a manager that died leaves a stale id).
  std::optional<uint32_t> managerCheckWindow();

  X11Connection& connection_;
};

}  // namespace quorvel
