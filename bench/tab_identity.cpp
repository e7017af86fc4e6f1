// Assigning stable ids to the tabs of a browser window whose strip was rebuilt between two walks:
// every tab is a new element, so each id is found again by its title.

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "ax/AXHandle.h"
#include "platform/sim/SimElement.h"
#include "tabs/TabIdentityStore.h"
#include "tabs/TabRecord.h"

namespace quorvel {
namespace {

constexpr uint32_t kHostWindow = 4242;
constexpr int32_t kPid = 300;

std::vector<TabRecord> strip(size_t count, uint64_t firstElement) {
  std::vector<TabRecord> tabs;
  tabs.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    TabRecord tab;
    tab.element = AXHandle::make(std::make_shared<SimElement>(static_cast<SimElementId>(firstElement + i), kPid));
    tab.title = "Page " + std::to_string(i + 1) + " - Example Domain";
    tab.ordinal = static_cast<int>(i);
    tabs.push_back(std::move(tab));
  }
  return tabs;
}

void BM_AssignRebuiltStrip(benchmark::State& state) {
  const size_t count = static_cast<size_t>(state.range(0));
  // Two generations of the same strip, with disjoint elements: each walk sees a rebuilt strip.
  const std::vector<TabRecord> generations[2] = {strip(count, 1), strip(count, 1'000'000)};
  TabIdentityStore store;
  const std::vector<uint32_t> first = store.assign(generations[0], kHostWindow, kPid);
  size_t turn = 1;
  for (auto _ : state) {
    std::vector<uint32_t> ids = store.assign(generations[turn], kHostWindow, kPid);
    benchmark::DoNotOptimize(ids.data());
    turn ^= 1;
  }
  if (store.assign(generations[turn], kHostWindow, kPid) != first) state.SkipWithError("ids did not follow the titles");
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(count));
}
BENCHMARK(BM_AssignRebuiltStrip)->Arg(200);

// The same strip walked again with its elements unchanged (the common pass).
void BM_AssignUnchangedStrip(benchmark::State& state) {
  const size_t count = static_cast<size_t>(state.range(0));
  const std::vector<TabRecord> tabs = strip(count, 1);
  TabIdentityStore store;
  store.assign(tabs, kHostWindow, kPid);
  for (auto _ : state) {
    std::vector<uint32_t> ids = store.assign(tabs, kHostWindow, kPid);
    benchmark::DoNotOptimize(ids.data());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(count));
}
BENCHMARK(BM_AssignUnchangedStrip)->Arg(200);

}  // namespace
}  // namespace quorvel

BENCHMARK_MAIN();
