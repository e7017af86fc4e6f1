#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QTemporaryDir>
#include <cstdlib>
#include <fstream>

#include "platform/DesktopPalette.h"
#include "platform/qt/QtDesktopPalette.h"
#include "platform/qt/QtRaster.h"
#include "pictures/SymbolGlyphs.h"

namespace quorvel {
namespace {

// Qt needs its application object for fonts; the tests draw offscreen.
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "test_qt";
    static char* argv[] = {name, nullptr};
    app_ = std::make_unique<QGuiApplication>(argc, argv);
  }
  void TearDown() override { app_.reset(); }

 private:
  std::unique_ptr<QGuiApplication> app_;
};

const auto* const environment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

TextBlock oneLine(std::string text, double size = 40, TextTruncation truncation = TextTruncation::tail) {
  TextBlock block;
  block.truncation = truncation;
  block.lines.push_back({std::move(text), size, FontWeight::regular, RasterColor::white()});
  return block;
}

TEST(QtRaster, MeasuresLinesWithLeadingSpacingAndTruncation) {
  QtRaster raster;
  const Size one = raster.measureText(oneLine("Terminal"), 1000);
  EXPECT_GT(one.width, 80);
  EXPECT_GT(one.height, 40);  // a 40-pixel font with its ascent, descent and leading
  TextBlock two = oneLine("Terminal");
  two.lineSpacing = 3;
  two.lines.push_back({"Minimized", 30, FontWeight::regular, RasterColor::white()});
  const Size both = raster.measureText(two, 1000);
  EXPECT_GT(both.height, one.height + 30 + 3);
  // A line wider than the box is cut to it.
  const Size cut = raster.measureText(oneLine(std::string(200, 'W')), 300);
  EXPECT_LE(cut.width, 300);
  EXPECT_GT(cut.width, 200);
  // Heavier weights are wider.
  TextBlock bold = oneLine("Terminal");
  bold.lines[0].weight = FontWeight::bold;
  EXPECT_GE(raster.measureText(bold, 1000).width, one.width);
  EXPECT_EQ(raster.measureText(TextBlock{}, 100), (Size{0, 0}));
}

TEST(QtRaster, DrawsPremultipliedWithTheOriginAtTheBottomLeft) {
  QtRaster raster;
  auto bitmap = RasterBitmap::make(40, 20);
  ASSERT_TRUE(bitmap);
  {
    auto canvas = raster.beginDrawing(*bitmap);
    canvas->fillRoundedRect({0, 0, 40, 10}, 0, RasterColor::white(0.5));
  }
  // The bottom half is covered (rows 10 to 19 in memory), the top half is not.
  EXPECT_EQ(bitmap->pixel(5, 0), (RasterBitmap::Pixel{}));
  const RasterBitmap::Pixel p = bitmap->pixel(5, 15);
  EXPECT_NEAR(p.alpha, 128, 1);
  EXPECT_NEAR(p.red, 128, 1);  // premultiplied: white at half alpha stores half intensity
  EXPECT_NEAR(p.blue, 128, 1);
}

TEST(QtRaster, SymbolsAreTintedAndImagesReplaceWhatIsBeneath) {
  QtRaster raster;
  auto bitmap = RasterBitmap::make(96, 96);
  {
    auto canvas = raster.beginDrawing(*bitmap);
    canvas->fillRoundedRect({0, 0, 96, 96}, 0, RasterColor::black());
    canvas->drawSymbol(*SymbolGlyphs::named("minus.circle.fill"), 80, SymbolWeight::semibold, {48, 48},
                       RasterColor{1, 0, 0, 1});
  }
  // The disc is red, its bar cut out shows the black beneath, the corners stay black.
  EXPECT_EQ(bitmap->pixel(48, 25), (RasterBitmap::Pixel{0, 0, 255, 255}));
  EXPECT_EQ(bitmap->pixel(48, 48), (RasterBitmap::Pixel{0, 0, 0, 255}));
  EXPECT_EQ(bitmap->pixel(1, 1), (RasterBitmap::Pixel{0, 0, 0, 255}));

  // Copy compositing: a transparent image leaves a transparent hole.
  auto clear = RasterBitmap::make(8, 8);
  {
    auto canvas = raster.beginDrawing(*bitmap);
    canvas->drawImage(*clear, {0, 0, 16, 16});
  }
  EXPECT_EQ(bitmap->pixel(4, 90).alpha, 0);
  EXPECT_EQ(bitmap->pixel(30, 90).alpha, 255);
}

TEST(QtRaster, EveryBadgeSymbolLeavesMarksInsideItsBox) {
  QtRaster raster;
  for (const char* name : {"display", "minus.circle.fill", "eye.slash.fill", "macwindow.badge.plus",
                           "rectangle.topthird.inset.filled", "arrow.up.left.and.arrow.down.right"}) {
    auto bitmap = RasterBitmap::make(128, 128);
    {
      auto canvas = raster.beginDrawing(*bitmap);
      canvas->drawSymbol(*SymbolGlyphs::named(name), 64, SymbolWeight::semibold, {64, 64}, RasterColor::white());
    }
    EXPECT_FALSE(bitmap->isBlank()) << name;
    // Nothing outside the symbol's box (at most 1.24 em wide and 1 em tall, centred).
    for (int y = 0; y < 128; ++y) {
      for (int x = 0; x < 128; ++x) {
        if (std::abs(x - 64) > 42 || std::abs(y - 64) > 34) {
          ASSERT_EQ(bitmap->pixel(x, y).alpha, 0) << name;
        }
      }
    }
  }
}

