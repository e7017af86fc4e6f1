#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "ax/AXHandle.h"
#include "tabs/TabRecord.h"

namespace quorvel {

// Stable ids for browser tabs. Every walk hands back a fresh list of tabs and titles change as pages
// load, so the store remembers, per host window, the tabs it saw last (id, element, title) and
// matches each freshly walked tab against them: by element, then by a title unique on both sides,
// then by position when the count is unchanged. It also keeps the use ticks of tabs for the card
// ordering. Touched only by the refresh work, one pass at a time: no lock of its own.
class TabIdentityStore final {
 public:
  // Every id the store hands out has both top bits set.
  static constexpr uint32_t kIDBits = 0xC0000000u;
  // The use-tick table is cut back to kKeptUses entries once it holds more than kMaxUses.
  static constexpr size_t kMaxUses = 512;
  static constexpr size_t kKeptUses = 256;

  struct Remembered {
    uint32_t id = 0;
    AXHandleRef element;  // held strongly, so the element lives between passes
    std::string title;
  };
  struct Host {
    int32_t pid = 0;
    std::vector<Remembered> tabs;  // in the order of the last walk
  };

  // One id per walked tab, in order; replaces what the host window's entry remembered.
  std::vector<uint32_t> assign(const std::vector<TabRecord>& tabs, uint32_t hostWindow, int32_t pid);
  // Marks the tab as used now.
  void touch(uint32_t id);
  // Keeps the hosts whose window and process the pass still shows, and the use ticks of their tabs.
  void forgetHost(const std::unordered_set<uint32_t>& windows, const std::unordered_set<int32_t>& pids);

  const std::unordered_map<uint32_t, int64_t>& lastUsed() const { return lastUsed_; }
  const std::unordered_map<uint32_t, Host>& hosts() const { return hosts_; }
  uint32_t counter() const { return counter_; }
  int64_t useTick() const { return useTick_; }

 private:
  std::vector<uint32_t> match(const std::vector<TabRecord>& walked, const std::vector<Remembered>& remembered) const;

  std::unordered_map<uint32_t, Host> hosts_;
  uint32_t counter_ = 0;
  std::unordered_map<uint32_t, int64_t> lastUsed_;
  int64_t useTick_ = 0;
};

}  // namespace quorvel
