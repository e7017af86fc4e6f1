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
//
// BM_Summon's still_work_ms is the backdrop's still of the desktop (640 pixels wide) blurred and
// uploaded when it comes in, after the first frame, which does not wait for it.
//
// BM_SummonCycle is a whole summon as a user makes it, on the render thread's real frame clock (at
// 60 Hz or capped) with the fly-in and the flight out on: the summon, three steps 0.15 s apart, the release
// and the dismissal until the overlay is ordered out. It reports the CPU time of the process for
// one cycle (every thread: the rasteriser's too), the time from the release to the overlay gone,
// and the plates (labels, titles, counts, status badges) drawn per cycle and how many of those were
// drawn twice in the same cycle (the goal: none).
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <QGuiApplication>
#include <atomic>
#include <fstream>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <ctime>
#include <unordered_set>

#include "QtBenchMain.h"
#include "base/SystemClock.h"
#include "gpu/vulkan/VulkanDevice.h"
#include "overlay/ControllerFakes.h"
#include "overlay/controller/RendererScene.h"
#include "pictures/CardLabelCache.h"
#include "pictures/GpuChromeUploader.h"
#include "pictures/StatusBadgeCache.h"
#include "pictures/TextureRasterizer.h"
#include "platform/qt/QtRaster.h"
#include "scene/render/FrameClock.h"

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

// The platform's drawing, counting the plates drawn (each beginDrawing is one plate) and those drawn
// again with the same text since reset().
class CountingRaster final : public Raster {
 public:
  explicit CountingRaster(Raster& inner) : inner_(inner) {}
  std::unique_ptr<RasterCanvas> beginDrawing(RasterBitmap& bitmap) override {
    auto canvas = inner_.beginDrawing(bitmap);
    if (!canvas) return canvas;
    std::lock_guard lock(mutex_);
    ++drawn_;
    return std::make_unique<Canvas>(std::move(canvas), *this,
                                    std::to_string(bitmap.width()) + "x" + std::to_string(bitmap.height()));
  }
  Size measureText(const TextBlock& text, double maxWidth) override { return inner_.measureText(text, maxWidth); }
  std::optional<RasterBitmap> decodeImage(const std::string& path, int side) override {
    return inner_.decodeImage(path, side);
  }
  void reset() {
    std::lock_guard lock(mutex_);
    drawn_ = 0;
    redrawn_ = 0;
    seen_.clear();
  }
  std::pair<int, int> counts() {
    std::lock_guard lock(mutex_);
    return {drawn_, redrawn_};
  }

 private:
  class Canvas final : public RasterCanvas {
   public:
    // The key of a plate: its size and what is drawn into it.
    Canvas(std::unique_ptr<RasterCanvas> inner, CountingRaster& owner, std::string size)
        : inner_(std::move(inner)), owner_(owner), key_(std::move(size)) {}
    ~Canvas() override {
      std::lock_guard lock(owner_.mutex_);
      if (!owner_.seen_.insert(key_).second) ++owner_.redrawn_;
    }
    void fillRoundedRect(const Rect& r, double radius, RasterColor c) override {
      key_ += "|r" + std::to_string(r.width) + "," + std::to_string(c.alpha);
      inner_->fillRoundedRect(r, radius, c);
    }
    void fillEllipse(const Rect& r, RasterColor c) override { inner_->fillEllipse(r, c); }
    void strokeEllipse(const Rect& r, double w, RasterColor c) override { inner_->strokeEllipse(r, w, c); }
    void strokePath(const VectorPath& p, double w, LineCap cap, RasterColor c) override {
      inner_->strokePath(p, w, cap, c);
    }
    void drawText(const TextBlock& text, const Rect& rect) override {
      for (const TextLine& line : text.lines) key_ += "|" + line.text;
      inner_->drawText(text, rect);
    }
    void drawImage(const RasterBitmap& image, const Rect& rect) override { inner_->drawImage(image, rect); }
    void drawSymbol(const SymbolGlyph& symbol, double size, SymbolWeight weight, Point center,
                    RasterColor tint) override {
      key_ += "|s" + std::to_string(size) + "," + std::to_string(center.x) + "," + std::to_string(center.y) + "," +
              std::to_string(tint.red) + std::to_string(tint.green) + std::to_string(tint.blue);
      inner_->drawSymbol(symbol, size, weight, center, tint);
    }
    void setClip(const std::optional<Rect>& rect) override { inner_->setClip(rect); }

