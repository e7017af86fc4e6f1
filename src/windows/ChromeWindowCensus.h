#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
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

// One window of ours as the census knows it, under the number it has now: a window made again has
// a new number, and the old number leaves the census as the new one enters.
class CountedWindow {
 public:
  explicit CountedWindow(ChromeWindowCensus& census) : census_(census) {}
  CountedWindow(const CountedWindow&) = delete;
  CountedWindow& operator=(const CountedWindow&) = delete;
  ~CountedWindow() { gone(); }

  void shown(uint32_t windowNumber);
  void gone();
  bool counted() const { return number_.has_value(); }

 private:
  ChromeWindowCensus& census_;
  std::optional<uint32_t> number_;
};

}  // namespace quorvel
