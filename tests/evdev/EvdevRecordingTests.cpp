#include <gtest/gtest.h>

#include <linux/input.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "EvemuRecording.h"
#include "app/TrackpadGestureMonitor.h"
#include "base/DefaultsStore.h"
#include "base/LogCapture.h"
#include "base/ManualLoop.h"
#include "platform/ContactFrameSource.h"
#include "platform/evdev/EvdevContactSource.h"

namespace quorvel {
namespace {

struct Contact {
  int32_t id;
  int32_t state;
  float x, y;
};

std::vector<std::vector<Contact>> framesOf(const EvemuRecording& recording) {
  auto assembler = recording.assembler();
  std::vector<std::vector<Contact>> frames;
  for (const auto& e : recording.events) {
    if (auto frame = assembler.feed(e.type, e.code, e.value)) {
      std::vector<Contact> contacts;
      for (size_t i = 0; i < frame->size() / ContactRecord::stride; ++i) {
        const uint8_t* r = frame->data() + i * ContactRecord::stride;
        contacts.push_back({ContactRecord::identifier(r), ContactRecord::state(r), ContactRecord::x(r), ContactRecord::y(r)});
      }
      frames.push_back(contacts);
    }
  }
  return frames;
}

// One touchpad whose frames come from a recording, through the evdev frame assembler.
class RecordedTouchpad final : public ContactFrameSource {
 public:
  explicit RecordedTouchpad(EvemuRecording recording) : recording_(std::move(recording)) {}
  void play() {
    auto assembler = recording_.assembler();
    for (const auto& e : recording_.events) {
      auto frame = assembler.feed(e.type, e.code, e.value);
      if (frame && started_ && callback_) {
        callback_(1, frame->empty() ? nullptr : frame->data(), static_cast<int32_t>(frame->size() / ContactRecord::stride));
      }
    }
  }
  std::optional<LoadFailure> load() override { return std::nullopt; }
  std::optional<std::vector<ContactDeviceId>> createDeviceList() override { return std::vector<ContactDeviceId>{1}; }
  void releaseDeviceList(const std::vector<ContactDeviceId>&) override {}
  void registerCallback(ContactDeviceId, ContactFrameCallback callback) override { callback_ = std::move(callback); }
  void unregisterCallback(ContactDeviceId) override { callback_ = nullptr; }
  void start(ContactDeviceId) override { started_ = true; }
  void stop(ContactDeviceId) override { started_ = false; }

