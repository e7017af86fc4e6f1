// The still of the desktop behind the cards. An overlay window with an alpha channel shows the
// desktop behind it only where a compositing manager draws it there, and unblurred; so the backdrop
// is a still of the desktop taken at the summon (without this program's windows), blurred and
// dimmed as the settings say, drawn under the cards on every window manager. The first frames do
// not wait for it: they show the plain backdrop, and the still fades in over it when it comes.
#include <algorithm>
#include <cmath>

#include "overlay/controller/OverlayController.h"
#include "pictures/BackdropBlur.h"

namespace quorvel {

namespace {

// A still as wide as the blur is measured on (the settings preview's): scaled up to the screen, a
// blurred still looks as the full-size one would, and costs a fraction. A blur too slight to hide
// the scaling takes a still half as wide as the screen: sharper, at a quarter of a full one's cost.
int stillWidth(double blurAmount, double screenPixels) {
  if (BackdropBlur::radiusFor(blurAmount) >= 2 || !(screenPixels > 2 * BackdropBlur::kStillWidth))
    return BackdropBlur::kStillWidth;
  return static_cast<int>(std::min(screenPixels / 2, 4096.0));
}

}  // namespace

void OverlayController::requestBackdropStill(const ScreenInfo& screen, OverlayContentView& content,
                                             OverlayWindow& window) {
  const uint64_t generation = ++backdropGeneration_;
  if (OverlayScene* scene = activeDisplay_ ? renderer(*activeDisplay_) : nullptr)
    scene->showBackdropStill(nullptr, 0, nullptr);
  if (!services_.desktopStill || !content.wantsDesktopStill() || !activeDisplay_) return;
  const double stored = services_.settings.doubleValue(AppSettings::Key::blurAmount);
  const double amount = std::isfinite(stored) ? std::clamp(stored, 0.0, 1.0) : 0.0;
  const double scale = window.backingScale() > 0 ? window.backingScale() : 1.0;
  const uint32_t display = *activeDisplay_;
  Weak weak = self_;
  services_.desktopStill(screen, stillWidth(amount, screen.frame.width * scale),
                         [weak, generation, display, amount](std::optional<DesktopStill> still) {
                           if (auto self = weak.lock())
                             (*self)->takeBackdropStill(generation, display, amount, std::move(still));
                         });
}

void OverlayController::takeBackdropStill(uint64_t generation, uint32_t display, double blurAmount,
                                          std::optional<DesktopStill> still) {
  // A still of an earlier summon, or of one already dismissed, is not this desktop.
  if (generation != backdropGeneration_ || !isVisible_ || activeDisplay_ != display) return;
  if (!still || !still->isWhole()) return;
  OverlayScene* scene = renderer(display);
  if (!scene) return;
  // The backdrop covers the desktop: whatever alpha the still holds, it is drawn opaque (under a
  // compositing manager a translucent one would let the sharp desktop show through the blur).
  for (uint32_t& pixel : still->pixels) pixel |= 0xff000000u;
  const double radius = BackdropBlur::radiusFor(blurAmount, still->width);
  // Blurred and uploaded off the main thread; the fade starts on the main queue once it is in place.
  Weak weak = self_;
  Executor& main = services_.main;
  scene->showBackdropStill(std::make_shared<const DesktopStill>(std::move(*still)), radius,
                           [weak, &main, generation, display](std::shared_ptr<const DesktopStill> blurred) {
                             main.post([weak, generation, display, blurred = std::move(blurred)] {
                               if (auto self = weak.lock()) (*self)->showBackdropStill(generation, display, blurred);
                             });
                           });
}

void OverlayController::showBackdropStill(uint64_t generation, uint32_t display,
                                          std::shared_ptr<const DesktopStill> blurred) {
  if (generation != backdropGeneration_ || !isVisible_ || activeDisplay_ != display) return;
  OverlayContentView* view = content(display);
  if (!view) return;
  view->showDesktopStill(std::move(blurred));
  scheduleChromeRefresh();
}

}  // namespace quorvel
