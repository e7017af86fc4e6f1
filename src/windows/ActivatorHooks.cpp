#include "windows/ActivatorHooks.h"

#include <utility>

namespace quorvel {

void ActivatorHooks::setDidRaiseWindow(DidRaiseWindow callback) {
  DidRaiseWindow old;
  {
    std::lock_guard guard(mutex_);
    old = std::exchange(didRaiseWindow_, std::move(callback));
  }
}

void ActivatorHooks::setDidPressTab(DidPressTab callback) {
  DidPressTab old;
  {
    std::lock_guard guard(mutex_);
    old = std::exchange(didPressTab_, std::move(callback));
  }
}

bool ActivatorHooks::hasDidRaiseWindow() const {
  std::lock_guard guard(mutex_);
  return static_cast<bool>(didRaiseWindow_);
}

bool ActivatorHooks::hasDidPressTab() const {
  std::lock_guard guard(mutex_);
  return static_cast<bool>(didPressTab_);
}

void ActivatorHooks::didRaiseWindow(uint32_t windowID, int32_t pid) const {
  DidRaiseWindow callback;
  {
    std::lock_guard guard(mutex_);
    callback = didRaiseWindow_;
  }
  if (callback) callback(windowID, pid);
}

void ActivatorHooks::didPressTab(uint32_t tabID, uint32_t hostWindowID) const {
  DidPressTab callback;
  {
    std::lock_guard guard(mutex_);
    callback = didPressTab_;
  }
  if (callback) callback(tabID, hostWindowID);
}

}  // namespace quorvel
