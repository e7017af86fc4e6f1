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

}  // namespace
}  // namespace quorvel
