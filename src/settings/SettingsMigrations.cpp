#include "settings/SettingsMigrations.h"

#include "base/DefaultsStore.h"
#include "settings/AppSettings.h"

namespace quorvel {

using Key = AppSettings::Key;
using Value = AppSettings::Value;

SettingsMigrations::SettingsMigrations(DefaultsStore& store) : store_(store) {}

void SettingsMigrations::runAll() {
  hotkeyPreset();
  categoryToggles();
  tabsDisplay();
  searchHint();
  rescaleAnimationSpeedOnce();
}

void SettingsMigrations::hotkeyPreset() {
  if (!store_.hasStoredValue(Key::hotkeyPreset)) return;
  const auto preset = store_.string(Key::hotkeyPreset);
  if (!preset) return;
  if (!store_.hasStoredValue(Key::hotkeyBinding1)) {
    HotkeyBinding binding{HotkeyBinding::tabKeyCode, HotkeyBinding::optionFlag};
    if (*preset == "optionSpace") {
      binding = {49, HotkeyBinding::optionFlag};
    } else if (*preset == "controlTab") {
      binding = {HotkeyBinding::tabKeyCode, HotkeyBinding::controlFlag};
    }
    store_.set(Key::hotkeyBinding1, binding.storedValue());
  }
  store_.remove(Key::hotkeyPreset);
}

void SettingsMigrations::categoryToggles() {
  const std::pair<const char*, const char*> pairs[] = {
      {Key::showOtherSpaces, Key::otherSpacesDisplay},
      {Key::showMinimized, Key::minimizedDisplay},
      {Key::showHiddenApps, Key::hiddenAppsDisplay},
  };
  for (const auto& [oldKey, newKey] : pairs) {
    if (!store_.hasStoredValue(oldKey)) continue;
    const bool shown = store_.boolValue(oldKey);
    store_.remove(oldKey);
    if (!store_.hasStoredValue(newKey)) {
      store_.set(newKey, std::string(SettingEnums::rawValue(shown ? SettingEnums::CategoryDisplay::show : SettingEnums::CategoryDisplay::hide)));
    }
  }
}

void SettingsMigrations::tabsDisplay() {
  const bool hasOld = store_.hasStoredValue(Key::browserTabsDisplay);
  const bool hasShowAll = store_.hasStoredValue(Key::showAllTabs);
  const auto old = hasOld ? store_.string(Key::browserTabsDisplay) : std::nullopt;
  const bool showAll = hasShowAll && store_.boolValue(Key::showAllTabs);

  if (!store_.hasStoredValue(Key::tabsDisplay)) {
    std::optional<SettingEnums::TabsDisplay> choice;
    if (!old) {
      if (showAll) choice = SettingEnums::TabsDisplay::whileSearching;
    } else if (*old == "off") {
      choice = showAll ? SettingEnums::TabsDisplay::whileSearching : SettingEnums::TabsDisplay::off;
    } else if (*old == "always") {
      choice = SettingEnums::TabsDisplay::always;
    } else {
      choice = SettingEnums::TabsDisplay::whileSearching;
    }
    if (choice) store_.set(Key::tabsDisplay, std::string(SettingEnums::rawValue(*choice)));
  }
  if (hasOld) store_.remove(Key::browserTabsDisplay);
  if (hasShowAll) store_.remove(Key::showAllTabs);
}

void SettingsMigrations::searchHint() {
  if (!store_.hasStoredValue(Key::searchHint)) return;
  const bool hint = store_.boolValue(Key::searchHint);
  store_.remove(Key::searchHint);
  if (!store_.hasStoredValue(Key::showTips)) store_.set(Key::showTips, hint);
}

void SettingsMigrations::rescaleAnimationSpeedOnce() {
  if (store_.boolValue(Key::hasRescaledAnimationSpeed)) return;
  if (store_.hasStoredValue(Key::animationSpeed)) {
    const auto speed = store_.string(Key::animationSpeed);
    if (speed == "slow") {
      store_.set(Key::animationSpeed, "normal");
    } else if (speed == "normal") {
      store_.set(Key::animationSpeed, "fast");
    }
  }
  store_.set(Key::hasRescaledAnimationSpeed, true);
}

}  // namespace quorvel
