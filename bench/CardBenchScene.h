// What the card renderer's benchmarks share: a main queue that never runs, a windowless Vulkan
// device and a scene of cards in the cover arc, drawn into an offscreen surface.
#pragma once

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "base/SystemClock.h"
#include "gpu/vulkan/VulkanDevice.h"
#include "scene/LayoutFactory.h"
#include "scene/SceneState.h"
#include "scene/SceneWake.h"
#include "scene/render/CardRenderer.h"

namespace quorvel::bench {

// A main queue that is never the calling thread; its work is dropped.
class DetachedMainQueue final : public Executor {
 public:
  void post(Job) override {}
  TimerId postAfter(Duration, Job) override { return 0; }
  bool cancel(TimerId) override { return false; }
  bool isCurrent() const override { return false; }
  Clock& clock() const override { return SystemClock::shared(); }
  const std::string& label() const override { return label_; }

 private:
  std::string label_ = "bench main";
};

// The Vulkan device without presentation; none (the benchmark skipped) when there is no Vulkan.
inline std::shared_ptr<VulkanDevice> windowlessVulkan(benchmark::State& st) {
  std::string error;
  VulkanDeviceOptions options;
  options.presentation = false;
  auto device = VulkanDevice::make(options, &error);
  if (!device) st.SkipWithError(("Vulkan is unavailable: " + error).c_str());
  return device;
}

// `cards` cards with a 320 x 200 picture each (translucent grey unless made opaque), settled in the
// cover arc on a `width` x `height` surface; with `icons`, every card has an application icon and a
// status glyph.
struct CardBenchScene {
  CardBenchScene(std::shared_ptr<GpuDevice> device, int cards, uint32_t width, uint32_t height, bool icons = true)
      : wake(SystemClock::shared()) {
    context = GpuContext::make(device);
    surface = device->makeOffscreenSurface("Quorvel bench surface");
    surface->setBounds({static_cast<double>(width), static_cast<double>(height)});
    surface->setDrawableSize(width, height);
    std::vector<uint8_t> bytes(320 * 200 * 4, 200);
    for (int i = 0; i < std::max(cards, 1); ++i) {
      auto texture = device->makeTexture({320, 200, GpuTextureDescriptor::fullMipCount(320, 200), false, "picture"});
      texture->replaceLevel(0, bytes.data(), 320 * 4);
      pictures.push_back(texture);
    }
    CardRenderer::Providers providers;
    providers.picture = [this](uint32_t id) -> std::optional<CardPicture> {
      return CardPicture{pictures[(id - 1) % pictures.size()], CaptureExtent{}, opaquePictures};
    };
    if (icons) {
      icon = device->makeTexture({64, 64, 1, false, "icon"});
      providers.icon = [this](int32_t) { return icon; };
      providers.status = [this](const CardStatus&) { return icon; };
    }
    renderer = CardRenderer::make(context, state, std::make_shared<FocusSink>(), providers,
                                  CardRenderer::Services{mainQueue, SystemClock::shared(), wake});
    state->withLock([&](SceneState::Storage& s) {
      SceneState::applyStyle(s, OrbitCamera::FocusMode::wrap, false,
                             LayoutFactory::makeLayout(AppSettings::SwitcherStyle::coverArc, 1.0f), 0.92);
      SceneState::InstallOptions options;
      for (int i = 0; i < cards; ++i) {
        CardSnapshot c;
        c.id = static_cast<uint32_t>(i + 1);
        c.pid = 100 + i % 7;
        c.canAct = true;
        options.snapshots.push_back(c);
      }
      SceneState::install(s, std::move(options));
      SceneState::setViewport(s, Float2{static_cast<float>(width), static_cast<float>(height)}, 1);
    });
    for (int i = 0; i < 120; ++i) renderer->frame(surface->nextDrawable(), 1.0 / 60);  // settle
  }

  DetachedMainQueue mainQueue;
  SceneWake wake;
  std::shared_ptr<GpuContext> context;
  std::shared_ptr<GpuOffscreenSurface> surface;
  std::shared_ptr<SceneState> state = std::make_shared<SceneState>();
  std::vector<std::shared_ptr<GpuTexture>> pictures;
  bool opaquePictures = false;  // every picture's alpha is 255
  std::shared_ptr<GpuTexture> icon;
  std::unique_ptr<CardRenderer> renderer;
};

}  // namespace quorvel::bench
