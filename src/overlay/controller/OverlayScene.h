#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "base/Clock.h"
#include "base/Geometry.h"
#include "platform/DesktopStill.h"
#include "scene/SceneState.h"
#include "windows/CardAction.h"
#include "windows/WindowCard.h"

namespace quorvel {

class OverlayContentView;

// One display's card scene as the overlay controller drives it (the scene renderer in the program,
// a fake in tests). The controller changes the scene only through state() under its lock, each
// change wrapped in the scene wake, and holds that lock for one read or one change. Main thread only.
class OverlayScene {
 public:
  virtual ~OverlayScene() = default;
  // Installs a card set (`rects`: one source frame per card, overlay points) and starts drawing.
  virtual void present(const std::vector<WindowCard>& cards, const std::vector<Rect>& rects, bool flyIn,
                       int startIndex, double refreshRate) = 0;
  // Pauses drawing and empties the scene; a pending dismiss completion goes to the main queue.
  virtual void stop() = 0;
  // Ends drawing for good.
  virtual void shutdown() = 0;
  virtual void syncDrawableSize() = 0;
  virtual void refreshSnapshots(const std::vector<WindowCard>& cards, const std::vector<Rect>& rects,
                                int focusIndex) = 0;
  // Starts the dismiss flight toward `chosen` (none: cancelled). The completion runs on the main
  // queue at most once, when the flight ended or when the scene is stopped with it pending; it is
  // handed back instead when the flight cannot start.
  virtual SceneState::Completion dismissFlight(std::optional<int> chosen, SceneState::Completion completion) = 0;
  virtual bool cardIsStacked(int index) = 0;
  virtual bool isFrontOfPile(int index) = 0;
  virtual std::pair<int, std::optional<CardAction>> hitTest(Point point, double viewWidth, double viewHeight) = 0;
  // The card whose plane the pointer's ray meets (from a probe copied under the scene lock), if any.
  virtual std::optional<int> cardAtPoint(Point point, double viewWidth, double viewHeight) = 0;
  // Draws the overlay's own layers with the cards: the backdrop under them and the text chrome of
  // `view` over them, as they look at `now`. A scene that draws nothing ignores it.
  virtual void showChrome(const OverlayContentView& view, Instant now) {
    (void)view;
    (void)now;
  }
  // The picture of the desktop under the cards: `still` blurred by `radius` pixels (none: no
  // picture). The blur and the upload may run on another thread; `ready` (when given) is called
  // there with the blurred still once it is in place. How much of it shows follows the view's
  // desktop-still layer in showChrome.
  using StillReady = std::function<void(std::shared_ptr<const DesktopStill> blurred)>;
  virtual void showBackdropStill(std::shared_ptr<const DesktopStill> still, double radius, StillReady ready) {
    (void)still;
    (void)radius;
    (void)ready;
  }
  // Tells the card renderer that a live stream feeds the selected card.
  virtual void setLivePreview(bool on) = 0;
  virtual SceneState& state() = 0;
};

}  // namespace quorvel
