#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Geometry.h"
#include "scene/CardSnapshot.h"
#include "scene/ClusterAssignment.h"
#include "windows/WindowCard.h"

namespace quorvel {

// Turns the registry's window cards into the scene's card snapshots with the display settings of
// the moment, and the cards into their pile assignment. Pure functions: any thread.
class SnapshotBuilder {
 public:
  // The settings a build reads once.
  struct Options {
    bool preserveWindowScale = false;
    bool labelPlaceholders = false;
    bool showCardTitles = false;
    float sessionTallest = 1;  // tallest window height of the card set, at least 1
    Size layerBounds;          // the overlay's bounds in points
  };
  struct Bunching {
    bool bunchTabs = false;
    bool bunchAppWindows = false;
    bool keepWindowCardBesideTabs = false;
  };

  // One card; `rect` its window's frame in overlay points, when known.
  static CardSnapshot snapshot(const WindowCard& card, const std::optional<Rect>& rect, const Options& options);
  static std::vector<CardSnapshot> snapshots(const std::vector<WindowCard>& cards, const std::vector<Rect>& rects,
                                             const Options& options);
  static ClusterAssignment clusters(const std::vector<WindowCard>& cards, const Bunching& bunching);
  // The tallest window of a card set (frame height), at least 1.
  static float sessionTallest(const std::vector<WindowCard>& cards);

  // A title plate's text: trimmed (the trimmed application name when blank); longer than 40
  // characters it keeps its first 20, "…" and its last 19.
  static std::string clippedTitle(std::string_view title, std::string_view appName);
  // A tab label's title: longer than 60 characters it keeps its first 30, "…" and its last 29.
  static std::string shortTabTitle(std::string_view title);
  // First `head` and last `tail` characters around "…" when `text` has more than `limit`.
  static std::string elided(std::string_view text, size_t limit, size_t head, size_t tail);
};

}  // namespace quorvel
