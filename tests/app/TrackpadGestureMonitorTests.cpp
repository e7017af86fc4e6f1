#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>

#include "app/SwipeTakers.h"
#include "app/TrackpadGestureMonitor.h"
#include "base/DefaultsStore.h"
#include "base/LogCapture.h"
#include "base/ManualLoop.h"
#include "platform/sim/SimContactSource.h"

namespace quorvel {
namespace {

using Finger = SimContactSource::Finger;
using Strings = std::vector<std::string>;

class TrackpadMonitorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings.registerDefaults();
    pads.setDevices({1});
    monitor = TrackpadGestureMonitor::create(settings, pads, loop.main(), loop.pool());
    monitor->onSwipe = [this](SwipeMotion m) {
      swipes.push_back(m == SwipeMotion::up ? "up" : m == SwipeMotion::down ? "down" : "sideways");
    };
  }
  void start() {
    monitor->start();
    loop.runUntilIdle();
  }
  // Three (or `count`) fingers down, then moved by (dx, dy) on `device`, then lifted.
  void swipe(ContactDeviceId device, double dx, double dy, int count = 3) {
    auto at = [&](double ox, double oy) {
      std::vector<Finger> f;
      for (int i = 0; i < count; ++i) f.push_back({i + 1, float(0.3 + 0.1 * i + ox), float(0.4 + oy)});
      return f;
    };
    pads.touch(device, at(0, 0));
    pads.touch(device, at(dx, dy));
    pads.touch(device, {});
  }
  Strings takeSwipes() {
    loop.runUntilIdle();
    return std::exchange(swipes, {});
  }
  void set(const char* key, const char* value) {
    store.set(key, value);
    loop.runUntilIdle();
  }

  ManualLoop loop;
  LogCapture logs;
  DefaultsStore store;
  AppSettings settings{store};
  SimContactSource pads;
  std::shared_ptr<TrackpadGestureMonitor> monitor;
  Strings swipes;
};

TEST_F(TrackpadMonitorTest, ListensAndHandsSwipesToTheMainQueue) {
  start();
  EXPECT_EQ(pads.calls(), (Strings{"list", "register 1", "start 1"}));
  EXPECT_TRUE(logs.contains("Listening to the trackpads (3 fingers, up)"));
  swipe(1, 0, 0.03);
  EXPECT_TRUE(swipes.empty()) << "delivered through the main queue";
  EXPECT_EQ(takeSwipes(), Strings{"up"});
  swipe(1, 0, -0.03);
  swipe(1, 0, 0.03, 4);  // four fingers when three are asked for
  EXPECT_EQ(takeSwipes(), Strings{"down"});
  EXPECT_EQ(logs.count("The multitouch stream is live: the first contact frame arrived"), 1u);

  set(AppSettings::Key::summonGesture, "fourFingers");
  set(AppSettings::Key::summonSwipeDirection, "sideways");
  EXPECT_EQ(pads.calls().size(), 3u) << "a running stream takes new settings through the recognizers alone";
  swipe(1, 0.05, 0, 4);
  swipe(1, -0.05, 0, 4);
  swipe(1, 0, 0.05, 4);
  EXPECT_EQ(takeSwipes(), (Strings{"sideways", "sideways"}));
}

TEST_F(TrackpadMonitorTest, TwoTrackpadsRecogniseApart) {
  pads.setDevices({1, 2});
  start();
  // Fingers on both at once: each trackpad's touch is its own.
  pads.touch(1, {{1, 0.3f, 0.4f}, {2, 0.4f, 0.4f}, {3, 0.5f, 0.4f}});
  pads.touch(2, {{1, 0.3f, 0.4f}, {2, 0.4f, 0.4f}});
  pads.touch(1, {{1, 0.3f, 0.44f}, {2, 0.4f, 0.44f}, {3, 0.5f, 0.44f}});
  pads.touch(2, {{1, 0.3f, 0.44f}, {2, 0.4f, 0.44f}, {3, 0.5f, 0.44f}});  // third finger just landed
  EXPECT_EQ(takeSwipes(), Strings{"up"});
}

