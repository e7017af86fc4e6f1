#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <string>

#include "base/DefaultsStore.h"
#include "base/LogCapture.h"
#include "base/LogHub.h"
#include "base/ManualLoop.h"
#include "base/SystemClock.h"
#include "base/VirtualClock.h"
#include "platform/SignalWatch.h"
#include "program/ProgramEnd.h"
#include "scene/render/RenderThreads.h"
#include "settings/AppSettings.h"
#include "settings_ui/SettingsBindings.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;

// A render thread inside a frame that returns when told: at a time, or never until released.
class HeldFrame final : public DisplayLink {
 public:
  HeldFrame() {
    thread_ = RenderThreads::start("net.tarmeq.quorvel.render", std::shared_ptr<DisplayLink>(this, [](auto*) {}),
                                   [this](const DisplayLinkUpdate&) {
                                     std::unique_lock lock(mutex_);
                                     inFrame_ = true;
                                     changed_.notify_all();
                                     while (!(until_ && std::chrono::steady_clock::now() >= *until_)) {
                                       if (until_) changed_.wait_until(lock, *until_);
                                       else changed_.wait(lock);
                                     }
                                   });
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return inFrame_; });
  }
  // Lets the frame return `after` from now, and the thread end.
  ~HeldFrame() override {
    returnAfter(0ms);
    RenderThreads::end(thread_, std::chrono::steady_clock::now() + 60s);
  }
  void returnAfter(std::chrono::milliseconds after) {
    std::lock_guard lock(mutex_);
    until_ = std::chrono::steady_clock::now() + after;
    changed_.notify_all();
  }

  void run(const std::function<void(const DisplayLinkUpdate&)>& onUpdate) override {
    onUpdate({});
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return stopped_; });
  }
  void setPaused(bool) override {}
  void setRefreshRate(double) override {}
  void stop() override {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::optional<std::chrono::steady_clock::time_point> until_;
  bool inFrame_ = false;
  bool stopped_ = false;
  std::shared_ptr<RenderThreads::Thread> thread_;
};

// What the end did to the process, as the tests see it in place of an exit.
struct Ending {
  std::mutex mutex;
  std::condition_variable changed;
  std::optional<int> status;
  bool quitAsked = false;

  ProgramEnd::Services services(const Clock& clock) {
    return {clock,
            [this] {
              std::lock_guard lock(mutex);
              quitAsked = true;
              changed.notify_all();
            },
            [this](int s) {
              std::lock_guard lock(mutex);
              status = s;
              changed.notify_all();
            }};
  }
  template <class P>
  bool waitFor(P predicate) {
    return waitFor(60s, predicate);
  }
  template <class P>
  bool waitFor(std::chrono::milliseconds timeout, P predicate) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, timeout, predicate);
  }
};

// Whether a line of the log holds `text`.
bool mentions(const LogCapture& logs, const std::string& text) {
  for (const std::string& line : logs.messages())
    if (line.find(text) != std::string::npos) return true;
  return false;
}

class ProgramEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "quorvel-end-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder = pattern;
    ::setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
  }
  void TearDown() override {
    LogHub::shared().reopenForTesting();
    std::filesystem::remove_all(folder);
  }
  std::string stored() {
    std::ifstream in(folder + "/defaults.json");
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::string folder;
};

