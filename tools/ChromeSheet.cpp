// quorvel-chrome-sheet: draws every status and action badge, sample label, title and count plates
// and sample application icons with the real drawing backend, and writes them as PNG files into
// a folder, one file per texture plus "sheet.png" with all of them on a grey ground, so that a
// person can look at them.
//
//   quorvel-chrome-sheet OUTPUT-FOLDER
//
// Runs without a display (Qt's offscreen platform) unless QT_QPA_PLATFORM says otherwise.

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/ManualLoop.h"
#include "pictures/ActionBadgeCache.h"
#include "pictures/CardLabelCache.h"
#include "pictures/ChromeTexture.h"
#include "pictures/IconCache.h"
#include "pictures/StatusBadgeCache.h"
#include "platform/qt/QtRaster.h"
#include "platform/sim/SimAppIcons.h"
#include "platform/sim/SimDesktop.h"

namespace quorvel {
namespace {

// A texture kept on the CPU: the bitmap the cache uploaded.
class BitmapTexture final : public ChromeTexture {
 public:
  explicit BitmapTexture(RasterBitmap bitmap) : bitmap(std::move(bitmap)) {}
  int width() const override { return bitmap.width(); }
  int height() const override { return bitmap.height(); }
  RasterBitmap bitmap;
};

class KeepingUploader final : public ChromeUploader {
 public:
  ChromeTextureRef upload(const RasterBitmap& bitmap, std::string_view) override {
    return std::make_shared<BitmapTexture>(bitmap);
  }
};

QImage toImage(const ChromeTextureRef& texture) {
  const auto* kept = dynamic_cast<const BitmapTexture*>(texture.get());
  if (!kept) return {};
  const RasterBitmap& b = kept->bitmap;
  return QImage(b.data(), b.width(), b.height(), static_cast<qsizetype>(b.bytesPerRow()),
                QImage::Format_ARGB32_Premultiplied)
      .copy();
}

// A sample icon: a rounded square in a diagonal two-colour blend with a light disc in the middle.
AppIcon sampleIcon(uint32_t from, uint32_t to, int side) {
  AppIcon icon;
  icon.width = side;
  icon.height = side;
  auto channel = [](uint32_t c, int shift) { return static_cast<double>((c >> shift) & 0xFF); };
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      const double t = static_cast<double>(x + y) / (2.0 * side);
      const double dx = x - side / 2.0, dy = y - side / 2.0;
      const bool disc = dx * dx + dy * dy < side * side / 16.0;
      const double r = disc ? 250 : channel(from, 16) * (1 - t) + channel(to, 16) * t;
      const double g = disc ? 250 : channel(from, 8) * (1 - t) + channel(to, 8) * t;
      const double b = disc ? 250 : channel(from, 0) * (1 - t) + channel(to, 0) * t;
      const double corner = side * 0.2;
      const double cx = std::max({corner - x, x - (side - 1 - corner), 0.0});
      const double cy = std::max({corner - y, y - (side - 1 - corner), 0.0});
      const bool inside = cx * cx + cy * cy <= corner * corner;
      const uint32_t a = inside ? 255u : 0u;
      icon.argb.push_back(a << 24 | static_cast<uint32_t>(r) << 16 | static_cast<uint32_t>(g) << 8 |
                          static_cast<uint32_t>(b));
    }
  }
  return icon;
}

struct Named {
  std::string name;
  ChromeTextureRef texture;
};

