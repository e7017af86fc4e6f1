#include <gtest/gtest.h>

#include <cstring>

#include "base/ManualLoop.h"
#include "pictures/CardLabelCache.h"
#include "pictures/ChromeFakes.h"

namespace quorvel {
namespace {

using testing::DrawOp;
using testing::FakeRaster;
using testing::FakeUploader;

CardLabel label(std::string name, WindowState state = WindowState::onCurrentSpace,
                std::optional<int> space = std::nullopt, bool isPrivate = false,
                std::optional<std::string> tab = std::nullopt) {
  return CardLabel{std::move(name), state, space, isPrivate, std::move(tab)};
}

class CardLabelCacheTest : public ::testing::Test {
 protected:
  ManualLoop loop;
  FakeRaster raster;
  FakeUploader uploader;
  int wakes = 0;
  std::function<void()> onWake;
  std::shared_ptr<CardLabelCache> cache = CardLabelCache::make({loop.main(), raster, uploader, [this] {
                                                                   ++wakes;
                                                                   if (onWake) onWake();
                                                                 }});
};

TEST(ClippedTitle, TrimsFallsBackAndCutsLongTitlesAroundAnEllipsis) {
  EXPECT_EQ(clipped("  Inbox \n", "Mail"), "Inbox");
  EXPECT_EQ(clipped("   \n\t", "  Mail "), "Mail");
  const std::string forty(40, 'a');
  EXPECT_EQ(clipped(forty, "x"), forty);
  const std::string fortyOne = std::string(20, 'h') + "M" + std::string(20, 't');
  EXPECT_EQ(clipped(fortyOne, "x"), std::string(20, 'h') + "\u2026" + std::string(19, 't'));
  // Characters are user-perceived: an accented letter written as two code points counts once.
  std::string accented;
  for (int i = 0; i < 41; ++i) accented += "e\u0301";
  const std::string result = clipped(accented, "x");
  std::string expected;
  for (int i = 0; i < 20; ++i) expected += "e\u0301";
  expected += "\u2026";
  for (int i = 0; i < 19; ++i) expected += "e\u0301";
  EXPECT_EQ(result, expected);
}

TEST(CardLabelText, CaptionsSayWhereTheWindowIs) {
  EXPECT_EQ(CardLabelCache::caption(label("A", WindowState::onOtherSpace, 3, true)), "Private window");
  EXPECT_EQ(CardLabelCache::caption(label("A", WindowState::onOtherSpace, 3)), "On desktop 3");
  EXPECT_EQ(CardLabelCache::caption(label("A", WindowState::onOtherSpace)), "On another desktop");
  EXPECT_EQ(CardLabelCache::caption(label("A", WindowState::minimized)), "Minimized");
  EXPECT_EQ(CardLabelCache::caption(label("A", WindowState::hiddenApp)), "Hidden");
  EXPECT_EQ(CardLabelCache::caption(label("A", WindowState::windowlessApp)), "No open windows");
  EXPECT_EQ(CardLabelCache::caption(label("A", WindowState::onCurrentSpace)), std::nullopt);
  EXPECT_EQ(CardLabelCache::caption(label("A", WindowState::browserTab)), std::nullopt);

  const TextBlock plain = CardLabelCache::labelText(label("Safari"));
  ASSERT_EQ(plain.lines.size(), 1u);
  EXPECT_EQ(plain.lines[0], (TextLine{"Safari", 60, FontWeight::semibold, RasterColor::white()}));

  // A tab title takes the second line even where a caption would be.
  const TextBlock tab = CardLabelCache::labelText(label("Firefox", WindowState::minimized, {}, false, "News"));
  ASSERT_EQ(tab.lines.size(), 2u);
  EXPECT_EQ(tab.lines[1], (TextLine{"News", 45, FontWeight::regular, RasterColor::white(0.88)}));
  EXPECT_EQ(tab.lineSpacing, 3);
  EXPECT_EQ(tab.truncation, TextTruncation::tail);

  const TextBlock title = CardLabelCache::titleText("Report");
  EXPECT_EQ(title.truncation, TextTruncation::middle);
  EXPECT_EQ(title.lines[0], (TextLine{"Report", 72, FontWeight::medium, RasterColor::white(0.92)}));
}

TEST(CardLabelText, CountsShowUpToNineHundredNinetyNine) {
  EXPECT_EQ(CardLabelCache::countLabel(0), "0");
  EXPECT_EQ(CardLabelCache::countLabel(999), "999");
  EXPECT_EQ(CardLabelCache::countLabel(1000), "999+");
  EXPECT_EQ(CardLabelCache::countLabel(-12), "+12");
  EXPECT_EQ(CardLabelCache::countLabel(INT32_MIN), "+2147483648");
  EXPECT_EQ(CardLabelCache::countText(5).lines[0], (TextLine{"5", 88, FontWeight::semibold, RasterColor::white(0.95)}));
}

TEST_F(CardLabelCacheTest, PlatesAreSizedFromTheMeasuredTextWithInsetsAndMargins) {
  cache->prepareLabels({label("Safari"), label("Mail", WindowState::minimized)});
  cache->prepareTitles({CardTitle{"Quarterly"}});
  ASSERT_EQ(uploader.uploads.size(), 3u);
  // "Safari": 6 × 30 = 180 wide, 72 tall; label insets 39 and 27, margin 15.
  EXPECT_EQ(uploader.uploads[0]->width(), 180 + 2 * 39 + 2 * 15);
  EXPECT_EQ(uploader.uploads[0]->height(), 72 + 2 * 27 + 2 * 15);
  // "Mail" over "Minimized": the wider line (9 × 22.5 = 202.5 → 203) and 72 + 3 + 54 = 129.
  EXPECT_EQ(uploader.uploads[1]->width(), 203 + 2 * 39 + 2 * 15);
  EXPECT_EQ(uploader.uploads[1]->height(), 129 + 2 * 27 + 2 * 15);
  // Title "Quarterly": 9 × 36 = 324 wide, 86.4 → 87 tall; insets 60 and 32, margin 12.
  EXPECT_EQ(uploader.uploads[2]->width(), 324 + 2 * 60 + 2 * 12);
  EXPECT_EQ(uploader.uploads[2]->height(), 87 + 2 * 32 + 2 * 12);
  for (const auto& upload : uploader.uploads) EXPECT_EQ(upload->label, CardLabelCache::kMipLabel);

  // A long label is measured within 1080 pixels.
  cache->prepareLabels({label(std::string(100, 'W'))});
  EXPECT_EQ(uploader.uploads.back()->width(), 1080 + 2 * 39 + 2 * 15);
}

TEST_F(CardLabelCacheTest, PlatesAreDarkRoundedRectanglesWithTheTextInside) {
  cache->prepareLabels({label("Safari")});
  cache->prepareTitles({CardTitle{"Quarterly"}});
  const auto plates = raster.opsOf(DrawOp::Kind::roundedRect);
  ASSERT_EQ(plates.size(), 2u);
  // Label: the plate inside the margin, radius min(0.32 × height, 33).
  EXPECT_EQ(plates[0].rect, (Rect{15, 15, 258, 126}));
  EXPECT_DOUBLE_EQ(plates[0].value, 33);
  // Drawn opaque: the coverage of the plate; its opacity goes with the texture.
  EXPECT_EQ(plates[0].color, RasterColor::black(1));
  EXPECT_EQ(uploader.plateOpacities.at(0), CardLabelCache::kDefaultPlateOpacity);
  // Title: a capsule.
  EXPECT_EQ(plates[1].rect, (Rect{12, 12, 444, 151}));
  EXPECT_DOUBLE_EQ(plates[1].value, 151 / 2.0);
  const auto texts = raster.opsOf(DrawOp::Kind::text);
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0].rect, (Rect{54, 42, 180, 72}));
  EXPECT_EQ(texts[0].text, CardLabelCache::labelText(label("Safari")));
  // A short label's radius is 0.32 × its height.
  EXPECT_DOUBLE_EQ(CardLabelCache::metrics(CardLabelCache::PlateKind::label).cornerRadius(50), 16);
}

