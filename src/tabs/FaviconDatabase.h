#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "tabs/FaviconBrowser.h"

struct sqlite3;

namespace quorvel {

// Reads copies of a browser's history and icon databases: tab title -> page address -> icon bytes.
// No state; connections are read-only, immutable and used by one thread only.
class FaviconDatabase {
 public:
  // The newest visit of a page with a given title.
  struct PageHit {
    std::string url;        // the page address as the history database stores it
    int64_t lastVisit = 0;  // the database's own visit-time integer (units differ by family)
    bool operator==(const PageHit&) const = default;
  };
  using PageHits = std::unordered_map<std::string, PageHit>;

  struct Close {
    void operator()(sqlite3* db) const;
  };
  // An open connection; closing it (sqlite3_close_v2) happens when it is dropped.
  using Connection = std::unique_ptr<sqlite3, Close>;

  static constexpr size_t kTitlesPerStatement = 64;

  // The file names inside a profile folder.
  static const char* historyFileName(FaviconBrowser family);
  static const char* iconFileName(FaviconBrowser family);

  // Opens a database file read-only and immutable; null when it will not open (such as a missing
  // file). A file that is not a database opens, and its queries then fail.
  static Connection open(const std::filesystem::path& file);
  // The URI `open` hands SQLite: the path percent-encoded, so "?", "#" and "%" in a folder name
  // name that folder.
  static std::string uri(const std::filesystem::path& file);

  // Looks the titles up in a history database, 64 per statement; for each title found, the row
  // with the newest visit. Absent when a statement will not prepare (not a history database of
  // that family); empty when nothing matched.
  static std::optional<PageHits> pageHits(const std::vector<std::string>& titles, FaviconBrowser family,
                                          sqlite3* db);
  // The widest icon image stored for a page address, as stored; absent when there is none, or
  // when it holds more bytes than an icon may (IconFileCheck::kMaxBytes).
  static std::optional<std::vector<uint8_t>> iconData(const std::string& pageURL, FaviconBrowser family,
                                                      sqlite3* db);
  // "scheme://host[:port]/" of an "http" or "https" address; absent for any other address.
  static std::optional<std::string> rootPage(std::string_view address);
};

}  // namespace quorvel
