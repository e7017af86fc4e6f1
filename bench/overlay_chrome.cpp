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

#include "CardBenchScene.h"
#include "base/SystemClock.h"
#include "gpu/vulkan/VulkanDevice.h"
#include "scene/LayoutFactory.h"
#include "scene/SceneState.h"
#include "scene/SceneWake.h"
#include "scene/render/CardRenderer.h"

namespace quorvel {
namespace {

constexpr uint32_t kWidth = 1920, kHeight = 1080;

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

void BM_ChromeUpload(benchmark::State& st) {
  auto device = bench::windowlessVulkan(st);
  if (!device) return;
  bench::CardBenchScene scene(device, 0, kWidth, kHeight, false);
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
  auto device = bench::windowlessVulkan(st);
  if (!device) return;
  bench::CardBenchScene scene(device, static_cast<int>(st.range(1)), kWidth, kHeight, false);
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