TEST_F(TrackpadMonitorTest, ChangingTheDirectionMidTouchStartsTheTouchOver) {
  start();
  pads.touch(1, {{1, 0.3f, 0.4f}, {2, 0.4f, 0.4f}, {3, 0.5f, 0.4f}});
  pads.touch(1, {{1, 0.3f, 0.41f}, {2, 0.4f, 0.41f}, {3, 0.5f, 0.41f}});
  set(AppSettings::Key::summonSwipeDirection, "sideways");
  set(AppSettings::Key::summonSwipeDirection, "up");
  pads.touch(1, {{1, 0.3f, 0.42f}, {2, 0.4f, 0.42f}, {3, 0.5f, 0.42f}});  // origins from here on
  EXPECT_EQ(takeSwipes(), Strings{}) << "0.02 from the first origins, but only 0.01 from the new ones";
  pads.touch(1, {{1, 0.3f, 0.44f}, {2, 0.4f, 0.44f}, {3, 0.5f, 0.44f}});
  EXPECT_EQ(takeSwipes(), Strings{"up"});
}

TEST_F(TrackpadMonitorTest, NoTrackpadRetriesEveryThreeSecondsAndLogsOnce) {
  pads.setDevices({});
  start();
  EXPECT_TRUE(monitor->isRetryScheduled());
  loop.advance(std::chrono::seconds(3));
  loop.advance(std::chrono::seconds(3));
  EXPECT_EQ(pads.calls(), (Strings{"list", "list", "list"}));
  EXPECT_EQ(logs.count("No trackpad to listen to yet, retrying every few seconds"), 1u);
  set(AppSettings::Key::switcherStyle, "row");  // a reconfigure meanwhile neither logs nor doubles the retry
  EXPECT_EQ(loop.pendingTimers(), 1u);

  pads.setDevices({7});
  loop.advance(std::chrono::seconds(3));
  EXPECT_TRUE(pads.isStarted(7));
  EXPECT_TRUE(logs.contains("A trackpad turned up, and the stream is running"));
  EXPECT_FALSE(monitor->isRetryScheduled());
  EXPECT_EQ(logs.count("No trackpad to listen to yet, retrying every few seconds"), 1u);
  swipe(7, 0, 0.03);
  EXPECT_EQ(takeSwipes(), Strings{"up"});

  // Switched off with a retry pending: the retry does nothing.
  auto other = TrackpadGestureMonitor::create(settings, pads, loop.main(), loop.pool());
  SimContactSource none;
  auto lonely = TrackpadGestureMonitor::create(settings, none, loop.main(), loop.pool());
  lonely->start();
  ASSERT_TRUE(lonely->isRetryScheduled());
  set(AppSettings::Key::summonGesture, "off");
  const size_t lists = none.calls().size();
  loop.advance(std::chrono::seconds(3));
  EXPECT_EQ(none.calls().size(), lists);
}

TEST_F(TrackpadMonitorTest, NoTrackpadWaitsForOneToBePluggedInWithoutTimers) {
  pads.setDevices({});
  pads.setTellsArrivals(true);
  start();
  EXPECT_FALSE(monitor->isRetryScheduled());
  EXPECT_EQ(loop.pendingTimers(), 0u) << "nothing wakes the program while no trackpad is there";
  EXPECT_TRUE(logs.contains("No trackpad to listen to yet, waiting for one to be plugged in"));
  set(AppSettings::Key::summonGesture, "off");
  pads.plugIn({});  // some other device, or the gesture switched off: nothing is opened
  loop.runUntilIdle();
  set(AppSettings::Key::summonGesture, "fourFingers");
  EXPECT_EQ(pads.calls(), (Strings{"list", "watch", "list"})) << "one watch for the whole run";

  pads.plugIn({7});
  loop.runUntilIdle();
  EXPECT_TRUE(pads.isStarted(7));
  EXPECT_TRUE(logs.contains("A trackpad turned up, and the stream is running"));
  EXPECT_EQ(loop.pendingTimers(), 0u);
}

TEST_F(TrackpadMonitorTest, SwitchingOffLetsGoAndOnTakesAFreshList) {
  start();
  pads.touch(1, {{1, 0.3f, 0.4f}, {2, 0.4f, 0.4f}, {3, 0.5f, 0.4f}});
  set(AppSettings::Key::summonGesture, "off");
  EXPECT_EQ(pads.calls(), (Strings{"list", "register 1", "start 1", "stop 1", "unregister 1", "release 1"}));
  EXPECT_TRUE(logs.contains("Swipe to summon switched off, letting go of the trackpads"));
  EXPECT_FALSE(monitor->requiredFingers());

  pads.setDevices({1, 2});
  set(AppSettings::Key::summonGesture, "threeFingers");
  EXPECT_TRUE(pads.isStarted(1));
  EXPECT_TRUE(pads.isStarted(2));
  swipe(2, 0, 0.05);
  EXPECT_EQ(takeSwipes(), Strings{"up"});
}

