#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "overlay/SearchMatcher.h"

namespace quorvel {

// The haystacks of one summon's cards read once (lower-cased, composed and cut into characters),
// so that a keystroke only scores them: the reading, not the scoring, is most of a pass over
// titles that are not plain ASCII. Ranks exactly as SearchMatcher does over the same strings.
class SearchCorpus {
 public:
  SearchCorpus() = default;
  explicit SearchCorpus(const std::vector<std::string>& haystacks) { update(haystacks); }

  // Takes these haystacks, reading again only those that differ from the one at their position.
  void update(const std::vector<std::string>& haystacks);
  size_t size() const { return prepared_.size(); }
  // Positions of the haystacks that match `query`, best first; equal scores keep their order.
  // Without terms, every position in order.
  std::vector<size_t> rank(std::string_view query) const;

 private:
  friend class SearchMatcher;
  std::vector<std::string> haystacks_;
  std::vector<SearchMatcher::Prepared> prepared_;
  std::unordered_map<std::u16string, SearchMatcher::Character> clusters_;
};

}  // namespace quorvel