// The settings are saved while the frame still runs, before anything waits for it; then either the
// frame returns within the wait and the services go once the thread has ended, or it never does and
// the process ends around it, with the thread named and the last line last. Either way the process
// ends with its last line.
TEST_F(ProgramEndTest, SavesFirstThenWaitsForTheFrameAndTakesTheServicesDownOrEndsAroundIt) {
  for (const bool forGood : {false, true}) {
    SCOPED_TRACE(forGood ? "a frame that never returns" : "a frame of a second");
    std::filesystem::remove(folder + "/defaults.json");
    LogCapture logs;
    Ending ending;
    ManualLoop loop;
    DefaultsStore store(folder + "/defaults.json");
    AppSettings settings(store);
    SettingsBindings window(settings, loop.main());
    // A slider let go of just before the end: the window still holds its value.
    window.writeSoon("cardSpacingCoverArc", 0.7);
    auto frame = std::make_unique<HeldFrame>();
    std::vector<size_t> drawingAt;  // render threads in a frame at the save, and at the take-down
    {
      ProgramEnd end(nullptr, ending.services(SystemClock::shared()), {forGood ? 300ms : 30s, 60s});
      end.setSteps({[&] {
                      drawingAt.push_back(RenderThreads::running().size());
                      window.flush();
                      store.close();
                    },
                    [&] { store.close(); },
                    [&] { drawingAt.push_back(RenderThreads::running().size()); }});
      if (!forGood) frame->returnAfter(1000ms);
      EXPECT_EQ(end.run(0), !forGood);
      EXPECT_NE(stored().find(R"("cardSpacingCoverArc": 0.7)"), std::string::npos) << stored();
      if (forGood) {
        EXPECT_EQ(drawingAt, std::vector<size_t>{1}) << "saved while the frame ran; the services were left up";
        EXPECT_EQ(ending.status, 0);
        EXPECT_TRUE(mentions(logs, "render thread net.tarmeq.quorvel.render (thread "));
      } else {
        EXPECT_EQ(drawingAt, (std::vector<size_t>{1, 0})) << "the services go once the thread has ended";
        EXPECT_FALSE(ending.status);
        end.finish(0);
        EXPECT_EQ(ending.status, 0) << "the process ends with its last line";
      }
      const std::vector<std::string> lines = logs.messages();
      ASSERT_FALSE(lines.empty());
      EXPECT_EQ(lines.back(), "Quorvel has ended (status 0)");
      Logger("Test").notice("after the end");
      EXPECT_EQ(logs.messages().back(), "Quorvel has ended (status 0)") << "nothing comes after the last line";
    }
    frame.reset();
    LogHub::shared().reopenForTesting();
  }
}

// While the main thread is held up (it never begins the end), a signal or the X server's going away
// reaches the watch: it asks the loop to end (on a signal), and at the limit saves what it can, says
// what held the end up and ends the process, with the status of that end.
TEST_F(ProgramEndTest, ASignalOrALostDisplayWhileTheMainThreadIsHeldUpEndsTheProcessAtTheLimit) {
  for (const bool displayLost : {false, true}) {
    SCOPED_TRACE(displayLost ? "the X server goes away" : "SIGTERM");
    LogCapture logs;
    Ending ending;
    VirtualClock clock;
    std::unique_ptr<SignalWatch> signals = SignalWatch::install({SIGTERM});
    ASSERT_TRUE(signals);
    int display[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, display), 0);
    HeldFrame frame;
    std::atomic<int> savedElsewhere{0};
    {
      ProgramEnd end(signals.get(), ending.services(clock), {3s, 6s});
      end.setSteps({[] { FAIL() << "the main thread's save"; }, [&] { ++savedElsewhere; }, [] { FAIL(); }});
      end.watchDisplay(display[0]);
      if (displayLost) {
        ::close(display[1]);
      } else {
        ASSERT_EQ(::raise(SIGTERM), 0);
        ASSERT_TRUE(ending.waitFor([&] { return ending.quitAsked; }));
        EXPECT_TRUE(mentions(logs, "Quorvel ends: SIGTERM from process " + std::to_string(::getpid())));
      }
      // The limit passes, however long the watch takes to hear of the end.
      for (int i = 0; i < 600 && !ending.waitFor(50ms, [&] { return ending.status.has_value(); }); ++i)
        clock.advance(6s);
      ASSERT_TRUE(ending.status);
      EXPECT_EQ(*ending.status, displayLost ? 1 : 0);
      EXPECT_EQ(savedElsewhere, 1);
      EXPECT_EQ(ending.quitAsked, !displayLost) << "the toolkit ends the loop itself when its display goes";
      const std::vector<std::string> lines = logs.messages();
      ASSERT_GE(lines.size(), 2u);
      EXPECT_TRUE(lines[lines.size() - 2].starts_with(
          "Quorvel's end did not finish within 6.0 s (the main thread has not begun it; still in a frame: "
          "net.tarmeq.quorvel.render (thread "))
          << lines[lines.size() - 2];
      EXPECT_EQ(lines.back(), "Quorvel has ended (status " + std::string(displayLost ? "1" : "0") + ")");
    }
    ::close(display[0]);
    if (!displayLost) ::close(display[1]);
    LogHub::shared().reopenForTesting();
  }
}

}  // namespace
}  // namespace quorvel
