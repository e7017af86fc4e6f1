#pragma once

#include <string>

#include "ax/AXHandle.h"
#include "base/Task.h"
#include "platform/AXElement.h"
#include "platform/AXError.h"

namespace quorvel {

class Accessibility;
class AXFunnel;

// The operations on one window of another application that go through Accessibility: its Bool
// attributes and full-screen flag, its close button, closing it and raising it. Every element they
// touch is given a messaging time-out of 0.5 s, so an application that does not answer holds the
// serial Accessibility queue for a bounded time per call. They log through the activator's logger
// (category "Activator").
//
// close() hops to the Accessibility queue by itself; every other operation expects its caller to
// run on that queue already. Nothing here fails loudly: unreadable attributes read as false or
// absent, a refused raise answers false and logs its codes. Minimizing is not here: the overlay
// writes "AXMinimized" itself. The object keeps no state; the services it is given outlive it and
// every close task.
class WindowActions {
 public:
  static constexpr float kMessagingTimeout = 0.5f;
  // How long close waits after taking a window out of full screen before it presses the button.
  static constexpr Duration kFullScreenExitWait = std::chrono::seconds(1);
  static constexpr const char* kFullScreenAttribute = "AXFullScreen";

  WindowActions(Accessibility& accessibility, AXFunnel& funnel);

  // The attribute's value; false when it cannot be read, is absent or is not a Bool.
  bool boolAttribute(const AXElementRef& element, const std::string& attribute) const;
  bool isFullScreen(const AXElementRef& element) const;
  // The window's "AXCloseButton" when it reads as an element; none otherwise.
  AXElementRef closeButton(const AXElementRef& element) const;

  // Closes the window: on the Accessibility queue, takes it out of full screen first (and waits
  // 1 s, as a timer on that queue, so the queue serves other work meanwhile), then presses its close
  // button; nothing when it has none. The task ends back on the executor it was awaited from.
  // Nothing is logged or reported.
  Task<void> close(AXHandleRef window) const;

  // Raises the window (un-minimizing it first when asked) and asks it to become its application's
  // main window. True exactly when "AXRaise" succeeded; a refusal logs "AX raise refused: raise %d,
  // main %d" with both error codes.
  bool raise(const AXHandleRef& window, bool unminimize) const;

 private:
  // Takes a copy of the actions (two service references), so the task does not depend on this
  // object's life.
  static Task<void> closeWindow(WindowActions self, AXHandleRef window);

  Accessibility& accessibility_;
  AXFunnel& funnel_;
};

}  // namespace quorvel
