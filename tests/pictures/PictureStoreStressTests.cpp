#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

#include "base/ManualLoop.h"
#include "gpu/recording/RecordingDevice.h"
#include "pictures/ThumbnailCache.h"
#include "support/VulkanTestDevice.h"

namespace quorvel {
namespace {

using Provenance = ThumbnailCache::Provenance;

constexpr uint32_t kWindows = 16;
constexpr uint32_t kTab = WindowCard::kTabIDFloor;

// Installs, live frames, sessions, prunes, presentations with idle trims and demotions, and
// lookups from a render thread that samples what it finds, all at once on four threads. Each
// thread follows its own seeded script; how they interleave is the scheduler's. The store must
// keep its invariants, and (on Vulkan) no picture may be released while the GPU reads it.
void interleave(const std::shared_ptr<GpuDevice>& device, int rounds) {
  ManualLoop loop;
  ThumbnailCache cache(GpuContext::make(device), loop.main(), loop.clock(), nullptr);
  std::atomic<int> crops{0};
  cache.setFaviconSink([&](uint32_t, std::shared_ptr<GpuTexture>) { crops.fetch_add(1); });
  std::atomic<int> running{2};  // the capture and live threads
  auto buffer = [](std::mt19937& random) {
    const int w = 16 + static_cast<int>(random() % 96), h = 16 + static_cast<int>(random() % 64);
    return PixelBuffer::filled(w, h, 0xff000000u | random());
  };

  std::thread capture([&] {
    std::mt19937 random(1);
    for (int i = 0; i < rounds; ++i) {
      const uint32_t id = 1 + random() % kWindows;
      const auto provenance = random() % 2 ? Provenance::photograph(kTab + random() % 4) : Provenance{};
      if (random() % 5 == 0) {
        cache.storeCopied(buffer(random), id, provenance);
      } else if (auto entry = cache.makeEntry(buffer(random), provenance, {})) {
        cache.prepare(*entry, id, random() % 2, random() % 4 == 0, provenance);
      }
      if (random() % 7 == 0) {
        std::lock_guard guard(cache.lock());
        cache.forgetStamps({id});
      }
    }
    running.fetch_sub(1);
  });

  std::thread live([&] {
    std::mt19937 random(2);
    for (int i = 0; i < rounds; ++i) {
      const uint32_t id = 1 + random() % kWindows;
      cache.setLiveWindow(id, random() % 2 ? std::optional<uint32_t>(kTab + 1) : std::nullopt);
      cache.setLiveGeometry({ShareableWindow{id, {}, {0, 0, 200, 100}, 0, true, ShareableApplication{7, "a", ""}}});
      for (int f = 0; f < 3; ++f) cache.storeLiveFrame(buffer(random), id, Rect{0, 0, 50, 40}, 2.0);
      if (random() % 3 == 0) cache.clearLiveRing();
      cache.takeLiveStream();
    }
    running.fetch_sub(1);
  });

  std::thread render([&] {
    std::mt19937 random(3);
    auto queue = device->makeCommandQueue("Quorvel test frames");
    auto target = device->makeTexture({32, 32, 1, true, "Quorvel test frame"});
    std::shared_ptr<GpuCommandBuffer> last;
    while (running.load() > 0) {
      std::vector<CardPicture> found;
      {
        std::lock_guard guard(cache.lock());
        for (uint32_t id = 1; id <= kWindows; ++id)
          if (auto picture = cache.entry(random() % 3 ? id : kTab + id % 4)) found.push_back(*picture);
      }
      auto commands = queue->makeCommandBuffer();
      auto blit = commands->makeBlitEncoder();
      for (const auto& picture : found) {
        ASSERT_TRUE(picture.texture);
        blit->blit(picture.texture, 0, {0, 0, std::min(picture.texture->width(), 32u),
                                        std::min(picture.texture->height(), 32u)},
                   target, 0, {0, 0, 32, 32});
      }
      blit->endEncoding();
      commands->commit();
      // At most one frame waits behind the one in flight.
      if (last) last->waitUntilCompleted();
      last = commands;
    }
    if (last) last->waitUntilCompleted();
  });

  // This thread drives the loop: presentations, sessions, prunes, idle trims and demotions.
  std::mt19937 random(4);
  auto recording = std::dynamic_pointer_cast<RecordingDevice>(device);
  while (running.load() > 0) {
    if (recording) recording->clearLog();
    cache.beginPresentation();
    std::vector<WindowCard> cards;
    for (uint32_t id = 1; id <= kWindows; ++id) {
      WindowCard card;
      card.id = card.orderingID = id;
      card.frame = {0, 0, 200, 100};
      card.state = random() % 3 ? WindowState::onCurrentSpace : WindowState::minimized;
      card.isPrivate = id % 5 == 0;
      card.blursPicture = card.isPrivate;
      cards.push_back(card);
      if (id % 4 == 0) {
        WindowCard::TabFacts facts;
        facts.hostWindowID = id;
        facts.faviconCrop = Rect{0.1, 0.1, 0.5, 0.5};
        cards.push_back(WindowCard::tabCard(card, kTab + id % 4, "t", facts));
      }
    }
    {
      std::lock_guard guard(cache.lock());
      cache.beginSession(cards);
      cache.bankedProvenances();
    }
    std::vector<uint32_t> ids;
    for (uint32_t id = 1; id <= kWindows + 4; ++id) ids.push_back(id);
    cache.countCached(ids);
    if (random() % 3 == 0) {
      std::unordered_set<uint32_t> keep;
      for (uint32_t id = 1; id <= kWindows; ++id)
        if (random() % 2) keep.insert(id);
      cache.prune(keep);
    }
    cache.enforceBudgetNow();
    cache.endPresentation();
    if (random() % 2) loop.advance(ThumbnailCache::kIdleDelay + std::chrono::seconds(1));
    loop.runUntilIdle();
    std::vector<IdleTrim::Demotion> demotions;
    for (uint32_t id = 1; id <= kWindows; ++id)
      if (random() % 4 == 0) demotions.push_back({id, 1 + static_cast<int>(random() % 2)});
    cache.demote(demotions);
    if (random() % 5 == 0) cache.flushRetired();
  }
  capture.join();
  live.join();
  render.join();
  device->waitIdle();
  loop.runUntilIdle();

  const auto counts = cache.counts();
  EXPECT_LE(counts.entries, kWindows + 4);
  EXPECT_LE(counts.pending, kWindows);
  EXPECT_EQ(counts.presentationDepth, 0);
  EXPECT_LE(counts.liveRing, ThumbnailCache::kLiveRingCapacity);
  for (uint32_t id = 1; id <= kWindows + 4; ++id) {
    const uint32_t key = id <= kWindows ? id : kTab + id - kWindows - 1;
    if (auto entry = cache.entryCopy(key)) {
      ASSERT_TRUE(entry->texture);
      EXPECT_EQ(entry->bytes, ThumbnailCache::Entry::bytesOf(*entry->texture)) << key;
    }
  }
}

TEST(PictureStoreStress, InterleavedOnTheRecordingDevice) { interleave(RecordingDevice::make(), 400); }

TEST(PictureStoreStress, InterleavedOnVulkanUnderTheValidationLayer) {
  VulkanTestDevice vk;
  ASSERT_TRUE(vk.device) << vk.error;
  interleave(vk.device, 60);
  vk.expectNoMessages();
}

}  // namespace
}  // namespace quorvel
