// Window pictures: their GPU preparation on the Vulkan device (lavapipe on a machine without a
// GPU) and the store's memory bookkeeping.
//
//   BM_UploadStill            a 2600 × 1200 capture copied into its source texture (makeEntry)
//   BM_PrepareStill           its preparation: half size and the full mip chain, committed,
//                             until the store has installed it
//   BM_PrepareBlurred/sigma   the same with the privacy blur at sigma 28 and 112
//   BM_EnforceBudgetWithin    the budget check every install makes, with 2,000 pictures within
//                             the budget
//   BM_EnforceBudgetOver      the budget enforced on 2,000 pictures 60 % over it: the plan and
//                             the evictions
//   BM_IdleTrimPlan           the idle trim's plan over 2,000 candidates, with demotions

#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <string>

#include "base/ManualLoop.h"
#include "gpu/recording/RecordingDevice.h"
#include "gpu/vulkan/VulkanDevice.h"
#include "pictures/IdleTrim.h"
#include "pictures/ThumbnailCache.h"

namespace quorvel {
namespace {

constexpr int kWidth = 2600, kHeight = 1200;

struct Gpu {
  std::shared_ptr<VulkanDevice> device;
  std::string error;
  Gpu() {
    VulkanDeviceOptions options;
    options.presentation = false;
    device = VulkanDevice::make(options, &error);
  }
  bool ready(benchmark::State& state) {
    if (device) return true;
    state.SkipWithError(("Vulkan is unavailable: " + error).c_str());
    return false;
  }
};

PixelBuffer capture() {
  std::vector<uint8_t> pixels(static_cast<size_t>(kWidth) * kHeight * 4);
  std::mt19937 random(5);
  for (size_t i = 0; i < pixels.size(); i += 4) {
    pixels[i] = static_cast<uint8_t>(random()), pixels[i + 1] = static_cast<uint8_t>(i >> 12);
    pixels[i + 2] = static_cast<uint8_t>(i >> 16), pixels[i + 3] = 255;
  }
  return PixelBuffer::adopting(kWidth, kHeight, std::move(pixels));
}

void BM_UploadStill(benchmark::State& state) {
  Gpu gpu;
  if (!gpu.ready(state)) return;
  ManualLoop loop;
  ThumbnailCache cache(GpuContext::make(gpu.device), loop.main(), loop.clock(), nullptr);
  const PixelBuffer buffer = capture();
  for (auto _ : state) benchmark::DoNotOptimize(cache.makeEntry(buffer, {}, {}));
}
BENCHMARK(BM_UploadStill)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PrepareStill(benchmark::State& state) {
  Gpu gpu;
  if (!gpu.ready(state)) return;
  ManualLoop loop;
  ThumbnailCache cache(GpuContext::make(gpu.device), loop.main(), loop.clock(), nullptr);
  auto source = cache.makeEntry(capture(), {}, {});
  if (!source) return state.SkipWithError("no source texture");
  for (auto _ : state) {
    if (!cache.prepare(*source, 1, false, false, {})) return state.SkipWithError("not prepared");
    gpu.device->waitIdle();
  }
  state.counters["levels"] = cache.entryCopy(1)->texture->mipLevelCount();
}
BENCHMARK(BM_PrepareStill)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PrepareBlurred(benchmark::State& state) {
  Gpu gpu;
  if (!gpu.ready(state)) return;
  PicturePreparer preparer(gpu.device);
  auto queue = gpu.device->makeCommandQueue("Quorvel bench");
  const PixelBuffer buffer = capture();
  auto source = gpu.device->makeTexture({kWidth, kHeight, 1, false, "Quorvel bench source"});
  source->replaceLevel(0, buffer.bytes.get(), buffer.bytesPerRow);
  const auto sigma = static_cast<float>(state.range(0));
  for (auto _ : state) {
    auto commands = queue->makeCommandBuffer();
    auto prepared = preparer.encode(*commands, source, sigma, {});
    if (!prepared) return state.SkipWithError("not prepared");
    commands->commit();
    commands->waitUntilCompleted();
  }
  const auto plan = PicturePreparer::blurPlan(kWidth / 2, kHeight / 2, 11, sigma);
  state.counters["level"] = plan.level;
  state.counters["taps"] = 2 * plan.radius + 1;
}
BENCHMARK(BM_PrepareBlurred)->Arg(28)->Arg(112)->Unit(benchmark::kMillisecond)->UseRealTime();

// 2,000 pictures on the recording device (no GPU memory behind them), installed while every card
// is on the current desktop and so exempt. `over`: 0.2 MiB each, and the cards then move to
// another desktop, which leaves the table 60 % over the presented budget; else 52 KiB each, 40 %
// of the budget.
struct Table {
  std::shared_ptr<RecordingDevice> device = RecordingDevice::make();
  ManualLoop loop;
  std::unique_ptr<ThumbnailCache> cache =
      std::make_unique<ThumbnailCache>(GpuContext::make(device), loop.main(), loop.clock(), nullptr);

