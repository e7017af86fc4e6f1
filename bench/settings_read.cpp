// Reading every registered setting through AppSettings, as components do on each defaults change and
// each summon. One iteration reads all keys of the table once.
#include <benchmark/benchmark.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "base/DefaultsStore.h"
#include "settings/AppSettings.h"

namespace {

using quorvel::AppSettings;
using quorvel::DefaultsStore;
using quorvel::HotkeySlot;
using Reader = std::function<long(const AppSettings&)>;

template <class E>
Reader enumReader(E (AppSettings::*read)() const) {
  return [read](const AppSettings& s) { return static_cast<long>((s.*read)()); };
}

// One reader per key of the table: the typed reader where there is one, else the reading by type.
std::vector<Reader> readersForEveryKey() {
  using S = AppSettings;
  using K = AppSettings::Key;
  std::map<std::string, Reader> typed = {
      {K::switcherStyle, enumReader(&S::switcherStyle)},
      {K::gridOrder, enumReader(&S::gridOrder)},
      {K::panoramaArrows, enumReader(&S::panoramaArrows)},
      {K::titlePlacement, enumReader(&S::titlePlacement)},
      {K::titleSize, enumReader(&S::titleSize)},
      {K::cardChromeSize, enumReader(&S::cardChromeSize)},
      {K::iconPosition, enumReader(&S::iconPosition)},
      {K::backdropStyle, enumReader(&S::backdropStyle)},
      {K::otherSpacesDisplay, enumReader(&S::otherSpacesDisplay)},
      {K::minimizedDisplay, enumReader(&S::minimizedDisplay)},
      {K::hiddenAppsDisplay, enumReader(&S::hiddenAppsDisplay)},
      {K::windowlessAppsDisplay, enumReader(&S::windowlessAppsDisplay)},
      {K::privateWindowsDisplay, enumReader(&S::privateWindowsDisplay)},
      {K::tabsDisplay, enumReader(&S::tabsDisplay)},
      {K::stackOrder, enumReader(&S::stackOrder)},
      {K::windowOrder, enumReader(&S::windowOrder)},
      {K::summonGesture, enumReader(&S::summonGesture)},
      {K::summonSwipeDirection, enumReader(&S::summonSwipeDirection)},
      {K::summonScreen, enumReader(&S::summonScreen)},
      {K::switcherBehavior, enumReader(&S::switcherBehavior)},
      {K::holdStyle, enumReader(&S::holdStyle)},
      {K::animationSpeed, enumReader(&S::animationSpeed)},
      {K::hoverSelectMode, enumReader(&S::hoverSelectMode)},
      {K::dragCommitMode, enumReader(&S::dragCommitMode)},
      {K::dragRestTime, enumReader(&S::dragRestTime)},
      {K::moveResize, enumReader(&S::moveResize)},
      {K::hotkeyScope1, [](const S& s) { return static_cast<long>(s.hotkeyScope(HotkeySlot::first)); }},
      {K::hotkeyScope2, [](const S& s) { return static_cast<long>(s.hotkeyScope(HotkeySlot::second)); }},
      {K::hotkeyBinding1, [](const S& s) { return s.hotkeyBinding(HotkeySlot::first) ? 1L : 0L; }},
      {K::hotkeyBinding2, [](const S& s) { return s.hotkeyBinding(HotkeySlot::second) ? 1L : 0L; }},
      {K::cancelBinding, [](const S& s) { return s.cancelBinding() ? 1L : 0L; }},
      {K::hiddenTitlePatterns, [](const S& s) { return static_cast<long>(s.hiddenTitlePatterns().size()); }},
      {K::backdropColor,
       [](const S& s) {
         const auto rgb = S::rgbFromHex(s.store().string(K::backdropColor).value_or(""));
         return rgb ? static_cast<long>(S::colorByte(rgb->red)) : -1L;
       }},
      {K::blurAmount, [](const S& s) { return static_cast<long>(S::blurRadius(s.doubleValue(K::blurAmount))); }},
  };
  for (auto style : AppSettings::allCases<AppSettings::SwitcherStyle>()) {
    typed.emplace(
        AppSettings::cardSpacingKey(style),
        [style](const S& s) { return static_cast<long>(s.cardSpacing(style) * 1000); });
  }

  std::vector<Reader> readers;
  for (const auto& entry : AppSettings::defaultEntries()) {
    if (auto found = typed.find(entry.key); found != typed.end()) {
      readers.push_back(found->second);
      continue;
    }
    const std::string key = entry.key;
    switch (entry.type) {
      case AppSettings::ValueType::boolean:
        readers.push_back([key](const S& s) { return s.boolValue(key) ? 1L : 0L; });
        break;
      case AppSettings::ValueType::number:
        readers.push_back([key](const S& s) { return static_cast<long>(s.doubleValue(key)); });
        break;
      case AppSettings::ValueType::textList:
        readers.push_back([key](const S& s) {
          const auto list = s.stringList(key);
          return list ? static_cast<long>(list->size()) : -1L;
        });
        break;
      default:
        readers.push_back([key](const S& s) { return s.store().object(key) ? 1L : 0L; });
        break;
    }
  }
  return readers;
}

void BM_ReadEverySetting(benchmark::State& state) {
  DefaultsStore store;
  AppSettings settings(store);
  settings.registerDefaults();
  // A store as a user leaves it: a handful of changed settings over the registered defaults.
  store.set(AppSettings::Key::switcherStyle, "flip3d");
  store.set(AppSettings::Key::vimKeys, false);
  store.set(AppSettings::Key::cardSpacingFlip3d, 1.2);
  store.set(AppSettings::Key::hiddenBundleIDs, std::vector<std::string>{"com.a", "com.b"});
  store.set(AppSettings::Key::hiddenTitlePatterns,
            AppSettings::Value{{"com.a", std::vector<std::string>{"private", "secret"}}});

  const auto readers = readersForEveryKey();
  if (readers.size() != AppSettings::defaults().size()) {
    state.SkipWithError("the readers do not cover the table");
    return;
  }
  for (auto _ : state) {
    for (const auto& read : readers) benchmark::DoNotOptimize(read(settings));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(readers.size()));
  state.counters["keys"] = static_cast<double>(readers.size());
}
BENCHMARK(BM_ReadEverySetting);

}  // namespace

BENCHMARK_MAIN();
