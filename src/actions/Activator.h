#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "actions/ActivatorServices.h"
#include "actions/WindowActions.h"
#include "base/Clock.h"
#include "base/Geometry.h"
#include "base/Logger.h"
#include "platform/OwnApplication.h"
#include "windows/WindowCard.h"

namespace quorvel {

// Brings the card the user committed to to the front. A card takes one of these routes:
//   - one of this program's own windows: raised through the program's own application object;
//   - an application without windows: opened again through its bundle (or activated);
//   - a browser tab whose facts carry its element: pressed in the browser (TabActivation), then its
//     window raised;
//   - a window without an Accessibility handle: only its application is activated;
//   - any other window: raised through Accessibility, its application activated, and when the
//     window refused, raised once more 0.08 s later (never a third time, never a second
//     activation).
// Every route that raised a window reports it through the hooks (window id, process id), a pressed
// tab too (tab id, host window id), and then moves the pointer to the window's centre when
// "cursorFollowsFocus" is on. Log lines go to the category "Activator" at the default level.
//
// Threads: every call is made on the main thread. pick() returns at once; the routes go on as
// fire-and-forget tasks on the main queue that hop to the serial Accessibility queue for each
// Accessibility call and back. Nothing cancels or awaits them, and a new pick may start while an
// earlier route waits for its retry. Routes hold the activator's shared state, so they may outlive
// the activator itself (not its services).
class Activator {
 public:
  static constexpr Duration kRetryDelay = std::chrono::milliseconds(80);

  explicit Activator(ActivatorServices services);
  Activator(const Activator&) = delete;
  Activator& operator=(const Activator&) = delete;

  // Brings the card forward along its route. The caller does not learn the outcome.
  void pick(const WindowCard& card);
  // The program's own window that the card stands for: the first window the application lists
  // whose number is the card's id, when the card's process is this one; none otherwise.
  std::optional<OwnWindow> ownWindow(const WindowCard& card) const;
  // A short text naming the route the card takes (for the log).
  std::string routeDescription(const WindowCard& card) const;
  // Moves the pointer to the centre of `frame` when "cursorFollowsFocus" is on, the frame is not
  // empty and no mouse button is held.
  void warpPointerIfWanted(const Rect& frame) const;

  const WindowActions& windowActions() const;

  // The logger of the activator and the window actions (category "Activator").
  static const Logger& logger();

 private:
  struct Shared;
  friend class ActivatorRoutes;
  std::shared_ptr<Shared> shared_;
};

}  // namespace quorvel
