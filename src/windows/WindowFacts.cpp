#include "windows/WindowFacts.h"

#include "base/TextServices.h"

namespace quorvel {

WindowFacts WindowFacts::of(const RawWindow& window, const Pass& pass) {
  static const std::set<int64_t> kNoSpaces;
  static const std::vector<const RawWindow*> kNoWindows;

  const auto axFound = pass.axWindows.find(window.id);
  const std::set<int64_t>* spaces = &kNoSpaces;
  if (pass.snapshot) {
    const auto found = pass.snapshot->spacesByWindow.find(window.id);
    if (found != pass.snapshot->spacesByWindow.end()) spaces = &found->second;
  }
  const auto sameApp = pass.windowsByPid.find(window.pid);

  WindowFacts facts{
      .window = window,
      .ax = axFound == pass.axWindows.end() ? nullptr : &axFound->second,
      .spaces = *spaces,
      .sameApp = sameApp == pass.windowsByPid.end() ? kNoWindows : sameApp->second,
      .snapshot = pass.snapshot,
  };
  facts.trusted = pass.trusted;
  facts.own = window.pid == pass.ownPid;
  facts.ownOpen = facts.own && pass.ownWindowNumbers.contains(window.id);
  facts.hiddenApp = pass.hiddenPids.contains(window.pid);
  facts.minimized = facts.listedByAX() && facts.ax->isMinimized;
  facts.blank = TextServices::trimmed(window.title).empty();
  facts.knownPrivate = pass.knownPrivate.contains(window.id);
  facts.placedBefore = pass.prior.placedOnASpace.contains(window.id);
  facts.axNamedBefore = pass.prior.axNamed.contains(window.id);
  facts.appAnsweredAX = pass.pidsWithAXWindows.contains(window.pid);
  return facts;
}

}  // namespace quorvel
