#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <utility>
#include <vector>

#include "windows/CardOrdering.h"
#include "windows/WindowCard.h"

namespace quorvel {

// The ordered cards of one summon, without copies: the committed card list and tab table of one
// refresh pass (immutable, kept alive here) and the summon's order over them, one pointer a card.
// It reads like a constant vector of cards: size(), operator[], front(), back() and random-access
// iteration yield `const WindowCard&`. Copying a SummonCards copies the order only; the cards stay
// shared. A caller that keeps cards beyond the summon, or must change them, takes `copies()`.
//
// Values only: no lock, no thread. A list may be read on any thread, as the cards never change.
class SummonCards {
 public:
  // Random-access iterator over the cards in the summon's order.
  class Iterator {
   public:
    using iterator_category = std::random_access_iterator_tag;
    using iterator_concept = std::random_access_iterator_tag;
    using value_type = WindowCard;
    using difference_type = std::ptrdiff_t;
    using pointer = const WindowCard*;
    using reference = const WindowCard&;

    Iterator() = default;
    explicit Iterator(const WindowCard* const* at) : at_(at) {}

    reference operator*() const { return **at_; }
    pointer operator->() const { return *at_; }
    reference operator[](difference_type n) const { return *at_[n]; }
    Iterator& operator++() { ++at_; return *this; }
    Iterator operator++(int) { Iterator old = *this; ++at_; return old; }
    Iterator& operator--() { --at_; return *this; }
    Iterator operator--(int) { Iterator old = *this; --at_; return old; }
    Iterator& operator+=(difference_type n) { at_ += n; return *this; }
    Iterator& operator-=(difference_type n) { at_ -= n; return *this; }
    friend Iterator operator+(Iterator it, difference_type n) { return it += n; }
    friend Iterator operator+(difference_type n, Iterator it) { return it += n; }
    friend Iterator operator-(Iterator it, difference_type n) { return it -= n; }
    friend difference_type operator-(const Iterator& a, const Iterator& b) { return a.at_ - b.at_; }
    friend bool operator==(const Iterator& a, const Iterator& b) { return a.at_ == b.at_; }
    friend auto operator<=>(const Iterator& a, const Iterator& b) { return a.at_ <=> b.at_; }

   private:
    const WindowCard* const* at_ = nullptr;
  };

  // An empty list.
  SummonCards() = default;
  // `order` points into `*cards` and into the tab cards of `*tabCards` only.
  SummonCards(std::shared_ptr<const std::vector<WindowCard>> cards,
              std::shared_ptr<const CardOrdering::TabTable> tabCards, std::vector<const WindowCard*> order)
      : cards_(std::move(cards)), tabCards_(std::move(tabCards)), order_(std::move(order)) {}

  size_t size() const { return order_.size(); }
  bool empty() const { return order_.empty(); }
  const WindowCard& operator[](size_t i) const { return *order_[i]; }
  const WindowCard& front() const { return *order_.front(); }
  const WindowCard& back() const { return *order_.back(); }
  Iterator begin() const { return Iterator(order_.data()); }
  Iterator end() const { return Iterator(order_.data() + order_.size()); }

  // The cards for which `keep(card)` holds, in this order, over the same pass.
  template <class Keep>
  SummonCards filtered(Keep&& keep) const {
    std::vector<const WindowCard*> kept;
    kept.reserve(order_.size());
    for (const WindowCard* card : order_) {
      if (keep(*card)) kept.push_back(card);
    }
    return SummonCards(cards_, tabCards_, std::move(kept));
  }
  // The position of the first card with this id, or -1.
  int positionOf(uint32_t id) const;
  // The cards as values, in order, each copied once.
  std::vector<WindowCard> copies() const;

 private:
  std::shared_ptr<const std::vector<WindowCard>> cards_;
  std::shared_ptr<const CardOrdering::TabTable> tabCards_;
  std::vector<const WindowCard*> order_;
};

}  // namespace quorvel
