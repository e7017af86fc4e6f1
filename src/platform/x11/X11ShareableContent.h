#pragma once

#include <memory>

#include "platform/ShareableContent.h"

namespace quorvel {

class Executor;
class X11Backend;

// The shareable windows of an X session: every window the window manager manages
// (_NET_CLIENT_LIST), on every desktop, minimized ones too, front to back. Each carries its title
// (none when it has none), its frame with decorations in global top-left coordinates, the layer of
// its type, isOnScreen = on screen now (X11WindowModel::State::isOnScreen: mapped, or not
// minimized on the current desktop), and its owning application (process id, its name by
// X11Backend::applicationName, "x11.<class>" as the bundle identifier), none when the window names no process.
// Desktop windows (type desktop) are left out when asked; on-screen-only keeps those on screen.
//
// The windows are read on `worker` (the runtime's pool), which also runs the completion, so the
// caller never waits on the X server. A lost connection completes with an error.
class X11ShareableContent final : public ShareableContent {
 public:
  X11ShareableContent(std::shared_ptr<X11Backend> backend, Executor& worker);

  void getShareableContent(bool excludeDesktopWindows, bool onScreenWindowsOnly,
                           std::function<void(ShareableContentResult)> completion) override;

  // The answer itself, read on the calling thread.
  static ShareableContentResult read(X11Backend& backend, bool excludeDesktopWindows, bool onScreenWindowsOnly);

 private:
  std::weak_ptr<X11Backend> backend_;
  Executor& worker_;
};

}  // namespace quorvel
