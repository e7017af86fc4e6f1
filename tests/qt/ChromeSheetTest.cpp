#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <cstdlib>
#include <string>

namespace quorvel {
namespace {

// Runs the sheet program offscreen and looks at what it wrote.
TEST(ChromeSheet, WritesEveryBadgeAndSamplePlatesThatAreNotBlank) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string command =
      std::string("QT_QPA_PLATFORM=offscreen '") + QUORVEL_CHROME_SHEET + "' '" + dir.path().toStdString() + "' >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);

  auto load = [&](const char* name) { return QImage(QDir(dir.path()).filePath(QString(name) + ".png")); };
  auto covered = [](const QImage& image) {
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    int count = 0;
    for (int y = 0; y < argb.height(); ++y) {
      for (int x = 0; x < argb.width(); ++x) count += qAlpha(argb.pixel(x, y)) > 0;
    }
    return count;
  };

  for (const char* name : {"status-other-desktop", "status-minimized", "status-hidden", "status-windowless",
                           "status-tab", "status-desktop-1", "status-desktop-7", "status-desktop-12",
                           "status-desktop-20", "status-full-screen"}) {
    const QImage image = load(name);
    ASSERT_FALSE(image.isNull()) << name;
    EXPECT_EQ(image.size(), QSize(192, 192)) << name;
    // The plate's corners stay clear; its middle carries the white symbol or the white screen.
    EXPECT_EQ(qAlpha(image.pixel(2, 2)), 0) << name;
    EXPECT_GT(covered(image), 192 * 192 / 2) << name;
  }
  // Numbered badges differ from each other and from the plain display badge.
  EXPECT_NE(load("status-desktop-7"), load("status-desktop-12"));
  EXPECT_NE(load("status-desktop-7"), load("status-other-desktop"));

  for (const char* name : {"action-close", "action-close-hovered", "action-minimize", "action-minimize-hovered"}) {
    const QImage image = load(name);
    ASSERT_FALSE(image.isNull()) << name;
    EXPECT_EQ(image.size(), QSize(128, 128)) << name;
    EXPECT_EQ(qAlpha(image.pixel(1, 1)), 0) << name;
  }
  // Hovered discs are lighter: compare a point of the disc away from the glyph.
  const QRgb plain = load("action-close").pixel(64, 20), hovered = load("action-close-hovered").pixel(64, 20);
  EXPECT_GT(qGreen(hovered), qGreen(plain));

  for (const char* name : {"label-1", "label-2", "label-3", "label-4", "label-5", "title-1", "title-2", "title-3",
                           "count-3", "count-1000", "count--12"}) {
    const QImage image = load(name);
    ASSERT_FALSE(image.isNull()) << name;
    // Not blank: the plate covers most of it, and some text is drawn lighter than the plate.
    EXPECT_GT(covered(image), image.width() * image.height() / 2) << name;
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    int light = 0;
    for (int y = 0; y < argb.height(); ++y) {
      for (int x = 0; x < argb.width(); ++x) light += qRed(argb.pixel(x, y)) > 200;
    }
    EXPECT_GT(light, 50) << name;
  }
  // A label with a second line is taller than one without; a long tab title is cut to the width.
  EXPECT_GT(load("label-2").height(), load("label-1").height());
  EXPECT_LE(load("label-4").width(), 1080 + 2 * 39 + 2 * 15);

  for (const char* name : {"icon-editor", "icon-player"}) {
    const QImage image = load(name);
    ASSERT_FALSE(image.isNull()) << name;
    EXPECT_EQ(image.size(), QSize(256, 256)) << name;
    EXPECT_EQ(qAlpha(image.pixel(128, 128)), 255) << name;
  }
  EXPECT_FALSE(load("sheet").isNull());
}

}  // namespace
}  // namespace quorvel
