// The search of the overlay controller: the query's edits, the filter and its ranking, and the
// re-selection after every change of the shown cards.
#include <algorithm>
#include <cmath>
#include <utility>

#include "overlay/SearchMatcher.h"
#include "overlay/controller/CardListMerge.h"
#include "overlay/controller/OverlayController.h"

namespace quorvel {

void OverlayController::setSearching(bool searching) {
  if (!isVisible_) return;
  shortcutTap_.interrupted();
  if (searching) {
    if (!isSearching_) {
      OverlayScene* scene = activeScene();
      selectedBeforeSearch_ = scene ? cardIDAt(selectedIndex(*scene)) : std::nullopt;
    }
    isSearching_ = true;
    return;
  }
  isSearching_ = false;
  searchField_ = SearchField{};
  // A query that showed no card leaves nothing selected: the selection goes back to where the
  // search found it, so leaving the search brings no other window forward.
  applySearch(std::nullopt, false, std::exchange(selectedBeforeSearch_, std::nullopt));
}

void OverlayController::insertSearchText(const std::string& text) {
  if (!isVisible_ || text.empty()) return;
  shortcutTap_.interrupted();
  searchField_.insert(text);
  applySearch(std::nullopt, true);
}

void OverlayController::deleteBackward() {
  if (!isVisible_) return;
  if (searchField_.deleteBackward()) applySearch(std::nullopt, true);
}

void OverlayController::deleteForward() {
  if (!isVisible_) return;
  if (searchField_.deleteForward()) applySearch(std::nullopt, true);
}

std::string OverlayController::searchHaystack(const WindowCard& card) const {
  std::string site;
  if (card.state == WindowState::browserTab) site = services_.textures.tabSite(card.id).value_or("");
  return card.appName + " " + card.title + " " + site;
}

std::vector<WindowCard> OverlayController::filterCards(const std::string& query,
                                                       const std::vector<WindowCard>& cards) {
  if (!SearchMatcher::terms(query).hasTerms()) return cards;
  std::vector<std::string> haystacks;
  haystacks.reserve(cards.size());
  for (const WindowCard& card : cards) haystacks.push_back(searchHaystack(card));
  searchCorpus_.update(haystacks);
  std::vector<WindowCard> matching;
  for (size_t position : searchCorpus_.rank(query)) matching.push_back(cards[position]);
  return matching;
}

int OverlayController::frontIndex(OverlayScene& scene) {
  return scene.state().withLock([](SceneState::Storage& s) {
    const int c = s.liveCount;
    if (c <= 0) return 0;
    const double f = s.orbit.target;
    if (!std::isfinite(f)) return 0;
    const long long r = std::llround(f) % c;  // halves away from zero
    return static_cast<int>((r + c) % c);
  });
}

void OverlayController::applySearch(std::optional<int> fallbackIndex, bool jumpToBest,
                                    std::optional<uint32_t> whenNoneShown) {
  if (!activeDisplay_ || !presentedScreen_) return;
  OverlayScene* scene = renderer(*activeDisplay_);
  OverlayContentView* view = content(*activeDisplay_);
  if (!scene || !view) return;

  std::optional<uint32_t> remembered;
  if (const int front = frontIndex(*scene); front >= 0 && front < static_cast<int>(presentedCards_.size()))
    remembered = presentedCards_[static_cast<size_t>(front)].id;
  else if (presentedCards_.empty())
    remembered = whenNoneShown;

  const std::vector<WindowCard> filtered = filterCards(searchField_.text, allPresentedCards_);
  presentedCards_ = visibleCards(filtered, tabsMode_, !searchField_.text.empty());
  view->setSearchText(searchField_.text, searchField_.caret);

  const int last = std::max(static_cast<int>(presentedCards_.size()) - 1, 0);
  int target = 0;
  const std::optional<int> stayed = remembered ? CardListMerge::indexOf(presentedCards_, *remembered) : std::nullopt;
  if (jumpToBest && SearchMatcher::terms(searchField_.text).hasTerms()) target = 0;
  else if (stayed) target = *stayed;
  else if (fallbackIndex) target = std::clamp(*fallbackIndex, 0, last);

  scene->refreshSnapshots(presentedCards_, sourceFrames(presentedCards_, *presentedScreen_), target);
  const int selected = selectedIndex(*scene);
  updateTitleForFocus(selected);
  updateTipForFocus(selected);
  updateLiveHero(selectedIndex(*scene));
}

}  // namespace quorvel
