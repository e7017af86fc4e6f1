#include "overlay/SearchCorpus.h"

#include <algorithm>
#include <optional>
#include <utility>

namespace quorvel {

void SearchCorpus::update(const std::vector<std::string>& haystacks) {
  // One reader interns every character of several scalars, so that the ids are the corpus's own.
  SearchMatcher reader = SearchMatcher::terms("");
  reader.clusters_ = std::move(clusters_);
  haystacks_.resize(haystacks.size());
  prepared_.resize(haystacks.size());
  for (size_t p = 0; p < haystacks.size(); ++p) {
    if (haystacks_[p] == haystacks[p]) continue;  // read already (an empty one reads as nothing)
    reader.readCharacters(haystacks[p], true);
    haystacks_[p] = haystacks[p];
    SearchMatcher::Prepared& prepared = prepared_[p];
    prepared.characters = reader.characters_;
    prepared.wordChar = reader.wordChar_;
    prepared.bonus.resize(prepared.characters.size());
    SearchMatcher::bonusRow(prepared.wordChar.data(), prepared.characters.size(), prepared.bonus.data());
  }
  clusters_ = std::move(reader.clusters_);
}

std::vector<size_t> SearchCorpus::rank(std::string_view query) const {
  SearchMatcher matcher = SearchMatcher::terms(query, *this);
  std::vector<size_t> order;
  order.reserve(prepared_.size());
  if (!matcher.hasTerms()) {
    for (size_t p = 0; p < prepared_.size(); ++p) order.push_back(p);
    return order;
  }
  std::vector<std::pair<int64_t, size_t>> kept;
  kept.reserve(prepared_.size());
  for (size_t p = 0; p < prepared_.size(); ++p) {
    if (std::optional<int64_t> s = matcher.score(prepared_[p])) kept.emplace_back(*s, p);
  }
  std::stable_sort(kept.begin(), kept.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  for (const auto& entry : kept) order.push_back(entry.second);
  return order;
}

}  // namespace quorvel
