#include "windows/WindowCard.h"

namespace quorvel {

std::optional<std::string> WindowCard::normalizedBundleID(std::optional<std::string> bundleID) {
  if (bundleID && bundleID->empty()) return std::nullopt;
  return bundleID;
}

WindowCard WindowCard::applicationCard(int32_t pid, std::string name, std::optional<std::string> bundleID) {
  WindowCard card;
  card.id = applicationCardID(pid);
  card.orderingID = card.id;
  card.title = name;
  card.appName = std::move(name);
  card.bundleID = normalizedBundleID(std::move(bundleID));
  card.pid = pid;
  card.state = WindowState::windowlessApp;
  return card;
}

WindowCard WindowCard::tabCard(const WindowCard& host, uint32_t tabID, std::string title, TabFacts facts) {
  WindowCard card;
  card.id = tabID;
  card.orderingID = tabID;
  card.title = std::move(title);
  card.appName = host.appName;
  card.bundleID = host.bundleID;
  card.pid = host.pid;
  card.frame = host.frame;
  card.ax = host.ax;
  card.state = WindowState::browserTab;
  card.spaceNumber = host.spaceNumber;
  card.spaceIDs = host.spaceIDs;
  facts.hostWindowID = host.id;
  card.tab = std::move(facts);
  return card;
}

CardStatus WindowCard::status() const {
  return CardStatus{state, spaceNumber, isOnFullscreenSpace, tab.has_value()};
}

std::optional<TabTarget> WindowCard::tabTarget() const {
  if (!tab) return std::nullopt;
  TabTarget target;
  target.pid = pid;
  target.bundleID = bundleID;
  target.title = title;
  target.hostFrame = frame;
  target.hostWindow = ax;
  target.element = tab->element;
  target.ordinal = tab->ordinal;
  target.stripCount = tab->stripCount;
  return target;
}

}  // namespace quorvel
