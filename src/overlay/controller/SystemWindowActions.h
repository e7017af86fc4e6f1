#pragma once

#include <functional>

#include "overlay/controller/OverlayWindowActions.h"

namespace quorvel {

class Accessibility;
class Activator;
class AXFunnel;
class Executor;

// The overlay's window actions on the real services: the program's own windows through its
// application object, other windows through the window actions of the activator (the close button)
// and an "AXMinimized" write on the serial Accessibility queue, each element given a messaging
// time-out of 0.5 s. Completions run on the main queue. The services outlive every action started.
class SystemWindowActions final : public OverlayWindowActions {
 public:
  struct Services {
    Executor& main;
    const Activator& activator;
    OwnApplication& ownApplication;
    Accessibility& accessibility;
    AXFunnel& funnel;
    // The system's alert sound.
    std::function<void()> beep;
  };

  explicit SystemWindowActions(Services services) : services_(std::move(services)) {}

  std::optional<OwnWindow> ownWindow(const WindowCard& card) override;
  void closeOwnWindow(uint32_t number) override;
  void setOwnWindowMinimized(uint32_t number, bool minimized) override;
  void close(const AXHandleRef& window, std::function<void()> done) override;
  void setMinimized(const AXHandleRef& window, bool minimized, std::function<void()> done) override;
  void beep() override;

 private:
  Services services_;
};

}  // namespace quorvel
