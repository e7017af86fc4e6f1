#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "base/BootTimeExecutor.h"
#include "base/SystemClock.h"

namespace quorvel {
namespace {

// Runs what it is handed at once, on the handing thread, and keeps a record.
class RecordingTarget final : public Executor {
 public:
  void post(Job job) override {
    job();
    std::lock_guard lock(mutex);
    ++posted;
    changed.notify_all();
  }
  TimerId postAfter(Duration, Job) override { return 0; }
  bool cancel(TimerId) override { return false; }
  bool isCurrent() const override { return false; }
  Clock& clock() const override { return SystemClock::shared(); }
  const std::string& label() const override { return name; }

  std::mutex mutex;
  std::condition_variable changed;
  int posted = 0;
  std::vector<std::string> ran;  // guarded by mutex
  const std::string name = "target";
};

TEST(BootTimeExecutor, HandsDueJobsToTheTargetInDueOrderAndNeverACancelledOne) {
  RecordingTarget target;
  auto record = [&](std::string what) {
    return [&target, what] {
      std::lock_guard lock(target.mutex);
      target.ran.push_back(what);
    };
  };
  {
    BootTimeExecutor timers(target);
    timers.postAfter(std::chrono::milliseconds(60), record("late"));
    const TimerId cancelled = timers.postAfter(std::chrono::milliseconds(30), record("cancelled"));
    timers.postAfter(std::chrono::milliseconds(20), record("early"));
    EXPECT_TRUE(timers.cancel(cancelled));
    timers.postAfter(std::chrono::hours(1), record("never: the executor goes first"));
    std::unique_lock lock(target.mutex);
    ASSERT_TRUE(target.changed.wait_for(lock, std::chrono::seconds(10), [&] { return target.posted >= 2; }));
    EXPECT_EQ(target.ran, (std::vector<std::string>{"early", "late"}));
  }
  EXPECT_EQ(target.posted, 2);
}

}  // namespace
}  // namespace quorvel
