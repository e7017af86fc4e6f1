#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <optional>

#include "HeldCaptureWorker.h"
#include "X11SessionTest.h"
#include "base/ManualLoop.h"
#include "platform/x11/X11Platform.h"
#include "platform/x11/X11ScreenCapture.h"
#include "program/DesktopStillMaker.h"

namespace quorvel {
namespace {

// The platform on a loop the test drives: the list of windows is answered when the test says.
class DesktopStillMakerTest : public X11SessionTest {
 protected:
  void SetUp() override {
    X11SessionTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    platform = X11Platform::open(loop, session->display());
    ASSERT_TRUE(platform);
    ASSERT_TRUE(platform->screenCapture());
  }
  void TearDown() override { platform.reset(); }

  // Waits until every read queued so far has been made and its completion has run.
  void waitForTheReads(uint32_t window) {
    std::atomic<bool> done{false};
    platform->screenCapture()->captureWindow(window, {1, 1}, [&](CaptureResult) { done = true; });
    ASSERT_TRUE(X11Session::waitUntil([&] { return done.load(); }));
  }

  ManualLoop loop;
  std::unique_ptr<X11Platform> platform;
};

// A maker that goes while its still is under way, whether the still's pictures are still queued for
// reading or already read and the still waits on the main queue, is never called back and nothing
// reads it after it has gone; one that stays hands its still over.
TEST_F(DesktopStillMakerTest, AMakerThatGoesWhileAStillIsUnderWayIsNeverReadOrCalledBack) {
  const uint32_t window = launch({"--title", "Still", "--color", "d02020", "--geometry", "320x240+40+40"});
  ASSERT_TRUE(window);
  ASSERT_TRUE(X11Session::waitUntil([&] { return read(window) && read(window)->isViewable; }));
  enum class Goes { whileReadsAreQueued, whileTheStillWaitsOnMain, never };
  for (const Goes goes : {Goes::whileReadsAreQueued, Goes::whileTheStillWaitsOnMain, Goes::never}) {
    SCOPED_TRACE(static_cast<int>(goes));
    X11ScreenCapture& capture = *platform->screenCapture();
    auto maker = std::make_unique<DesktopStillMaker>(*platform, loop.main());
    std::optional<std::optional<DesktopStill>> handed;
    {
      HeldCaptureWorker held(capture, window);
      maker->make([&](std::optional<DesktopStill> still) { handed = std::move(still); });
      loop.runUntilIdle();  // the list of windows: the pictures are asked for
      ASSERT_GT(capture.queuedJobs(), 0u);
      if (goes == Goes::whileReadsAreQueued) maker.reset();
    }
    waitForTheReads(window);
    if (goes == Goes::whileTheStillWaitsOnMain) maker.reset();
    loop.runUntilIdle();
    EXPECT_EQ(handed.has_value(), goes == Goes::never);
    if (handed) {
      EXPECT_TRUE(handed->has_value());
    }
  }
}

}  // namespace
}  // namespace quorvel
