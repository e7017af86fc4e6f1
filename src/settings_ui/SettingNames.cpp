#include "settings_ui/SettingNames.h"

#include <map>

#include "settings/AppSettings.h"
#include "settings_ui/StyleNames.h"

namespace quorvel {

namespace {

using K = AppSettings::Key;

const std::map<std::string, std::string, std::less<>>& table() {
  static const std::map<std::string, std::string, std::less<>> words = [] {
    std::map<std::string, std::string, std::less<>> t = {
        // Shortcuts
        {K::hotkeyBinding1, "the keyboard shortcut"},
        {K::hotkeyScope1, "what the keyboard shortcut shows"},
        {K::hotkeyBinding2, "the second shortcut"},
        {K::hotkeyScope2, "what the second shortcut shows"},
        {K::summonGesture, "the swipe that opens the switcher"},
        {K::summonSwipeDirection, "the swipe direction"},
        {K::summonScreen, "the screen the switcher opens on"},
        {K::switcherBehavior, "what pressing the shortcut does"},
        {K::holdStyle, "what holding the shortcut does"},
        {K::cancelBinding, "the other key that closes the switcher"},
        {K::vimKeys, "moving with H, J, K and L"},
        {K::graveCyclesBackward, "the backtick key flipping to your last window"},
        {K::passThroughBundleIDs, "the apps that keep the shortcut"},
        // Windows
        {K::otherSpacesDisplay, "the windows from other desktops"},
        {K::minimizedDisplay, "the minimized windows"},
        {K::hiddenAppsDisplay, "the apps you have hidden"},
        {K::windowlessAppsDisplay, "the apps with no window"},
        {K::privateWindowsDisplay, "the private browsing windows"},
        {K::privateWindowNames, "the names of private windows"},
        {K::hideFromScreenSharing, "hiding the switcher from screen recordings"},
        {K::windowOrder, "the window order"},
        {K::searchEnabled, "searching by typing"},
        {K::showTips, "the tips"},
        {K::windowActionsEnabled, "closing and minimizing from the switcher"},
        {K::showActionButtons, "the buttons on the selected window"},
        {K::hiddenBundleIDs, "the apps to hide"},
        {K::hiddenTitlePatterns, "the title words of the apps to hide"},
        // Stacks and tabs
        {K::tabsDisplay, "the tab cards"},
        {K::bunchTabs, "stacking a window's tabs together"},
        {K::keepWindowCardBesideTabs, "the window's own card beside its tabs"},
        {K::tabSiteIcons, "the website icons on tab cards"},
        {K::groupByApp, "keeping an app's windows next to each other"},
        {K::bunchAppWindows, "stacking an app's windows together"},
        {K::stackOrder, "the stack order"},
        // Appearance
        {K::switcherStyle, "the arrangement"},
        {K::gridOrder, "the grid order"},
        {K::panoramaArrows, "the arrow keys in the Panorama"},
        {K::preserveWindowScale, "keeping window sizes"},
        {K::showAppIcons, "the app icons"},
        {K::iconPosition, "the icon position"},
        {K::showWindowTitle, "the window title"},
        {K::titlePlacement, "the title position"},
        {K::titleSize, "the title size"},
        {K::showCardTitles, "the titles above windows"},
        {K::fadeSelectedTitle, "hiding the title above the window you have picked"},
        {K::showStatusBadges, "the marks on windows from other places"},
        {K::labelPlaceholders, "the labels on windows with no preview"},
        {K::cardChromeSize, "the size of icons and titles"},
        {K::showSelectionRing, "the highlight on the selected window"},
        {K::showCardShadows, "the card shadows"},
        {K::floorReflections, "the floor reflection"},
        {K::liveHero, "showing the selected window live"},
        {K::refreshPictureOnLeave, "refreshing a window's picture when you leave it"},
        {K::animateFlight, "flying windows into place"},
        {K::animationSpeed, "the animation speed"},
        // Backdrop
        {K::backdropStyle, "what is behind the windows"},
        {K::blurAmount, "the blur amount"},
        {K::backdropDim, "the darkening"},
        {K::backdropColor, "the backdrop color"},
        // Pointer
        {K::hoverSelects, "pointing to select"},
        {K::hoverSelectMode, "what pointing at a window does"},
        {K::cursorFollowsFocus, "moving the pointer to the window"},
        {K::middleClickCloses, "closing with a middle click"},
        {K::scrollDirectionNatural, "the natural scroll direction"},
        {K::scrollSpeed, "the scroll speed"},
        {K::flipStacksBySwiping, "flipping through a stack by swiping"},
        {K::hapticTicks, "the haptic feedback"},
        {K::dragToSwitch, "dropping onto a window"},
        {K::dragCommitMode, "how to switch while dragging"},
        {K::dragRestTime, "the rest time"},
        // General
        {K::showMenuBarIcon, "the tray icon"},
        // The desktops overview's moves, which no pane shows.
        {K::moveResize, "the size of moved windows"},
        {K::moveBetweenDisplays, "moving windows between displays"},
        {K::moveBetweenDesktops, "moving windows between desktops"},
    };
    for (const AppSettings::SwitcherStyle style : AppSettings::allCases<AppSettings::SwitcherStyle>()) {
      t.emplace(AppSettings::cardSpacingKey(style), "the card spacing of " + StyleNames::displayName(style).toStdString());
    }
    return t;
  }();
  return words;
}

}  // namespace

std::optional<std::string> SettingNames::inSentence(std::string_view key) {
  const auto found = table().find(key);
  if (found == table().end()) return std::nullopt;
  return found->second;
}

}  // namespace quorvel
