#include "tabs/FaviconDatabase.h"

#include <sqlite3.h>

#include "tabs/IconFileCheck.h"
#include "tabs/WebAddress.h"

namespace quorvel {

namespace {

struct Finalize {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, Finalize>;

Statement prepare(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* raw = nullptr;
  const int result = sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr);
  Statement statement(raw);
  if (result != SQLITE_OK || !statement) return nullptr;
  return statement;
}

const char* titleQueryPrefix(FaviconBrowser family) {
  return family == FaviconBrowser::chromium
             ? "SELECT title, url, last_visit_time FROM urls WHERE title IN ("
             : "SELECT title, url, last_visit_date FROM moz_places WHERE title IN (";
}

const char* iconQuery(FaviconBrowser family) {
  return family == FaviconBrowser::chromium
             ? "SELECT b.image_data FROM icon_mapping AS m JOIN favicon_bitmaps AS b ON b.icon_id = m.icon_id "
               "WHERE m.page_url = ? ORDER BY b.width DESC LIMIT 1"
             : "SELECT i.data FROM moz_pages_w_icons AS p JOIN moz_icons_to_pages AS m ON m.page_id = p.id "
               "JOIN moz_icons AS i ON i.id = m.icon_id WHERE p.page_url = ? ORDER BY i.width DESC LIMIT 1";
}

std::optional<std::string> textColumn(sqlite3_stmt* statement, int column) {
  const auto* text = sqlite3_column_text(statement, column);
  if (!text) return std::nullopt;
  return std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(sqlite3_column_bytes(statement, column)));
}

// One statement over titles[begin, end); rows go into `hits`, newest visit per title winning.
bool queryChunk(sqlite3* db, FaviconBrowser family, const std::vector<std::string>& titles, size_t begin,
                size_t end, FaviconDatabase::PageHits& hits) {
  std::string sql = titleQueryPrefix(family);
  for (size_t i = begin; i < end; ++i) sql += i == begin ? "?" : ", ?";
  sql += ")";
  Statement statement = prepare(db, sql);
  if (!statement) return false;
  for (size_t i = begin; i < end; ++i) {
    sqlite3_bind_text(statement.get(), static_cast<int>(i - begin + 1), titles[i].c_str(), -1, SQLITE_TRANSIENT);
  }
  // Any step result that is not a row (the end, or an error in a damaged file) ends the query.
  while (sqlite3_step(statement.get()) == SQLITE_ROW) {
    auto title = textColumn(statement.get(), 0);
    auto url = textColumn(statement.get(), 1);
    if (!title || !url || url->empty()) continue;
    const int64_t visit = sqlite3_column_int64(statement.get(), 2);
    auto [it, inserted] = hits.try_emplace(std::move(*title), FaviconDatabase::PageHit{*url, visit});
    if (!inserted && visit > it->second.lastVisit) it->second = {std::move(*url), visit};
  }
  return true;
}

bool isUnreservedInPath(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~' || c == '/';
}

}  // namespace

void FaviconDatabase::Close::operator()(sqlite3* db) const { sqlite3_close_v2(db); }

const char* FaviconDatabase::historyFileName(FaviconBrowser family) {
  return family == FaviconBrowser::chromium ? "History" : "places.sqlite";
}

const char* FaviconDatabase::iconFileName(FaviconBrowser family) {
  return family == FaviconBrowser::chromium ? "Favicons" : "favicons.sqlite";
}

std::string FaviconDatabase::uri(const std::filesystem::path& file) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (const char ch : file.native()) {
    const auto c = static_cast<unsigned char>(ch);
    if (isUnreservedInPath(c)) {
      encoded += ch;
    } else {
      encoded += '%';
      encoded += kHex[c >> 4];
      encoded += kHex[c & 0xF];
    }
  }
  // An absolute path gets an empty authority, so a path starting "//" is not read as a host.
  return (file.is_absolute() ? "file://" : "file:") + encoded + "?immutable=1";
}

FaviconDatabase::Connection FaviconDatabase::open(const std::filesystem::path& file) {
  sqlite3* raw = nullptr;
  const int flags = SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX;
  const int result = sqlite3_open_v2(uri(file).c_str(), &raw, flags, nullptr);
  Connection db(raw);
  if (result != SQLITE_OK) return nullptr;
  return db;
}

std::optional<FaviconDatabase::PageHits> FaviconDatabase::pageHits(const std::vector<std::string>& titles,
                                                                   FaviconBrowser family, sqlite3* db) {
  PageHits hits;
  if (titles.empty()) return hits;
  if (!db) return std::nullopt;
  for (size_t begin = 0; begin < titles.size(); begin += kTitlesPerStatement) {
    const size_t end = std::min(titles.size(), begin + kTitlesPerStatement);
    PageHits chunk;
    if (!queryChunk(db, family, titles, begin, end, chunk)) return std::nullopt;
    // Across chunks too: the greater visit stays, the earlier entry on a tie.
    for (auto& [title, hit] : chunk) {
      auto [it, inserted] = hits.try_emplace(title, hit);
      if (!inserted && hit.lastVisit > it->second.lastVisit) it->second = std::move(hit);
    }
  }
  return hits;
}

std::optional<std::vector<uint8_t>> FaviconDatabase::iconData(const std::string& pageURL, FaviconBrowser family,
                                                              sqlite3* db) {
  if (!db) return std::nullopt;
  Statement statement = prepare(db, iconQuery(family));
  if (!statement) return std::nullopt;
  sqlite3_bind_text(statement.get(), 1, pageURL.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(statement.get()) != SQLITE_ROW) return std::nullopt;
  const auto* blob = static_cast<const uint8_t*>(sqlite3_column_blob(statement.get(), 0));
  const int count = sqlite3_column_bytes(statement.get(), 0);
  if (count < 1 || !blob || static_cast<size_t>(count) > IconFileCheck::kMaxBytes) return std::nullopt;
  return std::vector<uint8_t>(blob, blob + count);
}

std::optional<std::string> FaviconDatabase::rootPage(std::string_view address) {
  const auto parsed = WebAddress::parse(address);
  if (!parsed || parsed->scheme.empty() || parsed->host.empty()) return std::nullopt;
  if (parsed->scheme != "http" && parsed->scheme != "https") return std::nullopt;
  std::string root = parsed->scheme + "://" + parsed->host;
  if (parsed->port) root += ":" + std::to_string(*parsed->port);
  return root + "/";
}

}  // namespace quorvel