   private:
    std::unique_ptr<RasterCanvas> inner_;
    CountingRaster& owner_;
    std::string key_;
  };
  Raster& inner_;
  std::mutex mutex_;
  int drawn_ = 0;
  int redrawn_ = 0;
  std::unordered_set<std::string> seen_;
};

// Pictures without a mip chain, as a capture stores a still of the size it is shown at (the memory
// benchmark's); with one otherwise.
bool miplessPictures = false;

// The label, title, count and status textures from the real caches; icons and pictures uploaded once.
class BenchTextures final : public OverlayChromeTextures {
 public:
  BenchTextures(ManualLoop& loop, Raster& raster, GpuChromeUploader& uploader, GpuDevice& device, size_t cards)
      : labels(CardLabelCache::make({loop.main(), raster, uploader, {}})),
        status(StatusBadgeCache::make({loop.main(), raster, uploader, {}})) {
    std::vector<uint8_t> bytes(320 * 200 * 4, 180);
    for (size_t i = 0; i < cards; ++i) {
      const uint32_t levels = miplessPictures ? 1 : GpuTextureDescriptor::fullMipCount(320, 200);
      auto texture = device.makeTexture({320, 200, levels, false, "picture"});
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
  void beginSummon() override { labels->beginSummon(); }
  void setPlateScreen(double pixelsPerPoint, double heightPixels, double chromeScale) override {
    labels->setPlateScreen({pixelsPerPoint, heightPixels, chromeScale});
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
      if (id == liveID) {
        std::lock_guard lock(liveMutex);
        if (livePicture) return CardPicture{livePicture, CaptureExtent{}};
      }
      return CardPicture{pictures[(id - 1) % pictures.size()], CaptureExtent{}};
    };
    p.icon = [this](int32_t) { return icon; };
    p.status = [this](const CardStatus& s) { return GpuChromeUploader::gpuTexture(status->texture(s)); };
    p.label = [this](const CardLabel& l, bool request) {
      return GpuChromeUploader::gpuTexture(labels->labelTexture(l, request));
    };
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
  // A live picture of one window: each new frame of it replaces the texture (as the live stream's
  // frames do).
  uint32_t liveID = 0;
  std::mutex liveMutex;
  std::shared_ptr<GpuTexture> livePicture;
};

struct SummonBench {
  // `realFrames`: the render thread on the frame clock at 60 Hz with the flight on, else one frame
  // each time the scene starts and no flight.
  explicit SummonBench(size_t windows, bool realFrames = false) {
    VulkanDeviceOptions options;
    options.presentation = false;
    device = VulkanDevice::make(options, &error);
    if (!device) return;
    context = GpuContext::make(device);
    uploader = std::make_unique<GpuChromeUploader>(TextureRasterizer{context});
    textures = std::make_unique<BenchTextures>(rig.loop, counting, *uploader, *device, windows);
    rig.store.set("labelPlaceholders", true);
    rig.store.set("showCardTitles", true);
    rig.store.set("animateFlight", realFrames);
    rig.desktop.screenList.resize(1);
    rig.desktop.screenList[0].frame = {0, 0, 1920, 1080};
    rig.cards.list.cards.clear();
    for (size_t i = 0; i < windows; ++i) {
      WindowCard card = ControllerRig::card(static_cast<uint32_t>(i + 1), static_cast<int32_t>(100 + i % 12),
                                            "Application " + std::to_string(i % 12),
                                            Rect{double(i % 9) * 90, double(i % 7) * 70, 900, 640});
      card.title = "Document " + std::to_string(i) + " — notes on the quarterly figures";
      if (i % 5 == 3) card.state = WindowState::minimized;
      if (i % 7 == 4) {
        card.state = WindowState::onOtherSpace;
        card.spaceNumber = 2;
      }
      rig.cards.list.cards.push_back(std::move(card));
    }
    rig.cards.list.previousIndex = 1;
    OverlayContentView::Services content{rig.metrics, rig.loop.main(), rig.settings, [] { return false; },
                                         [](int, int) { return false; }, [] { return false; },
                                         [] { return std::optional<std::string>(); }, [](bool) {}, [] { return true; }};
    OverlayController::Services services{
        rig.loop.main(), rig.settings, wake, rig.cards, rig.pictures, *textures, rig.desktop, content,
        [this, realFrames](OverlayContentView& view, OverlayWindow&,
                           std::function<void(int, FocusChangeSource)> onFocus) {
          surface = device->makeOffscreenSurface("Quorvel summon bench");
          surface->setBounds(view.bounds());
          surface->setContentsScale(1);
          return RendererScene::make(context, surface, textures->providers(), std::move(onFocus),
                                     SceneRenderer::Services{rig.loop.main(), SystemClock::shared(), wake, rig.settings,
                                                             [this, realFrames]() -> std::shared_ptr<DisplayLink> {
                                                               if (realFrames)
                                                                 return std::make_shared<FrameClock>(SystemClock::shared(),
                                                                                                     60, frameCap);
                                                               return std::make_shared<OneFramePerStart>();
                                                             }});
        },
        [](const WindowCard&) {}};
    // The backdrop's still comes in after the first frame, as the program's does (deliverStill).
    services.desktopStill = [this](const ScreenInfo&, int width, std::function<void(std::optional<DesktopStill>)> done) {
      stillWidth = width;
      pendingStill = std::move(done);
    };
    controller = std::make_unique<OverlayController>(std::move(services));
  }
  // Hands the summon's still (a 16:9 picture as wide as asked) to the controller: its blur and
  // upload, in seconds (here on the calling thread; the program does them on the chrome's upload
  // queue, so its main thread only hands the still over).
  double deliverStill() {
    if (!pendingStill) return 0;
    DesktopStill still{stillWidth, stillWidth * 9 / 16, {}};
    still.pixels.resize(static_cast<size_t>(still.width) * static_cast<size_t>(still.height));
    for (size_t i = 0; i < still.pixels.size(); ++i) still.pixels[i] = 0xff000000u | static_cast<uint32_t>(i * 2654435761u >> 8);
    const auto start = std::chrono::steady_clock::now();
    std::exchange(pendingStill, nullptr)(std::move(still));
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  int stillWidth = 0;
  std::function<void(std::optional<DesktopStill>)> pendingStill;
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
  double frameCap = 0;  // frames a second at most on the real frame clock (0: the display's 60)
  void dismiss() {
    controller->cancel();
    rig.loop.advance(std::chrono::seconds(2));
    rig.loop.runUntilIdle();
    device->waitIdle();
  }

  // Runs the main loop in real time for `seconds`, or until `done` holds.
  template <class Done>
  void pump(double seconds, Done done) {
    const auto start = std::chrono::steady_clock::now();
    auto last = start;
    while (!done() && std::chrono::steady_clock::now() - start < std::chrono::duration<double>(seconds)) {
      const auto now = std::chrono::steady_clock::now();
      rig.loop.advance(std::chrono::duration_cast<Duration>(now - last));
      last = now;
      rig.loop.runUntilIdle();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  void pump(double seconds) {
    pump(seconds, [] { return false; });
  }
  bool overlayShown() const {
    for (const auto& window : rig.desktop.windows)
      if (window->visible) return true;
    return false;
  }

  std::string error;
  ControllerRig rig;
  QtRaster raster;
  CountingRaster counting{raster};
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
  double still = 0;
  for (auto _ : state) {
    bench.summon();
    state.PauseTiming();
    still += bench.deliverStill();
    bench.dismiss();
    state.ResumeTiming();
  }
  state.counters["call_ms"] = benchmark::Counter(bench.mainThreadSeconds * 1000 / double(state.iterations()));
  // The backdrop's still when it comes in (after the first frame): its blur and upload.
  state.counters["still_work_ms"] = benchmark::Counter(still * 1000 / double(state.iterations()));
  state.SetLabel(bench.device->name());
}
BENCHMARK(BM_Summon)->Arg(10)->Arg(50)->Arg(200)->Unit(benchmark::kMillisecond)->UseRealTime();

double processSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

void BM_SummonCycle(benchmark::State& state) {
  SummonBench bench(static_cast<size_t>(state.range(0)), true);
  bench.frameCap = static_cast<double>(state.range(1));
  if (!bench.device) {
    state.SkipWithError(("Vulkan is unavailable: " + bench.error).c_str());
    return;
  }
  double cpu = 0, gone = 0, drawn = 0, redrawn = 0, firstDrawn = 0, frames = 0;
  int cycles = 0;
  for (auto _ : state) {
    bench.counting.reset();
    const uint64_t framesBefore = bench.surface ? bench.surface->presentedCount() : 0;
    const double cpuBefore = processSeconds();
    bench.controller->present(true, AppSettings::HotkeyScope::allWindows);
    bench.pump(0.5);
    for (int i = 0; i < 3; ++i) {
      bench.controller->stepSelection(1);
      bench.pump(0.15);
    }
    const auto released = std::chrono::steady_clock::now();
    bench.controller->onHotkeyRelease();
    bench.pump(10, [&] { return !bench.overlayShown(); });
    const double releasedToGone = std::chrono::duration<double>(std::chrono::steady_clock::now() - released).count();
    bench.pump(0.1);  // what the dismissal left queued
    bench.device->waitIdle();
    const auto [d, r] = bench.counting.counts();
    if (cycles == 0) {
      firstDrawn = d;
    } else {
      cpu += processSeconds() - cpuBefore;
      gone += releasedToGone;
      frames += double(bench.surface->presentedCount() - framesBefore);
      drawn += d;
    }
    redrawn += r;
    ++cycles;
  }
  const double later = std::max(cycles - 1, 1);
  state.counters["cpu_s"] = cpu / later;
  state.counters["gone_ms"] = gone * 1000 / later;
  state.counters["frames"] = frames / later;
  state.counters["plates_first"] = firstDrawn;
  state.counters["plates_later"] = drawn / later;
  state.counters["redrawn"] = redrawn;  // plates drawn twice within one cycle, in all cycles
  state.SetLabel(bench.device->name());
}
// Arguments: windows, and the frame rate cap (30: the program's on a device that draws on the CPU).
BENCHMARK(BM_SummonCycle)
    ->ArgNames({"windows", "cap"})
    ->Args({10, 30})
    ->Args({50, 0})
    ->Args({50, 30})
    ->Args({200, 30})
    ->Args({500, 30})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(4);

// The selected card's window shown live, 30 new frames a second, while the switcher is held and
// nothing else moves: the CPU time of the process per second (every thread, the rasteriser's too).
void BM_HeldLivePicture(benchmark::State& state) {
  SummonBench bench(static_cast<size_t>(state.range(0)), true);
  bench.frameCap = 30;
  if (!bench.device) {
    state.SkipWithError(("Vulkan is unavailable: " + bench.error).c_str());
    return;
  }
  std::vector<std::shared_ptr<GpuTexture>> frames;
  for (uint8_t shade : {60, 120, 180}) {
    std::vector<uint8_t> bytes(320 * 200 * 4, shade);
    auto texture = bench.device->makeTexture({320, 200, 1, false, "live frame"});
    texture->replaceLevel(0, bytes.data(), 320 * 4);
    frames.push_back(texture);
  }
  bench.textures->liveID = 2;  // the card selected first (the previous window)
  double cpu = 0, seconds = 0, drawnFrames = 0;
  for (auto _ : state) {
    bench.controller->present(true, AppSettings::HotkeyScope::allWindows);
    // The fly-in settles: no frame for 0.4 s (at most 30 s).
    uint64_t seen = bench.surface->presentedCount();
    auto quietSince = std::chrono::steady_clock::now();
    for (const auto start = quietSince; std::chrono::steady_clock::now() - start < std::chrono::seconds(30);) {
      bench.pump(0.05);
      const uint64_t count = bench.surface->presentedCount();
      if (count != seen) {
        seen = count;
        quietSince = std::chrono::steady_clock::now();
      } else if (std::chrono::steady_clock::now() - quietSince > std::chrono::milliseconds(400)) {
        break;
      }
    }
    const uint64_t framesBefore = bench.surface->presentedCount();
    const double cpuBefore = processSeconds();
    const auto start = std::chrono::steady_clock::now();
    size_t n = 0;
    auto next = start;
    while (std::chrono::steady_clock::now() - start < std::chrono::seconds(2)) {
      {
        std::lock_guard lock(bench.textures->liveMutex);
        bench.textures->livePicture = frames[n++ % frames.size()];
      }
      bench.wake.bump();
      next += std::chrono::microseconds(33333);
      bench.pump(std::chrono::duration<double>(next - std::chrono::steady_clock::now()).count());
    }
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    cpu += processSeconds() - cpuBefore;
    drawnFrames += double(bench.surface->presentedCount() - framesBefore);
    {
      std::lock_guard lock(bench.textures->liveMutex);
      bench.textures->livePicture = nullptr;
    }
    bench.dismiss();
  }
  state.counters["cpu_per_s"] = cpu / seconds;
  state.counters["frames_per_s"] = drawnFrames / seconds;
  state.SetLabel(bench.device->name());
}
BENCHMARK(BM_HeldLivePicture)->Arg(50)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

// The heap in use (every allocator arena, the CPU driver's memory among it) and the resident size.
size_t heapBytes() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}
size_t residentBytes() {
  std::ifstream status("/proc/self/statm");
  size_t pages = 0, resident = 0;
  status >> pages >> resident;
  return resident * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

// Memory per window: the heap after a summon, its steps and its dismissal with 50 windows and with
// 200 (each in a fresh overlay), the difference per window; and the resident size at rest (after
// the dismissal) with 200.
void BM_MemoryPerWindow(benchmark::State& state) {
  auto measure = [&](size_t windows, size_t& heap, size_t& resident) {
    malloc_trim(0);
    const size_t heapBefore = heapBytes();
    auto bench = std::make_unique<SummonBench>(windows, true);
    if (!bench->device) return false;
    bench->frameCap = 30;
    bench->controller->present(true, AppSettings::HotkeyScope::allWindows);
    bench->pump(0.6);
    for (int i = 0; i < 3; ++i) {
      bench->controller->stepSelection(1);
      bench->pump(0.15);
    }
    bench->controller->onHotkeyRelease();
    bench->pump(10, [&] { return !bench->overlayShown(); });
    bench->pump(0.3);
    bench->device->waitIdle();
    malloc_trim(0);
    heap = heapBytes() - std::min(heapBytes(), heapBefore);
    resident = residentBytes();
    return true;
  };
  double perWindow = 0, rest200 = 0;
  miplessPictures = true;
  for (auto _ : state) {
    size_t heap50 = 0, heap200 = 0, rss50 = 0, rss200 = 0;
    if (!measure(50, heap50, rss50) || !measure(200, heap200, rss200)) {
      state.SkipWithError("Vulkan is unavailable");
      return;
    }
    perWindow = (static_cast<double>(heap200) - static_cast<double>(heap50)) / 150;
    rest200 = static_cast<double>(rss200);
  }
  miplessPictures = false;
  state.counters["bytes_per_window"] = perWindow;
  state.counters["resident_at_rest_200"] = rest200;
}
BENCHMARK(BM_MemoryPerWindow)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

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

int main(int argc, char** argv) { return quorvel::runQtBenchmarks<QGuiApplication>(argc, argv); }
