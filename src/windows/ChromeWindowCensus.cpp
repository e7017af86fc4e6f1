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

void CountedWindow::shown(uint32_t windowNumber) {
  if (number_ == windowNumber) return;
  gone();
  census_.windowOpened(windowNumber);
  number_ = windowNumber;
}

void CountedWindow::gone() {
  if (number_) census_.windowClosed(*number_);
  number_.reset();
}

}  // namespace quorvel
