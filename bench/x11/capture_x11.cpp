// Window pictures on a real X session (Xvfb 2560 × 1440 and openbox, started by the benchmark
// itself), of one 1920 × 1080 window of the test client.
//
//   BM_CaptureWindow/shm     one still read through shared memory (MIT-SHM)
//   BM_CaptureWindow/plain   the same still read with plain image requests
//   BM_LiveStream            a live stream of the window while a helper repaints it 60 times a
//                            second: the frames it reads a second (at most 30) and the CPU time
//                            this process spends on them, per second of streaming (cpu_ms_per_s).
//                            The X server's own work is not counted.
//
// Skips when Xvfb is not installed.

#include <benchmark/benchmark.h>
#include <xcb/xcb.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <memory>
#include <string>
#include <thread>

#include "X11Session.h"
#include "base/LogHub.h"
#include "platform/x11/X11ScreenCapture.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;

struct Session {
  std::unique_ptr<X11Session> session;
  uint32_t window = 0;
  std::string failure;

  bool start() {
    if (!X11Session::xvfbInstalled()) {
      failure = "Xvfb is not installed";
      return false;
    }
    LogHub::shared().setStandardErrorEnabled(false);
    session = X11Session::start(failure, {.width = 2560, .height = 1440, .desktops = 1});
    if (!session) return false;
    auto id = session->launchClient({"--title", "Picture", "--color", "3080c0", "--geometry", "1920x1080+0+0"});
    if (!id) {
      failure = "the test client did not come up";
      return false;
    }
    window = *id;
    return true;
  }
};

double processCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

void BM_CaptureWindow(benchmark::State& state) {
  Session s;
  if (!s.start()) {
    state.SkipWithError(s.failure.c_str());
    return;
  }
  auto capture = X11ScreenCapture::open(s.session->display(), {.useSharedMemory = state.range(0) == 1});
  if (!capture || !capture->hasComposite()) {
    state.SkipWithError("no picture service");
    return;
  }
  const CaptureConfiguration size{1920, 1080};
  for (auto _ : state) {
    CaptureResult r = capture->captureWindowNow(s.window, size);
    if (!r.picture) {
      state.SkipWithError("the still failed");
      return;
    }
    benchmark::DoNotOptimize(r.picture->bytes.get());
  }
  state.SetLabel(capture->usesSharedMemory() ? "shm" : "plain");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 1920 * 1080 * 4);
}
BENCHMARK(BM_CaptureWindow)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LiveStream(benchmark::State& state) {
  Session s;
  if (!s.start()) {
    state.SkipWithError(s.failure.c_str());
    return;
  }
  auto capture = X11ScreenCapture::open(s.session->display());
  if (!capture || !capture->hasComposite()) {
    state.SkipWithError("no picture service");
    return;
  }
  std::atomic<uint64_t> frames{0};
  StreamConfiguration configuration;
  configuration.width = 1920;
  configuration.height = 1080;
  StreamHandlers handlers;
  handlers.onFrame = [&](StreamFrame frame) {
    benchmark::DoNotOptimize(frame.picture);
    frames.fetch_add(1);
  };
  auto stream = capture->makeStream(s.window, configuration, handlers);
  std::atomic<bool> started{false};
  stream->startCapture([&](std::optional<std::string> error) { started = !error; });
  X11Session::waitUntil([&] { return started.load(); });
  if (!started) {
    state.SkipWithError("the stream did not start");
    return;
  }
  // A helper repaints the window in two colours, 60 times a second.
  std::atomic<bool> painting{true};
  std::thread painter([&] {
    X11Connection& x = s.session->connection();
    uint32_t n = 0;
    while (painting) {
      const uint32_t pixel = (++n % 2) ? 0x3080c0 : 0xc08030;
      xcb_change_window_attributes(x.xcb(), s.window, XCB_CW_BACK_PIXEL, &pixel);
      xcb_clear_area(x.xcb(), 0, s.window, 0, 0, 0, 0);
      x.flush();
      std::this_thread::sleep_for(16ms);
    }
  });
  std::this_thread::sleep_for(500ms);
  double seconds = 0, cpu = 0;
  uint64_t counted = 0;
  for (auto _ : state) {
    const uint64_t before = frames.load();
    const double cpuBefore = processCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(2s);
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    cpu += processCpuSeconds() - cpuBefore;
    counted += frames.load() - before;
  }
  painting = false;
  painter.join();
  std::atomic<bool> stopped{false};
  stream->stopCapture([&](std::optional<std::string>) { stopped = true; });
  X11Session::waitUntil([&] { return stopped.load(); });
  state.counters["frames_per_s"] = static_cast<double>(counted) / seconds;
  state.counters["cpu_ms_per_s"] = cpu * 1000 / seconds;
}
BENCHMARK(BM_LiveStream)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace quorvel

BENCHMARK_MAIN();
