#include "windows/PassSettings.h"

#include "base/TextServices.h"
#include "settings/AppSettings.h"
#include "windows/CardOrdering.h"

namespace quorvel {

PassSettings PassSettings::read(const AppSettings& settings) {
  PassSettings s;
  s.otherSpacesDisplay = settings.otherSpacesDisplay();
  s.minimizedDisplay = settings.minimizedDisplay();
  s.hiddenAppsDisplay = settings.hiddenAppsDisplay();
  s.windowlessAppsDisplay = settings.windowlessAppsDisplay();
  s.hiddenBundleIDList = settings.stringList(AppSettings::Key::hiddenBundleIDs).value_or(std::vector<std::string>{});
  s.hiddenBundleIDs.insert(s.hiddenBundleIDList.begin(), s.hiddenBundleIDList.end());
  s.hiddenTitlePatterns = settings.hiddenTitlePatterns();
  s.privateWindowsDisplay = settings.privateWindowsDisplay();
  s.privateWindowNames = settings.boolValue(AppSettings::Key::privateWindowNames);
  s.tabsDisplay = settings.tabsDisplay();
  s.tabSiteIcons = settings.boolValue(AppSettings::Key::tabSiteIcons);
  return s;
}

uint32_t PassSettings::packedCategoryDisplays() const {
  return CardOrdering::packCategoryDisplays(otherSpacesDisplay, minimizedDisplay, hiddenAppsDisplay,
                                            windowlessAppsDisplay);
}

bool PassSettings::hidesByUserRules(const std::optional<std::string>& bundleID, const std::string& title) const {
  if (!bundleID || !hiddenBundleIDs.contains(*bundleID)) return false;
  const auto words = hiddenTitlePatterns.find(*bundleID);
  if (words == hiddenTitlePatterns.end() || words->second.empty()) return true;
  const std::string lowered = TextServices::lowercased(title);
  for (const auto& word : words->second) {
    if (TextServices::containsCanonically(lowered, word)) return true;
  }
  return false;
}

}  // namespace quorvel
