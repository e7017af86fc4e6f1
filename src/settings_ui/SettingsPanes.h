#pragma once

#include <span>
#include <string>
#include <string_view>

#include "app/AppShell.h"

namespace quorvel {

// The panes of the settings window as the sidebar lists them, with their titles and the text the
// last pane is stored as ("settingsTab").
class SettingsPanes {
 public:
  static constexpr const char* storedPaneKey = "settingsTab";

  // Every pane in sidebar order.
  static std::span<const SettingsPane> sidebar();
  static std::string_view title(SettingsPane pane);
  static std::string_view rawValue(SettingsPane pane);
  // The pane a stored text names: exact raw values, plus "style" (Appearance) and "motion"
  // (Pointer) from earlier versions; anything else is General.
  static SettingsPane fromStored(std::string_view stored);
};

}  // namespace quorvel
