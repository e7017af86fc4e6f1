#include "windows/WindowFingerprints.h"

#include <algorithm>

#include "ax/FrameMatch.h"
#include "windows/Hasher.h"

namespace quorvel {

namespace {

void feedFrame(Hasher& hasher, const Rect& frame) {
  hasher.combine(FrameMatch::truncated(frame.x));
  hasher.combine(FrameMatch::truncated(frame.y));
  hasher.combine(FrameMatch::truncated(frame.width));
  hasher.combine(FrameMatch::truncated(frame.height));
}

int64_t perWindow(std::vector<const RegistryState::RawWindow*> windows, bool withTitles) {
  std::stable_sort(windows.begin(), windows.end(), [](const auto* a, const auto* b) { return a->id < b->id; });
  Hasher hasher;
  for (const auto* window : windows) {
    hasher.combine(window->id);
    hasher.combine(window->isOnScreen);
    feedFrame(hasher, window->frame);
    if (withTitles) hasher.combine(std::string_view(window->title));
  }
  return static_cast<int64_t>(hasher.finalize());
}

}  // namespace

bool WindowFingerprints::sameIntegerFrame(const Rect& a, const Rect& b) {
  auto same = [](double u, double v) { return FrameMatch::truncated(u) == FrameMatch::truncated(v); };
  return same(a.x, b.x) && same(a.y, b.y) && same(a.width, b.width) && same(a.height, b.height);
}

int64_t WindowFingerprints::windowList(const std::optional<std::vector<WindowListEntry>>& entries) {
  if (!entries) return RegistryState::kUnavailableFingerprint;
  Hasher hasher;
  for (const auto& entry : *entries) {
    if (!entry.layer || *entry.layer != 0) continue;
    hasher.combine(entry.number.has_value());
    if (entry.number) hasher.combine(*entry.number);
    hasher.combine(entry.ownerPid.has_value());
    if (entry.ownerPid) hasher.combine(static_cast<int64_t>(*entry.ownerPid));
    if (entry.bounds) feedFrame(hasher, *entry.bounds);
    if (entry.name) hasher.combine(std::string_view(*entry.name));
    hasher.combine(entry.isOnScreen.value_or(false));
  }
  return static_cast<int64_t>(hasher.finalize());
}

int64_t WindowFingerprints::windowSubFingerprint(std::vector<const RawWindow*> windows) {
  return perWindow(std::move(windows), false);
}

int64_t WindowFingerprints::titleFingerprint(std::vector<const RawWindow*> windows) {
  return perWindow(std::move(windows), true);
}

}  // namespace quorvel
