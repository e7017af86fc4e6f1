#pragma once

#include <memory>

#include "overlay/OverlayChromePainter.h"
#include "overlay/controller/ChromeUploadQueue.h"
#include "overlay/controller/OverlayScene.h"
#include "scene/CardPicking.h"
#include "scene/render/SceneRenderer.h"

namespace quorvel {

// One display's card scene on the scene renderer: what the overlay controller calls goes to the
// renderer, whose render thread draws into the overlay window's surface. Main thread only.
class RendererScene final : public OverlayScene {
 public:
  // `chromeRaster` paints the overlay's text chrome (none: no chrome is drawn over the cards); with
  // `chromeQueue` the painted chrome goes to the card renderer on that serial queue (see
  // ChromeUploadQueue), without it on the calling thread.
  explicit RendererScene(std::unique_ptr<SceneRenderer> renderer, Raster* chromeRaster = nullptr,
                         std::shared_ptr<Executor> chromeQueue = nullptr)
      : renderer_(std::move(renderer)) {
    if (chromeRaster) painter_ = std::make_unique<OverlayChromePainter>(*chromeRaster);
    backdropQueue_ = chromeQueue;
    if (chromeQueue && renderer_->core())
      uploads_ = std::make_unique<ChromeUploadQueue>(
          std::move(chromeQueue),
          [core = renderer_->core()](const RasterBitmap& pieces, const RasterRegions& painted) {
            return core->setOverlayChromeSheet(pieces, painted);
          });
  }

  // The renderer of one overlay: on `layer` with the card renderer on `context` and `providers`
  // (SceneRenderer::makeRenderer); without a context or a surface, a scene that follows every call
  // and draws nothing. The chrome is painted with `chromeRaster` when given, and uploaded on
  // `chromeQueue` when given.
  static std::unique_ptr<RendererScene> make(std::shared_ptr<GpuContext> context, std::shared_ptr<GpuSurface> layer,
                                             CardRenderer::Providers providers,
                                             std::function<void(int, FocusChangeSource)> onFocusChange,
                                             SceneRenderer::Services services, Raster* chromeRaster = nullptr,
                                             std::shared_ptr<Executor> chromeQueue = nullptr);

  void present(const std::vector<WindowCard>& cards, const std::vector<Rect>& rects, bool flyIn, int startIndex,
               double refreshRate) override {
    renderer_->present(cards, rects, flyIn, startIndex, refreshRate);
  }
  // The backdrop's picture goes too (after whatever the backdrop's queue was given before).
  void stop() override {
    renderer_->stop();
    showBackdropStill(nullptr, 0, nullptr);
  }
  void shutdown() override { renderer_->shutdown(); }
  void syncDrawableSize() override { renderer_->syncDrawableSize(); }
  void refreshSnapshots(const std::vector<WindowCard>& cards, const std::vector<Rect>& rects, int focus) override {
    renderer_->refreshSnapshots(cards, rects, focus);
  }
  // Without a card renderer nothing steps the scene, so no flight can run: the completion comes
  // straight back.
  SceneState::Completion dismissFlight(std::optional<int> chosen, SceneState::Completion completion) override {
    if (!renderer_->core()) return completion;
    return renderer_->dismissFlight(chosen, std::move(completion));
  }
  bool cardIsStacked(int index) override { return renderer_->cardIsStacked(index); }
  bool isFrontOfPile(int index) override { return renderer_->isFrontOfPile(index); }
  std::pair<int, std::optional<CardAction>> hitTest(Point point, double width, double height) override {
    return renderer_->hitTest(point, width, height);
  }
  // The backdrop colour and a sheet of the chrome at the surface's scale, handed to the card
  // renderer (nothing without one or without a painter).
  void showChrome(const OverlayContentView& view, Instant now) override;
  // Blurred and uploaded on the chrome's queue when there is one (an upload waits for the frames
  // queued before it), in the order asked.
  void showBackdropStill(std::shared_ptr<const DesktopStill> still, double radius, StillReady ready) override;
  std::optional<int> cardAtPoint(Point point, double width, double height) override {
    const SceneProbe probe = renderer_->state()->withLock([](SceneState::Storage& s) { return SceneState::probe(s); });
    return CardPicking::cardAtPoint(probe, {static_cast<float>(point.x), static_cast<float>(point.y)},
                                    static_cast<float>(width), static_cast<float>(height), probe.focus,
                                    probe.reformBlend);
  }
  void setLivePreview(bool on) override {
    if (renderer_->core()) renderer_->core()->setLivePreview(on);
  }
  SceneState& state() override { return *renderer_->state(); }

  SceneRenderer& renderer() { return *renderer_; }

 private:
  std::unique_ptr<SceneRenderer> renderer_;
  std::unique_ptr<OverlayChromePainter> painter_;
  std::unique_ptr<ChromeUploadQueue> uploads_;  // none: uploads on the calling thread
  std::shared_ptr<Executor> backdropQueue_;      // none: the backdrop's still on the calling thread
  std::optional<ChromeUploadQueue::Painted> spare_;  // without uploads_: the last sheet, to paint into again
};

}  // namespace quorvel
