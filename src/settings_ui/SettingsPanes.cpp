#include "settings_ui/SettingsPanes.h"

#include <array>

namespace quorvel {

namespace {

struct PaneInfo {
  SettingsPane pane;
  std::string_view raw;
  std::string_view title;
};

constexpr std::array<PaneInfo, 7> kPanes = {{
    {SettingsPane::general, "general", "General"},
    {SettingsPane::shortcuts, "shortcuts", "Shortcuts"},
    {SettingsPane::windows, "windows", "Windows"},
    {SettingsPane::appearance, "appearance", "Appearance"},
    {SettingsPane::backdrop, "backdrop", "Backdrop"},
    {SettingsPane::pointer, "pointer", "Pointer"},
    {SettingsPane::about, "about", "About"},
}};

constexpr std::array<SettingsPane, 7> kSidebar = {SettingsPane::general,  SettingsPane::shortcuts, SettingsPane::windows,
                                                  SettingsPane::appearance, SettingsPane::backdrop, SettingsPane::pointer,
                                                  SettingsPane::about};

const PaneInfo& info(SettingsPane pane) {
  for (const PaneInfo& p : kPanes) {
    if (p.pane == pane) return p;
  }
  return kPanes[0];
}

}  // namespace

std::span<const SettingsPane> SettingsPanes::sidebar() { return kSidebar; }
std::string_view SettingsPanes::title(SettingsPane pane) { return info(pane).title; }
std::string_view SettingsPanes::rawValue(SettingsPane pane) { return info(pane).raw; }

SettingsPane SettingsPanes::fromStored(std::string_view stored) {
  if (stored == "style") return SettingsPane::appearance;
  if (stored == "motion") return SettingsPane::pointer;
  for (const PaneInfo& p : kPanes) {
    if (p.raw == stored) return p.pane;
  }
  return SettingsPane::general;
}

}  // namespace quorvel
