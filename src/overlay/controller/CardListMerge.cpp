#include "overlay/controller/CardListMerge.h"

#include <unordered_map>
#include <unordered_set>

namespace quorvel {

bool CardListMerge::looksTheSame(const WindowCard& a, const WindowCard& b) {
  return a.id == b.id && a.state == b.state && a.title == b.title && a.frame == b.frame &&
         a.isPrivate == b.isPrivate && a.blursPicture == b.blursPicture;
}

std::optional<int> CardListMerge::indexOf(const std::vector<WindowCard>& cards, uint32_t id) {
  for (size_t i = 0; i < cards.size(); ++i) {
    if (cards[i].id == id) return static_cast<int>(i);
  }
  return std::nullopt;
}

std::optional<std::vector<WindowCard>> CardListMerge::merged(const std::vector<WindowCard>& shown,
                                                             const std::vector<WindowCard>& fresh,
                                                             const std::optional<ApplicationIdentity>& scope) {
  std::vector<const WindowCard*> scoped;
  scoped.reserve(fresh.size());
  std::unordered_map<uint32_t, const WindowCard*> byID;
  for (const WindowCard& card : fresh) {
    if (scope && !scope->contains(card)) continue;
    if (byID.emplace(card.id, &card).second) scoped.push_back(&card);
  }
  std::vector<WindowCard> updated;
  updated.reserve(scoped.size());
  std::unordered_set<uint32_t> kept;
  for (const WindowCard& card : shown) {
    auto found = byID.find(card.id);
    if (found == byID.end() || !kept.insert(card.id).second) continue;
    updated.push_back(*found->second);
  }
  for (const WindowCard* card : scoped) {
    if (!kept.count(card->id)) updated.push_back(*card);
  }
  if (updated.size() == shown.size()) {
    bool same = true;
    for (size_t i = 0; i < shown.size() && same; ++i) same = looksTheSame(updated[i], shown[i]);
    if (same) return std::nullopt;
  }
  return updated;
}

std::vector<WindowCard> CardListMerge::appendingNewcomers(const std::vector<WindowCard>& shown,
                                                          const std::vector<WindowCard>& fresh) {
  std::vector<WindowCard> list = shown;
  std::unordered_set<uint32_t> ids;
  for (const WindowCard& card : shown) ids.insert(card.id);
  for (const WindowCard& card : fresh) {
    if (ids.insert(card.id).second) list.push_back(card);
  }
  return list;
}

}  // namespace quorvel
