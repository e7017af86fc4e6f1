#include <gtest/gtest.h>
#include <unistd.h>

#include "BrowserDataFixtures.h"
#include "SiteIconFakes.h"
#include "base/LogCapture.h"
#include "base/LogHub.h"
#include "base/ManualLoop.h"
#include "base/Task.h"
#include "tabs/FaviconResolver.h"
#include "tabs/FaviconStore.h"

namespace quorvel {
namespace {

using namespace browserdata;
using namespace siteicons;
using namespace std::chrono_literals;
using Request = FaviconResolver::Request;

std::string readAll(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("''") : std::string(1, c);
  return out + "'";
}

// A home folder with Chrome (Chromium layout, two profiles) and Firefox (Gecko layout) data, as
// they lie on Linux, and a resolver over it on a virtual clock.
class FaviconResolverTest : public ::testing::Test {
 protected:
  FaviconResolverTest() {
    LogHub::shared().setStandardErrorEnabled(false);
    fs::create_directories(runtime());
    fs::permissions(runtime(), fs::perms::owner_all, fs::perm_options::replace);
    writeFile(chromeData() / "Local State", R"({"profile": {"info_cache": {"Profile 1": {}, "Default": {}}}})");
    makeDatabase(chromeProfile() / "History", std::string(kChromiumHistorySchema) +
                                                  "INSERT INTO urls(url, title, last_visit_time) VALUES"
                                                  " ('https://News.Example/new', 'News', 300),"
                                                  " ('https://news.example/old', 'Old news', 200),"
                                                  " ('https://mail.example/inbox', 'Mail', 100);");
    makeDatabase(chromeProfile() / "Favicons",
                 std::string(kChromiumFaviconsSchema) +
                     "INSERT INTO favicon_bitmaps(icon_id, image_data, width) VALUES"
                     " (1, CAST('icon:news' AS BLOB), 32), (2, CAST('icon:mail' AS BLOB), 16);"
                     "INSERT INTO icon_mapping(page_url, icon_id) VALUES ('https://News.Example/new', 1),"
                     " ('https://news.example/old', 1), ('https://mail.example/', 2);");
    makeDatabase(chromeData() / "Profile 1" / "History", kChromiumHistorySchema);
    makeDatabase(chromeData() / "Profile 1" / "Favicons", kChromiumFaviconsSchema);

    writeFile(firefoxData() / "profiles.ini", "[Profile0]\nName=default\nIsRelative=1\nPath=abc.default\nDefault=1\n");
    makeDatabase(firefoxProfile() / "places.sqlite", std::string(kGeckoPlacesSchema) +
                                                         "INSERT INTO moz_places(url, title, last_visit_date) VALUES"
                                                         " ('https://docs.example/a', 'Docs', 5);");
    makeDatabase(firefoxProfile() / "favicons.sqlite",
                 std::string(kGeckoFaviconsSchema) +
                     "INSERT INTO moz_icons(id, icon_url, fixed_icon_url_hash, width, data) VALUES"
                     " (1, 'https://docs.example/i.svg', 1, 64, CAST('icon:docs' AS BLOB));"
                     "INSERT INTO moz_pages_w_icons VALUES (10, 'https://docs.example/a', 7);"
                     "INSERT INTO moz_icons_to_pages(page_id, icon_id) VALUES (10, 1);");
  }
  ~FaviconResolverTest() override { LogHub::shared().setStandardErrorEnabled(true); }

  fs::path home() const { return root_.path() / "home"; }
  fs::path runtime() const { return root_.path() / "run"; }
  fs::path copyFolder() const { return runtime() / FaviconCopyFolder::kName; }
  fs::path chromeData() const { return home() / ".config" / "google-chrome"; }
  fs::path chromeProfile() const { return chromeData() / "Default"; }
  fs::path firefoxData() const { return home() / ".mozilla" / "firefox"; }
  fs::path firefoxProfile() const { return firefoxData() / "abc.default"; }

  static Request chrome(uint32_t tab, std::string title, std::string bundleID = "com.google.Chrome") {
    return {tab, std::move(title), FaviconBrowser::chromium, std::move(bundleID)};
  }
  static Request firefox(uint32_t tab, std::string title) {
    return {tab, std::move(title), FaviconBrowser::gecko, "x11.firefox"};
  }

  void addChromeHistory(const std::string& url, const std::string& title) {
    makeDatabase(chromeProfile() / "History", "INSERT INTO urls(url, title, last_visit_time) VALUES (" + quoted(url) +
                                                  ", " + quoted(title) + ", 1);");
  }

