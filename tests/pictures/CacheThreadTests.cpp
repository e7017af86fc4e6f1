#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "base/ManualLoop.h"
#include "pictures/CardLabelCache.h"
#include "pictures/ChromeFakes.h"
#include "pictures/StatusBadgeCache.h"

namespace quorvel {
namespace {

// A render thread looking plates and badges up (and queuing misses) while the main thread draws,
// stores and drops them: every answer is a whole texture or nothing, and every queued drawing
// runs on the main queue. Meant to run under the thread sanitizer as well.
TEST(ChromeCacheThreads, LookupsFromAnotherThreadMeetDrawingOnTheMainQueue) {
  ManualLoop loop;
  testing::FakeRaster raster;
  testing::FakeUploader uploader;
  auto labels = CardLabelCache::make({loop.main(), raster, uploader, {}});
  auto badges = StatusBadgeCache::make({loop.main(), raster, uploader, {}});
  std::atomic<bool> stop{false};
  std::atomic<int> hits{0};
  std::thread render([&] {
    int i = 0;
    while (!stop.load()) {
      const CardLabel tab{"Browser", WindowState::browserTab, std::nullopt, false, "Tab " + std::to_string(i % 40)};
      if (auto t = labels->labelTexture(tab)) hits += t->width() > 0;
      if (auto t = labels->titleTexture("Title " + std::to_string(i % 30), true)) hits += t->width() > 0;
      if (auto t = labels->countTexture(i % 30)) hits += t->width() > 0;
      if (auto t = badges->texture({WindowState::onOtherSpace, i % 25})) hits += t->width() > 0;
      ++i;
    }
  });
  for (int round = 0; round < 20; ++round) {
    // More tab labels than the table keeps, so that the main thread evicts while the render
    // thread reads. (The render thread asks for fewer keys than the bounds, as a real scene does;
    // more would keep evicting and re-queuing each other for ever.)
    std::vector<CardLabel> many;
    for (int k = 0; k < 70; ++k) {
      many.push_back({"Browser", WindowState::browserTab, std::nullopt, false, "Other " + std::to_string(round * 70 + k)});
    }
    labels->prepareLabels(many);
    badges->prewarm();
    loop.runUntilIdle();
    if (round % 10 == 9) {
      std::unique_lock held(labels->lock());
      labels->setPlateOpacity(held, 0.5 + round * 0.01);
    }
    if (round % 10 == 4) badges->setPlateOpacity(0.5 + round * 0.01);
  }
  stop = true;
  render.join();
  loop.runUntilIdle();
  EXPECT_LE(labels->counts().tabLabels, CardLabelCache::kMaxTabLabels);
  EXPECT_LE(labels->counts().titles, CardLabelCache::kMaxTitles);
  EXPECT_GT(hits.load(), 0);
}

}  // namespace
}  // namespace quorvel
