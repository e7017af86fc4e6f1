#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/Clock.h"
#include "base/Executor.h"
#include "base/Logger.h"
#include "base/Task.h"
#include "tabs/FaviconBrowser.h"
#include "tabs/FaviconCopyFolder.h"
#include "tabs/SiteIcon.h"

namespace quorvel {

class FaviconStore;

// Finds each browser tab's site and each site's icon in the browsers' own profile databases: a tab
// title is looked up in the history database (title -> page address), the page address in the icon
// database (page -> image bytes). Tab sites and icon bytes go to the site-icon store. A browser's
// live files are never opened: each database is copied into a private folder and the copy is read.
//
// Timing: at most one copy-and-query cycle per database family every 60 s, however often it is
// asked; titles answered before come from memory; titles not found are held back and looked up
// again at most every 600 s. A request that arrives while a pass runs is dropped, not queued.
// When a browser's files cannot be read, one log line per reason and family says why.
//
// Threads: every method runs on the resolver's own serial queue ("net.tarmeq.quorvel.favicons",
// utility); callers start a task that awaits it and never wait for it. The store is shared with the
// main thread and the render thread; the resolver touches it only through its locked methods.
class FaviconResolver {
 public:
  static constexpr const char* kQueueLabel = "net.tarmeq.quorvel.favicons";
  static constexpr Duration kCopyInterval = std::chrono::seconds(60);
  static constexpr Duration kRetryInterval = std::chrono::seconds(600);
  static constexpr size_t kMemoryLimit = 512;

  // One tab to find a site for.
  struct Request {
    uint32_t tab = 0;       // the tab card's id
    std::string title;      // the tab's title
    FaviconBrowser family = FaviconBrowser::chromium;
    std::string bundleID;   // the browser's identity as the card has it, not lower-cased
    bool operator==(const Request&) const = default;
  };
  // The site and page a title was found for.
  struct Resolution {
    std::string site;  // the page's host name in lower case: the store's site key
    std::string page;  // the page address as the history database holds it
    bool operator==(const Resolution&) const = default;
  };
  // What the resolver remembers of one database family.
  struct BrowserState {
    std::optional<Instant> lastCopy;        // start of the last copy-and-query cycle
    std::optional<Instant> lastRetrySweep;  // start of the last cycle that looked missing titles up again
    std::unordered_map<std::string, Resolution> resolved;
    std::set<std::string> missing;
    std::set<std::string> logged;  // fallback reasons already written for this family
  };

  // `root` is the folder the browsers' data folders are relative to (the user's home folder).
  FaviconResolver(Runtime& runtime, FaviconStore& store, std::filesystem::path root,
                  FaviconCopyFolder copyFolder = FaviconCopyFolder::forCurrentUser());
  FaviconResolver(const FaviconResolver&) = delete;
  FaviconResolver& operator=(const FaviconResolver&) = delete;

  // Resolves site icons for the requests (on the resolver's queue). With `siteIconsOn` false it
  // forgets every family's memory and the tab titles instead, and touches nothing else.
  Task<void> request(std::vector<Request> requests, bool siteIconsOn);
  // Deletes the database copies an earlier run left behind (on the resolver's queue).
  Task<void> clearCopies();

  Executor& queue() const { return *queue_; }

  // ---- State, read on the resolver's queue (diagnostics and tests) ----
  bool isWorking() const { return isWorking_; }
  const std::unordered_map<uint32_t, std::string>& tabTitles() const { return tabTitles_; }
  const BrowserState* state(FaviconBrowser family) const;

 private:
  // Prunes and updates the tab titles; the requests grouped by family, each group in request order.
  std::map<FaviconBrowser, std::vector<const Request*>> beginPass(const std::vector<Request>& requests);
  void resolve(FaviconBrowser family, const std::vector<const Request*>& requests);
  std::vector<std::filesystem::path> profiles(const std::string& bundleID) const;
  std::unordered_map<std::string, Resolution> lookUpProfile(const std::filesystem::path& profile,
                                                            FaviconBrowser family,
                                                            const std::vector<std::string>& titles,
                                                            BrowserState& state, std::vector<SiteIcon>& icons);
  std::optional<std::filesystem::path> copyToTemporary(const std::filesystem::path& source, FaviconBrowser family,
                                                       BrowserState& state);
  void logFallbackOnce(const char* reason, FaviconBrowser family, BrowserState& state) const;
  void removeCopyFolder();

  std::shared_ptr<Executor> queue_;
  FaviconStore& store_;
  const std::filesystem::path root_;
  FaviconCopyFolder copyFolder_;
  const Logger logger_{"Favicons"};

  std::map<FaviconBrowser, BrowserState> browsers_;
  std::unordered_map<uint32_t, std::string> tabTitles_;
  bool isWorking_ = false;
};

}  // namespace quorvel
