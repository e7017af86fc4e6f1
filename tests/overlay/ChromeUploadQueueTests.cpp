#include "overlay/controller/ChromeUploadQueue.h"

#include <gtest/gtest.h>

#include "base/ManualLoop.h"

namespace quorvel {
namespace {

// The chrome's uploads leave the submitting thread, and only the newest bitmap is uploaded.
TEST(ChromeUploadQueue, SubmittingWaitsForNoUploadAndOnlyTheNewestBitmapGoesUp) {
  ManualLoop loop;
  std::shared_ptr<Executor> queue = loop.makeSerialQueue("ChromeUpload", QueueQos::userInteractive);
  std::vector<int> uploaded;  // widths
  std::function<void()> duringUpload;
  ChromeUploadQueue uploads(queue, [&](const RasterBitmap& bitmap) {
    uploaded.push_back(bitmap.width());
    if (duringUpload) std::exchange(duringUpload, nullptr)();
    return true;
  });
  for (int width : {1, 2, 3}) uploads.submit(*RasterBitmap::make(width, 1));
  EXPECT_TRUE(uploaded.empty()) << "the submitting thread never uploads";
  loop.runUntilIdle();
  EXPECT_EQ(uploaded, std::vector<int>{3});

  // A bitmap submitted while one is uploading follows it; one submitted after the queue went idle
  // starts it again.
  duringUpload = [&] { uploads.submit(*RasterBitmap::make(5, 1)); };
  uploads.submit(*RasterBitmap::make(4, 1));
  loop.runUntilIdle();
  EXPECT_EQ(uploaded, (std::vector<int>{3, 4, 5}));

  // Closed: what waits is dropped and nothing more goes up.
  uploads.submit(*RasterBitmap::make(6, 1));
  uploads.close();
  uploads.submit(*RasterBitmap::make(7, 1));
  loop.runUntilIdle();
  EXPECT_EQ(uploaded, (std::vector<int>{3, 4, 5}));
}

}  // namespace
}  // namespace quorvel
