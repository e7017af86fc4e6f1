// The global shortcut on a real X session (Xvfb and openbox, started by the benchmark itself).
//
//   BM_KeyDownToSummonHop  from an XTest key-down of Tab (Alt held) sent to the server to the
//                          shortcut manager's onSummon running on the main queue: the server's grab,
//                          the key stream's thread, the match under the tap's lock, the hop
//   BM_TapDecision         the tap callback alone for a matching key-down and a flags change, on
//                          the calling thread (what the key stream's thread spends per event)
//
// Skips the first when Xvfb is not installed.

#include <benchmark/benchmark.h>
#include <xcb/xtest.h>

#include <memory>
#include <string>

#include "BenchSession.h"
#include "X11Session.h"
#include "app/HotkeyManager.h"
#include "app/HotkeyTapContext.h"
#include "base/DefaultsStore.h"
#include "base/LogHub.h"
#include "base/SystemClock.h"
#include "base/ThreadRuntime.h"
#include "platform/x11/X11KeyCodes.h"
#include "platform/x11/X11KeySource.h"
#include "platform/x11/X11Platform.h"
#include "platform/x11/X11Workspace.h"
#include "settings/AppSettings.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;

void fakeKey(xcb_connection_t* c, uint8_t type, uint8_t keycode) {
  xcb_test_fake_input(c, type, keycode, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
}

void BM_KeyDownToSummonHop(benchmark::State& state) {
  auto session = startBenchSession(state);
  if (!session) return;
  ThreadRuntime runtime;
  std::unique_ptr<X11Platform> platform = X11Platform::open(runtime, session->display());
  std::unique_ptr<X11KeySource> source = X11KeySource::open(runtime.main(), session->display());
  if (!platform || !source) {
    state.SkipWithError("cannot open the X11 platform or its key stream");
    return;
  }
  DefaultsStore store;
  AppSettings settings(store);
  settings.registerDefaults();
  auto manager = HotkeyManager::create(settings, platform->workspace(), *source, runtime.main());
  int summons = 0;
  manager->onSummon = [&](int, HotkeyPress, AppSettings::HotkeyScope) { ++summons; };
  manager->start();
  if (!manager->isInstalled()) {
    state.SkipWithError("the key stream was refused");
    return;
  }

  xcb_connection_t* c = session->connection().xcb();
  const uint8_t alt = *X11KeyCodes::xKeyCode(58);
  const uint8_t tab = *X11KeyCodes::xKeyCode(48);
  fakeKey(c, XCB_KEY_PRESS, alt);
  xcb_flush(c);
  runtime.runMainUntil([] { return false; }, std::chrono::milliseconds(50));

  for (auto _ : state) {
    const int before = summons;
    fakeKey(c, XCB_KEY_PRESS, tab);
    xcb_flush(c);
    if (!runtime.runMainUntil([&] { return summons > before; }, std::chrono::seconds(2))) {
      state.SkipWithError("a press never reached the main queue");
      break;
    }
    state.PauseTiming();
    fakeKey(c, XCB_KEY_RELEASE, tab);
    xcb_flush(c);
    session->connection().sync();
    state.ResumeTiming();
  }
  fakeKey(c, XCB_KEY_RELEASE, alt);
  xcb_flush(c);
  state.counters["summons"] = summons;
}
BENCHMARK(BM_KeyDownToSummonHop)->Unit(benchmark::kMicrosecond)->UseRealTime()->Iterations(500);

void BM_TapDecision(benchmark::State& state) {
  LogHub::shared().setStandardErrorEnabled(false);
  HotkeyMatchState initial;
  initial.entries = {HotkeyMatchEntry::from({48, HotkeyBinding::optionFlag}, AppSettings::HotkeyScope::allWindows),
                     HotkeyMatchEntry::from({12, HotkeyBinding::commandFlag}, AppSettings::HotkeyScope::activeApp)};
  initial.graveCyclesBackward = true;
  int hops = 0;
  HotkeyTapContext::Hops counting;
  counting.summon = [&](int, HotkeyPress, AppSettings::HotkeyScope, HotkeyTapContext::Stamp) { ++hops; };
  counting.modifierRelease = [&](HotkeyTapContext::Stamp) { ++hops; };
  counting.prewarm = [&] { ++hops; };
  counting.dismissKey = [&](DismissKeyRoute, HotkeyTapContext::Stamp) { ++hops; };
  HotkeyTapContext context(initial, counting, SystemClock::shared());
  const KeyEvent press{KeyEvent::Type::keyDown, 48, KeyFlags::option};
  const KeyEvent release{KeyEvent::Type::flagsChanged, 0, 0};
  for (auto _ : state) {
    benchmark::DoNotOptimize(context.handle(press));
    benchmark::DoNotOptimize(context.handle(release));
  }
  state.counters["hops"] = hops;
}
BENCHMARK(BM_TapDecision);

}  // namespace
}  // namespace quorvel

BENCHMARK_MAIN();
