#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "ax/AXHandle.h"
#include "platform/OwnApplication.h"
#include "windows/WindowCard.h"

namespace quorvel {

// What the overlay's close and minimize ask of the system: the program's own windows through its
// application object, every other window through Accessibility on the serial Accessibility queue,
// and the system beep for an action that is refused. Called on the main thread; completions come
// back on the main queue. Failures are not reported: the overlay's follow-up refresh shows what
// really happened.
class OverlayWindowActions {
 public:
  virtual ~OverlayWindowActions() = default;
  // The program's own window the card stands for; none for another process's card.
  virtual std::optional<OwnWindow> ownWindow(const WindowCard& card) = 0;
  // Closes one of the program's own windows as its close button would.
  virtual void closeOwnWindow(uint32_t number) = 0;
  // Minimizes (true) or restores (false) one of the program's own windows.
  virtual void setOwnWindowMinimized(uint32_t number, bool minimized) = 0;
  // Presses the window's close button (taking it out of full screen first); `done` afterwards.
  virtual void close(const AXHandleRef& window, std::function<void()> done) = 0;
  // Sets the window's "AXMinimized" (the result is ignored); `done` afterwards.
  virtual void setMinimized(const AXHandleRef& window, bool minimized, std::function<void()> done) = 0;
  virtual void beep() = 0;
};

}  // namespace quorvel