 private:
  EvemuRecording recording_;
  ContactFrameCallback callback_;
  bool started_ = false;
};

TEST(EvdevRecordings, ThreeFingerSwipeBecomesFramesInTheRecordLayout) {
  const auto frames = framesOf(EvemuRecording::load("three-finger-swipe-up.evemu"));
  std::vector<size_t> counts;
  for (const auto& f : frames) counts.push_back(f.size());
  EXPECT_EQ(counts, (std::vector<size_t>{1, 2, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 2, 1, 0}));

  const auto& landed = frames[2];
  EXPECT_EQ(landed[0].id, 300);
  EXPECT_EQ(landed[2].id, 302);
  EXPECT_EQ(landed[0].state, ContactRecord::stateTouching);
  EXPECT_FLOAT_EQ(landed[0].x, 900.0f / 3200.0f);
  EXPECT_FLOAT_EQ(landed[1].x, 1250.0f / 3200.0f);
  EXPECT_FLOAT_EQ(landed[0].y, 1.0f - 1400.0f / 2000.0f) << "the device's y grows downward; ours grows upward";
  EXPECT_FLOAT_EQ(frames[12][0].y, 1.0f - 1000.0f / 2000.0f);
  EXPECT_FLOAT_EQ(frames[12][2].x, landed[2].x) << "positions not sent again stay as they were";
}

TEST(EvdevRecordings, PalmsAreOffTheSurfaceAndDroppedFramesAreLeftOut) {
  const auto palm = framesOf(EvemuRecording::load("palm-and-three-finger-swipe.evemu"));
  ASSERT_GE(palm.size(), 5u);
  ASSERT_EQ(palm[4].size(), 4u);
  EXPECT_EQ(palm[4][3].state, ContactRecord::stateLifted);
  EXPECT_EQ(palm[4][0].state, ContactRecord::stateTouching);

  const auto dropped = framesOf(EvemuRecording::load("dropped-frame.evemu"));
  EXPECT_EQ(dropped.size(), 7u) << "the frame cut short by SYN_DROPPED is not reported";
  for (const auto& frame : dropped) {
    for (const auto& c : frame) EXPECT_FLOAT_EQ(c.y, 1.0f - 1400.0f / 2000.0f);
  }
}

TEST(EvdevRecordings, RecordedStreamsDriveTheSwipeMonitor) {
  struct Case {
    const char* recording;
    const char* gesture;
    const char* direction;
    std::vector<SwipeMotion> expected;
  };
  const Case cases[] = {
      {"three-finger-swipe-up.evemu", "threeFingers", "up", {SwipeMotion::up}},
      {"four-finger-swipe-left.evemu", "fourFingers", "sideways", {SwipeMotion::sideways}},
      // Four travelling fingers are too many for three, until the first lifts and leaves three
      // that have travelled.
      {"four-finger-swipe-left.evemu", "threeFingers", "sideways", {SwipeMotion::sideways}},
      {"four-finger-swipe-left.evemu", "threeFingers", "up", {}},
      {"two-finger-scroll.evemu", "threeFingers", "up", {}},
      {"palm-and-three-finger-swipe.evemu", "threeFingers", "up", {SwipeMotion::up}},
      {"three-finger-swipe-up.evemu", "threeFingers", "sideways", {}},
      {"dropped-frame.evemu", "threeFingers", "up", {}},
  };
  for (const auto& c : cases) {
    ManualLoop loop;
    LogCapture logs;
    DefaultsStore store;
    AppSettings settings(store);
    settings.registerDefaults();
    store.set(AppSettings::Key::summonGesture, c.gesture);
    store.set(AppSettings::Key::summonSwipeDirection, c.direction);
    RecordedTouchpad pad(EvemuRecording::load(c.recording));
    auto monitor = TrackpadGestureMonitor::create(settings, pad, loop.main(), loop.pool());
    std::vector<SwipeMotion> swipes;
    monitor->onSwipe = [&](SwipeMotion m) { swipes.push_back(m); };
    monitor->start();
    pad.play();
    loop.runUntilIdle();
    EXPECT_EQ(swipes, c.expected) << c.recording << " " << c.gesture << " " << c.direction;
    EXPECT_FALSE(monitor->device().isRuledOut()) << c.recording;
  }
}

TEST(EvdevFrameAssembler, SlotsOutsideTheDeviceAreIgnored) {
  EvdevFrameAssembler assembler(2, {0, 100}, {0, 100});
  assembler.feed(EV_ABS, ABS_MT_SLOT, 7);
  assembler.feed(EV_ABS, ABS_MT_TRACKING_ID, 5);
  assembler.feed(EV_ABS, ABS_MT_SLOT, -3);
  assembler.feed(EV_ABS, ABS_MT_POSITION_X, 50);
  auto frame = assembler.feed(EV_SYN, SYN_REPORT, 0);
  ASSERT_TRUE(frame);
  EXPECT_TRUE(frame->empty());
  assembler.feed(EV_ABS, ABS_MT_SLOT, 1);
  assembler.feed(EV_ABS, ABS_MT_TRACKING_ID, 5);
  frame = assembler.feed(EV_SYN, SYN_REPORT, 0);
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->size(), ContactRecord::stride);

  // A device with an empty axis range reports the middle instead of dividing by zero.
  EvdevFrameAssembler flat(1, {10, 10}, {0, 0});
  flat.feed(EV_ABS, ABS_MT_TRACKING_ID, 1);
  frame = flat.feed(EV_SYN, SYN_REPORT, 0);
  ASSERT_TRUE(frame);
  EXPECT_FLOAT_EQ(ContactRecord::x(frame->data()), 0.5f);
}

TEST(EvdevContactSource, UnreadableTouchpadsAreSaidOnceAndOtherFilesAreNotTouchpads) {
  LogCapture logs;
  const auto plain = std::filesystem::temp_directory_path() / "quorvel-not-an-input-device";
  { std::FILE* f = std::fopen(plain.c_str(), "w"); std::fputs("hello", f); std::fclose(f); }

  EvdevContactSource files(EvdevContactSource::Options{std::vector<std::string>{plain.string(), "/nonexistent/event9"}, {}});
  EXPECT_FALSE(files.load());
  EXPECT_FALSE(files.createDeviceList());
  EXPECT_TRUE(logs.messages("TrackpadGesture").empty());

  EvdevContactSource locked(EvdevContactSource::Options{
      std::vector<std::string>{"/dev/input/event4", "/dev/input/event5"}, [](const char*, int) {
        errno = EACCES;
        return -1;
      }});
  EXPECT_FALSE(locked.createDeviceList());
  EXPECT_FALSE(locked.createDeviceList());
  // Present all the same: the swipe is offered, and the log says why it does not work.
  EXPECT_TRUE(locked.touchpadPresent());
  EXPECT_FALSE(EvdevContactSource(EvdevContactSource::Options{std::vector<std::string>{}, {}}).touchpadPresent());
  const auto lines = logs.messages("TrackpadGesture");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("/dev/input/event4"), std::string::npos) << lines[0];
  std::filesystem::remove(plain);
}

}  // namespace
}  // namespace quorvel
