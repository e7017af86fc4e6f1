#include "tabs/TabIdentityStore.h"

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <utility>

#include "platform/AXElement.h"

namespace quorvel {

namespace {

constexpr uint32_t kUnmatched = 0;  // no id the store hands out is 0 (they all have the top bits)
constexpr size_t kNone = SIZE_MAX;

const AXElement* elementOf(const AXHandleRef& handle) { return handle ? handle->element().get() : nullptr; }

// Element identity as the platform defines it: two wrappers of one element are the same key.
struct ElementKeyHash {
  size_t operator()(const AXElement* e) const { return e->hash(); }
};
struct ElementKeyEqual {
  bool operator()(const AXElement* a, const AXElement* b) const { return a == b || a->isEqual(*b); }
};

// How often a title occurs among the unmatched walked tabs and the untaken remembered ones, and
// where (its last occurrence on each side). Only a title that each side carries once is evidence.
struct TitleSeen {
  size_t walked = 0;
  size_t walkedIndex = 0;
  size_t remembered = 0;
  size_t rememberedIndex = 0;
};

}  // namespace

std::vector<uint32_t> TabIdentityStore::match(const std::vector<TabRecord>& walked,
                                              const std::vector<Remembered>& remembered) const {
  std::vector<uint32_t> ids(walked.size(), kUnmatched);
  if (remembered.empty()) return ids;
  std::vector<bool> taken(remembered.size(), false);

  // 1. By element. Entries of one element are chained in remembered order: head in the table,
  // then `nextSame`.
  std::unordered_map<const AXElement*, size_t, ElementKeyHash, ElementKeyEqual> firstOf;
  firstOf.reserve(remembered.size());
  std::vector<size_t> nextSame(remembered.size(), kNone);
  std::vector<size_t> lastOf(remembered.size(), kNone);
  for (size_t i = 0; i < remembered.size(); ++i) {
    const AXElement* element = elementOf(remembered[i].element);
    if (!element) continue;
    auto [it, inserted] = firstOf.try_emplace(element, i);
    if (inserted) {
      lastOf[i] = i;
    } else {
      const size_t head = it->second;
      nextSame[lastOf[head]] = i;
      lastOf[head] = i;
    }
  }
  for (size_t k = 0; k < walked.size(); ++k) {
    const AXElement* element = elementOf(walked[k].element);
    if (!element) continue;
    auto found = firstOf.find(element);
    if (found == firstOf.end()) continue;
    for (size_t i = found->second; i != kNone; i = nextSame[i]) {
      if (!taken[i]) {
        taken[i] = true;
        ids[k] = remembered[i].id;
        break;
      }
    }
  }

  // 2. By a non-empty title that exactly one unmatched walked tab and one untaken entry carry.
  std::unordered_map<std::string_view, TitleSeen> titles;
  titles.reserve(walked.size() + remembered.size());
  for (size_t k = 0; k < walked.size(); ++k) {
    if (ids[k] != kUnmatched || walked[k].title.empty()) continue;
    TitleSeen& seen = titles[walked[k].title];
    ++seen.walked;
    seen.walkedIndex = k;
  }
  for (size_t i = 0; i < remembered.size(); ++i) {
    if (taken[i] || remembered[i].title.empty()) continue;
    auto it = titles.find(remembered[i].title);
    if (it == titles.end()) continue;  // no walked tab carries it
    ++it->second.remembered;
    it->second.rememberedIndex = i;
  }
  for (const auto& [title, seen] : titles) {
    if (seen.walked != 1 || seen.remembered != 1) continue;
    taken[seen.rememberedIndex] = true;
    ids[seen.walkedIndex] = remembered[seen.rememberedIndex].id;
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
