// The activator on a real X session (Xvfb and openbox, started by the benchmark itself).
//
//   BM_CommitToActiveWindow  from Activator::pick of a window card to the window manager's
//                            _NET_ACTIVE_WINDOW naming that window; two windows of two clients
//                            take turns, so every pick changes the active window
//
// The route's remaining steps (the application's activation, the hooks) finish untimed before the
// next pick. Skips when Xvfb is not installed.

#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "BenchSession.h"
#include "X11Session.h"
#include "actions/Activator.h"
#include "ax/AXFunnel.h"
#include "base/DefaultsStore.h"
#include "base/LogHub.h"
#include "base/ThreadRuntime.h"
#include "platform/x11/X11DesktopReader.h"
#include "platform/x11/X11DisplayReader.h"
#include "platform/x11/X11Element.h"
#include "platform/x11/X11Platform.h"
#include "platform/x11/X11WindowReader.h"
#include "settings/AppSettings.h"
#include "tabs/TabActivation.h"
#include "tabs/TabAdapter.h"
#include "tabs/TabWalker.h"
#include "windows/ActivatorHooks.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;

void BM_CommitToActiveWindow(benchmark::State& state) {
  auto session = startBenchSession(state);
  if (!session) return;
  const std::optional<uint32_t> a = session->launchClient({"--title", "left", "--geometry", "600x400+50+50"});
  const std::optional<uint32_t> b = session->launchClient({"--title", "right", "--geometry", "600x400+300+200"});
  if (!a || !b) {
    state.SkipWithError("the test clients did not come up");
    return;
  }

  ThreadRuntime runtime;
  std::unique_ptr<X11Platform> platform = X11Platform::open(runtime, session->display());
  if (!platform) {
    state.SkipWithError("cannot open the X11 platform");
    return;
  }
  {
    DefaultsStore store;
    AppSettings settings{store};
    settings.registerDefaults();
    AXFunnel funnel{runtime};
    Accessibility& accessibility = platform->services().accessibility;
    TabAdapter::NudgeRecord nudges{accessibility, runtime.clock()};
    TabWalker walker{accessibility, nudges};
    TabActivation tabs{accessibility, walker};
    ActivatorHooks hooks;
    uint32_t lastRaised = 0;
    hooks.setDidRaiseWindow([&](uint32_t window, int32_t) { lastRaised = window; });
    Activator activator{ActivatorServices{runtime, platform->services(), funnel, settings, tabs, hooks}};

    X11DisplayReader displays(session->connection());
    X11WindowReader windows(session->connection(), displays);
    X11DesktopReader desktops(session->connection());
    auto cardOf = [&](uint32_t id) {
      WindowCard card;
      const std::optional<X11Window> w = windows.read(id);
      card.id = id;
      card.pid = w && w->pid ? *w->pid : 0;
      card.frame = w ? w->frame.toRect() : Rect{};
      card.ax = AXHandle::make(X11Element::window(card.pid, id));
      return card;
    };
    const WindowCard cards[2] = {cardOf(*a), cardOf(*b)};
    size_t turn = desktops.activeWindow() == *a ? 1 : 0;
    int64_t misses = 0;

    for (auto _ : state) {
      const WindowCard& card = cards[turn];
      turn = 1 - turn;
      activator.pick(card);
      const auto deadline = std::chrono::steady_clock::now() + 2s;
      while (desktops.activeWindow() != card.id && std::chrono::steady_clock::now() < deadline) {
        runtime.runMainUntil([] { return false; }, std::chrono::microseconds(100));
      }
      state.PauseTiming();
      if (desktops.activeWindow() != card.id) ++misses;
      runtime.runMainUntil([&] { return lastRaised == card.id; }, 2s);
      lastRaised = 0;
      state.ResumeTiming();
    }
    state.counters["misses"] = static_cast<double>(misses);
  }
  platform.reset();
  LogHub::shared().setStandardErrorEnabled(true);
}
BENCHMARK(BM_CommitToActiveWindow)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(200);

}  // namespace
}  // namespace quorvel

BENCHMARK_MAIN();