TEST_F(CardLabelCacheTest, PreparingAgainDrawsNothingAndTabLabelsAreKeptApart) {
  const CardLabel host = label("Firefox");
  const CardLabel tab = label("Firefox", WindowState::browserTab, {}, false, "News");
  cache->prepareLabels({host, tab, host, tab});
  EXPECT_EQ(uploader.uploads.size(), 2u);
  cache->prepareLabels({host, tab});
  EXPECT_EQ(uploader.uploads.size(), 2u);
  const auto counts = cache->counts();
  EXPECT_EQ(counts.labels, 1u);
  EXPECT_EQ(counts.tabLabels, 1u);
  EXPECT_NE(cache->labelTexture(host), nullptr);
  EXPECT_NE(cache->labelTexture(tab), cache->labelTexture(host));
}

TEST_F(CardLabelCacheTest, TabLabelsKeepTheFirstSixtyFourInInsertionOrder) {
  std::vector<CardLabel> tabs;
  for (int i = 0; i < 65; ++i) tabs.push_back(label("Firefox", WindowState::browserTab, {}, false, "Tab " + std::to_string(i)));
  cache->prepareLabels({tabs.begin(), tabs.begin() + 64});
  // Re-storing an existing key (through a fresh request after it was drawn) keeps its place.
  cache->prepareLabels({tabs[0]});
  cache->prepareLabels({tabs[64]});
  const auto order = cache->tabOrder();
  ASSERT_EQ(order.size(), 64u);
  EXPECT_EQ(order.front(), tabs[1]);
  EXPECT_EQ(order.back(), tabs[64]);
  // The evicted label is gone, and a lookup queues it again.
  const size_t before = uploader.uploads.size();
  EXPECT_EQ(cache->labelTexture(tabs[0]), nullptr);
  loop.runUntilIdle();
  EXPECT_EQ(uploader.uploads.size(), before + 1);
  EXPECT_NE(cache->labelTexture(tabs[0]), nullptr);
  EXPECT_EQ(cache->tabOrder().front(), tabs[2]);
}

