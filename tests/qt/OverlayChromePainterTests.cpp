#include <algorithm>
#include <gtest/gtest.h>

#include "base/DefaultsStore.h"
#include "base/ManualLoop.h"
#include "overlay/OverlayChromePainter.h"
#include "overlay/OverlayContentView.h"
#include "overlay/qt/QtOverlayTextMetrics.h"
#include "platform/qt/QtRaster.h"
#include "settings/AppSettings.h"

namespace quorvel {
namespace {

// The overlay's chrome drawn with Qt (the test binary's environment makes the application object).
class OverlayChromePainterTest : public ::testing::Test {
 protected:
  OverlayChromePainterTest() {
    settings.registerDefaults();
    view.setFrameSize({800, 600});
    view.configure(false, 2.0);
  }
  // The pixel at view point (x, y) of a bitmap drawn at scale 2 (rows from the top).
  static RasterBitmap::Pixel at(const RasterBitmap& b, double x, double y) {
    return b.pixel(static_cast<int>(x * 2), b.height() - 1 - static_cast<int>(y * 2));
  }

  ManualLoop loop;
  DefaultsStore store;
  AppSettings settings{store};
  QtOverlayTextMetrics metrics;
  QtRaster raster;
  OverlayContentView view{OverlayContentView::Services{metrics, loop.main(), settings, {}, {}, {}, {}, {}, {}}};
};

TEST_F(OverlayChromePainterTest, CapsulesAreGlassWhereTheLayoutPutsThemAndTheRestIsClear) {
  view.showTitle("Quarterly report");
  OverlayChromePainter painter(raster);
  const Instant later = loop.clock().now() + fromSeconds(1);
  auto bitmap = painter.paint(view, 2.0, later);
  ASSERT_TRUE(bitmap);
  EXPECT_EQ(bitmap->width(), 1600);
  const Rect title = view.titleCapsule.frame;
  const RasterBitmap::Pixel glass = at(*bitmap, title.x + title.height / 2, title.maxY() - 2);
  const RasterColor g = OverlayChromePainter::kGlass;
  EXPECT_NEAR(glass.alpha, g.alpha * 255, 2);
  EXPECT_NEAR(glass.blue, g.blue * g.alpha * 255, 2);
  EXPECT_EQ(at(*bitmap, title.x - 2, title.midY()).alpha, 0);
  EXPECT_EQ(at(*bitmap, 10, 10).alpha, 0);
  // The text is lighter than the glass somewhere along the title's middle.
  int brightest = 0;
  for (double x = title.x; x < title.maxX(); x += 0.5) brightest = std::max<int>(brightest, at(*bitmap, x, title.midY()).green);
  EXPECT_GT(brightest, 120);
  // The idle search pill shows at half strength, drawn at 97 % of its frame.
  const Rect pill = view.searchCapsule.frame;
  const RasterBitmap::Pixel pillPixel = at(*bitmap, pill.midX(), pill.maxY() - 2);
  EXPECT_NEAR(pillPixel.alpha, g.alpha * 0.5 * 255, 2);
  EXPECT_EQ(at(*bitmap, pill.midX(), pill.maxY() - 0.25).alpha, 0);
}

TEST_F(OverlayChromePainterTest, AHiddenOverlayDrawsNothing) {
  store.set(AppSettings::Key::searchEnabled, false);
  store.set(AppSettings::Key::showTips, false);
  view.configure(false, 2.0);
  OverlayChromePainter painter(raster);
  auto bitmap = painter.paint(view, 2.0, loop.clock().now());
  ASSERT_TRUE(bitmap);
  EXPECT_TRUE(bitmap->isBlank());
}

// Every pixel with any coverage lies in a rectangle the painter reported; the rectangles are few,
// disjoint and a small share of the screen.
void expectPaintedPixelsReported(OverlayChromePainter& painter, const OverlayContentView& view, Instant now,
                                 const char* what) {
  RasterRegions painted;
  auto bitmap = painter.paint(view, 2.0, now, &painted);
  ASSERT_TRUE(bitmap) << what;
  ASSERT_FALSE(bitmap->isBlank()) << what;
  ASSERT_FALSE(painted.empty()) << what;
  EXPECT_LE(painted.rects().size(), RasterRegions::kMaxCount) << what;
  int outside = 0;
  std::pair<int, int> firstOutside{-1, -1};
  for (int y = 0; y < bitmap->height(); ++y)
    for (int x = 0; x < bitmap->width(); ++x)
      if (bitmap->pixel(x, y).alpha > 0 && !painted.contains(x, y)) {
        if (outside++ == 0) firstOutside = {x, y};
      }
  EXPECT_EQ(outside, 0) << what << ": first at " << firstOutside.first << "," << firstOutside.second;
  const auto& rects = painted.rects();
  for (size_t i = 0; i < rects.size(); ++i)
    for (size_t j = i + 1; j < rects.size(); ++j) EXPECT_FALSE(rects[i].overlaps(rects[j])) << what;
  EXPECT_LT(painted.area(), static_cast<long>(bitmap->width()) * bitmap->height() / 5) << what;
}

TEST_F(OverlayChromePainterTest, EveryPaintedPixelLiesInsideAReportedRectangle) {
  OverlayChromePainter painter(raster);
  const auto later = [&] { return loop.clock().now() + fromSeconds(1); };
  // The title over the idle search pill and its tip.
  view.showTitle("Quarterly report \xE2\x80\x94 jumpy glyphs gjpqy \xC3\x89\xC3\x85 and a long tail of words");
  ASSERT_EQ(view.shownTip(), OverlayTip::search);
  expectPaintedPixelsReported(painter, view, later(), "title, pill and tip");

  // Searching: the capsule with its glyph, text scrolled to the caret, and the caret.
  view.beginSearch();
  view.setSearchText("jumpy gjpqy \xC3\x89\xC3\x85 search text long enough to scroll past the field", 12);
  loop.advance(fromSeconds(1));
  expectPaintedPixelsReported(painter, view, later(), "search with text and caret");
  view.endSearch();

  // The empty state with its message and hint, both ways.
  view.hideTitle();
  view.showEmptyState(true);
  loop.advance(fromSeconds(1));
  expectPaintedPixelsReported(painter, view, later(), "empty state");
  view.showEmptyState(false);
  loop.advance(fromSeconds(1));
  expectPaintedPixelsReported(painter, view, later(), "empty state without screen recording");
}

TEST_F(OverlayChromePainterTest, PaintingIntoAnEarlierBitmapGivesTheSamePixelsAsANewOne) {
  OverlayChromePainter painter(raster);
  const auto later = [&] { return loop.clock().now() + fromSeconds(1); };
  // A long title, then a short one in the bitmap it was painted in, then the search with its text.
  view.showTitle("Quarterly report with a long tail of words that reaches far across");
  RasterRegions firstPainted;
  std::optional<RasterBitmap> bitmap = painter.paint(view, 2.0, later(), &firstPainted);
  ASSERT_TRUE(bitmap);
  const uint8_t* memory = bitmap->data();
  view.showTitle("Notes");
  RasterRegions painted;
  std::optional<RasterBitmap> again = painter.paint(view, 2.0, later(), &painted, std::move(bitmap), firstPainted);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->data(), memory) << "the same memory, painted anew";
  RasterRegions freshPainted;
  const std::optional<RasterBitmap> fresh = painter.paint(view, 2.0, later(), &freshPainted);
  ASSERT_TRUE(fresh);
  EXPECT_EQ(painted.rects(), freshPainted.rects());
  EXPECT_TRUE(std::equal(again->data(), again->data() + again->byteCount(), fresh->data()))
      << "no pixel of the long title is left";

