// The summon as the overlay controller does it, from the summon call to the first frame of the card
// scene presented on the GPU (lavapipe on a machine without a GPU), with 10, 50 and 200 windows.
//
// The controller runs with its real scene renderer and card renderer on a 1920 × 1080 offscreen
// target, the label, title and status-badge caches drawing with Qt and uploading to the GPU, and
// pictures of 320 × 200 for every window. The registry, the desktop and the window are stand-ins
// that answer at once (the registry's own summon list has its own benchmark). The render thread's
// link fires one frame each time the scene is started, so the time ends when that first frame has
// been presented. Every summon after the first finds its textures drawn (the steady state); the
// first one's drawing is reported apart as BM_FirstSummon.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

#include "base/SystemClock.h"
#include "gpu/vulkan/VulkanDevice.h"
#include "overlay/ControllerFakes.h"
#include "overlay/controller/RendererScene.h"
#include "pictures/CardLabelCache.h"
#include "pictures/GpuChromeUploader.h"
#include "pictures/StatusBadgeCache.h"
#include "pictures/TextureRasterizer.h"
#include "platform/qt/QtRaster.h"

namespace quorvel {
namespace {

// One display-link update on the render thread each time the scene is unpaused.
class OneFramePerStart final : public DisplayLink {
 public:
  void run(const std::function<void(const DisplayLinkUpdate&)>& onUpdate) override {
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [&] { return stopped_ || pending_ > 0; });
      if (stopped_) return;
      pending_ = 0;
      lock.unlock();
      onUpdate({SystemClock::shared().mediaTime()});
      lock.lock();
    }
  }
  void setPaused(bool paused) override {
    if (paused) return;
    std::lock_guard lock(mutex_);
    ++pending_;
    changed_.notify_all();
  }
  void setRefreshRate(double) override {}
  void stop() override {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int pending_ = 0;
  bool stopped_ = false;
};

// The label, title, count and status textures from the real caches; icons and pictures uploaded once.
class BenchTextures final : public OverlayChromeTextures {
 public:
  BenchTextures(ManualLoop& loop, QtRaster& raster, GpuChromeUploader& uploader, GpuDevice& device, size_t cards)
      : labels(CardLabelCache::make({loop.main(), raster, uploader, {}})),
        status(StatusBadgeCache::make({loop.main(), raster, uploader, {}})) {
    std::vector<uint8_t> bytes(320 * 200 * 4, 180);
    for (size_t i = 0; i < cards; ++i) {
      auto texture = device.makeTexture({320, 200, GpuTextureDescriptor::fullMipCount(320, 200), false, "picture"});
      texture->replaceLevel(0, bytes.data(), 320 * 4);
      pictures.push_back(texture);
    }
    std::vector<uint8_t> iconBytes(128 * 128 * 4, 220);
    icon = device.makeTexture({128, 128, 1, false, "icon"});
    icon->replaceLevel(0, iconBytes.data(), 128 * 4);
  }
  void setPlateOpacity(double opacity) override {
    if (status->setPlateOpacity(opacity)) status->prewarm();
    std::unique_lock held(labels->lock());
    labels->setPlateOpacity(held, opacity);
  }
  void prepareIcons(const std::vector<IconRequest>&) override {}
  void prepareLabels(const std::vector<CardLabel>& l) override { labels->prepareLabels(l); }
  void prepareTitles(const std::vector<CardTitle>& t) override { labels->prepareTitles(t); }
  size_t titleCapacity() const override { return CardLabelCache::kMaxTitles; }
  void sweepIcons() override {}
  void pruneSiteIcons(const std::unordered_set<uint32_t>&, bool) override {}
  std::optional<std::string> tabSite(uint32_t) override { return std::nullopt; }
  void requestSiteIcons(const std::vector<WindowCard>&, bool) override {}
  CardRenderer::Providers providers() override {
    CardRenderer::Providers p;
    p.picture = [this](uint32_t id) -> std::optional<CardPicture> {
      return CardPicture{pictures[(id - 1) % pictures.size()], CaptureExtent{}};
    };
    p.icon = [this](int32_t) { return icon; };
    p.status = [this](const CardStatus& s) { return GpuChromeUploader::gpuTexture(status->texture(s)); };
    p.label = [this](const CardLabel& l) { return GpuChromeUploader::gpuTexture(labels->labelTexture(l)); };
    p.title = [this](const CardTitle& t, bool request) {
      return GpuChromeUploader::gpuTexture(labels->titleTexture(t.text, request));
    };
    p.count = [this](int n) { return GpuChromeUploader::gpuTexture(labels->countTexture(n)); };
    return p;
  }