// Applications keep coming and going over a session: the labels of those gone give way beyond 64,
// while one summon's labels all stay, however many.
TEST_F(CardLabelCacheTest, LabelsOfApplicationsThatLeftGiveWayBeyondSixtyFour) {
  const auto app = [](int i) { return label("App " + std::to_string(i)); };
  std::vector<CardLabel> shown;
  for (int i = 0; i < 100; ++i) shown.push_back(app(i));
  cache->beginSummon();
  cache->prepareLabels(shown);
  EXPECT_EQ(cache->counts().labels, 100u);
  for (const CardLabel& l : shown) EXPECT_NE(cache->labelTexture(l), nullptr);

  cache->beginSummon();
  cache->prepareLabels({app(100), app(99)});
  EXPECT_EQ(cache->counts().labels, CardLabelCache::kMaxLabels);
  EXPECT_EQ(cache->labelTexture(app(0)), nullptr);
  EXPECT_EQ(cache->labelTexture(app(36)), nullptr);
  EXPECT_NE(cache->labelTexture(app(37)), nullptr);
  EXPECT_NE(cache->labelTexture(app(100)), nullptr);
  // A label with a desktop number that left is asked for again on its next lookup.
  const CardLabel away = label("Away", WindowState::onOtherSpace, 2);
  cache->labelTexture(away);
  loop.runUntilIdle();
  ASSERT_NE(cache->labelTexture(away), nullptr);
  cache->beginSummon();
  for (int i = 200; i < 200 + static_cast<int>(CardLabelCache::kMaxLabels); ++i) cache->prepareLabels({app(i)});
  EXPECT_EQ(cache->labelTexture(away, false), nullptr);
  cache->labelTexture(away);
  loop.runUntilIdle();
  EXPECT_NE(cache->labelTexture(away), nullptr);
}

