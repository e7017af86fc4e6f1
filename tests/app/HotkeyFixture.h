#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "FakeWorkspace.h"
#include "app/HotkeyManager.h"
#include "base/DefaultsStore.h"
#include "base/LogCapture.h"
#include "base/ManualLoop.h"
#include "platform/sim/SimKeyEventSource.h"

namespace quorvel {

// A shortcut manager on the simulated key stream and a manual loop. The test's thread stands for
// the tap's thread when it types, and drives the main queue with run(); every closure call is
// written to `calls` in the order the main queue made it.
class HotkeyFixture : public ::testing::Test {
 protected:
  static constexpr uint64_t kOption = KeyFlags::option;
  static constexpr uint64_t kShift = KeyFlags::shift;
  static constexpr uint64_t kCommand = KeyFlags::command;
  static constexpr uint64_t kControl = KeyFlags::control;
  static constexpr int64_t kTab = 48, kGrave = 50, kEscape = 53, kF = 3, kQ = 12;

  void SetUp() override {
    settings.registerDefaults();
    manager = HotkeyManager::create(settings, workspace, keys, loop.main());
    manager->onSummon = [this](int direction, HotkeyPress press, AppSettings::HotkeyScope scope) {
      calls.push_back(std::string("summon ") + (direction > 0 ? "+1 " : "-1 ") +
                      (press == HotkeyPress::shortcut ? "shortcut " : "backward ") +
                      std::string(AppSettings::rawValue(scope)));
    };
    manager->onModifierRelease = [this] { calls.push_back("release"); };
    manager->onPrewarm = [this] { calls.push_back("prewarm"); };
    manager->onDismissKey = [this](DismissKeyRoute route) {
      calls.push_back("dismiss " + std::to_string(static_cast<int>(route)));
    };
  }

  void start() {
    manager->start();
    run();
  }
  void run() { loop.runUntilIdle(); }
  std::vector<std::string> takeCalls() {
    run();
    auto taken = std::move(calls);
    calls.clear();
    return taken;
  }

  ManualLoop loop;
  LogCapture logs;
  DefaultsStore store;
  AppSettings settings{store};
  FakeWorkspace workspace;
  SimKeyEventSource keys;
  std::shared_ptr<HotkeyManager> manager;
  std::vector<std::string> calls;
};

}  // namespace quorvel