int run(const QString& folder) {
  if (!QDir().mkpath(folder)) {
    std::fprintf(stderr, "quorvel-chrome-sheet: cannot make the folder %s\n", folder.toLocal8Bit().constData());
    return 1;
  }
  ManualLoop loop;
  QtRaster raster;
  KeepingUploader uploader;
  ChromeServices services{loop.main(), raster, uploader, {}};

  std::vector<Named> all;
  auto status = StatusBadgeCache::make(services);
  status->prewarm();
  const char* stateNames[] = {"other-desktop", "minimized", "hidden", "windowless", "tab"};
  const WindowState states[] = {WindowState::onOtherSpace, WindowState::minimized, WindowState::hiddenApp,
                                WindowState::windowlessApp, WindowState::browserTab};
  for (int i = 0; i < 5; ++i) all.push_back({std::string("status-") + stateNames[i], status->texture({states[i]})});
  for (int n : {1, 7, 12, 20}) status->texture({WindowState::onOtherSpace, n});
  status->texture({WindowState::onOtherSpace, std::nullopt, true});
  loop.runUntilIdle();
  for (int n : {1, 7, 12, 20}) {
    all.push_back({"status-desktop-" + std::to_string(n), status->texture({WindowState::onOtherSpace, n})});
  }
  all.push_back({"status-full-screen", status->texture({WindowState::onOtherSpace, std::nullopt, true})});

  ActionBadgeCache actions(services);
  actions.prewarm();
  for (CardAction action : kAllCardActions) {
    for (bool hovered : {false, true}) {
      all.push_back({"action-" + std::string(cardActionName(action)) + (hovered ? "-hovered" : ""),
                     actions.texture(action, hovered)});
    }
  }

  auto labels = CardLabelCache::make(services);
  const std::vector<CardLabel> sampleLabels = {
      {"Terminal", WindowState::onCurrentSpace, std::nullopt, false, std::nullopt},
      {"Files", WindowState::onOtherSpace, 3, false, std::nullopt},
      {"Web Browser", WindowState::minimized, std::nullopt, true, std::nullopt},
      {"Web Browser", WindowState::browserTab, std::nullopt, false,
       std::string("A rather long page title that will not fit on the plate at all")},
      {"Mail", WindowState::windowlessApp, std::nullopt, false, std::nullopt},
  };
  labels->prepareLabels(sampleLabels);
  for (size_t i = 0; i < sampleLabels.size(); ++i) {
    all.push_back({"label-" + std::to_string(i + 1), labels->labelTexture(sampleLabels[i])});
  }
  const std::vector<std::string> titles = {clipped("  Quarterly report — final draft.odt  ", "Writer"),
                                           clipped("", "Calculator"),
                                           clipped(std::string("~/src/quorvel/build: make -j3 && ctest --output-on-failure"),
                                                   "Terminal")};
  for (const std::string& t : titles) labels->prepareTitles({CardTitle{t}});
  for (size_t i = 0; i < titles.size(); ++i) {
    all.push_back({"title-" + std::to_string(i + 1), labels->titleTexture(titles[i], false)});
  }
  for (int n : {3, 1000, -12}) labels->requestCount(n);
  loop.runUntilIdle();
  for (int n : {3, 1000, -12}) all.push_back({"count-" + std::to_string(n), labels->countTexture(n)});

  SimDesktop desktop(loop);
  desktop.launchApp({.pid = 501, .bundleID = "org.example.editor", .name = "Editor"});
  desktop.launchApp({.pid = 502, .bundleID = "org.example.player", .name = "Player"});
  SimAppIcons icons(desktop.workspace());
  icons.setIcon(501, sampleIcon(0x3050E0, 0x20C0F0, 64));
  icons.setIcon(502, sampleIcon(0xF04060, 0xF0A020, 300));
  IconCache iconCache(services, desktop.workspace(), icons);
  iconCache.prewarm();
  all.push_back({"icon-editor", iconCache.liveTexture(501)});
  all.push_back({"icon-player", iconCache.liveTexture(502)});

  int failures = 0;
  int sheetWidth = 0, sheetHeight = 16;
  for (const Named& item : all) {
    const QImage image = toImage(item.texture);
    if (image.isNull()) {
      std::fprintf(stderr, "quorvel-chrome-sheet: %s was not drawn\n", item.name.c_str());
      ++failures;
      continue;
    }
    if (!image.save(QDir(folder).filePath(QString::fromStdString(item.name + ".png")))) {
      std::fprintf(stderr, "quorvel-chrome-sheet: cannot write %s.png\n", item.name.c_str());
      ++failures;
    }
    sheetWidth = std::max(sheetWidth, image.width() + 32);
    sheetHeight += image.height() + 16;
  }
  QImage sheet(sheetWidth, sheetHeight, QImage::Format_ARGB32_Premultiplied);
  sheet.fill(QColor(96, 104, 112));
  {
    QPainter painter(&sheet);
    int y = 16;
    for (const Named& item : all) {
      const QImage image = toImage(item.texture);
      if (image.isNull()) continue;
      painter.drawImage(16, y, image);
      y += image.height() + 16;
    }
  }
  if (!sheet.save(QDir(folder).filePath("sheet.png"))) ++failures;
  std::printf("wrote %zu textures and sheet.png to %s\n", all.size(), folder.toLocal8Bit().constData());
  return failures == 0 ? 0 : 1;
}

}  // namespace
}  // namespace quorvel

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: quorvel-chrome-sheet OUTPUT-FOLDER\n");
    return 2;
  }
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QGuiApplication app(argc, argv);
  return quorvel::run(QString::fromLocal8Bit(argv[1]));
}
