#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "BrowserDataFixtures.h"
#include "tabs/FaviconDatabase.h"

namespace quorvel {
namespace {

using namespace browserdata;
using Hit = FaviconDatabase::PageHit;
using Bytes = std::vector<uint8_t>;

class FaviconDatabaseTest : public ::testing::Test {
 protected:
  // A Chromium "History" and "Favicons" pair and a Gecko "places.sqlite" and "favicons.sqlite" pair.
  void SetUp() override {
    makeDatabase(chromium() / "History",
                 std::string(kChromiumHistorySchema) +
                     "INSERT INTO urls(url, title, last_visit_time) VALUES"
                     " ('https://news.example/old', 'News', 100), ('https://news.example/new', 'News', 300),"
                     " ('https://news.example/tie', 'News', 300), (NULL, 'Mail', 900),"
                     " ('', 'Mail', 800), ('https://mail.example/', 'Mail', 5),"
                     " ('https://x.example/', 'Robert''); DROP TABLE urls;--', 1),"
                     " ('https://caf\xC3\xA9.example/', 'Caf\xC3\xA9', 2), ('https://other.example/', 'Other', 3);");
    makeDatabase(chromium() / "Favicons",
                 std::string(kChromiumFaviconsSchema) +
                     "INSERT INTO favicons VALUES (1, 'https://news.example/favicon.ico', 1),"
                     " (2, 'https://empty.example/favicon.ico', 1);"
                     "INSERT INTO favicon_bitmaps(icon_id, image_data, width, height) VALUES"
                     " (1, x'0101', 16, 16), (1, x'03030303', 64, 64), (1, x'0202', 32, 32),"
                     " (2, x'', 32, 32), (2, NULL, 16, 16);"
                     "INSERT INTO icon_mapping(page_url, icon_id) VALUES ('https://news.example/new', 1),"
                     " ('https://empty.example/', 2);");
    makeDatabase(gecko() / "places.sqlite",
                 std::string(kGeckoPlacesSchema) +
                     "INSERT INTO moz_places(url, title, last_visit_date) VALUES"
                     " ('https://docs.example/a', 'Docs', NULL), ('https://docs.example/b', 'Docs', 0),"
                     " ('https://blog.example/', 'Blog', NULL), ('https://blog.example/p', 'Blog', 1700000000000000);");
    makeDatabase(gecko() / "favicons.sqlite",
                 std::string(kGeckoFaviconsSchema) +
                     "INSERT INTO moz_icons(id, icon_url, fixed_icon_url_hash, width, data) VALUES"
                     " (1, 'https://blog.example/small.png', 1, 16, x'AA'),"
                     " (2, 'https://blog.example/big.png', 2, 96, x'BBBB'),"
                     " (3, 'https://huge.example/i.png', 3, 32, zeroblob(1048577));"
                     "INSERT INTO moz_pages_w_icons VALUES (10, 'https://blog.example/p', 7),"
                     " (11, 'https://huge.example/', 8);"
                     "INSERT INTO moz_icons_to_pages(page_id, icon_id) VALUES (10, 1), (10, 2), (11, 3);");
  }

  fs::path chromium() const { return root_.path() / "Chrome" / "Default"; }
  fs::path gecko() const { return root_.path() / "Firefox" / "Profiles" / "abc.default"; }

