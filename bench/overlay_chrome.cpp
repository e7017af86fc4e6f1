// The overlay's text chrome on the card renderer at 1920 x 1080, on the Vulkan device (lavapipe on
// the CPU here): a title capsule, the search pill and its tip, as a screen-sized bitmap.
//
//   BM_ChromeUpload/0      the whole bitmap uploaded (every texel of the screen)
//   BM_ChromeUpload/1      only the rectangles painted
//   BM_ChromeFrame/0/n     one frame with n cards and the chrome drawn as one full-screen quad,
//                          until the GPU has finished
//   BM_ChromeFrame/1/n     the same with one quad per painted rectangle
//   BM_ChromeFrame/2/n     the same without chrome (what the chrome adds is the difference)
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "base/SystemClock.h"
#include "gpu/vulkan/VulkanDevice.h"
#include "scene/LayoutFactory.h"
#include "scene/SceneState.h"
#include "scene/SceneWake.h"
#include "scene/render/CardRenderer.h"

namespace quorvel {
namespace {

constexpr uint32_t kWidth = 1920, kHeight = 1080;

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

// The chrome of a summon: the title capsule above the cards, the idle search pill and its tip
// below, translucent glass with lighter text-like stripes.
struct Chrome {
  RasterBitmap bitmap = *RasterBitmap::make(kWidth, kHeight);
  RasterRegions painted{kWidth, kHeight};

  Chrome() {
    for (const RasterRegion& r : {RasterRegion{660, 180, 600, 58}, RasterRegion{925, 955, 70, 41},
                                  RasterRegion{876, 1000, 168, 17}}) {
      for (int y = r.y; y < r.maxY(); ++y)
        for (int x = r.x; x < r.maxX(); ++x) {
          uint8_t* p = bitmap.data() + static_cast<size_t>(y) * bitmap.bytesPerRow() + static_cast<size_t>(x) * 4;
          const uint8_t level = (x / 3 + y / 5) % 4 == 0 ? 200 : 30;
          p[0] = p[1] = p[2] = level;
          p[3] = 210;
        }
      painted.add({r.x - 2, r.y - 2, r.width + 4, r.height + 4});
    }
  }
};

struct Scene {
  Scene(std::shared_ptr<GpuDevice> device, int cards) : wake(SystemClock::shared()) {
    context = MetalContext::make(device);
    surface = device->makeOffscreenSurface("Quorvel bench surface");
    surface->setBounds({static_cast<double>(kWidth), static_cast<double>(kHeight)});
    surface->setDrawableSize(kWidth, kHeight);
    std::vector<uint8_t> bytes(320 * 200 * 4, 200);
    picture = device->makeTexture({320, 200, GpuTextureDescriptor::fullMipCount(320, 200), false, "picture"});
    picture->replaceLevel(0, bytes.data(), 320 * 4);
    CardRenderer::Providers providers;
    providers.picture = [this](uint32_t) -> std::optional<CardPicture> { return CardPicture{picture, CaptureExtent{}}; };
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
      SceneState::setViewport(s, Float2{static_cast<float>(kWidth), static_cast<float>(kHeight)}, 1);
    });
    for (int i = 0; i < 120; ++i) renderer->frame(surface->nextDrawable(), 1.0 / 60);  // settle
  }

  DetachedMainQueue mainQueue;
  SceneWake wake;
  std::shared_ptr<MetalContext> context;
  std::shared_ptr<GpuOffscreenSurface> surface;
  std::shared_ptr<SceneState> state = std::make_shared<SceneState>();
  std::shared_ptr<GpuTexture> picture;
  std::unique_ptr<CardRenderer> renderer;
};

std::shared_ptr<VulkanDevice> openDevice(benchmark::State& st) {
  std::string error;
  VulkanDeviceOptions options;
  options.presentation = false;
  auto device = VulkanDevice::make(options, &error);
  if (!device) st.SkipWithError(("Vulkan is unavailable: " + error).c_str());
  return device;
}

void BM_ChromeUpload(benchmark::State& st) {
  auto device = openDevice(st);
  if (!device) return;
  Scene scene(device, 0);
  const Chrome chrome;
  const bool regions = st.range(0) == 1;
  for (auto _ : st) {
    const bool ok = regions ? scene.renderer->setOverlayChrome(chrome.bitmap, chrome.painted)
                            : scene.renderer->setOverlayChrome(chrome.bitmap);
    if (!ok) st.SkipWithError("the upload failed");
  }
  st.SetLabel(regions ? "painted rectangles" : "whole bitmap");
}
BENCHMARK(BM_ChromeUpload)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ChromeFrame(benchmark::State& st) {
  auto device = openDevice(st);
  if (!device) return;
  Scene scene(device, static_cast<int>(st.range(1)));
  const Chrome chrome;
  if (st.range(0) == 0) scene.renderer->setOverlayChrome(chrome.bitmap);
  if (st.range(0) == 1) scene.renderer->setOverlayChrome(chrome.bitmap, chrome.painted);
  device->waitIdle();
  for (auto _ : st) {
    scene.renderer->frame(scene.surface->nextDrawable(), 1.0 / 60);
    device->waitIdle();
  }
  st.SetLabel(st.range(0) == 0 ? "full-screen quad" : st.range(0) == 1 ? "painted rectangles" : "no chrome");
}
BENCHMARK(BM_ChromeFrame)
    ->ArgsProduct({{0, 1, 2}, {0, 50}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace quorvel

BENCHMARK_MAIN();
