#pragma once

#include <cstdint>
#include <functional>
#include <mutex>

namespace quorvel {

// The window activator's two outgoing callbacks: it reports every window it raised (on every raise
// route, after the raise, once per raised window) and every browser tab it pressed. The program
// makes one and hands it to the activator and to the window registry, which installs its handlers
// when it starts. Either callback may be unset; reporting then does nothing. Setting and reporting
// are safe from any thread; a callback runs outside the hooks' lock, on the reporting thread.
class ActivatorHooks {
 public:
  using DidRaiseWindow = std::function<void(uint32_t windowID, int32_t pid)>;
  using DidPressTab = std::function<void(uint32_t tabID, uint32_t hostWindowID)>;

  // Replace any callback set before.
  void setDidRaiseWindow(DidRaiseWindow callback);
  void setDidPressTab(DidPressTab callback);
  bool hasDidRaiseWindow() const;
  bool hasDidPressTab() const;

  // Called by the activator after it has raised a window, or pressed a tab.
  void didRaiseWindow(uint32_t windowID, int32_t pid) const;
  void didPressTab(uint32_t tabID, uint32_t hostWindowID) const;

 private:
  mutable std::mutex mutex_;
  DidRaiseWindow didRaiseWindow_;
  DidPressTab didPressTab_;
};

}  // namespace quorvel