  TempFolder root_;
};

TEST_F(FaviconDatabaseTest, NewestVisitPerTitleSkippingRowsWithoutAnAddress) {
  auto db = FaviconDatabase::open(chromium() / "History");
  ASSERT_TRUE(db);
  const std::string tricky = "Robert'); DROP TABLE urls;--";
  const auto hits = FaviconDatabase::pageHits({"News", "Mail", "Caf\xC3\xA9", tricky, "Unknown"},
                                              FaviconBrowser::chromium, db.get());
  ASSERT_TRUE(hits);
  EXPECT_EQ(*hits, (FaviconDatabase::PageHits{{"News", Hit{"https://news.example/new", 300}},
                                              {"Mail", Hit{"https://mail.example/", 5}},
                                              {"Caf\xC3\xA9", Hit{"https://caf\xC3\xA9.example/", 2}},
                                              {tricky, Hit{"https://x.example/", 1}}}));

  auto places = FaviconDatabase::open(gecko() / "places.sqlite");
  const auto gecko = FaviconDatabase::pageHits({"Docs", "Blog"}, FaviconBrowser::gecko, places.get());
  ASSERT_TRUE(gecko);
  // A missing visit time counts as 0, so it ties with 0 (first row stays) and loses to any later visit.
  EXPECT_EQ(*gecko, (FaviconDatabase::PageHits{{"Docs", Hit{"https://docs.example/a", 0}},
                                               {"Blog", Hit{"https://blog.example/p", 1700000000000000}}}));

  EXPECT_EQ(FaviconDatabase::pageHits({}, FaviconBrowser::gecko, nullptr), FaviconDatabase::PageHits{});
  // The other family's layout is not understood.
  EXPECT_FALSE(FaviconDatabase::pageHits({"Docs"}, FaviconBrowser::chromium, places.get()));
  EXPECT_FALSE(FaviconDatabase::pageHits({"News"}, FaviconBrowser::gecko, db.get()));
}

int countStatement(unsigned, void* context, void*, void* sql) {
  const std::string text(static_cast<const char*>(sql));
  static_cast<std::vector<long>*>(context)->push_back(std::count(text.begin(), text.end(), '?'));
  return 0;
}

TEST_F(FaviconDatabaseTest, TitlesGoSixtyFourToAStatementAsBoundParameters) {
  auto db = FaviconDatabase::open(chromium() / "History");
  ASSERT_TRUE(db);
  std::vector<long> placeholders;
  sqlite3_trace_v2(db.get(), SQLITE_TRACE_STMT, countStatement, &placeholders);

  std::vector<std::string> titles;
  for (int i = 0; i < 64; ++i) titles.push_back("Tab " + std::to_string(i));
  titles.push_back("Other");  // the 65th title, in a statement of its own
  const auto hits = FaviconDatabase::pageHits(titles, FaviconBrowser::chromium, db.get());
  ASSERT_TRUE(hits);
  EXPECT_EQ(*hits, (FaviconDatabase::PageHits{{"Other", Hit{"https://other.example/", 3}}}));
  EXPECT_EQ(placeholders, (std::vector<long>{64, 1}));

  // A title that recurs in a later chunk keeps its newest hit.
  titles.insert(titles.begin(), "News");
  placeholders.clear();
  const auto again = FaviconDatabase::pageHits(titles, FaviconBrowser::chromium, db.get());
  ASSERT_TRUE(again);
  EXPECT_EQ(again->at("News"), (Hit{"https://news.example/new", 300}));
  EXPECT_EQ(placeholders, (std::vector<long>{64, 2}));
}

TEST_F(FaviconDatabaseTest, WidestStoredIconOfAPage) {
  auto icons = FaviconDatabase::open(chromium() / "Favicons");
  ASSERT_TRUE(icons);
  EXPECT_EQ(FaviconDatabase::iconData("https://news.example/new", FaviconBrowser::chromium, icons.get()),
            (Bytes{3, 3, 3, 3}));
  EXPECT_FALSE(FaviconDatabase::iconData("https://news.example/old", FaviconBrowser::chromium, icons.get()));
  EXPECT_FALSE(FaviconDatabase::iconData("https://empty.example/", FaviconBrowser::chromium, icons.get()));
  EXPECT_FALSE(FaviconDatabase::iconData("https://news.example/new", FaviconBrowser::gecko, icons.get()));

  auto geckoIcons = FaviconDatabase::open(gecko() / "favicons.sqlite");
  EXPECT_EQ(FaviconDatabase::iconData("https://blog.example/p", FaviconBrowser::gecko, geckoIcons.get()),
            (Bytes{0xBB, 0xBB}));
  EXPECT_FALSE(FaviconDatabase::iconData("https://blog.example/", FaviconBrowser::gecko, geckoIcons.get()));
  // Over the byte budget of an icon: not copied out.
  EXPECT_FALSE(FaviconDatabase::iconData("https://huge.example/", FaviconBrowser::gecko, geckoIcons.get()));
}

TEST_F(FaviconDatabaseTest, MissingAndDamagedFilesFailWithoutCrashing) {
  const fs::path missing = root_.path() / "Chrome" / "Profile 9" / "History";
  EXPECT_FALSE(FaviconDatabase::open(missing));
  EXPECT_FALSE(fs::exists(missing));  // read-only: nothing is created

  std::mt19937 random(7);
  std::string noise(8192, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  writeFile(root_.path() / "noise" / "History", noise);
  // Random bytes open (the header is read lazily) and then no statement prepares.
  auto corrupt = FaviconDatabase::open(root_.path() / "noise" / "History");
  ASSERT_TRUE(corrupt);
  EXPECT_FALSE(FaviconDatabase::pageHits({"News"}, FaviconBrowser::chromium, corrupt.get()));
  EXPECT_FALSE(FaviconDatabase::iconData("https://news.example/new", FaviconBrowser::chromium, corrupt.get()));

  // An intact schema over a scrambled table: the query ends at the damage with the rows read so far.
  const fs::path damaged = root_.path() / "damaged" / "History";
  fs::create_directories(damaged.parent_path());
  fs::copy_file(chromium() / "History", damaged);
  std::fstream file(damaged, std::ios::in | std::ios::out | std::ios::binary);
  file.seekp(4096);  // page 2, the urls table
  file.write(noise.data(), 4096);
  file.close();
  auto db = FaviconDatabase::open(damaged);
  ASSERT_TRUE(db);
  const auto hits = FaviconDatabase::pageHits({"News"}, FaviconBrowser::chromium, db.get());
  ASSERT_TRUE(hits);
  EXPECT_TRUE(hits->empty());
}

TEST_F(FaviconDatabaseTest, PathsWithUriCharactersOpenTheirOwnFile) {
  // Decoys where an unescaped URI would land: the name cut at "?" or "#", or "%41" read as "A".
  for (const char* folder : {"we?ird#1%41", "we#ird?2", "100%25 sure"}) {
    const fs::path real = root_.path() / folder / "History";
    makeDatabase(real, std::string(kChromiumHistorySchema) +
                           "INSERT INTO urls(url, title, last_visit_time) VALUES ('https://real.example/', 'T', 1);");
    auto db = FaviconDatabase::open(real);
    ASSERT_TRUE(db) << FaviconDatabase::uri(real);
    const auto hits = FaviconDatabase::pageHits({"T"}, FaviconBrowser::chromium, db.get());
    ASSERT_TRUE(hits) << folder;
    EXPECT_EQ(hits->at("T").url, "https://real.example/") << folder;
  }
  makeDatabase(root_.path() / "we", "CREATE TABLE decoy(x);");
  makeDatabase(root_.path() / "we?ird#1A" / "History", "CREATE TABLE decoy(x);");
  auto db = FaviconDatabase::open(root_.path() / "we?ird#1%41" / "History");
  EXPECT_TRUE(FaviconDatabase::pageHits({"T"}, FaviconBrowser::chromium, db.get()));

  EXPECT_EQ(FaviconDatabase::uri("/tmp/a b/\xC3\xA9?#%/History"),
            "file:///tmp/a%20b/%C3%A9%3F%23%25/History?immutable=1");
}

TEST(FaviconDatabaseRootPage, HttpAndHttpsAddressesKeepHostAndNamedPort) {
  EXPECT_EQ(FaviconDatabase::rootPage("https://Docs.Example.com/a/b?q=1#top"), "https://Docs.Example.com/");
  EXPECT_EQ(FaviconDatabase::rootPage("http://user:pw@host.example:80/x"), "http://host.example:80/");
  EXPECT_EQ(FaviconDatabase::rootPage("https://host.example:0443"), "https://host.example:443/");
  EXPECT_EQ(FaviconDatabase::rootPage("http://[::1]:8080/x"), "http://[::1]:8080/");
  EXPECT_EQ(FaviconDatabase::rootPage("https://host.example/"), "https://host.example/");
  for (const char* none : {"ftp://host.example/", "HTTPS://host.example/", "file:///etc/hosts", "https:///path",
                           "about:blank", "host.example/path", "https://ho st.example/", "http://h:99999/",
                           "http://h:8x/", "", "1http://h/"}) {
    EXPECT_FALSE(FaviconDatabase::rootPage(none)) << none;
  }
}

}  // namespace
}  // namespace quorvel
