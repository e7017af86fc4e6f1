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

TEST(ChromeUploadQueue, ABitmapDoneWithIsHandedBackForTheNextPaint) {
  ManualLoop loop;
  std::shared_ptr<Executor> queue = loop.makeSerialQueue("ChromeUpload", QueueQos::userInteractive);
  std::vector<const uint8_t*> uploaded;
  ChromeUploadQueue uploads(queue, [&](const RasterBitmap& bitmap, const RasterRegions&) {
    uploaded.push_back(bitmap.data());
    return true;
  });
  EXPECT_FALSE(uploads.takeSpare());
  RasterRegions painted(10, 4);
  painted.add({1, 1, 2, 2});
  RasterBitmap first = *RasterBitmap::make(10, 4);
  const uint8_t* memory = first.data();
  uploads.submit(std::move(first), painted);
  EXPECT_FALSE(uploads.takeSpare()) << "still on its way";
  loop.runUntilIdle();
  std::optional<ChromeUploadQueue::Painted> spare = uploads.takeSpare();
  ASSERT_TRUE(spare);
  EXPECT_EQ(spare->bitmap.data(), memory);
  EXPECT_EQ(spare->regions.rects(), painted.rects()) << "with what was painted in it";
  EXPECT_FALSE(uploads.takeSpare()) << "handed out once";

  // One replaced before it went up is spare at once; the one after it goes up.
  RasterBitmap second = *RasterBitmap::make(10, 4), third = *RasterBitmap::make(10, 4);
  const uint8_t* secondMemory = second.data();
  uploads.submit(std::move(second), painted);
  uploads.submit(std::move(third), painted);
  spare = uploads.takeSpare();
  ASSERT_TRUE(spare);
  EXPECT_EQ(spare->bitmap.data(), secondMemory);
  loop.runUntilIdle();
  EXPECT_EQ(uploaded.size(), 2u);
  EXPECT_TRUE(uploads.takeSpare());

  // Closed: nothing is kept.
  uploads.submit(*RasterBitmap::make(10, 4), painted);
  uploads.close();
  loop.runUntilIdle();
  EXPECT_FALSE(uploads.takeSpare());
}

}  // namespace
}  // namespace quorvel