TEST_F(TrackpadMonitorTest, GestureOffAtLaunchNeverLoadsTheSource) {
  store.set(AppSettings::Key::summonGesture, "off");
  start();
  EXPECT_EQ(pads.loadCount(), 0);
  EXPECT_TRUE(pads.calls().empty());
  EXPECT_FALSE(monitor->isRetryScheduled());
}

TEST_F(TrackpadMonitorTest, SourceThatWillNotLoadIsFinal) {
  pads.setLoadFailure(ContactFrameSource::LoadFailure{ContactFrameSource::LoadFailure::Kind::wouldNotLoad, "no such file"});
  start();
  EXPECT_TRUE(logs.contains(
      "The touchpad reader could not start (no such file), so summon with a swipe cannot work on this system."));
  EXPECT_FALSE(monitor->isRetryScheduled());
  set(AppSettings::Key::summonGesture, "fourFingers");
  EXPECT_EQ(pads.loadCount(), 1);

  SimContactSource partial;
  partial.setLoadFailure(ContactFrameSource::LoadFailure{ContactFrameSource::LoadFailure::Kind::missingSymbol, ""});
  auto other = TrackpadGestureMonitor::create(settings, partial, loop.main(), loop.pool());
  other->start();
  EXPECT_TRUE(logs.contains(
      "The touchpad reader lacks something it needs, so summon with a swipe cannot work on this system."));
  EXPECT_TRUE(partial.calls().empty());
}

TEST_F(TrackpadMonitorTest, FramesThatBreakTheLayoutRuleTheStreamOut) {
  struct Case {
    int32_t count;
    std::vector<std::pair<float, float>> points;  // records to send (none: a null pointer)
    std::string reason;
  };
  const float above = std::nextafter(1.05f, 2.0f);
  const Case cases[] = {
      {17, std::vector<std::pair<float, float>>(17, {0.5f, 0.5f}), "a frame reported 17 fingers"},
      {-1, {}, "a frame reported -1 fingers"},
      {2, {}, "a frame reported 2 fingers and carried none"},
      {1, {{above, 0.5f}}, "a finger was reported at 1.0500, 0.5000"},
      {1, {{0.5f, -0.06f}}, "a finger was reported at 0.5000, -0.0600"},
      {1, {{std::numeric_limits<float>::quiet_NaN(), 0.5f}}, "a finger was reported at nan, 0.5000"},
  };
  for (const auto& c : cases) {
    LogCapture caseLogs;
    SimContactSource source;
    source.setDevices({1});
    auto m = TrackpadGestureMonitor::create(settings, source, loop.main(), loop.pool());
    m->start();
    std::vector<uint8_t> records(c.points.size() * ContactRecord::stride, 0);
    for (size_t i = 0; i < c.points.size(); ++i) {
      ContactRecord::write(records, i, int32_t(i), 4, c.points[i].first, c.points[i].second);
    }
    source.sendRaw(1, records.empty() ? nullptr : records.data(), c.count);
    EXPECT_TRUE(m->device().isRuledOut()) << c.reason;
    EXPECT_TRUE(caseLogs.contains("The trackpad contact frames no longer match the layout this app reads them with (" +
                                  c.reason + "). Summon with a swipe is switched off for this launch."))
        << c.reason;
    EXPECT_TRUE(source.isStarted(1)) << "not stopped on the frame's own thread";
    loop.runUntilIdle();
    EXPECT_FALSE(source.isStarted(1));
    EXPECT_EQ(source.calls(), (Strings{"list", "register 1", "start 1", "stop 1", "unregister 1", "release 1"}));

    // Off for the run: neither the settings nor the retry start it again.
    store.set(AppSettings::Key::summonGesture, "off");
    store.set(AppSettings::Key::summonGesture, "fourFingers");
    loop.advance(std::chrono::seconds(10));
    EXPECT_EQ(source.calls().size(), 6u);
    store.remove(AppSettings::Key::summonGesture);
    loop.runUntilIdle();
  }
}

TEST_F(TrackpadMonitorTest, EdgeOfTheSurfaceAndEmptyFramesAreFine) {
  start();
  pads.touch(1, {{1, 1.05f, -0.05f}});
  pads.touch(1, {});
  pads.sendRaw(1, nullptr, 0);
  EXPECT_FALSE(monitor->device().isRuledOut());

  // A frame from a device this monitor never started is dropped, with one log line.
  monitor->device().stream().receiveFrame(42, nullptr, 0);
  monitor->device().stream().receiveFrame(42, nullptr, 0);
  EXPECT_EQ(logs.count("A contact frame arrived from a trackpad this app never started, and is ignored"), 1u);
}

