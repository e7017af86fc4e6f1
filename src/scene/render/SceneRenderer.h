#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "base/Executor.h"
#include "base/Geometry.h"
#include "base/Logger.h"
#include "gpu/GpuSurface.h"
#include "pictures/GpuContext.h"
#include "scene/SceneState.h"
#include "scene/SceneWake.h"
#include "scene/render/CardRenderer.h"
#include "scene/render/DisplayLink.h"
#include "scene/render/FocusSink.h"
#include "scene/render/RenderThreads.h"
#include "settings/AppSettings.h"
#include "windows/CardAction.h"
#include "windows/WindowCard.h"

namespace quorvel {

// The card scene of one overlay screen, as the overlay drives it: present a card set, stop, shut
// down, refresh the cards after a search, follow the surface's size, answer pointer questions and
// start the dismiss flight. Owns the scene state, the card renderer (none when its pipeline cannot
// be built: then nothing is drawn, but the scene still follows every call), and the render thread
// ("net.tarmeq.quorvel.render") with its display link, made on the first present.
//
// Every operation runs on the main thread. The render thread shares only the scene (under its
// lock), the wake counter and the renderer's own locked fields. Shutdown never frees what the render
// thread uses while it runs: the thread holds its own references, and one that does not end within
// 0.3 s is reported and left to RenderThreads, which the process's end waits for before anything
// else a frame reaches goes.
class SceneRenderer {
 public:
  struct Services {
    Executor& mainQueue;
    const Clock& clock;
    SceneWake& wake;
    const AppSettings& settings;
    // Makes the render thread's frame source (a FrameClock on the system clock in the program).
    std::function<std::shared_ptr<DisplayLink>()> makeLink;
  };

  SceneRenderer(std::shared_ptr<GpuSurface> layer, std::shared_ptr<SceneState> state,
                std::shared_ptr<FocusSink> focusSink, std::shared_ptr<CardRenderer> core, Services services);
  // Shuts down.
  ~SceneRenderer();
  SceneRenderer(const SceneRenderer&) = delete;
  SceneRenderer& operator=(const SceneRenderer&) = delete;

  // The overlay's construction of one screen's renderer: a fresh scene, a focus sink calling
  // `onFocusChange`, and the card renderer on the shared context with the texture providers. When
  // the card renderer cannot be built it logs "Vulkan pipeline unavailable: the overlay will render
  // nothing" and the screen draws nothing. Then the drawable size is synced.
  static std::unique_ptr<SceneRenderer> makeRenderer(std::shared_ptr<GpuContext> context,
                                                     std::shared_ptr<GpuSurface> layer,
                                                     CardRenderer::Providers providers,
                                                     std::function<void(int, FocusChangeSource)> onFocusChange,
                                                     Services services);

  // A card set: `rects` the windows' frames in overlay points (one per card), `startIndex` the first
  // selection, `refreshRate` the screen's highest frame rate (0 when unknown: paced at 60).
  void present(const std::vector<WindowCard>& cards, const std::vector<Rect>& rects, bool flyIn, int startIndex,
               double refreshRate);
  // Pauses drawing and empties the scene; a pending dismiss completion goes to the main queue. The
  // frames' textures and the surface's spare images go (the next present makes them again).
  void stop();
  // Ends the render thread and its link for good (a later present makes new ones).
  void shutdown();
  void refreshSnapshots(const std::vector<WindowCard>& cards, const std::vector<Rect>& rects, int focusIndex);
  // The drawable size from the surface's bounds and scale; the viewport into the scene.
  void syncDrawableSize();
  bool cardIsStacked(int index);
  // The selected card and the action disc under `point` (view points, y up), if any.
  std::pair<int, std::optional<CardAction>> hitTest(Point point, double viewWidth, double viewHeight);
  bool isFrontOfPile(int index);
  // The overlay's backdrop under the cards and its text chrome over them (CardRenderer::setBackdrop,
  // setOverlayChrome, clearOverlayChrome); nothing is drawn, and setOverlayChrome answers false,
  // without a card renderer.
  void setBackdrop(Float4 premultiplied);
  bool setOverlayChrome(const RasterBitmap& bitmap, const RasterRegions& painted);
  bool setOverlayChrome(const RasterBitmap& bitmap);
  void clearOverlayChrome();
  // Starts the dismiss flight; the completion comes back when the flight cannot start.
  SceneState::Completion dismissFlight(std::optional<int> chosen, SceneState::Completion completion);

  const std::shared_ptr<SceneState>& state() const { return state_; }
  const std::shared_ptr<CardRenderer>& core() const { return core_; }
  const std::shared_ptr<GpuSurface>& layer() const { return layer_; }
  bool hasRenderThread() const { return thread_ != nullptr; }

  // The selection accent colour on this system (no system accent): (0.31, 0.45, 1.0, 1.0).
  static Float4 accentColor();

 private:
  void startRendering();
  void readBunching();

  std::shared_ptr<GpuSurface> layer_;
  std::shared_ptr<SceneState> state_;
  std::shared_ptr<FocusSink> focusSink_;
  std::shared_ptr<CardRenderer> core_;
  Services services_;
  Logger logger_{"SceneRenderer"};
  std::shared_ptr<DisplayLink> link_;
  std::shared_ptr<RenderThreads::Thread> thread_;
  float sessionTallest_ = 1;
  bool bunchTabs_ = false;
  bool bunchAppWindows_ = false;
  bool keepWindowCardBesideTabs_ = false;
  double refreshRate_ = 0;
  // The display flags of the last present, for the snapshot builds of a search refresh.
  bool preserveWindowScale_ = false;
};

}  // namespace quorvel
