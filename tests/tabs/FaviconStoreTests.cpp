#include <gtest/gtest.h>

#include "SiteIconFakes.h"
#include <atomic>
#include <thread>

#include "base/LogHub.h"
#include "base/SystemClock.h"
#include "base/ThreadQueue.h"
#include "tabs/FaviconStore.h"

namespace quorvel {
namespace {

using namespace siteicons;

class FaviconStoreTest : public ::testing::Test {
 protected:
  FaviconStoreTest() { LogHub::shared().setStandardErrorEnabled(false); }
  ~FaviconStoreTest() override { LogHub::shared().setStandardErrorEnabled(true); }

  std::vector<SiteIcon> icons(int first, int count) {
    std::vector<SiteIcon> result;
    for (int i = first; i < first + count; ++i) result.push_back({site(i), iconBytes(site(i))});
    return result;
  }
  static std::string site(int i) { return "site" + std::to_string(i) + ".example"; }

  // Runs decoding and main-queue turns until both queues are idle; the number of turns run.
  size_t settle() {
    size_t turns = 0;
    while (size_t ran = decoding.runAll() + loop.runAll()) turns += ran;
    return turns;
  }

  SteppedQueue loop;      // the main queue
  SteppedQueue decoding;  // the decoding queue
  FakeTextureMaker maker;
  FakeDecoder decoder;
  int wakes = 0;
  std::function<void()> onWake;
  std::shared_ptr<FaviconStore> store = FaviconStore::create(
      maker, decoder,
      [this] {
        ++wakes;
        if (onWake) onWake();
      },
      loop, decoding);
};

TEST_F(FaviconStoreTest, FortyIconsAreDecodedOffTheMainQueueAndBecomeTexturesInTurnsOfSixteenInTheOrderGiven) {
  bool decodedOnMain = false;
  decoder.onDecode = [&] { decodedOnMain = decodedOnMain || loop.isCurrent(); };
  store->enqueue(icons(0, 40));
  EXPECT_TRUE(store->isDraining());
  EXPECT_EQ(store->pendingCount(), 40u);

  size_t before = 0;
  for (size_t made : {16u, 32u, 40u}) {
    ASSERT_TRUE(decoding.runOne());
    EXPECT_EQ(store->pendingCount(), 40u - made);
    EXPECT_EQ(store->siteOrder().size(), before);  // the textures are made on the main queue
    ASSERT_TRUE(loop.runOne());
    EXPECT_EQ(store->siteOrder().size(), made);
    before = made;
  }
  EXPECT_FALSE(store->isDraining());
  EXPECT_EQ(settle(), 0u);
  EXPECT_FALSE(decodedOnMain);

  std::vector<std::string> expected;
  for (int i = 0; i < 40; ++i) expected.push_back(site(i));
  EXPECT_EQ(store->siteOrder(), expected);
  EXPECT_EQ(wakes, 40);
  EXPECT_EQ(store->texture(0), nullptr);  // no tab knows a site yet
}

TEST_F(FaviconStoreTest, ADecodingTurnEndsOnceItsTimeBudgetHasPassed) {
  // Each icon takes 30 ms to decode: a turn of 50 ms decodes two, and hands them over at once.
  decoder.onDecode = [&] { decoding.virtualClock().advance(std::chrono::milliseconds(30)); };
  store->enqueue(icons(0, 5));
  ASSERT_TRUE(decoding.runOne());
  EXPECT_EQ(decoder.decoded.size(), 2u);
  EXPECT_EQ(loop.runAll(), 1u);
  EXPECT_EQ(store->siteOrder().size(), 2u);
  EXPECT_EQ(settle(), 4u);  // two more decoding turns, each with its main-queue turn
  EXPECT_EQ(store->siteOrder().size(), 5u);
}

TEST_F(FaviconStoreTest, TheSceneIsWokenOnlyOnceTheNewTextureCanBeFound) {
  store->setTabSite(7, site(1));
  std::vector<bool> foundAtWake;
  onWake = [&] { foundAtWake.push_back(store->texture(7) != nullptr); };
  store->enqueue(icons(1, 1));
  settle();
  EXPECT_EQ(foundAtWake, std::vector<bool>{true});
  EXPECT_EQ(fake(store->texture(7)).label, FaviconStore::kMipmapLabel);
}

TEST_F(FaviconStoreTest, ASiteIsDecodedOnceWhereverItsBytesComeFrom) {
  store->enqueue(icons(1, 1));
  store->enqueue(icons(1, 1));  // waits in the queue beside the first: no check within pending
  EXPECT_EQ(store->pendingCount(), 2u);
  EXPECT_EQ(settle(), 2u);  // one decoding turn, one main-queue turn
  EXPECT_EQ(maker.made, 1);
  EXPECT_EQ(decoder.decoded.size(), 1u);

  store->enqueue(icons(1, 1));  // the site has its texture now: dropped at once
  EXPECT_EQ(store->pendingCount(), 0u);
  EXPECT_FALSE(store->isDraining());
  EXPECT_EQ(settle(), 0u);
  store->enqueue({});
  EXPECT_EQ(settle(), 0u);
}

TEST_F(FaviconStoreTest, BytesThatDoNotBecomeATextureLeaveNothingBehind) {
  store->setTabSite(1, "bad.example");
  store->insertCrop(1, cropTexture(1));
  store->enqueue({{"bad.example", {'x', 'y'}}});
  settle();
  EXPECT_TRUE(store->siteOrder().empty());
  EXPECT_EQ(fake(store->texture(1)).serial, -1);  // still the crop

  maker.failing = true;
  store->enqueue(icons(2, 1));
  settle();
  EXPECT_TRUE(store->siteOrder().empty());
  EXPECT_EQ(wakes, 0);
  EXPECT_FALSE(store->isDraining());

  // A later hand-over of the site's bytes tries again.
  maker.failing = false;
  store->enqueue(icons(2, 1));
  settle();
  EXPECT_EQ(store->siteOrder(), std::vector<std::string>{site(2)});

  // Bytes past the budget of waiting icons are not kept; a later hand-over tries again.
  std::vector<SiteIcon> large;
  for (int i = 3; i < 7; ++i) {
    large.push_back({site(i), iconBytes(site(i))});
    large.back().data.resize(FaviconStore::kPendingBytes / 3, 'x');
  }
  store->enqueue(large);
  EXPECT_EQ(store->pendingCount(), 3u);
  settle();
  store->enqueue({large[3]});
  EXPECT_EQ(store->pendingCount(), 1u);
}

TEST_F(FaviconStoreTest, ATabShowsItsSiteIconThenItsCropOnceTheSiteIsEvicted) {
  store->insertCrop(5, cropTexture(5));
  EXPECT_EQ(fake(store->texture(5)).serial, -5);
  store->setTabSite(5, site(0));
  EXPECT_EQ(fake(store->texture(5)).serial, -5);  // a site without a texture shows the crop

  store->enqueue(icons(0, 1));
  settle();
  EXPECT_GT(fake(store->texture(5)).serial, 0);

  store->enqueue(icons(1, FaviconStore::kSiteLimit));  // the 257th site pushes the first out
  settle();
  EXPECT_EQ(store->siteOrder().size(), FaviconStore::kSiteLimit);
  EXPECT_EQ(store->siteOrder().front(), site(1));
  EXPECT_EQ(fake(store->texture(5)).serial, -5);
  EXPECT_EQ(store->texture(6), nullptr);
}

TEST_F(FaviconStoreTest, CropsAreCappedAndReplacingOneKeepsItsAge) {
  for (uint32_t tab = 0; tab < FaviconStore::kTabLimit; ++tab) store->insertCrop(tab, cropTexture(int(tab) + 1));
  store->insertCrop(0, cropTexture(1000));
  store->insertCrop(500, cropTexture(500));
  EXPECT_EQ(store->cropOrder().size(), FaviconStore::kTabLimit);
  EXPECT_EQ(store->cropOrder().front(), 1u);
  EXPECT_EQ(store->texture(0), nullptr);
}

TEST_F(FaviconStoreTest, PruningFollowsTheOverlaysTabsAndTheSetting) {
  store->insertCrop(1, cropTexture(1));
  store->insertCrop(2, cropTexture(2));
  store->setTabSite(1, site(0));
  store->setTabSite(2, site(0));
  store->enqueue(icons(0, 1));
  settle();

  store->pruneToTabs({1}, true);
  EXPECT_EQ(store->cropOrder(), std::vector<uint32_t>{1});
  EXPECT_EQ(store->tabSiteCount(), 1u);
  EXPECT_EQ(store->siteOrder().size(), 1u);  // sites are never pruned by tab

  store->enqueue(icons(1, 3));
  store->pruneToTabs({1}, false);
  EXPECT_TRUE(store->siteOrder().empty());
  EXPECT_EQ(store->tabSiteCount(), 0u);
  EXPECT_EQ(store->pendingCount(), 0u);
  EXPECT_EQ(fake(store->texture(1)).serial, -1);
  settle();  // the scheduled turn finds nothing to do
  EXPECT_TRUE(store->siteOrder().empty());
  EXPECT_FALSE(store->isDraining());
}

TEST_F(FaviconStoreTest, ATurnThatFindsTheStoreGoneDoesNothing) {
  store->enqueue(icons(0, 3));
  store.reset();
  EXPECT_EQ(settle(), 1u);
  EXPECT_TRUE(decoder.decoded.empty());
  EXPECT_EQ(maker.calls, 0);
}

}  // namespace
}  // namespace quorvel