  std::shared_ptr<CardLabelCache> labels;
  std::shared_ptr<StatusBadgeCache> status;
  std::vector<std::shared_ptr<GpuTexture>> pictures;
  std::shared_ptr<GpuTexture> icon;
};

struct SummonBench {
  explicit SummonBench(size_t windows) {
    VulkanDeviceOptions options;
    options.presentation = false;
    device = VulkanDevice::make(options, &error);
    if (!device) return;
    context = GpuContext::make(device);
    uploader = std::make_unique<GpuChromeUploader>(TextureRasterizer{context});
    textures = std::make_unique<BenchTextures>(rig.loop, raster, *uploader, *device, windows);
    rig.store.set("labelPlaceholders", true);
    rig.store.set("showCardTitles", true);
    rig.store.set("animateFlight", false);
    rig.desktop.screenList.resize(1);
    rig.desktop.screenList[0].frame = {0, 0, 1920, 1080};
    rig.cards.list.cards.clear();
    for (size_t i = 0; i < windows; ++i) {
      WindowCard card = ControllerRig::card(static_cast<uint32_t>(i + 1), static_cast<int32_t>(100 + i % 12),
                                            "Application " + std::to_string(i % 12),
                                            Rect{double(i % 9) * 90, double(i % 7) * 70, 900, 640});
      card.title = "Document " + std::to_string(i) + " — notes on the quarterly figures";
      rig.cards.list.cards.push_back(std::move(card));
    }
    rig.cards.list.previousIndex = 1;
    OverlayContentView::Services content{rig.metrics, rig.loop.main(), rig.settings, [] { return false; },
                                         [](int, int) { return false; }, [] { return false; },
                                         [] { return std::optional<std::string>(); }, [](bool) {}, [] { return true; }};
    controller = std::make_unique<OverlayController>(OverlayController::Services{
        rig.loop.main(), rig.settings, wake, rig.cards, rig.pictures, *textures, rig.desktop, content,
        [this](OverlayContentView& view, OverlayWindow&, std::function<void(int, FocusChangeSource)> onFocus) {
          surface = device->makeOffscreenSurface("Quorvel summon bench");
          surface->setBounds(view.bounds());
          surface->setContentsScale(1);
          return RendererScene::make(context, surface, textures->providers(), std::move(onFocus),
                                     SceneRenderer::Services{rig.loop.main(), SystemClock::shared(), wake, rig.settings,
                                                             [] { return std::make_shared<OneFramePerStart>(); }});
        },
        [](const WindowCard&) {}});
  }
  ~SummonBench() {
    controller.reset();
    if (device) device->waitIdle();
  }

  // One summon, until its first frame is presented; adds the controller's own part (the summon
  // call on the main thread) to `mainThreadSeconds`.
  void summon() {
    const uint64_t before = surface ? surface->presentedCount() : 0;
    const auto start = std::chrono::steady_clock::now();
    controller->present(true, AppSettings::HotkeyScope::allWindows);
    mainThreadSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    while (surface->presentedCount() == before) std::this_thread::sleep_for(std::chrono::microseconds(50));
  }
  double mainThreadSeconds = 0;
  void dismiss() {
    controller->cancel();
    rig.loop.advance(std::chrono::seconds(2));
    rig.loop.runUntilIdle();
    device->waitIdle();
  }

  std::string error;
  ControllerRig rig;
  QtRaster raster;
  SceneWake wake{SystemClock::shared()};
  std::shared_ptr<VulkanDevice> device;
  std::shared_ptr<GpuContext> context;
  std::unique_ptr<GpuChromeUploader> uploader;
  std::unique_ptr<BenchTextures> textures;
  std::shared_ptr<GpuOffscreenSurface> surface;
  std::unique_ptr<OverlayController> controller;
};

void BM_Summon(benchmark::State& state) {
  SummonBench bench(static_cast<size_t>(state.range(0)));
  if (!bench.device) {
    state.SkipWithError(("Vulkan is unavailable: " + bench.error).c_str());
    return;
  }
  bench.summon();  // draws every plate once
  bench.dismiss();
  bench.mainThreadSeconds = 0;
  for (auto _ : state) {
    bench.summon();
    state.PauseTiming();
    bench.dismiss();
    state.ResumeTiming();
  }
  state.counters["call_ms"] = benchmark::Counter(bench.mainThreadSeconds * 1000 / double(state.iterations()));
  state.SetLabel(bench.device->name());
}
BENCHMARK(BM_Summon)->Arg(10)->Arg(50)->Arg(200)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FirstSummon(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto bench = std::make_unique<SummonBench>(static_cast<size_t>(state.range(0)));
    if (!bench->device) {
      state.SkipWithError(("Vulkan is unavailable: " + bench->error).c_str());
      return;
    }
    state.ResumeTiming();
    bench->summon();
    state.PauseTiming();
    bench.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_FirstSummon)->Arg(10)->Arg(50)->Arg(200)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

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