TEST_F(TrackpadMonitorTest, GoneMonitorDropsItsSwipe) {
  start();
  pads.touch(1, {{1, 0.3f, 0.4f}, {2, 0.4f, 0.4f}, {3, 0.5f, 0.4f}});
  pads.touch(1, {{1, 0.3f, 0.44f}, {2, 0.4f, 0.44f}, {3, 0.5f, 0.44f}});
  monitor.reset();
  loop.runUntilIdle();
  EXPECT_TRUE(swipes.empty());
  pads.touch(1, {});  // frames after it is gone go nowhere
}

TEST(TrackpadSystemGestures, ConflictsAsTheSystemPreferencesSay) {
  using G = AppSettings::SummonGesture;
  using D = AppSettings::SummonSwipeDirection;
  std::map<std::pair<std::string, std::string>, nlohmann::json> prefs;
  auto reader = [&](std::string_view suite, std::string_view key) -> std::optional<nlohmann::json> {
    auto it = prefs.find({std::string(suite), std::string(key)});
    if (it == prefs.end()) return std::nullopt;
    return it->second;
  };
  const std::string pad = "com.apple.AppleMultitouchTrackpad";
  const std::string bluetooth = "com.apple.driver.AppleBluetoothMultitouch.trackpad";
  EXPECT_TRUE(TrackpadGestureMonitor::systemGestureConflicts(G::threeFingers, D::up, reader)) << "cannot tell";
  EXPECT_FALSE(TrackpadGestureMonitor::systemGestureConflicts(G::off, D::up, reader));
  prefs[{pad, "TrackpadThreeFingerVertSwipeGesture"}] = 0;
  EXPECT_FALSE(TrackpadGestureMonitor::systemGestureConflicts(G::threeFingers, D::up, reader));
  prefs[{bluetooth, "TrackpadThreeFingerVertSwipeGesture"}] = 2;
  EXPECT_TRUE(TrackpadGestureMonitor::systemGestureConflicts(G::threeFingers, D::up, reader));
  prefs[{pad, "TrackpadFourFingerHorizSwipeGesture"}] = "2";  // not a number: ignored
  EXPECT_TRUE(TrackpadGestureMonitor::systemGestureConflicts(G::fourFingers, D::sideways, reader));
  prefs[{bluetooth, "TrackpadFourFingerHorizSwipeGesture"}] = 0;
  EXPECT_FALSE(TrackpadGestureMonitor::systemGestureConflicts(G::fourFingers, D::sideways, reader));
  EXPECT_TRUE(TrackpadGestureMonitor::systemGestureConflicts(G::fourFingers, D::up, reader));
}

TEST(SwipeTakers, TheShellAndTheGestureProgramsRunningHereAreNamed) {
  using V = std::vector<std::string>;
  EXPECT_EQ(SwipeTakers::find("Openbox", {"bash", "xterm", "touchegg-daemon"}), V{});
  EXPECT_EQ(SwipeTakers::find("GNOME Shell", {}), V{"GNOME Shell"});
  EXPECT_EQ(SwipeTakers::find("Mutter (Muffin)", {"cinnamon", "touchegg"}), V{"Touchégg"});
  EXPECT_EQ(SwipeTakers::find("i3", {"libinput-gestur", "fusuma"}), (V{"libinput-gestures", "Fusuma"}));

  // The names come from each process's folder; other entries are passed over.
  const std::filesystem::path proc =
      std::filesystem::temp_directory_path() / ("quorvel-proc-" + std::to_string(::getpid()));
  for (const auto& [folder, name] : {std::pair{"17", "touchegg\n"}, std::pair{"230", "xterm\n"},
                                     std::pair{"self", "not-a-process\n"}, std::pair{"31", ""}}) {
    std::filesystem::create_directories(proc / folder);
    std::ofstream(proc / folder / "comm") << name;
  }
  std::filesystem::create_directories(proc / "44");  // ended while being read: no comm
  V names = SwipeTakers::userProcessNames(proc);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (V{"touchegg", "xterm"}));
  std::filesystem::remove_all(proc);
  EXPECT_EQ(SwipeTakers::userProcessNames(proc), V{});
  // This very process is among the real ones.
  EXPECT_FALSE(SwipeTakers::userProcessNames().empty());
}

}  // namespace
}  // namespace quorvel