TEST_F(CardLabelCacheTest, TitlesKeepTheFirstFortySix) {
  for (int i = 0; i < 47; ++i) cache->prepareTitles({CardTitle{"Title " + std::to_string(i)}});
  const auto order = cache->titleOrder();
  ASSERT_EQ(order.size(), 46u);
  EXPECT_EQ(order.front(), "Title 1");
  EXPECT_EQ(cache->titleTexture("Title 0", false), nullptr);
  EXPECT_NE(cache->titleTexture("Title 46", false), nullptr);
}

// A summon whose frames show more plates than the bound: every frame asks for all of them, and
// each is drawn once however many frames ask; the next summon may evict them again.
TEST_F(CardLabelCacheTest, ASummonShowingMorePlatesThanTheBoundDrawsEachOnce) {
  const size_t shown = 3 * CardLabelCache::kMaxTitles;
  std::vector<CardLabel> tabs;
  for (size_t i = 0; i < shown; ++i)
    tabs.push_back(label("Firefox", WindowState::browserTab, {}, false, "Tab " + std::to_string(i)));
  cache->prepareTitles({CardTitle{"Drawn ahead"}});
  cache->beginSummon();
  for (int frame = 0; frame < 4; ++frame) {
    for (size_t i = 0; i < shown; ++i) {
      cache->titleTexture("Title " + std::to_string(i), true);
      cache->labelTexture(tabs[i]);
    }
    loop.runUntilIdle();
  }
  EXPECT_EQ(uploader.uploads.size(), 1 + 2 * shown);
  EXPECT_EQ(cache->counts().titles, shown);  // the plate drawn ahead and never shown made room
  EXPECT_EQ(cache->counts().tabLabels, shown);
  for (size_t i = 0; i < shown; ++i) EXPECT_NE(cache->titleTexture("Title " + std::to_string(i), false), nullptr);

  // The next summon shows other plates: the earlier ones leave, down to the bound.
  cache->beginSummon();
  for (int i = 0; i < 3; ++i) cache->titleTexture("Other " + std::to_string(i), true);
  loop.runUntilIdle();
  EXPECT_EQ(cache->counts().titles, CardLabelCache::kMaxTitles);
  EXPECT_NE(cache->titleTexture("Other 0", false), nullptr);
  EXPECT_EQ(cache->titleTexture("Title 0", false), nullptr);
}

TEST_F(CardLabelCacheTest, AMissingTabLabelFallsBackToItsHostAndIsQueuedOnce) {
  const CardLabel host = label("Firefox", WindowState::onOtherSpace, 2);
  cache->prepareLabels({host});
  const CardLabel tab = label("Firefox", WindowState::onOtherSpace, 2, false, "News");
  // A lookup that asks for no drawing (a card flying out) gets the fallback and queues nothing.
  EXPECT_EQ(cache->labelTexture(tab, false), cache->labelTexture(host));
  EXPECT_EQ(cache->counts().requestedLabels, 0u);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(cache->labelTexture(tab), cache->labelTexture(host));
  EXPECT_EQ(cache->counts().requestedLabels, 1u);
  const size_t before = uploader.uploads.size();
  loop.runUntilIdle();
  EXPECT_EQ(uploader.uploads.size(), before + 1);
  const ChromeTextureRef exact = cache->labelTexture(tab);
  ASSERT_NE(exact, nullptr);
  EXPECT_NE(exact, cache->labelTexture(host));

  // The host of a tab on the current desktop drops the desktop number.
  const CardLabel minimizedTab = label("Chrome", WindowState::minimized, 4, false, "Docs");
  cache->prepareLabels({label("Chrome", WindowState::minimized)});
  EXPECT_EQ(cache->labelTexture(minimizedTab), cache->labelTexture(label("Chrome", WindowState::minimized)));
  EXPECT_NE(cache->labelTexture(minimizedTab), nullptr);
}

