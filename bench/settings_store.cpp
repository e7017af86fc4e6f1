// The defaults store on its file: a save of one key into a settings file as a user has it (about 60
// keys, a few kB), and the opening (and closing) of a store on that file. Both columns count: the
// wall time (a save waits for the disk) and the CPU time. The file lies in a fresh folder beside
// this program (in the build folder), so that the disk is the one builds use.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/DefaultsStore.h"

namespace {

namespace fs = std::filesystem;
using quorvel::DefaultsStore;
using Value = DefaultsStore::Value;

// A folder of its own beside the program, removed when the benchmark ends.
class BenchFolder {
 public:
  BenchFolder() {
    std::error_code ec;
    fs::path beside = fs::read_symlink("/proc/self/exe", ec).parent_path();
    if (ec || beside.empty()) beside = fs::current_path();
    std::string pattern = (beside / "bench-settings-XXXXXX").string();
    if (::mkdtemp(pattern.data())) path_ = pattern;
  }
  ~BenchFolder() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// About 60 settings of every kind a user's file holds: choices, switches, numbers, colours,
// shortcuts and lists.
std::map<std::string, Value> usersSettings() {
  std::map<std::string, Value> values;
  const char* choices[] = {"switcherStyle", "gridOrder",      "panoramaArrows", "titlePlacement", "titleSize",
                           "cardChromeSize", "iconPosition",  "backdropStyle",  "otherSpacesDisplay",
                           "minimizedDisplay", "tabsDisplay", "stackOrder",     "windowOrder",    "summonGesture",
                           "summonScreen",   "animationSpeed", "hoverSelectMode", "dragCommitMode"};
  for (const char* key : choices) values[key] = std::string("choice-of-") + key;
  const char* switches[] = {"moveBetweenDisplays", "moveBetweenDesktops", "scrollDirectionNatural",
                            "flipStacksBySwiping", "preserveWindowScale", "showAppIcons",
                            "showWindowTitle",     "showCardTitles",      "fadeSelectedTitle",
                            "labelPlaceholders",   "floorReflections",    "animateFlight",
                            "liveHero",            "refreshPictureOnLeave", "privateWindowNames",
                            "tabSiteIcons",        "bunchTabs",           "groupByApp",
                            "searchEnabled",       "showTips",            "vimKeys",
                            "hoverSelects",        "middleClickCloses",   "dragToSwitch"};
  bool on = true;
  for (const char* key : switches) values[key] = (on = !on);
  const char* numbers[] = {"blurAmount",         "backdropDim",          "scrollSpeed",
                           "cardSpacingCoverArc", "cardSpacingTangentRing", "cardSpacingFlatRing",
                           "cardSpacingFlip3d",  "cardSpacingCylinder",  "cardSpacingRow"};
  double number = 0.3075876258539431;
  for (const char* key : numbers) values[key] = (number *= 1.37);
  values["backdropColor"] = "#081420";
  values["hotkeyBinding1"] = Value{{"keyCode", 48}, {"flags", 524288}};
  values["hotkeyBinding2"] = Value{{"keyCode", 50}, {"flags", 1048576}};
  values["cancelBinding"] = Value::object();
  std::vector<std::string> passThrough;
  for (int i = 1; i <= 10; ++i) passThrough.push_back("org.example.remote-desktop-" + std::to_string(i));
  values["passThroughBundleIDs"] = passThrough;
  values["hiddenBundleIDs"] = std::vector<std::string>{"org.example.mail", "org.example.chat"};
  values["hiddenTitlePatterns"] = Value{{"org.example.browser", std::vector<std::string>{"private", "bank"}}};
  values["onboarding.step"] = 7;
  return values;
}

// A file as the store writes it, made by a store that then goes.
std::optional<fs::path> settingsFile(const BenchFolder& folder) {
  if (folder.path().empty()) return std::nullopt;
  const fs::path file = folder.path() / "defaults.json";
  DefaultsStore store(file);
  store.setMany(usersSettings());
  if (!store.lastWriteSucceeded()) return std::nullopt;
  return file;
}

void BM_SaveOneKey(benchmark::State& state) {
  BenchFolder folder;
  const auto file = settingsFile(folder);
  if (!file) {
    state.SkipWithError("the settings file could not be made");
    return;
  }
  DefaultsStore store(*file);
  state.counters["fileBytes"] = static_cast<double>(fs::file_size(*file));
  state.counters["keys"] = static_cast<double>(store.storedValues().size());
  int64_t round = 0;
  for (auto _ : state) {
    store.set("scrollSpeed", 1.0 + static_cast<double>(++round % 7) / 8);
    if (!store.lastWriteSucceeded()) {
      state.SkipWithError("a save failed");
      break;
    }
  }
}
BENCHMARK(BM_SaveOneKey)->Unit(benchmark::kMicrosecond);

void BM_OpenStore(benchmark::State& state) {
  BenchFolder folder;
  const auto file = settingsFile(folder);
  if (!file) {
    state.SkipWithError("the settings file could not be made");
    return;
  }
  for (auto _ : state) {
    DefaultsStore store(*file);
    benchmark::DoNotOptimize(store.hasStoredValue("scrollSpeed"));
  }
}
BENCHMARK(BM_OpenStore)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
