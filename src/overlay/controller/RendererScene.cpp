#include "overlay/controller/RendererScene.h"

#include "overlay/OverlayContentView.h"
#include "pictures/BackdropBlur.h"

namespace quorvel {

std::unique_ptr<RendererScene> RendererScene::make(std::shared_ptr<GpuContext> context,
                                                   std::shared_ptr<GpuSurface> layer, CardRenderer::Providers providers,
                                                   std::function<void(int, FocusChangeSource)> onFocusChange,
                                                   SceneRenderer::Services services, Raster* chromeRaster,
                                                   std::shared_ptr<Executor> chromeQueue) {
  if (context && layer)
    return std::make_unique<RendererScene>(
        SceneRenderer::makeRenderer(std::move(context), std::move(layer), std::move(providers),
                                    std::move(onFocusChange), std::move(services)),
        chromeRaster, std::move(chromeQueue));
  auto sink = std::make_shared<FocusSink>();
  sink->handler = std::move(onFocusChange);
  auto renderer = std::make_unique<SceneRenderer>(std::move(layer), std::make_shared<SceneState>(), std::move(sink),
                                                  nullptr, std::move(services));
  renderer->syncDrawableSize();
  return std::make_unique<RendererScene>(std::move(renderer));
}

void RendererScene::showBackdropStill(std::shared_ptr<const DesktopStill> still, double radius, StillReady ready) {
  std::shared_ptr<CardRenderer> core = renderer_->core();
  if (!core) return;
  auto job = [core, still = std::move(still), radius, ready = std::move(ready)] {
    if (!still) {
      core->setBackdropPicture(nullptr);
      return;
    }
    auto blurred = std::make_shared<const DesktopStill>(BackdropBlur::blurred(*still, radius));
    if (core->setBackdropPicture(blurred.get()) && ready) ready(std::move(blurred));
  };
  if (backdropQueue_) {
    backdropQueue_->post(std::move(job));
  } else {
    job();
  }
}

void RendererScene::showChrome(const OverlayContentView& view, Instant now) {
  if (!painter_ || !renderer_->core()) return;
  const RasterColor backdrop = OverlayChromePainter::backdropColor(view, now);
  renderer_->setBackdrop(Float4{static_cast<float>(backdrop.red), static_cast<float>(backdrop.green),
                                static_cast<float>(backdrop.blue), static_cast<float>(backdrop.alpha)});
  const double still = view.desktopStill.hidden ? 0 : view.desktopStill.alpha.valueAt(now);
  const double dim = view.dimView.hidden ? 0 : view.dimView.alpha.valueAt(now);
  renderer_->core()->setBackdropPictureLook(static_cast<float>(still), static_cast<float>(1 - dim));
  double scale = renderer_->layer() ? renderer_->layer()->contentsScale() : 1.0;
  if (!(scale > 0)) scale = 1.0;
  std::optional<ChromeUploadQueue::Painted> spare = uploads_ ? uploads_->takeSpare() : std::move(spare_);
  spare_.reset();
  std::optional<RasterSheet> sheet =
      painter_->paintSheet(view, scale, now, spare ? std::optional(std::move(spare->bitmap)) : std::nullopt);
  if (!sheet) return;
  if (uploads_) {
    uploads_->submit(std::move(sheet->pixels), std::move(sheet->painted));
  } else {
    renderer_->core()->setOverlayChrome(*sheet);
    spare_ = ChromeUploadQueue::Painted{std::move(sheet->pixels), std::move(sheet->painted)};
  }
}

}  // namespace quorvel
