#include "overlay/controller/RendererScene.h"

namespace quorvel {

std::unique_ptr<RendererScene> RendererScene::make(std::shared_ptr<MetalContext> context,
                                                   std::shared_ptr<GpuSurface> layer, CardRenderer::Providers providers,
                                                   std::function<void(int, FocusChangeSource)> onFocusChange,
                                                   SceneRenderer::Services services) {
  if (context && layer)
    return std::make_unique<RendererScene>(SceneRenderer::makeRenderer(
        std::move(context), std::move(layer), std::move(providers), std::move(onFocusChange), std::move(services)));
  auto sink = std::make_shared<FocusSink>();
  sink->handler = std::move(onFocusChange);
  auto renderer = std::make_unique<SceneRenderer>(std::move(layer), std::make_shared<SceneState>(), std::move(sink),
                                                  nullptr, std::move(services));
  renderer->syncDrawableSize();
  return std::make_unique<RendererScene>(std::move(renderer));
}

}  // namespace quorvel
