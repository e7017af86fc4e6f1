// The card renderer's cost: the CPU time to encode one frame (on the recording device, so only the
// encoding is measured), a whole frame drawn and finished on the Vulkan device (lavapipe on the CPU
// here), with reflections and shadows on, and the first frame of a summon's fly-in, when every card
// still sits on its window's rectangle at full size (windows scattered, and windows stacked as a
// window manager leaves them).
#include <benchmark/benchmark.h>

#include <ctime>
#include <iterator>
#include <memory>
#include <vector>

#include "CardBenchScene.h"
#include "base/SystemClock.h"
#include "gpu/recording/RecordingDevice.h"
#include "gpu/vulkan/VulkanDevice.h"
#include "scene/render/CardRenderer.h"
#include "scene/LayoutFactory.h"
#include "scene/SceneState.h"
#include "scene/SceneWake.h"

namespace quorvel {
namespace {

using bench::CardBenchScene;
using bench::windowlessVulkan;

void BM_EncodeFrame(benchmark::State& st) {
  auto device = RecordingDevice::make();
  CardBenchScene scene(device, static_cast<int>(st.range(0)), 1920, 1080);
  for (auto _ : st) {
    scene.renderer->frame(scene.surface->nextDrawable(), 1.0 / 60);
    device->clearLog();
  }
  st.counters["cards"] = static_cast<double>(st.range(0));
}
BENCHMARK(BM_EncodeFrame)->Arg(20)->Arg(60)->Arg(300)->Unit(benchmark::kMicrosecond);

void BM_WholeFrameOnVulkan(benchmark::State& st) {
  auto device = windowlessVulkan(st);
  if (!device) return;
  const auto width = static_cast<uint32_t>(st.range(0)), height = static_cast<uint32_t>(st.range(1));
  CardBenchScene scene(device, static_cast<int>(st.range(2)), width, height);
  device->waitIdle();
  for (auto _ : st) {
    scene.renderer->frame(scene.surface->nextDrawable(), 1.0 / 60);
    device->waitIdle();
  }
  st.SetLabel(device->name());
}
// A card on a window's rectangle of `x`, `y`, `w`, `h` pixels of a `width` x `height` screen.
CardSnapshot windowCard(int i, int32_t pid, float x, float y, float w, float h, uint32_t width, uint32_t height) {
  CardSnapshot c;
  c.id = static_cast<uint32_t>(i + 1);
  c.pid = pid;
  c.canAct = true;
  c.aspect = w / h;
  c.windowRect = ViewportRect{{x / static_cast<float>(width), y / static_cast<float>(height)},
                              {w / static_cast<float>(width), h / static_cast<float>(height)}};
  return c;
}

// Draws a summon's first frame of `snapshots` once per iteration, the card set installed anew each
// time (every card still on its window's rectangle), and waits for it.
void runFlyInFirstFrames(benchmark::State& st, VulkanDevice& device, CardBenchScene& scene,
                         const std::vector<CardSnapshot>& snapshots, uint32_t width, uint32_t height) {
  scene.opaquePictures = true;
  auto install = [&] {
    scene.state->withLock([&](SceneState::Storage& s) {
      SceneState::InstallOptions o;
      o.snapshots = snapshots;
      o.flyIn = true;
      SceneState::install(s, std::move(o));
      SceneState::setViewport(s, Float2{static_cast<float>(width), static_cast<float>(height)}, 1);
    });
  };
  install();
  scene.renderer->frame(scene.surface->nextDrawable(), 1.0 / 120);
  device.waitIdle();
  for (auto _ : st) {
    install();
    scene.renderer->frame(scene.surface->nextDrawable(), 1.0 / 120);
    device.waitIdle();
  }
  st.SetLabel(device.name());
}

// The fly-in's first frame: `cards` windows of about 500 x 320 pixels scattered over a 1920 x 1080
// screen, overlapping heavily (some 3.7 screens of pixels), each card on its window's rectangle with
// an opaque picture. Each iteration installs the card set again and draws one frame.
void BM_FlyInFirstFrameOnVulkan(benchmark::State& st) {
  auto device = windowlessVulkan(st);
  if (!device) return;
  constexpr uint32_t width = 1920, height = 1080;
  const int cards = static_cast<int>(st.range(0));
  CardBenchScene scene(device, cards, width, height);
  // Opaque pictures of distinct colours (the scene's own are translucent grey).
  for (int i = 0; i < cards; ++i) {
    std::vector<uint8_t> bytes(320 * 200 * 4);
    for (size_t p = 0; p < bytes.size(); p += 4) {
      bytes[p] = static_cast<uint8_t>(40 + 37 * i);
      bytes[p + 1] = static_cast<uint8_t>(90 + 11 * i + p / 4 % 320 / 4);
      bytes[p + 2] = static_cast<uint8_t>(160 - 5 * i);
      bytes[p + 3] = 255;
    }
    auto& texture = scene.pictures[static_cast<size_t>(i)];
    texture->replaceLevel(0, bytes.data(), 320 * 4);
  }
  std::vector<CardSnapshot> snapshots;
  for (int i = 0; i < cards; ++i) {
    const float w = 470.0f + static_cast<float>(i * 13 % 60), h = 300.0f + static_cast<float>(i * 7 % 40);
    const float x = static_cast<float>(i * 397 % static_cast<int>(width - 560));
    const float y = static_cast<float>(i * 211 % static_cast<int>(height - 350));
    snapshots.push_back(windowCard(i, 100 + i % 7, x, y, w, h, width, height));
  }
  runFlyInFirstFrames(st, *device, scene, snapshots, width, height);
}
BENCHMARK(BM_FlyInFirstFrameOnVulkan)->Arg(10)->Arg(50)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same first frame with the windows where a window manager's placement left 50 terminals of
// 484 x 316 pixels (openbox on a 1920 x 1080 screen): many on the very same rectangles, the rest
// overlapping along shared edges. Each picture is half its window's size, as the picture cache
// keeps them, so the cards magnify it.
void BM_FlyInStackedFirstFrameOnVulkan(benchmark::State& st) {
  auto device = windowlessVulkan(st);
  if (!device) return;
  constexpr uint32_t width = 1920, height = 1080, pictureWidth = 242, pictureHeight = 158;
  constexpr int places[][2] = {
    {719,409}, {117,54}, {59,402}, {117,761}, {661,47}, {632,755}, {1277,764}, {1212,43}, {1208,393},
    {1436,423}, {1436,82}, {545,388}, {791,779}, {1436,779}, {2,743}, {2,40}, {950,68}, {2,381}, {488,40},
    {950,438}, {305,779}, {950,779}, {464,438}, {1436,40}, {1436,438}, {1436,779}, {2,40}, {2,438}, {974,97},
    {464,97}, {464,779}, {2,779}, {950,438}, {950,779}, {1436,381}, {488,438}, {1436,40}, {1436,722}, {950,40},
    {2,97}, {488,40}, {2,438}, {488,779}, {1031,381}, {2,779}, {974,722}, {488,381}, {1436,97}, {1436,779},
    {1436,438}};
  constexpr int cards = static_cast<int>(std::size(places));
  CardBenchScene scene(device, cards, width, height);
  for (int i = 0; i < cards; ++i) {
    auto texture = device->makeTexture({pictureWidth, pictureHeight,
                                        GpuTextureDescriptor::fullMipCount(pictureWidth, pictureHeight), false,
                                        "picture"});
    // Dark text on a light page.
    std::vector<uint8_t> bytes(pictureWidth * pictureHeight * 4);
    for (size_t p = 0; p < bytes.size(); p += 4) {
      const size_t x = p / 4 % pictureWidth, y = p / 4 / pictureWidth;
      const bool ink = x % 7 < 2 && y % 9 < 5 && (x / 7 + y / 9 + static_cast<size_t>(i)) % 5 != 0;
      bytes[p] = bytes[p + 1] = bytes[p + 2] = ink ? 30 : 245;
      bytes[p + 3] = 255;
    }
    texture->replaceLevel(0, bytes.data(), pictureWidth * 4);
    scene.pictures[static_cast<size_t>(i)] = texture;
  }
  std::vector<CardSnapshot> snapshots;
  for (int i = 0; i < cards; ++i)
    snapshots.push_back(windowCard(i, 100 + i, static_cast<float>(places[i][0]), static_cast<float>(places[i][1]),
                                   484, 316, width, height));
  runFlyInFirstFrames(st, *device, scene, snapshots, width, height);
}
BENCHMARK(BM_FlyInStackedFirstFrameOnVulkan)->Unit(benchmark::kMillisecond)->UseRealTime();



BENCHMARK(BM_WholeFrameOnVulkan)
    ->Args({1280, 800, 20})
    ->Args({1280, 800, 60})
    ->Args({1920, 1080, 20})
    ->Args({1920, 1080, 60})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A settled cover arc of `cards` cards on a 1920 x 1080 screen whose focused card's picture changes
// every frame (a live picture), each frame drawn and finished: drawn only over the changed
// rectangle (1) or whole (0), with translucent pictures or opaque ones (as captured windows are).
// Also the CPU time of the process per frame, every thread.
void BM_LivePictureFrameOnVulkan(benchmark::State& st) {
  auto device = windowlessVulkan(st);
  if (!device) return;
  CardBenchScene scene(device, static_cast<int>(st.range(0)), 1920, 1080);
  scene.opaquePictures = st.range(2) != 0;
  scene.renderer->setRedrawsOnlyChanges(st.range(1) != 0);
  const uint32_t focused = 1;  // the cover arc starts on the first card
  std::vector<std::shared_ptr<GpuTexture>> frames;
  for (uint8_t shade : {60, 120, 180}) {
    std::vector<uint8_t> bytes(320 * 200 * 4, shade);
    if (scene.opaquePictures)
      for (size_t i = 3; i < bytes.size(); i += 4) bytes[i] = 255;
    auto texture = device->makeTexture({320, 200, 1, false, "live frame"});
    texture->replaceLevel(0, bytes.data(), 320 * 4);
    frames.push_back(texture);
  }
  size_t n = 0;
  auto frame = [&] {
    scene.pictures[(focused - 1) % scene.pictures.size()] = frames[n++ % frames.size()];
    scene.renderer->frame(scene.surface->nextDrawable(), 1.0 / 60);
    device->waitIdle();
  };
  for (int i = 0; i < 4; ++i) frame();  // every drawable of the ring holds the settled frame
  timespec before{}, after{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &before);
  for (auto _ : st) frame();
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &after);
  const double cpu = double(after.tv_sec - before.tv_sec) + double(after.tv_nsec - before.tv_nsec) / 1e9;
  st.counters["cpu_ms"] = cpu * 1000 / double(st.iterations());
  st.SetLabel(device->name());
}
BENCHMARK(BM_LivePictureFrameOnVulkan)
    ->ArgNames({"cards", "onlyChanges", "opaque"})
    ->Args({50, 0, 0})
    ->Args({50, 1, 0})
    ->Args({50, 0, 1})
    ->Args({50, 1, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace quorvel

BENCHMARK_MAIN();
