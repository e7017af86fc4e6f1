// The chrome plates of a summon: the labels and titles of 50 cards not seen before, drawn with the
// real text backend (Qt) and uploaded with their mip chains, as the overlay does on the main
// thread while it presents.
//
//   BM_PlatesOf50NewCards   50 label plates (name and a second line) and 50 title plates, each
//                           drawn, uploaded and mipmapped, until the GPU has finished
//   BM_PlatesOf50NewCardsMainThread  the same as the main thread spends it (the mip chains are
//                           built on the GPU after it has moved on)
//   BM_OneLabelPlate        one label plate alone
//   BM_StatusBadgePrewarm   the five plain status badges (launch and every opacity change)

#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "QtBenchMain.h"
#include "base/ManualLoop.h"
#include "gpu/vulkan/VulkanDevice.h"
#include "pictures/CardLabelCache.h"
#include "pictures/ChromeTexture.h"
#include "pictures/GpuChromeUploader.h"
#include "pictures/GpuContext.h"
#include "pictures/StatusBadgeCache.h"
#include "pictures/TextureRasterizer.h"
#include "platform/qt/QtRaster.h"

namespace quorvel {
namespace {

// The GPU path of the program: the shared context on the Vulkan device (lavapipe on a machine
// without a GPU) and the caches' uploader on its texture rasterizer.
struct Gpu {
  std::shared_ptr<VulkanDevice> device;
  std::shared_ptr<GpuContext> context;
  std::unique_ptr<GpuChromeUploader> uploader;
  std::string error;

  Gpu() {
    VulkanDeviceOptions options;
    options.presentation = false;
    device = VulkanDevice::make(options, &error);
    if (!device) return;
    context = GpuContext::make(device);
    if (context) uploader = std::make_unique<GpuChromeUploader>(TextureRasterizer{context});
  }
  bool ready(benchmark::State& state) {
    if (uploader) return true;
    state.SkipWithError(("Vulkan is unavailable: " + error).c_str());
    return false;
  }
};

std::vector<CardLabel> sampleLabels(int round) {
  const WindowState states[] = {WindowState::onCurrentSpace, WindowState::onOtherSpace, WindowState::minimized,
                                WindowState::hiddenApp};
  std::vector<CardLabel> labels;
  for (int i = 0; i < 50; ++i) {
    labels.push_back({"Application " + std::to_string(round) + "-" + std::to_string(i), states[i % 4],
                      i % 4 == 1 ? std::optional<int>(i % 9 + 1) : std::nullopt, false, std::nullopt});
  }
  return labels;
}

std::vector<CardTitle> sampleTitles(int round) {
  std::vector<CardTitle> titles;
  for (int i = 0; i < 50; ++i) {
    titles.push_back({clipped("Document " + std::to_string(round) + "-" + std::to_string(i) +
                                  " — notes on the quarterly figures and what to do next",
                              "Editor")});
  }
  return titles;
}

// Timed up to the GPU having built every mip chain (the summon itself does not wait for it).
void BM_PlatesOf50NewCards(benchmark::State& state) {
  Gpu gpu;
  if (!gpu.ready(state)) return;
  ManualLoop loop;
  QtRaster raster;
  int round = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto cache = CardLabelCache::make({loop.main(), raster, *gpu.uploader, {}});
    const auto labels = sampleLabels(round);
    const auto titles = sampleTitles(round++);
    gpu.device->waitIdle();
    state.ResumeTiming();
    cache->prepareLabels(labels);
    cache->prepareTitles(titles);
    gpu.device->waitIdle();
    benchmark::DoNotOptimize(cache->counts());
  }
  state.SetItemsProcessed(state.iterations() * 100);
  state.SetLabel(gpu.device->name());
}

// The same without waiting for the GPU: what the main thread spends during a summon.
void BM_PlatesOf50NewCardsMainThread(benchmark::State& state) {
  Gpu gpu;
  if (!gpu.ready(state)) return;
  ManualLoop loop;
  QtRaster raster;
  int round = 0;
  for (auto _ : state) {
    state.PauseTiming();
    gpu.device->waitIdle();
    auto cache = CardLabelCache::make({loop.main(), raster, *gpu.uploader, {}});
    const auto labels = sampleLabels(round);
    const auto titles = sampleTitles(round++);
    state.ResumeTiming();
    cache->prepareLabels(labels);
    cache->prepareTitles(titles);
    benchmark::DoNotOptimize(cache->counts());
  }
  gpu.device->waitIdle();
  state.SetItemsProcessed(state.iterations() * 100);
}
BENCHMARK(BM_PlatesOf50NewCardsMainThread)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlatesOf50NewCards)->Unit(benchmark::kMillisecond);

void BM_OneLabelPlate(benchmark::State& state) {
  Gpu gpu;
  if (!gpu.ready(state)) return;
  ManualLoop loop;
  QtRaster raster;
  auto cache = CardLabelCache::make({loop.main(), raster, *gpu.uploader, {}});
  int i = 0;
  for (auto _ : state) {
    cache->prepareLabels({CardLabel{"Application " + std::to_string(i++), WindowState::minimized}});
    gpu.device->waitIdle();
  }
}
BENCHMARK(BM_OneLabelPlate)->Unit(benchmark::kMicrosecond);

void BM_StatusBadgePrewarm(benchmark::State& state) {
  Gpu gpu;
  if (!gpu.ready(state)) return;
  ManualLoop loop;
  QtRaster raster;
  auto cache = StatusBadgeCache::make({loop.main(), raster, *gpu.uploader, {}});
  double opacity = 0.5;
  for (auto _ : state) {
    cache->setPlateOpacity(opacity += 0.001);
    cache->prewarm();
    gpu.device->waitIdle();
  }
}
BENCHMARK(BM_StatusBadgePrewarm)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quorvel

int main(int argc, char** argv) { return quorvel::runQtBenchmarks<QGuiApplication>(argc, argv); }
