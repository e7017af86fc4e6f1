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

TEST(ChromeUploadQueue, ThePaintedRectanglesGoUpWithTheirBitmap) {
  ManualLoop loop;
  std::shared_ptr<Executor> queue = loop.makeSerialQueue("ChromeUpload", QueueQos::userInteractive);
  std::vector<std::pair<int, std::vector<RasterRegion>>> uploaded;
  ChromeUploadQueue uploads(queue, [&](const RasterBitmap& bitmap, const RasterRegions& painted) {
    uploaded.emplace_back(bitmap.width(), painted.rects());
    return true;
  });
  RasterRegions first(10, 4), second(20, 4);
  first.add({1, 1, 2, 2});
  second.add({5, 0, 3, 3});
  uploads.submit(*RasterBitmap::make(10, 4), first);
  uploads.submit(*RasterBitmap::make(20, 4), second);
  loop.runUntilIdle();
  ASSERT_EQ(uploaded.size(), 1u);
  EXPECT_EQ(uploaded[0].first, 20);
  EXPECT_EQ(uploaded[0].second, second.rects());
  // A bitmap without rectangles is the whole of it.
  uploads.submit(*RasterBitmap::make(6, 2));
  loop.runUntilIdle();
  ASSERT_EQ(uploaded.size(), 2u);
  EXPECT_EQ(uploaded[1].second, (std::vector<RasterRegion>{{0, 0, 6, 2}}));
}

}  // namespace
}  // namespace quorvel
