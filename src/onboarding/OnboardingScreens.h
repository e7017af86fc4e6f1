#pragma once

#include <QString>
#include <QWidget>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "onboarding/OnboardingChrome.h"
#include "onboarding/OnboardingFlow.h"

namespace quorvel {

// The tour's pages, each built from the flow's values as they are now (and built again when they
// change), and the shortcut page of the "Shortcut needed" window. Pages keep no state: their
// controls call the flow (or the given closures) and nothing else.
class OnboardingScreens {
 public:
  // The page of the flow's current step, its footer included.
  static QWidget* page(OnboardingFlow& flow, OnboardingServices& services);

  // What the shortcut page shows, in the tour and in the "Shortcut needed" window.
  struct ShortcutPage {
    bool recovery = false;
    ReadinessStanding standing = ReadinessStanding::waiting;
    std::optional<std::string> shortcutText;  // "Alt+Tab"; none without a shortcut
    AdviceText advice;                        // what to do while the keys are taken
    std::optional<HotkeyBinding> binding;
    std::function<void(const HotkeyBinding&)> choose;
  };
  static QWidget* shortcutContent(const ShortcutPage& values, OnboardingServices& services);
  // `lost`: the shortcut reached the switcher earlier in this run (the recovery words say "any more").
  // `advice`: what the page says to do, whose holder the recovery words name.
  static BrandScreen::Texts shortcutTexts(bool recovery, const std::optional<std::string>& shortcutText,
                                          bool lost = true, const AdviceText& advice = {});
  // The page after the two checks, as things stand: "That is both of them" only when both are.
  struct Readiness {
    bool pictures = true;
    bool shortcutWorks = true;
    std::optional<std::string> shortcutText;  // none without a shortcut
    // Who holds the shortcut's keys, as its advice says after "held by" (AdviceText::heldBy).
    std::string heldBy = AdviceText().heldBy();
  };
  static BrandScreen::Texts doneTexts(const Readiness& readiness);

  // The texts of the pages whose words do not depend on values (for the tests and the screenshots).
  // `trayAvailable`: the desktop shows a system tray for the tray icon to sit in.
  static BrandScreen::Texts texts(OnboardingFlow::Step step, bool showsMenuBarIcon = true, bool trayAvailable = true);
  // The key rows of the keys page: the keys and what they do.
  struct KeyRowText {
    std::vector<std::string> caps;
    std::string meaning;
  };
  // What the keys page shows besides the shortcut's caps.
  struct KeyRowFacts {
    bool quickFlip = false;      // the key above Tab with the shortcut's modifiers flips back (a shortcut on Tab)
    bool touchpad = false;       // the machine has a touchpad: its rows are shown
    bool swipeToSummon = false;  // the summon swipe is on
    AppSettings::SummonGesture gesture = AppSettings::SummonGesture::threeFingers;
    AppSettings::SummonSwipeDirection direction = AppSettings::SummonSwipeDirection::up;
    // Who holds the flip's key (so it never reaches the switcher) and the summon shortcut's keys, as
    // their advice says after "held by" (AdviceText::heldBy); none while they are free.
    std::optional<std::string> quickFlipHeldBy;
    std::optional<std::string> summonHeldBy;
  };
  static std::vector<KeyRowText> keyRows(const std::vector<std::string>& shortcutCaps, const KeyRowFacts& facts);
  // While another program holds the key above Tab with the summon shortcut's modifiers (the flip
  // back to the last window): whose it is and how to free it, as the shortcut row says it; none
  // while it is free, without a summon shortcut on Tab, or with the flip turned off.
  static std::optional<AdviceText> quickFlipTaken(const std::optional<HotkeyBinding>& shortcut, bool quickFlip,
                                                  const OnboardingServices& services);
  // The summon swipe in words, for the chosen fingers and direction (three fingers while it is off,
  // as turning it on chooses): its key cap, what it does, and the last page's checkbox.
  struct SwipeWords {
    std::string cap;
    std::string meaning;
    std::string choice;
    std::string choiceDetail;
  };
  static SwipeWords swipeWords(AppSettings::SummonGesture gesture, AppSettings::SummonSwipeDirection direction);
  // What the window-pictures page says under the browser tabs' standing, and the command that
  // switches the accessibility bus on (shown while it is off).
  static QString tabsNote(bool readable);
  static QString tabsCommand();
};

}  // namespace quorvel
