#include "overlay/SearchField.h"

#include <algorithm>
#include <vector>

#include "base/TextServices.h"

namespace quorvel {

namespace {

int clampIndex(int index, int count) { return std::clamp(index, 0, count); }

int countOf(std::string_view text) { return static_cast<int>(TextServices::graphemeCount(text)); }

}  // namespace

int SearchField::count() const { return countOf(text); }

int SearchField::clampedCaret() const { return clampIndex(caret, count()); }

void SearchField::setCaret(int index) { caret = clampIndex(index, count()); }

void SearchField::insert(std::string_view typed) {
  if (typed.empty()) return;
  const std::vector<size_t> boundaries = TextServices::graphemeBoundaries(text);
  const int at = clampIndex(caret, static_cast<int>(boundaries.size()) - 1);
  const size_t offset = boundaries[static_cast<size_t>(at)];
  text.insert(offset, typed);
  const size_t end = offset + typed.size();
  caret = std::min(countOf(std::string_view(text).substr(0, end)), count());
}

bool SearchField::deleteBackward() {
  const std::vector<size_t> boundaries = TextServices::graphemeBoundaries(text);
  const int total = static_cast<int>(boundaries.size()) - 1;
  const int at = clampIndex(caret, total);
  if (at < 1) {
    caret = at;
    return false;
  }
  const size_t from = boundaries[static_cast<size_t>(at - 1)];
  text.erase(from, boundaries[static_cast<size_t>(at)] - from);
  caret = clampIndex(at - 1, count());
  return true;
}

bool SearchField::deleteForward() {
  const std::vector<size_t> boundaries = TextServices::graphemeBoundaries(text);
  const int total = static_cast<int>(boundaries.size()) - 1;
  const int at = clampIndex(caret, total);
  if (at >= total) {
    caret = at;
    return false;
  }
  const size_t from = boundaries[static_cast<size_t>(at)];
  text.erase(from, boundaries[static_cast<size_t>(at + 1)] - from);
  caret = clampIndex(at, count());
  return true;
}

}  // namespace quorvel
