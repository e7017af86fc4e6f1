#pragma once

#include <optional>
#include <string>

#include "windows/PassSettings.h"
#include "windows/WindowCard.h"

namespace quorvel {

// How a private (incognito) window is shown, decided in one place for the windows of a pass and
// for the carried cards of hidden applications alike. Plain functions of their arguments.
class PrivateWindowRule {
 public:
  // The title a private window's card shows instead of its own.
  static constexpr const char* kTitle = "Private window";

  struct Treatment {
    bool hide = false;          // the window makes no card (its application still counts)
    bool isPrivate = false;     // the card's picture is blurred or left out
    bool blursPicture = false;  // the card's picture is blurred
    bool realTitle = true;      // the card shows the window's own title
  };

  // Whether a window counts as private: known to be (from Accessibility titles or an earlier
  // card), or, unless private windows are shown like any other, marked so by its title.
  static bool isMarked(bool knownPrivate, SettingEnums::PrivateWindowsDisplay display,
                       const std::optional<std::string>& bundleID, const std::string& title);
  // What the settings do with a window that is (or is not) marked private.
  static Treatment treat(bool marked, const PassSettings& settings);
  // Both in one: the treatment of a window with this title, known to be private or not.
  static Treatment forWindow(bool knownPrivate, const std::optional<std::string>& bundleID, const std::string& title,
                             const PassSettings& settings);
  // Gives the card the treatment's flags and, unless its real title is shown, the private title.
  static void dress(WindowCard& card, const Treatment& treatment);
};

}  // namespace quorvel
