#include "tabs/TabActivation.h"

#include "ax/FrameMatch.h"
#include "base/Logger.h"
#include "platform/AXNames.h"
#include "platform/Accessibility.h"
#include "tabs/TabWalker.h"

namespace quorvel {

namespace {

const Logger& logger() {
  // Never destroyed: threads still running as the process ends may log.
  static const Logger& log = *new Logger("TabActivation");
  return log;
}

}  // namespace

TabActivation::TabActivation(Accessibility& accessibility, TabWalker& walker)
    : accessibility_(accessibility), walker_(walker) {}

AXElementRef TabActivation::mainWindowMatching(const TabTarget& target) {
  AXElementRef application = accessibility_.applicationElement(target.pid);
  if (!application) return nullptr;
  accessibility_.setMessagingTimeout(application, kMessagingTimeout);
  AXElementRef main = accessibility_.elementAttribute(application, AXNames::kMainWindow);
  if (!main) return nullptr;
  const std::optional<Rect> frame = accessibility_.frame(main);
  if (!frame || !FrameMatch::framesMatch(*frame, target.hostFrame)) return nullptr;
  return main;
}

std::vector<AXHandleRef> TabActivation::hostCandidates(const TabTarget& target, const TabAdapter& adapter) {
  std::vector<AXHandleRef> candidates;
  if (target.hostWindow && target.hostWindow->element()) candidates.push_back(target.hostWindow);
  if (!adapter.tabsAreWindows) return candidates;
  AXElementRef main = mainWindowMatching(target);
  if (!main) return candidates;
  const AXElementEqual same;
  for (const AXHandleRef& candidate : candidates) {
    if (same(candidate->element(), main)) return candidates;
  }
  candidates.push_back(AXHandle::make(std::move(main)));
  return candidates;
}

std::optional<TabRecord> TabActivation::findTab(const std::vector<TabRecord>& walked, const TabTarget& target) {
  if (walked.empty()) return std::nullopt;

  // The element the tab card was built from, when the strip still holds it (equality, not identity).
  if (target.element && target.element->element()) {
    const AXElementEqual same;
    for (const TabRecord& tab : walked) {
      if (tab.element && same(tab.element->element(), target.element->element())) return tab;
    }
  }
  // The strip was rebuilt: a title that only one tab carries.
  if (!target.title.empty()) {
    const TabRecord* only = nullptr;
    size_t count = 0;
    for (const TabRecord& tab : walked) {
      if (tab.title == target.title) {
        only = &tab;
        ++count;
      }
    }
    if (count == 1) return *only;
  }
  // Same count as when the card was made: trust the position.
  if (static_cast<int>(walked.size()) == target.stripCount && target.ordinal >= 0 && target.ordinal < target.stripCount) {
    return walked[static_cast<size_t>(target.ordinal)];
  }
  return std::nullopt;
}

TabSelection TabActivation::readSelected(const AXElementRef& tab) {
  if (!tab) return TabSelection::notTold;
  AXAttributeResult result = accessibility_.copyAttributeValue(tab, AXNames::kSelected);
  if (!result.ok()) return TabSelection::notTold;
  if (const bool* flag = result.value.get<bool>()) return *flag ? TabSelection::selected : TabSelection::notSelected;
  if (const int64_t* number = result.value.get<int64_t>()) {
    return *number != 0 ? TabSelection::selected : TabSelection::notSelected;
  }
  if (const double* number = result.value.get<double>()) {
    return *number != 0 ? TabSelection::selected : TabSelection::notSelected;
  }
  return TabSelection::notTold;
}

TabPressOutcome TabActivation::press(const TabRecord& tab) {
  const AXElementRef target = tab.element ? tab.element->element() : nullptr;
  AXError error = AXError::invalidElement;
  if (target) {
    accessibility_.setMessagingTimeout(target, kMessagingTimeout);
    error = accessibility_.performAction(target, AXNames::kPress);
  }
  if (error != AXError::success) {
    const int32_t code = axErrorCode(error);
    logger().notice("tab press refused (%d); the window is still coming forward, on whichever tab it was already showing",
                    code);
    return TabPressOutcome::refused(code);
  }
  switch (readSelected(target)) {
    case TabSelection::notTold:
      logger().debug("tab press accepted, the tab will not say whether it is selected");
      break;
    case TabSelection::notSelected:
      logger().debug("tab press accepted, the tab does not report itself selected yet");
      break;
    case TabSelection::selected:
      logger().debug("tab press took: the tab reports itself selected");
      break;
  }
  return TabPressOutcome::pressed();
}

std::vector<AXElementRef> TabActivation::windowMenuItems(const AXElementRef& application) {
  AXElementRef menuBar = accessibility_.elementAttribute(application, AXNames::kMenuBar);
  if (!menuBar) return {};
  const std::optional<std::vector<AXElementRef>> barItems = accessibility_.elementsAttribute(menuBar, AXNames::kChildren);
  if (!barItems) return {};
  AXElementRef windowItem;
  for (const AXElementRef& item : *barItems) {
    const std::optional<std::string> title = accessibility_.stringAttribute(item, AXNames::kTitle);
    if (title && *title == "Window") {
      windowItem = item;
      break;
    }
  }
  if (!windowItem) return {};
  const std::optional<std::vector<AXElementRef>> menus = accessibility_.elementsAttribute(windowItem, AXNames::kChildren);
  if (!menus) return {};
  std::vector<AXElementRef> items;
  for (const AXElementRef& menu : *menus) {
    if (auto entries = accessibility_.elementsAttribute(menu, AXNames::kChildren)) items.insert(items.end(), entries->begin(), entries->end());
  }
  return items;
}

std::optional<size_t> TabActivation::menuIndex(const std::vector<std::optional<std::string>>& itemTitles,
                                               const TabTarget& target) {
  if (itemTitles.empty()) return std::nullopt;
  if (!target.title.empty()) {
    std::optional<size_t> only;
    size_t count = 0;
    for (size_t i = 0; i < itemTitles.size(); ++i) {
      if (itemTitles[i] && *itemTitles[i] == target.title) {
        only = i;
        ++count;
      }
    }
    if (count == 1) return only;
  }
  // The application lists its tabbed windows in the menu's last section, after the last separator.
  std::optional<size_t> separator;
  for (size_t i = itemTitles.size(); i-- > 0;) {
    if (!itemTitles[i] || itemTitles[i]->empty()) {
      separator = i;
      break;
    }
  }
  if (!separator) return std::nullopt;
  const size_t first = *separator + 1;
  const size_t sectionSize = itemTitles.size() - first;
  const int ordinal = target.ordinal;
  if (static_cast<int>(sectionSize) != target.stripCount || ordinal < 0 ||
      static_cast<size_t>(ordinal) >= sectionSize) {
    return std::nullopt;
  }
  const size_t index = first + static_cast<size_t>(ordinal);
  if (!itemTitles[index] || itemTitles[index]->empty()) return std::nullopt;
  return index;
}

TabPressOutcome TabActivation::pressThroughWindowMenu(const TabTarget& target) {
  AXElementRef application = accessibility_.applicationElement(target.pid);
  if (!application) return TabPressOutcome::nothingPressed();
  accessibility_.setMessagingTimeout(application, kMessagingTimeout);
  const std::vector<AXElementRef> items = windowMenuItems(application);
  if (items.empty()) return TabPressOutcome::nothingPressed();

  std::vector<std::optional<std::string>> titles;
  titles.reserve(items.size());
  for (const AXElementRef& item : items) titles.push_back(accessibility_.stringAttribute(item, AXNames::kTitle));

  const std::optional<size_t> index = menuIndex(titles, target);
  if (!index) {
    logger().notice(
        "the Window menu holds nothing this tab can be matched to, so nothing was pressed; the window is still "
        "coming forward, on whichever tab it was already showing");
    return TabPressOutcome::nothingPressed();
  }
  const AXError error = accessibility_.performAction(items[*index], AXNames::kPress);
  if (error == AXError::success) {
    logger().notice("the tab strip would not answer, so this tab was switched to through the Window menu instead");
    return TabPressOutcome::pressed();
  }
  const int32_t code = axErrorCode(error);
  logger().notice(
      "the Window menu item for this tab was refused (%d); the window is still coming forward, on whichever tab it "
      "was already showing",
      code);
  return TabPressOutcome::refused(code);
}

TabPressOutcome TabActivation::activate(const TabTarget& target) {
  const TabAdapter* adapter = target.bundleID ? TabAdapter::find(*target.bundleID) : nullptr;
  if (!adapter) {
    logger().notice(
        "no tab adapter for this card's application any more, so nothing was pressed; the window is still coming "
        "forward");
    return TabPressOutcome::nothingPressed();
  }

  std::optional<TabPressOutcome> refusal;  // the last refused tab press, once the tab was found
  for (const AXHandleRef& candidate : hostCandidates(target, *adapter)) {
    TabWalker::Walk walked = walker_.walk(*candidate, target.pid, *adapter, false, false);
    std::optional<TabRecord> tab = findTab(walked.tabs, target);
    if (!tab) continue;
    TabPressOutcome outcome = press(*tab);
    if (outcome.kind == TabPressOutcome::Kind::pressed) return outcome;
    refusal = outcome;
    // One more chance on a fresh walk of the same window: the strip may have just been rebuilt.
    walked = walker_.walk(*candidate, target.pid, *adapter, false, false);
    tab = findTab(walked.tabs, target);
    if (tab) {
      outcome = press(*tab);
      if (outcome.kind == TabPressOutcome::Kind::pressed) return outcome;
      refusal = outcome;
    }
    break;
  }

  if (adapter->tabsAreWindows) {
    if (pressThroughWindowMenu(target).kind == TabPressOutcome::Kind::pressed) return TabPressOutcome::pressed();
  }
  if (refusal) {
    logger().notice(
        "both the tab strip and the Window menu refused this tab; the window is still coming forward, on whichever "
        "tab it was already showing");
    return *refusal;
  }
  logger().notice(
      "could not find this tab in any strip or in the Window menu, so nothing was pressed; the window is still "
      "coming forward, on whichever tab it was already showing");
  return TabPressOutcome::nothingPressed();
}

AXHandleRef TabActivation::mainWindow(const TabTarget& target) {
  const TabAdapter* adapter = target.bundleID ? TabAdapter::find(*target.bundleID) : nullptr;
  if (!adapter || !adapter->tabsAreWindows) return nullptr;
  AXElementRef main = mainWindowMatching(target);
  if (!main) return nullptr;
  return AXHandle::make(std::move(main));
}

}  // namespace quorvel
