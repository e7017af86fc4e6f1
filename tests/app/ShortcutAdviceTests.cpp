#include <gtest/gtest.h>

#include "app/ShortcutAdvice.h"
#include "platform/KeyEventSource.h"

namespace quorvel {
namespace {

using Key = ShortcutAdvice::GsettingsKey;

// What each window manager is told, as it names itself, for the shortcut it holds by default. Every
// row names the file or the setting where that manager really keeps the binding, and how it takes
// the change.
TEST(ShortcutAdviceTest, EachManagerIsToldWhereItKeepsTheBindingAndHowItTakesTheChange) {
  struct Row {
    const char* manager;
    const char* shortcut;
    std::vector<std::string> mustSay;
  };
  const std::vector<Row> rows = {
      // A fresh account has no rc.xml: the system's is copied first, since a user's file replaces it whole.
      {"Openbox", "Alt+Tab",
       {"Alt+Tab is taken by another program, usually the window manager. ",
        "if ~/.config/openbox/rc.xml does not exist, copy /etc/xdg/openbox/rc.xml there first",
        "key=\"A-Tab\" and key=\"A-S-Tab\"", "<keyboard>", "openbox --reconfigure"}},
      {"Openbox", "Ctrl+Super+`", {"key=\"C-W-grave\" and key=\"C-W-S-grave\""}},
      // Bare Metacity has no settings window: the command that clears its GSettings binding.
      {"Metacity", "Alt+Tab",
       {"\"Switch applications\"", "gsettings set org.gnome.desktop.wm.keybindings switch-applications",
        "switch-applications-backward"}},
      {"Marco", "Alt+Tab", {"gsettings set org.mate.Marco.global-keybindings switch-windows disabled"}},
      {"i3", "Alt+Tab", {"bindsym Mod1+Tab", "~/.config/i3/config", "i3-msg reload"}},
      {"i3", "Ctrl+Super+K", {"bindsym Control+Mod4+k"}},
      {"IceWM", "Alt+Tab", {"QuickSwitch=0 in ~/.icewm/preferences", "restart IceWM"}},
      // Not recognised, or no name at all: the general hint.
      {"Blackbox", "Alt+Tab", {"Free it in the window manager's keyboard settings"}},
      {"", "", {"The shortcut is taken by another program", "Free it in the window manager's keyboard settings"}},
  };
  for (const Row& row : rows) {
    const std::string text = ShortcutAdvice::text(row.manager, row.shortcut);
    for (const std::string& part : row.mustSay) {
      EXPECT_NE(text.find(part), std::string::npos) << row.manager << " " << row.shortcut << ": " << text;
    }
    EXPECT_EQ(ShortcutAdvice::text(row.manager, ""),
              "The shortcut is taken by another program, usually the window manager. " +
                  ShortcutAdvice::howToFree(row.manager))
        << "the general form is the same advice without the shortcut's own keys";
  }
}

// Metacity's own defaults (gsettings list-recursively org.gnome.desktop.wm.keybindings): Alt+Tab sits
// beside Super+Tab in two keys; freeing Alt+Tab keeps Super+Tab where it was.
TEST(ShortcutAdviceTest, TheGsettingsKeysHoldingTheShortcutAreNamedAndKeepTheirOtherKeys) {
  const std::vector<Key> metacity = {
      {"switch-applications", {"<Super>Tab", "<Alt>Tab"}},
      {"switch-applications-backward", {"<Shift><Super>Tab", "<Shift><Alt>Tab"}},
      {"switch-group", {"<Super>Above_Tab", "<Alt>Above_Tab"}},
      {"switch-panels", {"<Control><Alt>Tab"}},
      {"toggle-above", {}},
  };
  struct Row {
    uint64_t flags;
    const char* key;
    std::vector<Key> held;
  };
  const std::vector<Row> rows = {
      {KeyFlags::option, "Tab",
       {{"switch-applications", {"<Super>Tab"}}, {"switch-applications-backward", {"<Shift><Super>Tab"}}}},
      {KeyFlags::command, "Tab",
       {{"switch-applications", {"<Alt>Tab"}}, {"switch-applications-backward", {"<Shift><Alt>Tab"}}}},
      {KeyFlags::option, "`", {{"switch-group", {"<Super>Above_Tab"}}}},
      {KeyFlags::control | KeyFlags::option, "Tab", {{"switch-panels", {}}}},
      {KeyFlags::control, "Tab", {}},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(ShortcutAdvice::holding(metacity, row.flags, row.key), row.held) << row.key << " " << row.flags;
  }

  const auto held = ShortcutAdvice::holding(metacity, KeyFlags::option, "Tab");
  EXPECT_EQ(ShortcutAdvice::text("Metacity (Marco)", "Alt+Tab", held), ShortcutAdvice::text("Metacity", "Alt+Tab", held));
  EXPECT_EQ(ShortcutAdvice::text("Metacity", "Alt+Tab", held),
            "Alt+Tab is taken by another program, usually the window manager. In Metacity, it is held by the bindings "
            "switch-applications and switch-applications-backward of org.gnome.desktop.wm.keybindings in GSettings; "
            "free it with: gsettings set org.gnome.desktop.wm.keybindings switch-applications \"['<Super>Tab']\" and "
            "gsettings set org.gnome.desktop.wm.keybindings switch-applications-backward \"['<Shift><Super>Tab']\".");
  // Marco's keys hold one accelerator each, and "disabled" frees one.
  const std::vector<Key> marco = {{"switch-windows", {"<Alt>Tab"}, false}, {"cycle-windows", {"<Alt>Escape"}, false}};
  EXPECT_EQ(ShortcutAdvice::text("Marco", "Alt+Tab", ShortcutAdvice::holding(marco, KeyFlags::option, "Tab")),
            "Alt+Tab is taken by another program, usually the window manager. In Marco, it is held by the binding "
            "switch-windows of org.mate.Marco.global-keybindings in GSettings; free it with: gsettings set "
            "org.mate.Marco.global-keybindings switch-windows disabled.");
  // Nothing found, or a manager that keeps no bindings in GSettings: the advice without names.
  EXPECT_EQ(ShortcutAdvice::text("Metacity", "Alt+Tab", {}), ShortcutAdvice::text("Metacity", "Alt+Tab"));
  EXPECT_EQ(ShortcutAdvice::text("Openbox", "Alt+Tab", held), ShortcutAdvice::text("Openbox", "Alt+Tab"));
  EXPECT_EQ(ShortcutAdvice::gsettingsSchema("Openbox"), "");
}

}  // namespace
}  // namespace quorvel
