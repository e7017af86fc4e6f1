#include "windows/PrivateWindowRule.h"

#include "settings/AppSettings.h"
#include "windows/PrivateWindowMarkers.h"

namespace quorvel {

using PrivateDisplay = AppSettings::PrivateWindowsDisplay;

bool PrivateWindowRule::isMarked(bool knownPrivate, PrivateDisplay display, const std::optional<std::string>& bundleID,
                                 const std::string& title) {
  return knownPrivate || (display != PrivateDisplay::show && PrivateWindowMarkers::isPrivate(bundleID, title));
}

PrivateWindowRule::Treatment PrivateWindowRule::treat(bool marked, const PassSettings& settings) {
  Treatment treatment;
  if (!marked || settings.privateWindowsDisplay == PrivateDisplay::show) return treatment;
  treatment.hide = settings.privateWindowsDisplay == PrivateDisplay::hide;
  treatment.blursPicture = settings.privateWindowsDisplay == PrivateDisplay::blur;
  treatment.isPrivate = treatment.blursPicture || settings.privateWindowsDisplay == PrivateDisplay::hidePicture;
  treatment.realTitle = settings.privateWindowNames;
  return treatment;
}

PrivateWindowRule::Treatment PrivateWindowRule::forWindow(bool knownPrivate, const std::optional<std::string>& bundleID,
                                                          const std::string& title, const PassSettings& settings) {
  return treat(isMarked(knownPrivate, settings.privateWindowsDisplay, bundleID, title), settings);
}

void PrivateWindowRule::dress(WindowCard& card, const Treatment& treatment) {
  card.isPrivate = treatment.isPrivate;
  card.blursPicture = treatment.blursPicture;
  if (!treatment.realTitle) card.title = kTitle;
}

}  // namespace quorvel
