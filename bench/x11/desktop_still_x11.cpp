// The still of the desktop behind the switcher's cards (and in the settings' backdrop preview), on
// a real X session (Xvfb 1920 × 1080 and openbox, started by the benchmark itself) with 10 windows
// of the test client open, from the request to the still on the main queue:
//
//   BM_DesktopStill/640    the still the backdrop takes under a blur (scaled up on screen)
//   BM_DesktopStill/1920   the still as wide as the screen (a blur too slight to hide scaling)
//
// blur_ms is the blur of that still at the default blur amount, as the overlay does it before the
// still is drawn. Skips when Xvfb is not installed.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>

#include "../QtBenchMain.h"
#include "BenchSession.h"
#include "X11Session.h"
#include "base/LogHub.h"
#include "base/ThreadRuntime.h"
#include "pictures/BackdropBlur.h"
#include "platform/x11/X11Platform.h"
#include "program/DesktopStillMaker.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;

void BM_DesktopStill(benchmark::State& state) {
  auto session = startBenchSession(state, {.width = 1920, .height = 1080, .desktops = 1});
  if (!session) return;
  const char* colours[] = {"3080c0", "c08030", "30c080", "8030c0", "c03080"};
  for (int i = 0; i < 10; ++i) {
    const std::string geometry = "900x600+" + std::to_string(i * 100) + "+" + std::to_string(i * 45);
    if (!session->launchClient({"--title", "Window " + std::to_string(i), "--color", colours[i % 5], "--geometry",
                                geometry})) {
      state.SkipWithError("the test client did not come up");
      return;
    }
  }
  ThreadRuntime runtime;
  std::unique_ptr<X11Platform> platform = X11Platform::open(runtime, session->display());
  if (!platform) {
    state.SkipWithError("cannot open the X11 platform");
    return;
  }
  DesktopStillMaker maker(*platform, runtime.main());
  const int width = static_cast<int>(state.range(0));
  double blur = 0;
  for (auto _ : state) {
    std::optional<DesktopStill> still;
    bool done = false;
    maker.make(std::nullopt, width, [&](std::optional<DesktopStill> s) {
      still = std::move(s);
      done = true;
    });
    if (!runtime.runMainUntil([&] { return done; }, 10s) || !still) {
      state.SkipWithError("no still");
      return;
    }
    const auto start = std::chrono::steady_clock::now();
    DesktopStill blurred = BackdropBlur::blurred(*still, BackdropBlur::radiusFor(0.3075876258539431, still->width));
    blur += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    benchmark::DoNotOptimize(blurred.pixels.data());
  }
  state.counters["blur_ms"] = blur * 1000 / static_cast<double>(state.iterations());
}
BENCHMARK(BM_DesktopStill)->Arg(640)->Arg(1920)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace quorvel

int main(int argc, char** argv) { return quorvel::runQtBenchmarks<QGuiApplication>(argc, argv); }
