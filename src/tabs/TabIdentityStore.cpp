#include "tabs/TabIdentityStore.h"

#include <algorithm>
#include <utility>

#include "platform/AXElement.h"

namespace quorvel {

namespace {

constexpr uint32_t kUnmatched = 0;  // no id the store hands out is 0 (they all have the top bits)

const AXElementRef& elementOf(const AXHandleRef& handle) {
  static const AXElementRef none;
  return handle ? handle->element() : none;
}

// Titles that more than one side of the match carries are no evidence; one per side is.
struct TitleCount {
  size_t count = 0;
  size_t index = 0;
};

}  // namespace

std::vector<uint32_t> TabIdentityStore::match(const std::vector<TabRecord>& walked,
                                              const std::vector<Remembered>& remembered) const {
  std::vector<uint32_t> ids(walked.size(), kUnmatched);
  if (remembered.empty()) return ids;
  std::vector<bool> taken(remembered.size(), false);

  // 1. By element: two wrappers of one element are the same key.
  std::unordered_map<AXElementRef, std::vector<size_t>, AXElementHash, AXElementEqual> byElement;
  byElement.reserve(remembered.size());
  for (size_t i = 0; i < remembered.size(); ++i) {
    if (const AXElementRef& element = elementOf(remembered[i].element)) byElement[element].push_back(i);
  }
  for (size_t k = 0; k < walked.size(); ++k) {
    const AXElementRef& element = elementOf(walked[k].element);
    if (!element) continue;
    auto found = byElement.find(element);
    if (found == byElement.end()) continue;
    for (size_t i : found->second) {
      if (!taken[i]) {
        taken[i] = true;
        ids[k] = remembered[i].id;
        break;
      }
    }
  }

  // 2. By a non-empty title that exactly one unmatched walked tab and one untaken entry carry.
  std::unordered_map<std::string_view, TitleCount> walkedTitles;
  std::unordered_map<std::string_view, TitleCount> rememberedTitles;
  for (size_t k = 0; k < walked.size(); ++k) {
    if (ids[k] != kUnmatched || walked[k].title.empty()) continue;
    TitleCount& entry = walkedTitles[walked[k].title];
    ++entry.count;
    entry.index = k;
  }
  for (size_t i = 0; i < remembered.size(); ++i) {
    if (taken[i] || remembered[i].title.empty()) continue;
    TitleCount& entry = rememberedTitles[remembered[i].title];
    ++entry.count;
    entry.index = i;
  }
  for (const auto& [title, walkedEntry] : walkedTitles) {
    if (walkedEntry.count != 1) continue;
    auto other = rememberedTitles.find(title);
    if (other == rememberedTitles.end() || other->second.count != 1) continue;
    taken[other->second.index] = true;
    ids[walkedEntry.index] = remembered[other->second.index].id;
  }

  // 3. By position, only when the strip kept its length.
  if (walked.size() == remembered.size()) {
    for (size_t k = 0; k < walked.size(); ++k) {
      if (ids[k] == kUnmatched && !taken[k]) {
        taken[k] = true;
        ids[k] = remembered[k].id;
      }
    }
  }
  return ids;
}

std::vector<uint32_t> TabIdentityStore::assign(const std::vector<TabRecord>& tabs, uint32_t hostWindow, int32_t pid) {
  static const std::vector<Remembered> nothing;
  auto existing = hosts_.find(hostWindow);
  // A window number now owned by another process starts afresh.
  const std::vector<Remembered>& remembered =
      existing != hosts_.end() && existing->second.pid == pid ? existing->second.tabs : nothing;

  std::vector<uint32_t> ids = match(tabs, remembered);
  for (uint32_t& id : ids) {
    if (id == kUnmatched) {
      ++counter_;  // wraps at 2^32
      id = counter_ | kIDBits;
    }
  }

  Host host;
  host.pid = pid;
  host.tabs.reserve(tabs.size());
  for (size_t k = 0; k < tabs.size(); ++k) host.tabs.push_back(Remembered{ids[k], tabs[k].element, tabs[k].title});
  hosts_[hostWindow] = std::move(host);
  return ids;
}

void TabIdentityStore::touch(uint32_t id) {
  ++useTick_;
  lastUsed_[id] = useTick_;
  if (lastUsed_.size() <= kMaxUses) return;
  std::vector<std::pair<uint32_t, int64_t>> byRecency(lastUsed_.begin(), lastUsed_.end());
  const size_t keep = std::min(kKeptUses, byRecency.size());
  std::partial_sort(byRecency.begin(), byRecency.begin() + static_cast<std::ptrdiff_t>(keep), byRecency.end(),
                    [](const auto& a, const auto& b) { return a.second > b.second; });
  byRecency.resize(keep);
  lastUsed_ = std::unordered_map<uint32_t, int64_t>(byRecency.begin(), byRecency.end());
}

void TabIdentityStore::forgetHost(const std::unordered_set<uint32_t>& windows, const std::unordered_set<int32_t>& pids) {
  if (hosts_.empty()) return;
  std::erase_if(hosts_, [&](const auto& entry) {
    return !windows.contains(entry.first) || !pids.contains(entry.second.pid);
  });
  if (lastUsed_.empty()) return;
  std::unordered_set<uint32_t> live;
  for (const auto& [window, host] : hosts_) {
    for (const Remembered& tab : host.tabs) live.insert(tab.id);
  }
  std::erase_if(lastUsed_, [&](const auto& entry) { return !live.contains(entry.first); });
}

}  // namespace quorvel
