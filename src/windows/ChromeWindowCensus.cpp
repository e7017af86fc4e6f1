#include "windows/ChromeWindowCensus.h"

namespace quorvel {

void ChromeWindowCensus::windowOpened(uint32_t windowNumber) {
  if (windowNumber < 1) return;
  std::lock_guard guard(mutex_);
  open_.insert(windowNumber);
}

void ChromeWindowCensus::windowClosed(uint32_t windowNumber) {
  std::lock_guard guard(mutex_);
  open_.erase(windowNumber);
}

std::unordered_set<uint32_t> ChromeWindowCensus::openWindowNumbers() const {
  std::lock_guard guard(mutex_);
  return open_;
}

}  // namespace quorvel
