// The window registry on a busy simulated desktop: 300 windows of 20 applications, 10 of them
// browser windows holding 200 tabs each.
//
//   BM_CardsForSummon/<order>  one summon's card list (stacking order, sort, application runs,
//                              categories at the end, 1990 tab cards expanded by use; no card
//                              copied) for each window order, with grouping and bunching on
//   BM_SkippedPass             one refresh pass that finds the window list unchanged

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "ax/AXFunnel.h"
#include "base/DefaultsStore.h"
#include "base/LogHub.h"
#include "base/ManualLoop.h"
#include "base/Task.h"
#include "platform/sim/SimDesktop.h"
#include "platform/sim/SimWindow.h"
#include "settings/AppSettings.h"
#include "tabs/TabAdapter.h"
#include "tabs/TabWalker.h"
#include "windows/ActivatorHooks.h"
#include "windows/ChromeWindowCensus.h"
#include "windows/FocusObserver.h"
#include "windows/RegistryServices.h"
#include "windows/WindowRegistry.h"

// Every allocation of the program, counted for the allocation figures.
std::atomic<uint64_t> gAllocations{0};
std::atomic<uint64_t> gAllocatedBytes{0};

// (Only without AddressSanitizer, which keeps allocations of its own.)
#if !defined(__SANITIZE_ADDRESS__)
void* operator new(std::size_t size) {
  gAllocations.fetch_add(1, std::memory_order_relaxed);
  gAllocatedBytes.fetch_add(size, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
#endif

namespace quorvel {
namespace {

constexpr int kApps = 20;
constexpr int kWindows = 300;
constexpr int kBrowserWindows = 10;
constexpr int kTabsPerWindow = 200;
constexpr int32_t kBrowserPid = 1000;

const char* const kWords[] = {"Report", "notes", "Budget 2", "budget 10", "Ärger", "inbox", "Zeta", "alpha",
                              "Draft", "Plan"};

// The desktop, the registry and everything it is given.
struct Desk {
  ManualLoop loop;
  SimDesktop sim{loop};
  DefaultsStore store;
  AppSettings settings{store};
  AXFunnel funnel{loop};
  std::shared_ptr<FocusObserver> focus = FocusObserver::create(loop, sim.accessibility(), funnel);
  TabAdapter::NudgeRecord nudges{sim.accessibility(), loop.clock()};
  TabWalker walker{sim.accessibility(), nudges};
  ChromeWindowCensus census;
  ActivatorHooks hooks;
  std::shared_ptr<WindowRegistry> registry;
  std::vector<uint32_t> browserWindows;

  explicit Desk(int kWindows = quorvel::kWindows, int kTabsPerWindow = quorvel::kTabsPerWindow) {
    LogHub::shared().setStandardErrorEnabled(false);
    settings.registerDefaults();
    store.setMany({{AppSettings::Key::groupByApp, true},
                   {AppSettings::Key::bunchAppWindows, true},
                   {AppSettings::Key::bunchTabs, true},
                   {AppSettings::Key::stackOrder, "recent"},
                   {AppSettings::Key::tabsDisplay, "off"},
                   {AppSettings::Key::otherSpacesDisplay, "atEnd"},
                   {AppSettings::Key::minimizedDisplay, "atEnd"}});
    const int64_t second = sim.addDesktop(1);
    for (int a = 0; a < kApps; ++a) {
      const int32_t pid = a == 0 ? kBrowserPid : 2000 + a;
      const std::string name = a == 0 ? "Browser" : "App " + std::to_string(a);
      sim.launchApp({.pid = pid, .bundleID = "com.example." + std::to_string(a), .name = name});
    }
    std::vector<uint32_t> numbers;
    for (int w = 0; w < kWindows; ++w) {
      const int a = w % kApps;
      const int32_t pid = a == 0 ? kBrowserPid : 2000 + a;
      const double offset = static_cast<double>(w % 50) * 7;
      SimWindow& window = sim.openWindow(
          pid, {.title = std::string(kWords[w % 10]) + " " + std::to_string(w), .frame = {offset, offset, 900, 700}});
      numbers.push_back(window.number);
      if (a == 0 && static_cast<int>(browserWindows.size()) < kBrowserWindows) browserWindows.push_back(window.number);
    }
    registry = WindowRegistry::create(RegistryServices{loop, sim.services(), funnel, settings, *focus, walker, nudges,
                                                       census, hooks});
    pass();  // every window seen on the shown desktop once
    for (int w = 0; w < kWindows; ++w) {
      if (w % 20 == 0) continue;  // the browser windows stay in front
      if (w % 7 == 3) sim.minimizeWindow(numbers[w]);
      if (w % 11 == 5) sim.moveWindowToDesktop(numbers[w], second);
    }
    pass();
    // The browser windows' tabs, as the tab step stores them: every tab but the shown one.
    registry->lock().withLock([&] {
      RegistryState& state = registry->state();
      CardOrdering::TabTable tabTable;
      CardOrdering::TabRecency tabRecency;
      uint32_t nextTab = WindowCard::kTabIDFloor + 1;
      for (uint32_t host : browserWindows) {
        WindowCard hostCard;
        hostCard.id = host;
        hostCard.pid = kBrowserPid;
        hostCard.appName = "Browser";
        std::vector<WindowCard> tabs;
        for (int t = 0; t < kTabsPerWindow; ++t) {
          WindowCard::TabFacts facts;
          facts.ordinal = t;
          facts.stripCount = kTabsPerWindow;
          facts.isSelected = t == 0;
          const uint32_t id = nextTab++;
          if (t == 0) {
            state.showingTabByHost[host] = id;
            continue;
          }
          tabs.push_back(WindowCard::tabCard(hostCard, id, "Page " + std::to_string(t), facts));
          if (t % 3 == 0) tabRecency[id] = t;
        }
        if (!tabs.empty()) tabTable[host] = std::move(tabs);
      }
      state.tabCards = std::make_shared<const CardOrdering::TabTable>(std::move(tabTable));
      state.tabRecency = std::make_shared<const CardOrdering::TabRecency>(std::move(tabRecency));
    });
  }

  ~Desk() {
    registry.reset();
    loop.runUntilIdle();
    LogHub::shared().setStandardErrorEnabled(true);
  }

  void pass() {
    spawn(loop.pool(), registry->performRefresh());
    loop.runUntilIdle();
  }
};

void summons(benchmark::State& state, Desk& desk) {
  const auto order = static_cast<AppSettings::WindowOrder>(state.range(0));
  desk.store.set(AppSettings::Key::windowOrder, std::string(AppSettings::rawValue(order)));
  size_t count = 0;
  const uint64_t allocationsBefore = gAllocations.load(std::memory_order_relaxed);
  const uint64_t bytesBefore = gAllocatedBytes.load(std::memory_order_relaxed);
  for (auto _ : state) {
    WindowRegistry::SummonList list = desk.registry->cardsForSummon();
    count = list.cards.size();
    benchmark::DoNotOptimize(list);
  }
  state.counters["cards"] = static_cast<double>(count);
  state.counters["allocs"] = benchmark::Counter(
      static_cast<double>(gAllocations.load(std::memory_order_relaxed) - allocationsBefore),
      benchmark::Counter::kAvgIterations);
  state.counters["bytes"] = benchmark::Counter(
      static_cast<double>(gAllocatedBytes.load(std::memory_order_relaxed) - bytesBefore),
      benchmark::Counter::kAvgIterations);
  state.SetLabel(std::string(AppSettings::rawValue(order)));
}

// 300 windows with 2,000 tabs (ten browser windows of 200).
void BM_CardsForSummon(benchmark::State& state) {
  Desk desk;
  summons(state, desk);
}
BENCHMARK(BM_CardsForSummon)->DenseRange(0, 3)->Unit(benchmark::kMicrosecond);

// 50 windows, no tabs.
void BM_CardsForSummon50(benchmark::State& state) {
  Desk desk(50, 1);
  summons(state, desk);
}
BENCHMARK(BM_CardsForSummon50)->DenseRange(0, 3)->Unit(benchmark::kMicrosecond);

void BM_SkippedPass(benchmark::State& state) {
  Desk desk;
  desk.pass();  // the fingerprint now matches the unchanged window list
  const int requests = desk.sim.shareableContentRequests();
  for (auto _ : state) {
    // Keep the pass count away from the 15th pass, which always rebuilds.
    desk.registry->lock().withLock([&] { desk.registry->state().passesSinceForcedRefresh = 0; });
    desk.pass();
  }
  if (desk.sim.shareableContentRequests() != requests) state.SkipWithError("a pass was not skipped");
  state.counters["windows"] = static_cast<double>(desk.sim.onScreenOrder().size());
}
BENCHMARK(BM_SkippedPass)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace quorvel

BENCHMARK_MAIN();
