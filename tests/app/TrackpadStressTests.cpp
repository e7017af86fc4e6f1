#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/TrackpadGestureMonitor.h"
#include "base/DefaultsStore.h"
#include "base/ManualLoop.h"
#include "platform/sim/SimContactSource.h"

namespace quorvel {
namespace {

// Frames arrive on their own thread while the main thread switches the gesture and its direction:
// the gesture state and the stream are shared safely (clean under ThreadSanitizer).
TEST(TrackpadStress, FramesWhileTheSettingsChange) {
  ManualLoop loop;
  DefaultsStore store;
  AppSettings settings(store);
  settings.registerDefaults();
  SimContactSource pads;
  pads.setDevices({1, 2});
  auto monitor = TrackpadGestureMonitor::create(settings, pads, loop.main(), loop.pool());
  int swipes = 0;
  monitor->onSwipe = [&](SwipeMotion) { ++swipes; };
  monitor->start();

  std::atomic<bool> done{false};
  std::thread frames([&] {
    for (int i = 0; i < 20000; ++i) {
      const ContactDeviceId device = 1 + i % 2;
      const float y = 0.3f + 0.01f * static_cast<float>(i % 5);
      if (i % 5 == 4) {
        pads.touch(device, {});
      } else {
        pads.touch(device, {{1, 0.3f, y}, {2, 0.4f, y}, {3, 0.5f, y}});
      }
    }
    done = true;
  });
  const char* gestures[] = {"threeFingers", "fourFingers", "off"};
  const char* directions[] = {"up", "sideways"};
  for (int i = 0; !done; ++i) {
    store.set(AppSettings::Key::summonGesture, gestures[i % 3]);
    store.set(AppSettings::Key::summonSwipeDirection, directions[i % 2]);
    loop.runUntilIdle();
  }
  frames.join();
  store.set(AppSettings::Key::summonGesture, "threeFingers");
  store.set(AppSettings::Key::summonSwipeDirection, "up");
  loop.runUntilIdle();
  const int before = swipes;
  pads.touch(1, {});
  pads.touch(1, {{1, 0.3f, 0.3f}, {2, 0.4f, 0.3f}, {3, 0.5f, 0.3f}});
  pads.touch(1, {{1, 0.3f, 0.35f}, {2, 0.4f, 0.35f}, {3, 0.5f, 0.35f}});
  loop.runUntilIdle();
  EXPECT_EQ(swipes, before + 1) << "still recognising after the storm";
}

}  // namespace
}  // namespace quorvel