TEST(QtRaster, DrawsCentredTextTruncatedToItsBox) {
  QtRaster raster;
  auto bitmap = RasterBitmap::make(200, 60);
  {
    auto canvas = raster.beginDrawing(*bitmap);
    canvas->drawText(oneLine(std::string(60, 'M'), 40, TextTruncation::middle), {20, 0, 160, 60});
  }
  EXPECT_FALSE(bitmap->isBlank());
  // Nothing is drawn outside the box's columns.
  for (int y = 0; y < 60; ++y) {
    EXPECT_EQ(bitmap->pixel(5, y).alpha, 0);
    EXPECT_EQ(bitmap->pixel(195, y).alpha, 0);
  }
}

TEST(QtRaster, DecodesPictureAndVectorFilesAndRefusesTheRest) {
  QtRaster raster;
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QImage png(32, 16, QImage::Format_ARGB32);
  png.fill(QColor(0, 0, 255, 255));
  const std::string pngPath = dir.filePath("icon.png").toStdString();
  ASSERT_TRUE(png.save(QString::fromStdString(pngPath)));
  auto decoded = raster.decodeImage(pngPath, 64);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->width(), 64);
  EXPECT_EQ(decoded->height(), 32);
  EXPECT_EQ(decoded->pixel(10, 10), (RasterBitmap::Pixel{255, 0, 0, 255}));

  const std::string svgPath = dir.filePath("icon.svg").toStdString();
  std::ofstream(svgPath) << "<svg xmlns='http://www.w3.org/2000/svg' width='16' height='16'>"
                            "<rect width='16' height='16' fill='#00ff00'/></svg>";
  auto vector = raster.decodeImage(svgPath, 128);
  ASSERT_TRUE(vector);
  EXPECT_EQ(vector->width(), 128);
  EXPECT_EQ(vector->pixel(64, 64), (RasterBitmap::Pixel{0, 255, 0, 255}));

  const std::string garbage = dir.filePath("broken.png").toStdString();
  std::ofstream(garbage) << "\x89PNG\r\n\x1a\n not really";
  EXPECT_FALSE(raster.decodeImage(garbage, 64));
  EXPECT_FALSE(raster.decodeImage(dir.filePath("missing.png").toStdString(), 64));
  EXPECT_FALSE(raster.decodeImage(pngPath, 0));
}

class FixedPalette final : public DesktopPalette {
 public:
  std::optional<RasterColor> color;
  std::optional<RasterColor> accentColor() override { return color; }
};

TEST(AccentColor, TheDesktopsHighlightOrTheFallback) {
  FixedPalette palette;
  EXPECT_EQ(AccentColor::resolve(palette), (RasterColor{0.31, 0.45, 1.0, 1.0}));
  palette.color = RasterColor{0.2, 0.6, 0.4, 0.5};
  EXPECT_EQ(AccentColor::resolve(palette), (RasterColor{0.2, 0.6, 0.4, 1.0}));
  palette.color = RasterColor{std::nan(""), 0.6, 0.4, 1};
  EXPECT_EQ(AccentColor::resolve(palette), AccentColor::kFallbackAccentColor);

  QtDesktopPalette qt;
  const std::optional<RasterColor> highlight = qt.accentColor();
  ASSERT_TRUE(highlight);
  EXPECT_EQ(highlight->alpha, 1.0);
}

}  // namespace
}  // namespace quorvel

#include "overlay/qt/QtOverlayTextMetrics.h"

namespace quorvel {
namespace {

TEST(QtOverlayTextMetricsTest, CaretOffsetsStandOnCharacterBoundariesAndGrow) {
  QtOverlayTextMetrics metrics;
  const OverlayFont font{16, FontWeight::regular};
  // "e" with a combining acute, "a", and an emoji with a skin-tone modifier: three characters.
  const std::vector<double> offsets = metrics.caretOffsets("e\xCC\x81" "a\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD", font);
  ASSERT_EQ(offsets.size(), 4u);
  EXPECT_EQ(offsets[0], 0);
  for (size_t i = 1; i < offsets.size(); ++i) EXPECT_GT(offsets[i], offsets[i - 1]);
  EXPECT_NEAR(offsets.back(), metrics.measure("e\xCC\x81" "a\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD", font).width, 1.0);
  EXPECT_EQ(metrics.caretOffsets("", font), (std::vector<double>{0}));

  const OverlayFontMetrics m = metrics.fontMetrics(font);
  EXPECT_GT(m.ascender, m.capHeight);
  EXPECT_LT(m.descender, 0);
  EXPECT_GT(metrics.measure("Wide text", {18, FontWeight::semibold}).width, metrics.measure("Wide text", font).width);
}

}  // namespace
}  // namespace quorvel