namespace quorvel {
namespace {

using namespace siteicons;

// The store's four kinds of callers at once, each on its own thread, as in the program: the
// resolver's queue hands sites and bytes, the main queue drains, the render thread looks textures
// up and the picture cache hands crops.
TEST(FaviconStoreThreads, CallersOnEveryThreadSeeConsistentTables) {
  LogHub::shared().setStandardErrorEnabled(false);
  FakeTextureMaker maker;
  FakeDecoder decoder;
  std::atomic<int> wakes{0};
  {
    ThreadQueue mainQueue("main", QueueQos::userInteractive, SystemClock::shared());
    ThreadQueue decodeQueue("decoding", QueueQos::utility, SystemClock::shared());
    auto store = FaviconStore::create(maker, decoder, [&] { ++wakes; }, mainQueue, decodeQueue);
    std::atomic<bool> done{false};
    std::thread render([&] {
      while (!done) {
        for (uint32_t tab = 0; tab < 64; ++tab) {
          if (IconTextureRef texture = store->texture(tab)) {
            EXPECT_NE(fake(texture).serial, 0);
          }
        }
      }
    });
    std::thread pictures([&] {
      for (int round = 0; round < 200; ++round) {
        for (uint32_t tab = 0; tab < 64; ++tab) store->insertCrop(tab, cropTexture(int(tab) + 1));
        if (round % 10 == 0) store->pruneToTabs({1, 2, 3}, true);
      }
    });
    for (int round = 0; round < 20; ++round) {
      std::vector<SiteIcon> icons;
      for (int i = 0; i < 20; ++i) {
        const std::string site = "s" + std::to_string(round * 20 + i) + ".example";
        store->setTabSite(uint32_t(i), site);
        icons.push_back({site, iconBytes(site)});
      }
      store->enqueue(std::move(icons));
      store->forgetTabSite(uint32_t(round));
    }
    pictures.join();
    decodeQueue.shutdown();  // runs every decoding turn still scheduled,
    mainQueue.shutdown();    // then every texture turn they handed over
    done = true;
    render.join();
    EXPECT_EQ(store->pendingCount(), 0u);
    EXPECT_FALSE(store->isDraining());
    EXPECT_EQ(store->siteOrder().size(), FaviconStore::kSiteLimit);
  }
  EXPECT_EQ(wakes.load(), 400);
  LogHub::shared().setStandardErrorEnabled(true);
}

}  // namespace
}  // namespace quorvel