  explicit Table(bool over) {
    const uint32_t w = over ? 192 : 96, h = over ? 204 : 102;
    std::vector<WindowCard> cards(2000);
    for (uint32_t i = 0; i < cards.size(); ++i) {
      cards[i].id = cards[i].orderingID = i + 1;
      cards[i].state = WindowState::onCurrentSpace;
    }
    cache->beginPresentation();
    session(cards);
    for (uint32_t i = 1; i <= 2000; ++i) {
      ThumbnailCache::Entry e;
      e.texture = device->makeTexture({w, h, GpuTextureDescriptor::fullMipCount(w, h), true, "p"});
      e.bytes = ThumbnailCache::Entry::bytesOf(*e.texture);
      cache->install(std::move(e), i, std::nullopt, ThumbnailCache::InstallKind::still);
      if (i % 3 == 0) session(cards);  // pictures presented in different sessions
    }
    if (over) {
      for (auto& card : cards) card.state = WindowState::onOtherSpace;
      session(cards);
    }
  }
  void session(const std::vector<WindowCard>& cards) {
    std::lock_guard guard(cache->lock());
    cache->beginSession(cards);
    for (uint32_t i = 1; i <= 2000; i += 5) cache->entry(i);
  }
};

void BM_EnforceBudgetWithin(benchmark::State& state) {
  Table table(false);
  for (auto _ : state) {
    std::lock_guard guard(table.cache->lock());
    benchmark::DoNotOptimize(table.cache->enforceBudget());
  }
  state.counters["entries"] = static_cast<double>(table.cache->counts().entries);
  state.counters["MiB"] = static_cast<double>(table.cache->counts().totalBytes) / (1 << 20);
}
BENCHMARK(BM_EnforceBudgetWithin)->Unit(benchmark::kMicrosecond);

void BM_EnforceBudgetOver(benchmark::State& state) {
  size_t evicted = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto table = std::make_unique<Table>(true);
    const size_t before = table->cache->counts().entries;
    state.ResumeTiming();
    {
      std::lock_guard guard(table->cache->lock());
      benchmark::DoNotOptimize(table->cache->enforceBudget());
    }
    state.PauseTiming();
    evicted = before - table->cache->counts().entries;
    table.reset();
    state.ResumeTiming();
  }
  state.counters["evicted"] = static_cast<double>(evicted);
}
BENCHMARK(BM_EnforceBudgetOver)->Unit(benchmark::kMicrosecond)->Iterations(20);

void BM_IdleTrimPlan(benchmark::State& state) {
  std::vector<IdleTrim::Candidate> candidates(2000);
  std::mt19937 random(6);
  for (uint32_t i = 0; i < candidates.size(); ++i) {
    auto& c = candidates[i];
    c.id = i + 1;
    c.bytes = 100'000 + static_cast<int64_t>(random() % 400'000);
    c.lastPresentedSession = random() % 50;
    c.isIrreplaceable = i % 4 == 0;
    c.isExempt = i % 10 == 0;
    c.isDemotable = i % 8 == 0;
  }
  IdleTrim::Plan plan;
  for (auto _ : state) {
    plan = IdleTrim::plan(candidates, ThumbnailCache::kIdleBudget, false);
    benchmark::DoNotOptimize(plan);
  }
  state.counters["evictions"] = static_cast<double>(plan.evictions.size());
  state.counters["demotions"] = static_cast<double>(plan.demotions.size());
}
BENCHMARK(BM_IdleTrimPlan)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace quorvel

BENCHMARK_MAIN();
