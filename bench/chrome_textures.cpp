// The chrome plates of a summon: the labels and titles of 50 cards not seen before, drawn with the
// real text backend (Qt) and uploaded with their mip chains, as the overlay does on the main
// thread while it presents.
//
//   BM_PlatesOf50NewCards   50 label plates (name and a second line) and 50 title plates, each
//                           drawn, uploaded and mipmapped
//   BM_OneLabelPlate        one label plate alone
//   BM_StatusBadgePrewarm   the five plain status badges (launch and every opacity change)

#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "base/ManualLoop.h"
#include "pictures/CardLabelCache.h"
#include "pictures/ChromeTexture.h"
#include "pictures/StatusBadgeCache.h"
#include "platform/qt/QtRaster.h"

namespace quorvel {
namespace {

// Stands in for the GPU: copies level 0 and builds the mip chain on the CPU by 2 × 2 averages.
class CpuTexture final : public ChromeTexture {
 public:
  CpuTexture(int w, int h) : w_(w), h_(h) {}
  int width() const override { return w_; }
  int height() const override { return h_; }
  std::vector<std::vector<uint8_t>> levels;

 private:
  int w_, h_;
};

class CpuUploader final : public ChromeUploader {
 public:
  ChromeTextureRef upload(const RasterBitmap& bitmap, std::string_view) override {
    auto texture = std::make_shared<CpuTexture>(bitmap.width(), bitmap.height());
    texture->levels.emplace_back(bitmap.data(), bitmap.data() + bitmap.byteCount());
    int w = bitmap.width(), h = bitmap.height();
    while (w > 1 || h > 1) {
      const int nw = std::max(1, w / 2), nh = std::max(1, h / 2);
      const std::vector<uint8_t>& src = texture->levels.back();
      std::vector<uint8_t> dst(static_cast<size_t>(nw) * nh * 4);
      for (int y = 0; y < nh; ++y) {
        for (int x = 0; x < nw; ++x) {
          for (int c = 0; c < 4; ++c) {
            const int x0 = std::min(2 * x, w - 1), x1 = std::min(2 * x + 1, w - 1);
            const int y0 = std::min(2 * y, h - 1), y1 = std::min(2 * y + 1, h - 1);
            const unsigned sum = src[(y0 * w + x0) * 4 + c] + src[(y0 * w + x1) * 4 + c] +
                                 src[(y1 * w + x0) * 4 + c] + src[(y1 * w + x1) * 4 + c];
            dst[(static_cast<size_t>(y) * nw + x) * 4 + c] = static_cast<uint8_t>(sum / 4);
          }
        }
      }
      texture->levels.push_back(std::move(dst));
      w = nw;
      h = nh;
    }
    return texture;
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

void BM_PlatesOf50NewCards(benchmark::State& state) {
  ManualLoop loop;
  QtRaster raster;
  CpuUploader uploader;
  int round = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto cache = CardLabelCache::make({loop.main(), raster, uploader, {}});
    const auto labels = sampleLabels(round);
    const auto titles = sampleTitles(round++);
    state.ResumeTiming();
    cache->prepareLabels(labels);
    cache->prepareTitles(titles);
    benchmark::DoNotOptimize(cache->counts());
  }
  state.SetItemsProcessed(state.iterations() * 100);
}
BENCHMARK(BM_PlatesOf50NewCards)->Unit(benchmark::kMillisecond);

void BM_OneLabelPlate(benchmark::State& state) {
  ManualLoop loop;
  QtRaster raster;
  CpuUploader uploader;
  auto cache = CardLabelCache::make({loop.main(), raster, uploader, {}});
  int i = 0;
  for (auto _ : state) {
    cache->prepareLabels({CardLabel{"Application " + std::to_string(i++), WindowState::minimized}});
  }
}
BENCHMARK(BM_OneLabelPlate)->Unit(benchmark::kMicrosecond);

void BM_StatusBadgePrewarm(benchmark::State& state) {
  ManualLoop loop;
  QtRaster raster;
  CpuUploader uploader;
  auto cache = StatusBadgeCache::make({loop.main(), raster, uploader, {}});
  double opacity = 0.5;
  for (auto _ : state) {
    cache->setPlateOpacity(opacity += 0.001);
    cache->prewarm();
  }
}
BENCHMARK(BM_StatusBadgePrewarm)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quorvel

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QGuiApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