TEST_F(CardLabelCacheTest, AMissingPlainLabelGivesNothingAndQueuesNothing) {
  EXPECT_EQ(cache->labelTexture(label("Notes")), nullptr);
  EXPECT_EQ(cache->counts().requestedLabels, 0u);
  loop.runUntilIdle();
  EXPECT_TRUE(uploader.uploads.empty());
  // With a desktop number it is queued, and the label without the number stands in.
  cache->prepareLabels({label("Notes", WindowState::onOtherSpace)});
  const CardLabel numbered = label("Notes", WindowState::onOtherSpace, 5);
  EXPECT_EQ(cache->labelTexture(numbered), cache->labelTexture(label("Notes", WindowState::onOtherSpace)));
  loop.runUntilIdle();
  EXPECT_EQ(raster.opsOf(DrawOp::Kind::text).back().text.lines[1].text, "On desktop 5");
}

TEST_F(CardLabelCacheTest, TitlesAndCountsAreQueuedOnAMissAndDrawnOnTheMainQueue) {
  EXPECT_EQ(cache->titleTexture("Draft", false), nullptr);
  EXPECT_EQ(cache->counts().requestedTitles, 0u);
  EXPECT_EQ(cache->titleTexture("Draft", true), nullptr);
  EXPECT_EQ(cache->titleTexture("Draft", true), nullptr);
  EXPECT_EQ(cache->countTexture(12), nullptr);
  EXPECT_EQ(cache->countTexture(12), nullptr);
  EXPECT_TRUE(uploader.uploads.empty());
  loop.runUntilIdle();
  EXPECT_EQ(uploader.uploads.size(), 2u);
  EXPECT_NE(cache->titleTexture("Draft", false), nullptr);
  const ChromeTextureRef count = cache->countTexture(12);
  ASSERT_NE(count, nullptr);
  // Count plate: "12" is 2 × 44 = 88 wide, 105.6 → 106 tall; insets 32 and 16, margin 12.
  EXPECT_EQ(count->width(), 88 + 64 + 24);
  EXPECT_EQ(count->height(), 106 + 32 + 24);
}

TEST_F(CardLabelCacheTest, AFailedDrawingStaysQueuedAndIsNotRetriedUntilTheOpacityChanges) {
  uploader.refuse = true;
  EXPECT_EQ(cache->titleTexture("Draft", true), nullptr);
  loop.runUntilIdle();
  EXPECT_EQ(uploader.refused, 1);
  uploader.refuse = false;
  EXPECT_EQ(cache->titleTexture("Draft", true), nullptr);
  loop.runUntilIdle();
  EXPECT_TRUE(uploader.uploads.empty());
  {
    std::unique_lock held(cache->lock());
    EXPECT_TRUE(cache->setPlateOpacity(held, 0.5));
  }
  EXPECT_EQ(cache->titleTexture("Draft", true), nullptr);
  loop.runUntilIdle();
  EXPECT_NE(cache->titleTexture("Draft", false), nullptr);
}