  void request(std::vector<Request> requests, bool siteIconsOn = true) {
    spawn(loop.pool(), resolver.request(std::move(requests), siteIconsOn));
    loop.runUntilIdle();
  }
  std::optional<std::string> site(uint32_t tab) const { return store->tabSite(tab); }
  const FaviconResolver::BrowserState& chromeState() const {
    const auto* state = resolver.state(FaviconBrowser::chromium);
    EXPECT_NE(state, nullptr);
    static const FaviconResolver::BrowserState none;
    return state ? *state : none;
  }
  Instant now() { return loop.clock().now(); }

  TempFolder root_;
  LogCapture logs;
  ManualLoop loop;
  FakeTextureMaker maker;
  FakeDecoder decoder;
  std::shared_ptr<FaviconStore> store = FaviconStore::create(maker, decoder, [] {}, loop.main(), loop.main());
  FaviconResolver resolver{loop, *store, home(), FaviconCopyFolder(runtime(), root_.path(), ::geteuid())};
};

TEST_F(FaviconResolverTest, TabsGetTheirSiteAndEachSiteItsIconOnce) {
  const std::string historyBefore = readAll(chromeProfile() / "History");
  request({chrome(1, "News"), chrome(2, "Mail"), chrome(3, "Nowhere"), chrome(4, "News"), chrome(5, "Old news")});

  EXPECT_EQ(site(1), "news.example");  // the host, lower-cased
  EXPECT_EQ(site(2), "mail.example");
  EXPECT_EQ(site(3), std::nullopt);
  EXPECT_EQ(site(4), "news.example");
  EXPECT_EQ(site(5), "news.example");
  // One fetch per site; the mail page has no icon of its own and takes its root page's.
  EXPECT_EQ(decoder.decoded, (std::vector<std::string>{"icon:mail", "icon:news"}));
  ASSERT_NE(store->texture(1), nullptr);
  EXPECT_EQ(fake(store->texture(1)).firstPixel.blue, 4);
  EXPECT_EQ(fake(store->texture(2)).firstPixel.blue, 4);
  EXPECT_EQ(store->texture(1), store->texture(5));

  const auto& state = chromeState();
  EXPECT_EQ(state.resolved.at("Mail"), (FaviconResolver::Resolution{"mail.example", "https://mail.example/inbox"}));
  EXPECT_EQ(state.missing, std::set<std::string>{"Nowhere"});
  EXPECT_EQ(state.lastCopy, now());
  EXPECT_EQ(state.lastRetrySweep, now());
  EXPECT_FALSE(resolver.isWorking());
  // Copies are gone, the browser's own files untouched.
  EXPECT_FALSE(fs::exists(copyFolder()));
  EXPECT_EQ(readAll(chromeProfile() / "History"), historyBefore);
  EXPECT_TRUE(logs.messages("Favicons").empty());
}

TEST_F(FaviconResolverTest, GeckoProfilesAreFoundFromTheX11Identity) {
  request({firefox(1, "Docs"), chrome(2, "News", "x11.google-chrome")});
  EXPECT_EQ(site(1), "docs.example");
  EXPECT_EQ(site(2), "news.example");
  EXPECT_NE(store->texture(1), nullptr);
  EXPECT_NE(resolver.state(FaviconBrowser::gecko), nullptr);
}

TEST_F(FaviconResolverTest, SwitchingSiteIconsOffForgetsTheMemoryButNotTheStore) {
  request({chrome(1, "News"), chrome(2, "Beta tab", "com.google.Chrome.beta")});
  const std::string line = "Chrome: no profile folder, site icons fall back to the tab strip crop";
  EXPECT_EQ(logs.count(line), 1u);

  request({}, false);
  EXPECT_EQ(resolver.state(FaviconBrowser::chromium), nullptr);
  EXPECT_TRUE(resolver.tabTitles().empty());
  EXPECT_EQ(site(1), "news.example");
  EXPECT_NE(store->texture(1), nullptr);

  request({chrome(2, "Beta tab", "com.google.Chrome.beta")});
  EXPECT_EQ(logs.count(line), 2u);  // loggable again after the reset
}

TEST_F(FaviconResolverTest, AnEmptyRequestListChangesNothing) {
  request({chrome(1, "News")});
  request({});
  EXPECT_EQ(resolver.tabTitles().size(), 1u);
  EXPECT_EQ(site(1), "news.example");
}

TEST_F(FaviconResolverTest, ATabThatChangesTitleLosesItsSiteAtOnce) {
  request({chrome(1, "News"), chrome(2, "Mail")});
  loop.clock().advance(10s);
  request({chrome(1, "Mail"), chrome(2, "Mail")});  // a title known from memory: the same pass
  EXPECT_EQ(site(1), "mail.example");
  request({chrome(1, "Something new"), chrome(2, "Mail")});  // unknown, and no copy for 60 s
  EXPECT_EQ(site(1), std::nullopt);
  EXPECT_EQ(resolver.tabTitles().at(1), "Something new");
  request({chrome(2, "Mail")});
  EXPECT_EQ(resolver.tabTitles().size(), 1u);
}

TEST_F(FaviconResolverTest, DatabasesAreCopiedAtMostOnceAMinute) {
  request({chrome(1, "News")});
  const Instant first = now();
  addChromeHistory("https://later.example/", "Later");

  loop.clock().advance(59s);
  request({chrome(1, "News"), chrome(2, "Later")});
  EXPECT_EQ(site(2), std::nullopt);
  EXPECT_EQ(chromeState().lastCopy, first);
  EXPECT_FALSE(chromeState().missing.contains("Later"));  // not looked up, so not missing either

  loop.clock().advance(1s);
  request({chrome(1, "News"), chrome(2, "Later")});
  EXPECT_EQ(site(2), "later.example");
  EXPECT_EQ(chromeState().lastCopy, now());
}

TEST_F(FaviconResolverTest, MissingTitlesAreLookedUpAgainOnlyAtTheTenMinuteSweep) {
  request({chrome(1, "Later")});
  const Instant sweep = now();
  EXPECT_TRUE(chromeState().missing.contains("Later"));
  addChromeHistory("https://later.example/", "Later");
  addChromeHistory("https://fresh.example/", "Fresh");

  loop.clock().advance(120s);
  request({chrome(1, "Later")});
  EXPECT_EQ(site(1), std::nullopt);  // held back
  EXPECT_EQ(chromeState().lastCopy, sweep);

  loop.clock().advance(479s);  // 599 s: a new title makes a copy, which is not a sweep
  request({chrome(1, "Later"), chrome(2, "Fresh")});
  EXPECT_EQ(site(2), "fresh.example");
  EXPECT_EQ(site(1), std::nullopt);
  EXPECT_EQ(chromeState().lastRetrySweep, sweep);
  const Instant copied = now();

  loop.clock().advance(1s);  // the sweep is due, the copy is not
  request({chrome(1, "Later"), chrome(2, "Fresh")});
  EXPECT_EQ(site(1), std::nullopt);
  EXPECT_EQ(chromeState().lastCopy, copied);
  EXPECT_EQ(chromeState().lastRetrySweep, sweep);

  loop.clock().advance(59s);
  request({chrome(1, "Later"), chrome(2, "Fresh")});
  EXPECT_EQ(site(1), "later.example");
  EXPECT_EQ(chromeState().lastRetrySweep, now());
  EXPECT_TRUE(chromeState().missing.empty());
}

TEST_F(FaviconResolverTest, ARequestWhileAPassIsWorkingIsDropped) {
  spawn(loop.pool(), resolver.request({chrome(1, "News"), firefox(2, "Docs")}, true));
  spawn(loop.pool(), resolver.request({chrome(3, "Mail")}, true));
  loop.runUntilIdle();
  EXPECT_EQ(site(1), "news.example");
  EXPECT_EQ(site(2), "docs.example");
  EXPECT_EQ(site(3), std::nullopt);
  EXPECT_FALSE(resolver.tabTitles().contains(3));
  EXPECT_FALSE(resolver.isWorking());
}

TEST_F(FaviconResolverTest, ABrowserWithoutProfilesIsLoggedOnceAndTheNextOneTried) {
  request({chrome(1, "Beta only", "com.google.Chrome.beta"), chrome(2, "News")});
  EXPECT_EQ(site(2), "news.example");
  loop.clock().advance(60s);
  request({chrome(1, "Beta only", "com.google.Chrome.beta"), chrome(3, "Another", "com.google.Chrome.beta")});
  EXPECT_EQ(logs.count("Chrome: no profile folder, site icons fall back to the tab strip crop"), 1u);
}

TEST_F(FaviconResolverTest, BrokenProfilesAreSkippedWithOneLineEach) {
  writeFile(chromeData() / "Local State",
            R"({"profile": {"info_cache": {"Default": {}, "Broken": {}, "Gone": {}, "Empty": {}}}})");
  writeFile(chromeData() / "Broken" / "History", "this is not a database at all");
  writeFile(chromeData() / "Empty" / "History", "");
  fs::remove(chromeProfile() / "Favicons");
  request({chrome(1, "Nowhere"), chrome(2, "News")});
  EXPECT_EQ(site(2), "news.example");  // found, even without its icon database
  EXPECT_EQ(store->texture(2), nullptr);
  EXPECT_EQ(logs.count("Chrome: history schema not understood, site icons fall back to the tab strip crop"), 1u);
  EXPECT_EQ(logs.count("Chrome: file missing, site icons fall back to the tab strip crop"), 1u);
  EXPECT_TRUE(chromeState().missing.contains("Nowhere"));
  EXPECT_FALSE(fs::exists(copyFolder()));
}

TEST_F(FaviconResolverTest, ADatabaseLockedByARunningBrowserIsReadFromItsCopy) {
  sqlite3* browser = nullptr;
  ASSERT_EQ(sqlite3_open_v2((chromeProfile() / "History").c_str(), &browser, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(browser,
                         "BEGIN EXCLUSIVE; INSERT INTO urls(url, title, last_visit_time) VALUES"
                         " ('https://uncommitted.example/', 'Uncommitted', 9);",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  const std::string before = readAll(chromeProfile() / "History");

  request({chrome(1, "News"), chrome(2, "Uncommitted")});
  EXPECT_EQ(site(1), "news.example");
  EXPECT_EQ(site(2), std::nullopt);
  EXPECT_EQ(readAll(chromeProfile() / "History"), before);
  // The browser still holds its lock and can finish its transaction.
  EXPECT_EQ(sqlite3_exec(browser, "COMMIT;", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close_v2(browser);
}

TEST_F(FaviconResolverTest, APlantedCopyFolderIsRefusedAndNothingIsCopiedIntoIt) {
  const fs::path elsewhere = root_.path() / "elsewhere";
  fs::create_directories(elsewhere);
  fs::create_directory_symlink(elsewhere, copyFolder());
  request({chrome(1, "News"), firefox(2, "Docs")});
  EXPECT_EQ(site(1), std::nullopt);
  EXPECT_TRUE(fs::is_empty(elsewhere));
  EXPECT_EQ(logs.count("Chrome: no place to copy to, site icons fall back to the tab strip crop"), 1u);
  EXPECT_EQ(logs.count("Firefox: no place to copy to, site icons fall back to the tab strip crop"), 1u);
  EXPECT_TRUE(fs::is_symlink(copyFolder()));
}

TEST_F(FaviconResolverTest, MoreThanFiveHundredTwelveTitlesKeepEveryTabsSite) {
  auto batch = [&](int first, int count) {
    std::string sql = "INSERT INTO urls(url, title, last_visit_time) VALUES ";
    std::vector<Request> requests;
    for (int i = first; i < first + count; ++i) {
      const std::string title = "Page " + std::to_string(i);
      sql += (i == first ? "" : ", ") + std::string("('https://s") + std::to_string(i % 7) + ".example/" +
             std::to_string(i) + "', " + quoted(title) + ", 1)";
      requests.push_back(chrome(uint32_t(1000 + i), title));
    }
    makeDatabase(chromeProfile() / "History", sql + ";");
    return requests;
  };
  auto firstBatch = batch(0, 600);
  request(firstBatch);
  for (const Request& r : firstBatch) ASSERT_EQ(site(r.tab), "s" + std::to_string((r.tab - 1000) % 7) + ".example");
  EXPECT_EQ(chromeState().resolved.size(), 600u);

  loop.clock().advance(60s);
  auto secondBatch = batch(600, 600);
  request(secondBatch);
  for (const Request& r : secondBatch) ASSERT_TRUE(site(r.tab).has_value()) << r.title;
  EXPECT_EQ(chromeState().resolved.size(), 600u);  // only the titles asked about now
  EXPECT_FALSE(chromeState().resolved.contains("Page 0"));

  // Past the limit on missing titles, the ones asked about now stay known too.
  loop.clock().advance(600s);
  std::vector<Request> unknown = {chrome(1, "News")};
  for (uint32_t i = 0; i < 513; ++i) unknown.push_back(chrome(5000 + i, "Unknown " + std::to_string(i)));
  request(unknown);
  EXPECT_EQ(site(1), "news.example");
  EXPECT_EQ(chromeState().missing.size(), 513u);
  EXPECT_EQ(chromeState().resolved.size(), 1u);
}

TEST_F(FaviconResolverTest, ClearingCopiesAtLaunchRemovesAnEarlierRunsLeftovers) {
  const std::string leftover = "Chrome-0F8FAD5B-D9CB-469F-A165-70867728950E-History";
  writeFile(copyFolder() / leftover, "old copy");
  fs::permissions(copyFolder(), fs::perms::owner_all, fs::perm_options::replace);
  spawn(loop.pool(), resolver.clearCopies());
  loop.runUntilIdle();
  EXPECT_FALSE(fs::exists(copyFolder()));
}

}  // namespace
}  // namespace quorvel
