#include "tabs/FaviconResolver.h"

#include <algorithm>

#include "base/TextServices.h"
#include "tabs/BrowserDataFolders.h"
#include "tabs/FaviconDatabase.h"
#include "tabs/FaviconProfiles.h"
#include "tabs/FaviconStore.h"
#include "tabs/WebAddress.h"

namespace quorvel {

namespace fs = std::filesystem;

namespace {

const char* reasonFor(FaviconCopyFolder::Failure failure) {
  switch (failure) {
    case FaviconCopyFolder::Failure::fileMissing:
      return "file missing";
    case FaviconCopyFolder::Failure::overBudget:
      return "file over the size budget";
    case FaviconCopyFolder::Failure::noPlace:
      return "no place to copy to";
    case FaviconCopyFolder::Failure::copyRefused:
      return "copy refused";
  }
  return "copy refused";
}

}  // namespace

FaviconResolver::FaviconResolver(Runtime& runtime, FaviconStore& store, fs::path root, FaviconCopyFolder copyFolder)
    : queue_(runtime.makeSerialQueue(kQueueLabel, QueueQos::utility)),
      store_(store),
      root_(std::move(root)),
      copyFolder_(std::move(copyFolder)) {}

Task<void> FaviconResolver::request(std::vector<Request> requests, bool siteIconsOn) {
  co_await resumeOn(*queue_);
  if (!siteIconsOn) {
    browsers_.clear();
    tabTitles_.clear();
    co_return;
  }
  if (requests.empty() || isWorking_) co_return;
  isWorking_ = true;
  const auto groups = beginPass(requests);
  for (const auto& [family, group] : groups) {
    // Each family's pass is its own turn of the queue; a request that arrives meanwhile finds the
    // pass working and is dropped.
    co_await resumeOn(*queue_);
    resolve(family, group);
  }
  isWorking_ = false;
}

Task<void> FaviconResolver::clearCopies() {
  co_await resumeOn(*queue_);
  copyFolder_.clearLeftovers();
}

const FaviconResolver::BrowserState* FaviconResolver::state(FaviconBrowser family) const {
  auto it = browsers_.find(family);
  return it == browsers_.end() ? nullptr : &it->second;
}

std::map<FaviconBrowser, std::vector<const FaviconResolver::Request*>> FaviconResolver::beginPass(
    const std::vector<Request>& requests) {
  std::unordered_map<uint32_t, const Request*> byTab;
  for (const Request& r : requests) byTab.try_emplace(r.tab, &r);
  std::erase_if(tabTitles_, [&](const auto& entry) { return !byTab.contains(entry.first); });
  for (const Request& r : requests) {
    auto it = tabTitles_.find(r.tab);
    if (it != tabTitles_.end() && it->second == r.title) continue;
    // A new tab or a new title: the icon of the page it showed before no longer applies.
    store_.forgetTabSite(r.tab);
    tabTitles_[r.tab] = r.title;
  }
  std::map<FaviconBrowser, std::vector<const Request*>> groups;
  for (const Request& r : requests) groups[r.family].push_back(&r);
  return groups;
}

void FaviconResolver::resolve(FaviconBrowser family, const std::vector<const Request*>& requests) {
  BrowserState state = std::move(browsers_[family]);
  auto storeBack = [&] { browsers_[family] = std::move(state); };

  std::set<std::string> wanted;
  for (const Request* r : requests) {
    if (auto it = state.resolved.find(r->title); it != state.resolved.end()) {
      store_.setTabSite(r->tab, it->second.site);
    } else {
      wanted.insert(r->title);
    }
  }

  const Instant now = queue_->clock().now();
  const bool isSweep = !state.lastRetrySweep || now - *state.lastRetrySweep >= kRetryInterval;
  std::set<std::string> remaining;
  for (const std::string& title : wanted) {
    if (isSweep || !state.missing.contains(title)) remaining.insert(title);
  }
  if (remaining.empty()) return storeBack();
  if (state.lastCopy && now - *state.lastCopy < kCopyInterval) return storeBack();

  std::set<std::string> bundleIDs;
  for (const Request* r : requests) bundleIDs.insert(r->bundleID);
  std::unordered_map<std::string, Resolution> found;
  std::vector<SiteIcon> icons;
  for (const std::string& bundleID : bundleIDs) {
    if (remaining.empty()) break;
    const std::vector<fs::path> folders = profiles(bundleID);
    if (folders.empty()) {
      logFallbackOnce("no profile folder", family, state);
      continue;
    }
    for (const fs::path& profile : folders) {
      if (remaining.empty()) break;
      const std::vector<std::string> titles(remaining.begin(), remaining.end());
      for (auto& [title, resolution] : lookUpProfile(profile, family, titles, state, icons)) {
        remaining.erase(title);
        found[title] = std::move(resolution);
      }
    }
  }

  state.lastCopy = now;
  if (isSweep) state.lastRetrySweep = now;
  for (auto& [title, resolution] : found) {
    state.missing.erase(title);
    state.resolved[title] = std::move(resolution);
  }
  state.missing.insert(remaining.begin(), remaining.end());

  // Every tab of this pass gets its site from what is known now, before the memory is trimmed.
  for (const Request* r : requests) {
    if (auto it = state.resolved.find(r->title); it != state.resolved.end()) {
      store_.setTabSite(r->tab, it->second.site);
    }
  }
  // Over the limit, only the titles of the tabs asked about now are kept.
  if (state.resolved.size() > kMemoryLimit || state.missing.size() > kMemoryLimit) {
    std::set<std::string> current;
    for (const Request* r : requests) current.insert(r->title);
    std::erase_if(state.resolved, [&](const auto& entry) { return !current.contains(entry.first); });
    std::erase_if(state.missing, [&](const std::string& title) { return !current.contains(title); });
  }
  storeBack();

  store_.enqueue(std::move(icons));
  removeCopyFolder();
}

std::vector<fs::path> FaviconResolver::profiles(const std::string& bundleID) const {
  const std::optional<FaviconBrowser> family = BrowserDataFolders::family(bundleID);
  const std::optional<std::string> folder = BrowserDataFolders::folder(bundleID);
  if (!family || !folder) return {};
  const fs::path dataFolder = root_ / *folder / "";
  return *family == FaviconBrowser::gecko ? FaviconProfiles::geckoProfiles(dataFolder)
                                          : FaviconProfiles::chromiumProfiles(dataFolder);
}

std::unordered_map<std::string, FaviconResolver::Resolution> FaviconResolver::lookUpProfile(
    const fs::path& profile, FaviconBrowser family, const std::vector<std::string>& titles, BrowserState& state,
    std::vector<SiteIcon>& icons) {
  const auto historyCopy = copyToTemporary(profile / FaviconDatabase::historyFileName(family), family, state);
  if (!historyCopy) return {};
  const FaviconDatabase::Connection history = FaviconDatabase::open(*historyCopy);
  if (!history) {
    logFallbackOnce("history would not open", family, state);
    return {};
  }
  const std::optional<FaviconDatabase::PageHits> hits = FaviconDatabase::pageHits(titles, family, history.get());
  if (!hits) {
    logFallbackOnce("history schema not understood", family, state);
    return {};
  }

  std::unordered_map<std::string, Resolution> resolutions;
  std::map<std::string, std::string> toFetch;  // site -> the one page whose icon is asked for
  for (const auto& [title, hit] : *hits) {
    const std::optional<WebAddress> address = WebAddress::parse(hit.url);
    if (!address || address->host.empty()) continue;
    std::string site = TextServices::lowercased(address->host, "root");
    resolutions[title] = Resolution{site, hit.url};
    if (!toFetch.contains(site) && !store_.hasSiteTexture(site)) toFetch.emplace(std::move(site), hit.url);
  }
  if (toFetch.empty()) return resolutions;

  const auto iconCopy = copyToTemporary(profile / FaviconDatabase::iconFileName(family), family, state);
  if (!iconCopy) return resolutions;
  const FaviconDatabase::Connection iconDatabase = FaviconDatabase::open(*iconCopy);
  if (!iconDatabase) {
    logFallbackOnce("icons would not open", family, state);
    return resolutions;
  }
  for (const auto& [site, page] : toFetch) {
    std::optional<std::vector<uint8_t>> data = FaviconDatabase::iconData(page, family, iconDatabase.get());
    if (!data) {
      const std::optional<std::string> rootPage = FaviconDatabase::rootPage(page);
      if (rootPage && *rootPage != page) data = FaviconDatabase::iconData(*rootPage, family, iconDatabase.get());
    }
    if (data) icons.push_back(SiteIcon{site, std::move(*data)});
  }
  return resolutions;
}

std::optional<fs::path> FaviconResolver::copyToTemporary(const fs::path& source, FaviconBrowser family,
                                                         BrowserState& state) {
  FaviconCopyFolder::Copy copy = copyFolder_.copy(source, faviconBrowserName(family));
  if (copy.failure) logFallbackOnce(reasonFor(*copy.failure), family, state);
  return copy.file;
}

void FaviconResolver::logFallbackOnce(const char* reason, FaviconBrowser family, BrowserState& state) const {
  if (!state.logged.insert(reason).second) return;
  logger_.notice("%{public}s: %{public}s, site icons fall back to the tab strip crop", faviconBrowserName(family),
                 reason);
}

void FaviconResolver::removeCopyFolder() { copyFolder_.removeCopies(); }

}  // namespace quorvel