TEST_F(CardLabelCacheTest, ANewPlateOpacityDropsEveryPlateAndTheNextDrawingsUseIt) {
  cache->prepareLabels({label("Safari"), label("Firefox", WindowState::browserTab, {}, false, "News")});
  cache->prepareTitles({CardTitle{"A"}});
  cache->countTexture(3);
  loop.runUntilIdle();
  const size_t drawn = uploader.uploads.size();
  {
    std::unique_lock held(cache->lock());
    EXPECT_FALSE(cache->setPlateOpacity(held, CardLabelCache::kDefaultPlateOpacity));
  }
  EXPECT_NE(cache->labelTexture(label("Safari")), nullptr);
  EXPECT_NE(cache->countTexture(3), nullptr);
  {
    std::unique_lock held(cache->lock());
    EXPECT_TRUE(cache->setPlateOpacity(held, 0.6));
  }
  const auto counts = cache->counts();
  EXPECT_EQ(counts.labels + counts.tabLabels + counts.titles + counts.counts, 0u);
  EXPECT_EQ(counts.requestedLabels + counts.requestedTitles + counts.requestedCounts, 0u);
  EXPECT_TRUE(cache->tabOrder().empty());
  EXPECT_TRUE(cache->titleOrder().empty());
  cache->prepareLabels({label("Safari")});
  cache->titleTexture("A", true);
  cache->countTexture(3);
  loop.runUntilIdle();
  EXPECT_EQ(uploader.uploads.size(), drawn + 3);
  EXPECT_EQ(uploader.plateOpacities.back(), 0.6);
}

// A plate is drawn at the size the summon's screen shows it: a title as high as the chrome row
// shows it (half the 68-point count badge, on a screen of 2 pixels a point: 70 pixels), its fonts,
// insets and margins scaled together; a label stays at its nominal size where a large card shows
// it that large. A new screen draws every plate again.
TEST_F(CardLabelCacheTest, PlatesAreDrawnAtTheSizeTheScreenShowsThem) {
  EXPECT_FALSE(cache->setPlateScreen({}));
  cache->prepareTitles({CardTitle{"Quarterly"}});
  EXPECT_EQ(uploader.uploads.back()->height(), 87 + 2 * 32 + 2 * 12) << "no screen yet: nominal";
  EXPECT_TRUE(cache->setPlateScreen({2, 2160, 1}));
  EXPECT_EQ(cache->counts().titles, 0u);
  cache->prepareTitles({CardTitle{"Quarterly"}});
  cache->prepareLabels({label("Safari")});
  const auto& title = *uploader.uploads[uploader.uploads.size() - 2];
  EXPECT_NEAR(title.height(), 70, 1);
  const double scale = 70.0 / 175;
  EXPECT_NEAR(title.width(), 9 * 36 * scale + 2 * (60 + 12) * scale, 2);
  EXPECT_NEAR(raster.opsOf(DrawOp::Kind::text).at(1).text.lines[0].fontSize, 72 * scale, 0.1);
  EXPECT_EQ(uploader.uploads.back()->height(), 72 + 2 * 27 + 2 * 15) << "a label shown at its size";
  EXPECT_FALSE(cache->setPlateScreen({2, 2160, 1}));

  // The coverage of a plate: outside 0, the plate's edge below one half, text over it above.
  auto bitmap = RasterBitmap::make(3, 1);
  ASSERT_TRUE(bitmap);
  const uint8_t bgra[3][4] = {{0, 0, 0, 0}, {0, 0, 0, 128}, {200, 200, 200, 255}};
  std::memcpy(bitmap->data(), bgra, sizeof bgra);
  const PlateCoverage plate = PlateCoverage::fromBitmap(*bitmap, 0.5, true);
  EXPECT_EQ(plate.bytes, (std::vector<uint8_t>{0, 64, 228}));
  const RasterBitmap colours = plate.colours();
  EXPECT_EQ(colours.pixel(0, 0).alpha, 0);
  EXPECT_NEAR(colours.pixel(1, 0).alpha, 64, 1) << "half the edge of a plate of opacity 0.5";
  EXPECT_EQ(colours.pixel(1, 0).red, 0);
  EXPECT_NEAR(colours.pixel(2, 0).red, 201, 1) << "text of coverage 200/255 over the plate";
  EXPECT_NEAR(colours.pixel(2, 0).alpha, 228, 1);
}

