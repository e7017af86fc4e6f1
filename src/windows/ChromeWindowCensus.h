#pragma once

#include <cstdint>
#include <mutex>
#include <unordered_set>

namespace quorvel {

// The window numbers of this program's own windows (settings, tour, permission, feedback, updater)
// that are open, visible or minimized. The application shell notes its windows as they open and
// close; the registry reads the set to keep its own windows among the cards. Thread-safe.
class ChromeWindowCensus {
 public:
  // Numbers below 1 name no window and are ignored.
  void windowOpened(uint32_t windowNumber);
  void windowClosed(uint32_t windowNumber);
  std::unordered_set<uint32_t> openWindowNumbers() const;

 private:
  mutable std::mutex mutex_;
  std::unordered_set<uint32_t> open_;
};

}  // namespace quorvel
