#pragma once

#include <gtest/gtest.h>

#include <QApplication>

#include <memory>
#include <vector>

#include "base/DefaultsStore.h"
#include "base/ManualLoop.h"
#include "platform/UsKeyboardLayout.h"
#include "settings/AppSettings.h"
#include "settings/KeyNames.h"
#include "settings_ui/SettingsBindings.h"
#include "settings_ui/SettingsWindowServices.h"
#include "windows/ChromeWindowCensus.h"

namespace quorvel {

// Qt's widgets, offscreen: the settings window's logic runs without a display.
class QtWidgetsEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "test_settings_ui";
    static char* argv[] = {name, nullptr};
    app_ = std::make_unique<QApplication>(argc, argv);
  }
  void TearDown() override { app_.reset(); }

 private:
  std::unique_ptr<QApplication> app_;
};

// A store with the registered defaults, a manual loop for the main queue, and the window's services
// over them; `writes` counts the store's changes.
class SettingsUiTest : public ::testing::Test {
 protected:
  SettingsUiTest() {
    settings.registerDefaults();
    counter = store.addObserver([this] { ++writes; });
    services.virtualKeyCode = [](uint32_t native) -> std::optional<int64_t> { return native; };
    services.suspendShortcuts = [this](bool on) { suspensions.push_back(on); };
  }

  ManualLoop loop;
  DefaultsStore store;
  AppSettings settings{store};
  ChromeWindowCensus census;
  UsKeyboardLayout layout;
  KeyNames names{layout};
  SettingsWindowServices services{settings, loop.main(), census, names};
  int writes = 0;
  std::vector<bool> suspensions;
  Subscription counter;
};

}  // namespace quorvel
