// Site icons: a resolver pass that looks 200 tab titles up in a 5,000-row Chromium history and
// fetches the icons of their sites (copies of both databases included), and the decoding of 50
// icon files of the sizes and formats browsers store into 128 by 128 bitmaps.

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

#include <QBuffer>
#include <QImage>
#include <QPainter>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/LogHub.h"
#include "base/ManualLoop.h"
#include "base/Task.h"
#include "tabs/FaviconResolver.h"
#include "tabs/FaviconStore.h"
#include "tabs/SiteIconFakes.h"
#include "tabs/qt/QtIconDecoder.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using namespace siteicons;

constexpr int kHistoryRows = 5000;
constexpr int kSites = 50;
constexpr int kTabs = 200;

std::vector<uint8_t> encoded(const QImage& image, const char* format) {
  QByteArray data;
  QBuffer buffer(&data);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, format);
  return std::vector<uint8_t>(data.begin(), data.end());
}

QImage drawing(int side) {
  QImage image(side, side, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setBrush(QColor(30, 120, 220));
  painter.drawEllipse(QRectF(side * 0.1, side * 0.1, side * 0.8, side * 0.8));
  return image;
}

// 50 icons as browsers keep them: PNGs of 16 to 256 pixels, ICO files and SVG documents.
std::vector<std::vector<uint8_t>> iconFiles() {
  std::vector<std::vector<uint8_t>> files;
  const int sides[] = {16, 32, 64, 128, 256};
  for (int i = 0; i < 40; ++i) files.push_back(encoded(drawing(sides[i % 5]), "PNG"));
  for (int i = 0; i < 5; ++i) files.push_back(encoded(drawing(i % 2 ? 32 : 48), "ICO"));
  for (int i = 0; i < 5; ++i) {
    const std::string svg = "<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 24 24' width='24' height='24'>"
                            "<circle cx='12' cy='12' r='" + std::to_string(6 + i) + "' fill='#1e78dc'/>"
                            "<path d='M4 4 L20 20 M20 4 L4 20' stroke='white' stroke-width='2'/></svg>";
    files.emplace_back(svg.begin(), svg.end());
  }
  return files;
}

void exec(sqlite3* db, const std::string& sql) { sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr); }

// A home folder with one Chrome profile: 5,000 visited pages over 50 sites, each site with an icon.
class ChromeHome {
 public:
  ChromeHome() {
    std::string pattern = (fs::temp_directory_path() / "quorvel-bench-XXXXXX").string();
    root_ = ::mkdtemp(pattern.data());
    fs::create_directories(profile());
    fs::create_directories(runtime());
    fs::permissions(runtime(), fs::perms::owner_all, fs::perm_options::replace);
    sqlite3* db = nullptr;
    sqlite3_open((profile() / "History").c_str(), &db);
    exec(db, "CREATE TABLE urls(id INTEGER PRIMARY KEY, url LONGVARCHAR, title LONGVARCHAR, last_visit_time INTEGER);"
             "BEGIN;");
    for (int i = 0; i < kHistoryRows; ++i) {
      exec(db, "INSERT INTO urls(url, title, last_visit_time) VALUES ('https://site" + std::to_string(i % kSites) +
                   ".example/page/" + std::to_string(i) + "', 'Page " + std::to_string(i) + " - Example', " +
                   std::to_string(i) + ");");
    }
    exec(db, "COMMIT;");
    sqlite3_close(db);
    sqlite3_open((profile() / "Favicons").c_str(), &db);
    exec(db, "CREATE TABLE favicon_bitmaps(id INTEGER PRIMARY KEY, icon_id INTEGER, image_data BLOB, width INTEGER);"
             "CREATE TABLE icon_mapping(id INTEGER PRIMARY KEY, page_url LONGVARCHAR, icon_id INTEGER);BEGIN;");
    for (int s = 0; s < kSites; ++s) {
      exec(db, "INSERT INTO favicon_bitmaps(icon_id, image_data, width) VALUES (" + std::to_string(s) +
                   ", randomblob(1500), 32);");
      exec(db, "INSERT INTO icon_mapping(page_url, icon_id) VALUES ('https://site" + std::to_string(s) + ".example/', " +
                   std::to_string(s) + ");");
    }
    exec(db, "COMMIT;");
    sqlite3_close(db);
  }
  ~ChromeHome() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  fs::path home() const { return root_ / "home"; }
  fs::path runtime() const { return root_ / "run"; }
  fs::path profile() const { return home() / ".config" / "google-chrome" / "Default"; }
  const fs::path& root() const { return root_; }

 private:
  fs::path root_;
};

void BM_ResolveTabTitles(benchmark::State& state) {
  LogHub::shared().setStandardErrorEnabled(false);
  ChromeHome data;
  std::vector<FaviconResolver::Request> requests;
  for (int i = 0; i < kTabs; ++i) {
    // Spread over the whole history, so every site is met.
    const int row = (i * 24 + i % 7) % kHistoryRows;
    requests.push_back({uint32_t(0xC0000000u + i), "Page " + std::to_string(row) + " - Example",
                        FaviconBrowser::chromium, "com.google.Chrome"});
  }
  FakeTextureMaker maker;
  FakeDecoder decoder;
  SteppedQueue idleMain;  // the icons wait there: decoding is measured on its own
  size_t resolved = 0;
  for (auto _ : state) {
    ManualLoop loop;
    auto store = FaviconStore::create(maker, decoder, [] {}, idleMain, idleMain);
    FaviconResolver resolver(loop, *store, data.home(), FaviconCopyFolder(data.runtime(), data.root(), ::geteuid()));
    spawn(loop.pool(), resolver.request(requests, true));
    loop.runUntilIdle();
    resolved = store->tabSiteCount();
    if (store->pendingCount() != kSites) state.SkipWithError("not every site's icon was fetched");
  }
  if (resolved != kTabs) state.SkipWithError("not every title was resolved");
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kTabs);
  LogHub::shared().setStandardErrorEnabled(true);
}
BENCHMARK(BM_ResolveTabTitles)->Unit(benchmark::kMillisecond);

void BM_DecodeFiftyIcons(benchmark::State& state) {
  const auto files = iconFiles();
  QtIconDecoder decoder;
  for (auto _ : state) {
    for (const auto& file : files) {
      auto bitmap = decoder.render(file);
      if (!bitmap.ok()) state.SkipWithError("an icon did not decode");
      benchmark::DoNotOptimize(bitmap.bitmap);
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(files.size()));
}
BENCHMARK(BM_DecodeFiftyIcons)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quorvel

BENCHMARK_MAIN();
