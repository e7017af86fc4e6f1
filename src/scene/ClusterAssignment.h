#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "scene/ClusterKey.h"

namespace quorvel {

// The grouping of consecutive cards into piles, and the mapping between card positions (fractional
// card indices, the scene's focus) and places (pile indices, what the arrangements lay out while
// piles are shown). Positions may lie outside the valid range in wrap mode: a card position c has
// lap = floor(c / n) and residue c mod n (non-negative), a place p lap = floor(p / k) and residue
// p mod k, with n cards and k piles; the mapping keeps the lap.
//
// An immutable value sharing its tables: copies (into frames and probes) never allocate. The
// default value is the empty assignment (no cards, no piles, not bunching), one shared value.
class ClusterAssignment {
 public:
  ClusterAssignment();
  // Card i joins the pile of card i − 1 when its key is not `alone` and equals that card's key;
  // any other card opens a pile. No keys give the empty assignment.
  static ClusterAssignment build(const std::vector<ClusterKey>& keys);

  const std::vector<int32_t>& ofCard() const { return data_->ofCard; }  // pile of every card
  const std::vector<int32_t>& first() const { return data_->first; }    // first card of every pile
  const std::vector<int32_t>& width() const { return data_->width; }    // cards of every pile
  bool bunches() const { return data_->bunches; }                       // some pile holds 2 or more
  int cardCount() const { return static_cast<int>(data_->ofCard.size()); }
  int pileCount() const { return static_cast<int>(data_->first.size()); }
  bool isEmpty() const { return data_->ofCard.empty(); }
  // Whether the assignment describes exactly `cards` cards.
  bool covers(int cards) const { return cardCount() == cards; }

  bool operator==(const ClusterAssignment& other) const;

  // ---- Place and card mapping (k = pileCount, n = cardCount) ----
  // first[r] + lap × n; p itself with no piles.
  int64_t firstCard(int64_t place) const;
  // first[r] + width[r] − 1 + lap × n; p itself with no piles.
  int64_t lastCard(int64_t place) const;
  // ofCard[r] + lap × k; c itself with no cards.
  int64_t place(int64_t card) const;
  // A fractional card position as a fractional place (linear between the places of floor(x) and
  // floor(x) + 1); x itself with no cards, x not finite or |x| ≥ 1e12.
  double placePosition(double cardPosition) const;
  // A fractional place as a card position (linear between the first cards of two places).
  double cardPosition(double placePosition) const;
  // The first card of floor(x) when x is whole, else the last card of floor(x) plus the fraction.
  double cardPositionLast(double placePosition) const;
  // The card of a pile the keyboard acts on: the pile's first card while the focus is less than half
  // way there (smoothstep of the place distance), else the card under the focus inside the pile.
  int64_t selectedCard(int64_t place, double focus) const;

  // |d − round(d / m) × m| with d = index − position; |d| when m < 1 or d is not finite.
  static double circularDistance(double index, double position, int64_t count);
  // x moved by whole laps of m to the lap nearest the middle of [a, b]; x itself when m < 1, x is
  // not finite or |x| ≥ 1e12.
  static double unwrap(double x, double a, double b, int64_t count);

 private:
  struct Data {
    std::vector<int32_t> ofCard;
    std::vector<int32_t> first;
    std::vector<int32_t> width;
    bool bunches = false;
  };
  explicit ClusterAssignment(std::shared_ptr<const Data> data) : data_(std::move(data)) {}
  static const std::shared_ptr<const Data>& emptyData();

  std::shared_ptr<const Data> data_;
};

}  // namespace quorvel