// Labels without a tab title are bounded like the others, never evicting one the current summon
// drew or looked up.
TEST_F(CardLabelCacheTest, PlainLabelsKeepSixtyFourButNeverOneTheSummonUses) {
  std::vector<CardLabel> many;
  for (int i = 0; i < 70; ++i) many.push_back(label("App " + std::to_string(i)));
  cache->beginSummon();
  cache->prepareLabels(many);
  EXPECT_EQ(cache->counts().labels, 70u) << "a summon showing 70 keeps all 70";
  cache->beginSummon();
  EXPECT_NE(cache->labelTexture(many[0]), nullptr);  // still shown by the next summon
  cache->prepareLabels({label("Late")});
  EXPECT_EQ(cache->counts().labels, 64u);
  EXPECT_NE(cache->labelTexture(many[0]), nullptr) << "in use: kept";
  EXPECT_EQ(cache->labelTexture(many[1]), nullptr) << "the oldest unused went first";
  EXPECT_NE(cache->labelTexture(label("Late")), nullptr);
}

TEST_F(CardLabelCacheTest, TheSceneIsWokenOnceThePlateCanBeFound) {
  // A frame woken by the upload must find the new plate: the wake comes after the store.
  bool foundAtWake = false;
  onWake = [&] { foundAtWake = cache->labelTexture(label("Safari")) != nullptr; };
  cache->prepareLabels({label("Safari")});
  EXPECT_EQ(wakes, 1);
  EXPECT_TRUE(foundAtWake);
  onWake = [&] { foundAtWake = cache->titleTexture("T", false) != nullptr; };
  cache->prepareTitles({CardTitle{"T"}});
  EXPECT_TRUE(foundAtWake);
  onWake = [&] { foundAtWake = cache->countTexture(4) != nullptr; };
  cache->requestCount(4);
  loop.runUntilIdle();
  EXPECT_TRUE(foundAtWake);
  // A refused upload wakes nothing.
  uploader.refuse = true;
  const int before = wakes;
  cache->prepareLabels({label("Mail")});
  EXPECT_EQ(wakes, before);
}

TEST_F(CardLabelCacheTest, QueuedPlatesAreDrawnOneATurnSoOtherMainQueueWorkGoesBetween) {
  cache->prepareTitles({CardTitle{"Stored"}});
  const size_t before = uploader.uploads.size();
  cache->queueTitles({CardTitle{"A"}, CardTitle{"Stored"}, CardTitle{"B"}, CardTitle{"A"}});
  cache->queueLabels({label("Mail")});
  EXPECT_EQ(cache->titleTexture("A", true), nullptr);  // a request of a queued plate adds nothing
  EXPECT_EQ(uploader.uploads.size(), before) << "queueing draws nothing";
  // Work posted after the queueing (an input event, say) waits for one plate, not for all of them.
  std::optional<size_t> atInput;
  loop.main().post([&] { atInput = uploader.uploads.size() - before; });
  loop.runUntilIdle();
  ASSERT_TRUE(atInput);
  EXPECT_LE(*atInput, 1u);
  EXPECT_EQ(uploader.uploads.size(), before + 3) << "A, B and Mail, each once";
  EXPECT_NE(cache->titleTexture("B", false), nullptr);
  EXPECT_NE(cache->labelTexture(label("Mail")), nullptr);
  // Requests from other threads go through the same list.
  EXPECT_EQ(cache->countTexture(3), nullptr);
  EXPECT_EQ(cache->titleTexture("C", true), nullptr);
  atInput.reset();
  loop.main().post([&] { atInput = uploader.uploads.size() - before; });
  loop.runUntilIdle();
  EXPECT_EQ(*atInput, 4u);
  EXPECT_EQ(uploader.uploads.size(), before + 5);
}

TEST_F(CardLabelCacheTest, AQueuedDrawingOfACacheThatIsGoneDoesNothing) {
  cache->requestTitle("Late");
  cache.reset();
  loop.runUntilIdle();
  EXPECT_TRUE(uploader.uploads.empty());
}

}  // namespace
}  // namespace quorvel
