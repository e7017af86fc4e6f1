#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "HotkeyFixture.h"

namespace quorvel {
namespace {

// The tap thread types while the main thread changes every piece of the shared match state: the
// overlay's keyboard state, the recorder, the bindings. Clean under ThreadSanitizer, and every
// swallowed press reaches the main queue exactly once.
class HotkeyStressTest : public HotkeyFixture {};

TEST_F(HotkeyStressTest, MatchStateIsSharedSafelyBetweenTheTapAndTheMainThread) {
  start();
  ASSERT_TRUE(manager->isInstalled());
  int summons = 0;
  int dismisses = 0;
  manager->onSummon = [&](int, HotkeyPress, AppSettings::HotkeyScope) { ++summons; };
  manager->onDismissKey = [&](DismissKeyRoute) { ++dismisses; };
  manager->onModifierRelease = [] {};
  manager->onPrewarm = [] {};

  constexpr int kRounds = 20000;
  std::atomic<bool> done{false};
  int swallowedPresses = 0;
  int swallowedEscapes = 0;
  std::thread tap([&] {
    for (int i = 0; i < kRounds; ++i) {
      keys.flagsChanged(kOption);
      if (keys.keyDown(kTab, i % 3 == 0 ? kOption | kShift : kOption) == KeyVerdict::swallow) ++swallowedPresses;
      if (keys.keyDown(kGrave, kCommand) == KeyVerdict::swallow) ++swallowedPresses;
      if (keys.keyDown(kEscape, 0) == KeyVerdict::swallow) ++swallowedEscapes;
      keys.flagsChanged(0);
    }
    done = true;
  });

  const auto optionTab = HotkeyBinding{kTab, HotkeyBinding::optionFlag}.storedValue();
  const auto commandTab = HotkeyBinding{kTab, HotkeyBinding::commandFlag}.storedValue();
  for (int i = 0; !done; ++i) {
    switch (i % 6) {
      case 0: manager->reportKeyboardState(OverlayKeyboardState{false, std::nullopt}); break;
      case 1: manager->reportKeyboardState(OverlayKeyboardState{true, HotkeyBinding{kQ, HotkeyBinding::controlFlag}}); break;
      case 2: manager->reportKeyboardState(std::nullopt); break;
      case 3: manager->setRecording(i % 12 == 3); break;
      case 4: store.set(AppSettings::Key::hotkeyBinding2, i % 24 == 4 ? commandTab : nlohmann::json::object()); break;
      case 5: store.set(AppSettings::Key::hotkeyBinding1, i % 36 == 5 ? commandTab : optionTab); break;
    }
    loop.runUntilIdle();
    manager->matchState();
  }
  tap.join();
  run();

  EXPECT_EQ(summons, swallowedPresses);
  EXPECT_GE(dismisses, swallowedEscapes);
  EXPECT_GT(swallowedPresses, 0);
}

}  // namespace
}  // namespace quorvel