  view.beginSearch();
  view.setSearchText("jumpy gjpqy", 6);
  loop.advance(fromSeconds(1));
  RasterRegions thirdPainted;
  again = painter.paint(view, 2.0, later(), &thirdPainted, std::move(again), painted);
  const std::optional<RasterBitmap> freshSearch = painter.paint(view, 2.0, later());
  ASSERT_TRUE(again && freshSearch);
  EXPECT_TRUE(std::equal(again->data(), again->data() + again->byteCount(), freshSearch->data()));

  // A bitmap of another size is not used: the chrome gets one of the view's.
  std::optional<RasterBitmap> small = RasterBitmap::make(8, 8);
  const std::optional<RasterBitmap> sized = painter.paint(view, 2.0, later(), nullptr, std::move(small), RasterRegions{});
  ASSERT_TRUE(sized);
  EXPECT_EQ(sized->width(), 1600);
  EXPECT_EQ(sized->height(), 1200);
}

// The sheet holds each painted rectangle with exactly the full bitmap's pixels there, in a bitmap
// far smaller than the view's, and a sheet painted before is painted into again.
TEST_F(OverlayChromePainterTest, ASheetHoldsThePaintedRectanglesPixelForPixel) {
  OverlayChromePainter painter(raster);
  const auto later = [&] { return loop.clock().now() + fromSeconds(1); };
  const auto expectSame = [&](const char* what, std::optional<RasterBitmap> reuse) {
    RasterRegions painted;
    const std::optional<RasterBitmap> full = painter.paint(view, 2.0, later(), &painted);
    std::optional<RasterSheet> sheet = painter.paintSheet(view, 2.0, later(), std::move(reuse));
    EXPECT_TRUE(full && sheet) << what;
    if (!full || !sheet) return std::optional<RasterBitmap>{};
    EXPECT_EQ(sheet->painted.rects(), painted.rects()) << what;
    EXPECT_EQ(sheet->painted.width(), 1600);
    EXPECT_LT(sheet->pixels.byteCount() * 4, full->byteCount()) << what;
    const std::vector<RasterRegion> places = RasterSheet::places(sheet->painted);
    long differing = 0;
    for (size_t i = 0; i < places.size(); ++i) {
      const RasterRegion& r = painted.rects()[i];
      for (int y = 0; y < r.height; ++y)
        for (int x = 0; x < r.width; ++x)
          differing += !(full->pixel(r.x + x, r.y + y) == sheet->pixels.pixel(places[i].x + x, places[i].y + y));
    }
    EXPECT_EQ(differing, 0) << what;
    return std::optional<RasterBitmap>(std::move(sheet->pixels));
  };
  view.showTitle("Quarterly report \xE2\x80\x94 jumpy glyphs gjpqy and a long tail of words");
  std::optional<RasterBitmap> reuse = expectSame("title, pill and tip", std::nullopt);
  view.beginSearch();
  view.setSearchText("jumpy gjpqy search text long enough to scroll past the field", 12);
  loop.advance(fromSeconds(1));
  expectSame("search with glyph, text and caret, in the last sheet", std::move(reuse));
}

TEST_F(OverlayChromePainterTest, TheBuildBadgeIsReportedAndNothingPaintedReportsNothing) {
  store.set(AppSettings::Key::searchEnabled, false);
  store.set(AppSettings::Key::showTips, false);
  OverlayContentView badged{OverlayContentView::Services{
      metrics, loop.main(), settings, {}, {}, {}, [] { return std::optional<std::string>("local build \xC2\xB7 0.1 (3)"); },
      {}, {}}};
  badged.setFrameSize({800, 600});
  badged.configure(false, 2.0);
  OverlayChromePainter painter(raster);
  expectPaintedPixelsReported(painter, badged, loop.clock().now() + fromSeconds(1), "build badge");

  view.configure(false, 2.0);
  RasterRegions painted = RasterRegions::whole(4, 4);
  auto bitmap = painter.paint(view, 2.0, loop.clock().now(), &painted);
  ASSERT_TRUE(bitmap);
  EXPECT_TRUE(bitmap->isBlank());
  EXPECT_TRUE(painted.empty());
}

}  // namespace
}  // namespace quorvel
