#pragma once

namespace quorvel {

class DefaultsStore;

// The launch migrations: keys of earlier versions carried over to the keys of this one. They run
// at launch in the order of runAll, before the defaults are registered, so only stored values
// count; each writes a new key only when nothing is stored under it and removes an old key only
// when one is stored. Each reads and writes the store on the calling thread.
class SettingsMigrations {
 public:
  explicit SettingsMigrations(DefaultsStore& store);

  void runAll();

  // "hotkeyPreset" becomes the first shortcut.
  void hotkeyPreset();
  // The three category toggles of earlier versions become the category displays.
  void categoryToggles();
  // "browserTabsDisplay" and "showAllTabs" become "tabsDisplay".
  void tabsDisplay();
  // "searchHint" becomes "showTips".
  void searchHint();
  // Rescales a stored animation speed once, guarded by "hasRescaledAnimationSpeed".
  void rescaleAnimationSpeedOnce();

 private:
  DefaultsStore& store_;
};

}  // namespace quorvel
