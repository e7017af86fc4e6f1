// The settings window: its first show (the window and its pane built from nothing) and a switch
// between panes (the new pane built afresh, as every choice of a pane does). Goals: the first show
// within 100 ms, a pane switch within one 60 Hz frame (16.7 ms).
#include <benchmark/benchmark.h>

#include <QApplication>

#include <cstdlib>
#include <memory>

#include "QtBenchMain.h"
#include "base/DefaultsStore.h"
#include "base/ManualLoop.h"
#include "platform/UsKeyboardLayout.h"
#include "settings/AppSettings.h"
#include "settings/KeyNames.h"
#include "settings_ui/SettingsWindowController.h"
#include "windows/ChromeWindowCensus.h"

namespace quorvel {
namespace {

struct Fixture {
  Fixture() { settings.registerDefaults(); }
  SettingsWindowServices services() { return SettingsWindowServices{settings, loop.main(), census, names}; }

  ManualLoop loop;
  DefaultsStore store;
  AppSettings settings{store};
  ChromeWindowCensus census;
  UsKeyboardLayout layout;
  KeyNames names{layout};
};

// The first show in the process: the toolkit's styles and fonts are loaded too. Runs first, once.
void BM_SettingsWindowFirstShowCold(benchmark::State& state) {
  Fixture fixture;
  fixture.store.set("settingsTab", "shortcuts");
  std::unique_ptr<SettingsWindowController> controller;
  for (auto _ : state) {
    controller = std::make_unique<SettingsWindowController>(fixture.services());
    controller->show();
    QApplication::processEvents();
  }
}
BENCHMARK(BM_SettingsWindowFirstShowCold)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_SettingsWindowFirstShow(benchmark::State& state) {
  Fixture fixture;
  const auto pane = static_cast<SettingsPane>(state.range(0));
  for (auto _ : state) {
    fixture.store.set("settingsTab", pane == SettingsPane::general ? "general" : "shortcuts");
    auto controller = std::make_unique<SettingsWindowController>(fixture.services());
    controller->show();
    QApplication::processEvents();
    state.PauseTiming();
    controller.reset();
    QApplication::processEvents();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_SettingsWindowFirstShow)
    ->Arg(static_cast<int>(SettingsPane::general))
    ->Arg(static_cast<int>(SettingsPane::shortcuts))
    ->Unit(benchmark::kMillisecond);

void BM_SettingsWindowPaneSwitch(benchmark::State& state) {
  Fixture fixture;
  SettingsWindowController controller(fixture.services());
  controller.show();
  bool shortcuts = false;
  for (auto _ : state) {
    shortcuts = !shortcuts;
    controller.choose(shortcuts ? SettingsPane::shortcuts : SettingsPane::general);
    QApplication::processEvents();
  }
}
BENCHMARK(BM_SettingsWindowPaneSwitch)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quorvel

int main(int argc, char** argv) { return quorvel::runQtBenchmarks<QApplication>(argc, argv); }
