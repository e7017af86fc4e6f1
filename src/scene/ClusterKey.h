#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quorvel {

// What makes consecutive cards one pile: the windows of one application (`app`, by process id), the
// tabs of one browser window (`tabHost`, by the host's window id), or nothing (`alone`, never joins).
// Also the small helpers the overlay and the label cache call around piles. Pure values and
// functions: any thread.
class ClusterKey {
 public:
  enum class Kind : uint8_t { alone = 0, app = 1, tabHost = 2 };

  static ClusterKey alone() { return ClusterKey(Kind::alone, 0); }
  static ClusterKey app(int32_t pid) { return ClusterKey(Kind::app, static_cast<uint32_t>(pid)); }
  static ClusterKey tabHost(uint32_t windowID) { return ClusterKey(Kind::tabHost, windowID); }

  Kind kind() const { return kind_; }
  // The process id or window id (0 for `alone`).
  uint32_t value() const { return value_; }
  // Same case and same value; `alone` equals `alone`.
  bool operator==(const ClusterKey&) const = default;
  // Feeds the case number (alone 0, app 1, tabHost 2), then the 32-bit value for app and tabHost.
  size_t hashValue() const;

  // The tab-pile key of every card: `hostIDs` holds each card's browser window when it is a tab
  // (none for other cards), `windowIDs` each card's own id. Unchanged when the lists differ in
  // length or `keepWindowCardBesideTabs` is true. Otherwise a card without a host takes its own id
  // when the next card is a tab of it (the browser window's card joins its tabs' pile); tab cards
  // keep their host.
  static std::vector<std::optional<uint32_t>> tabPileKeys(const std::vector<std::optional<uint32_t>>& hostIDs,
                                                           const std::vector<uint32_t>& windowIDs,
                                                           bool keepWindowCardBesideTabs);

  // Which cards to keep: all without bunching; with bunching, in each run of consecutive equal keys
  // the first floor(2 × max(cap, 0)) + 2 cards (18 for the cap 8.0) and none after; cards without a
  // key are kept. A cap that is not finite counts as 0.
  static std::vector<bool> pileVisibility(const std::vector<std::optional<uint32_t>>& keys, bool bunching, float cap);

  // The text of a count badge: "999+" from 1000 on, the number for 0 to 999, "+" and the magnitude
  // for a negative count (tabs out of reach).
  static std::string countLabel(int64_t n);

 private:
  ClusterKey(Kind kind, uint32_t value) : kind_(kind), value_(value) {}

  Kind kind_;
  uint32_t value_;
};

}  // namespace quorvel

template <>
struct std::hash<quorvel::ClusterKey> {
  size_t operator()(const quorvel::ClusterKey& key) const { return key.hashValue(); }
};
