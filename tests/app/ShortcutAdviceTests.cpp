#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "app/ShortcutAdvice.h"
#include "platform/KeyEventSource.h"

namespace quorvel {
namespace {

using Key = ShortcutAdvice::GsettingsKey;

constexpr uint64_t kAlt = KeyFlags::option;
constexpr uint64_t kCtrlAlt = KeyFlags::control | KeyFlags::option;

// Openbox's packaged rc.xml and i3's /etc/i3/config, cut down to the bindings that matter here.
constexpr const char* kOpenboxRc = R"(<openbox_config><keyboard>
  <keybind key="C-A-Left"><action name="GoToDesktop"><to>left</to></action></keybind>
  <keybind key="S-A-Left"><action name="SendToDesktop"><to>left</to></action></keybind>
  <!-- <keybind key="C-A-k"><action name="Execute"/></keybind> -->
  <keybind key="A-Tab"><action name="NextWindow"/></keybind>
  <keybind key="A-S-Tab"><action name="PreviousWindow"/></keybind>
  <keybind key="W-e"><keybind key="t"><action name="Execute"/></keybind></keybind>
</keyboard></openbox_config>)";
constexpr const char* kI3Config = R"(set $mod Mod1
set $modifier Mod4
# bindsym $mod+k focus up
bindsym $mod+Left focus left
bindsym --release $modifier+Tab focus right
bindsym $mod+Shift+Left move left
mode "resize" {
        bindsym Control+Mod1+k resize grow height 10 px
}
)";

const std::vector<Key> kMetacityKeys = {
    {"switch-applications", {"<Super>Tab", "<Alt>Tab"}},
    {"switch-applications-backward", {"<Shift><Super>Tab", "<Shift><Alt>Tab"}},
    {"switch-group", {"<Super>Above_Tab", "<Alt>Above_Tab"}},
    {"switch-panels", {"<Control><Alt>Tab"}},
    {"toggle-above", {}},
};

// The advice under each manager, as a new user meets it: the manager's own notation for the keys,
// the folder the manager really reads, and, when the manager's own bindings leave the keys free,
// nothing that would change them.
TEST(ShortcutAdviceTest, EachManagerIsToldInItsOwnTermsWhoHoldsTheKeysAndHowToFreeThem) {
  struct Row {
    const char* name;
    const char* manager;
    const char* shortcut;
    uint64_t flags;
    const char* key;
    ShortcutAdvice::Environment environment;
    std::map<std::string, std::string> files;
    // Exactly, in order: the commands to run, and the lines to take out of a file ("file: " and
    // the lines), which are never given as commands.
    std::vector<std::string> blocks;
    std::vector<std::string> says;      // somewhere in the sentences
    std::vector<std::string> neverSays = {};
    std::vector<std::string> folders = {};
  };
  const std::vector<Row> rows = {
      {"openbox, a new user: the system's file is copied into $XDG_CONFIG_HOME first", "Openbox",
       "Ctrl+Alt+Left Arrow", kCtrlAlt, "Left Arrow", {"/home/u", "/home/u/cfg", ""},
       {{"/etc/xdg/openbox/rc.xml", kOpenboxRc}},
       {"mkdir -p ~/cfg/openbox && cp /etc/xdg/openbox/rc.xml ~/cfg/openbox/rc.xml", "openbox --reconfigure"},
       {"held by the window manager, Openbox", "key=\"C-A-Left\" from the <keyboard> section of ~/cfg/openbox/rc.xml"},
       {"~/.config", "Left Arrow\""}},
      {"openbox, the user's own file", "Openbox", "Alt+Tab", kAlt, "Tab", {"/home/u", "", "/etc/xdg"},
       {{"/home/u/.config/openbox/rc.xml", kOpenboxRc}},
       {"openbox --reconfigure"},
       {"key=\"A-Tab\" and key=\"A-S-Tab\" from the <keyboard> section of ~/.config/openbox/rc.xml"}},
      {"openbox, a key its bindings leave free: another program's", "Openbox", "Ctrl+Alt+K", kCtrlAlt, "K",
       {"/home/u", "", ""}, {{"/etc/xdg/openbox/rc.xml", kOpenboxRc}}, {},
       {"held by another program, not by the window manager"}, {"rc.xml"}},
      {"openbox, its file not found: a copy that never replaces one, keys in its notation", "Openbox",
       "Ctrl+Alt+Left Arrow", kCtrlAlt, "Left Arrow", {"/home/u", "", ""}, {},
       {"mkdir -p ~/.config/openbox && cp -n /etc/xdg/openbox/rc.xml ~/.config/openbox/rc.xml",
        "openbox --reconfigure"},
       {"taken by another program, usually the window manager", "key=\"C-A-Left\" and key=\"C-A-S-Left\""}},
      {"i3 on /etc/i3/config: copied first, the lines as the file writes them, restarted to read the copy", "i3", "Alt+Left Arrow", kAlt,
       "Left Arrow", {"/home/u", "", ""}, {{"/etc/i3/config", kI3Config}},
       {"mkdir -p ~/.config/i3 && cp /etc/i3/config ~/.config/i3/config",
        "file: bindsym $mod+Left focus left\nbindsym $mod+Shift+Left move left", "i3-msg restart"},
       {"held by the window manager, i3", "Then, in ~/.config/i3/config, remove these lines:",
        "Then restart i3, which keeps your windows:"}},
      {"i3 reads its XDG folder before ~/.i3/config; variables and flags are read, modes are not", "i3",
       "Super+Tab", KeyFlags::command, "Tab", {"/home/u", "", ""},
       {{"/home/u/.i3/config", ""}, {"/home/u/.config/i3/config", kI3Config}},
       {"file: bindsym --release $modifier+Tab focus right", "i3-msg reload"},
       {"In ~/.config/i3/config, remove this line:", "Then reload i3:"}},
      {"i3 reads $XDG_CONFIG_DIRS before /etc/i3/config", "i3", "Alt+Left Arrow", kAlt, "Left Arrow",
       {"/home/u", "", ""}, {{"/etc/xdg/i3/config", kI3Config}, {"/etc/i3/config", ""}},
       {"mkdir -p ~/.config/i3 && cp /etc/xdg/i3/config ~/.config/i3/config",
        "file: bindsym $mod+Left focus left\nbindsym $mod+Shift+Left move left", "i3-msg restart"},
       {"held by the window manager, i3"}},
      {"i3 started with -c: only that file, found from its folder", "i3", "Alt+Left Arrow", kAlt, "Left Arrow",
       {"/home/u", "", "", "", {"i3", "-c", "wm/i3.conf"}, "/home/u"},
       {{"/home/u/wm/i3.conf", kI3Config}, {"/home/u/.config/i3/config", ""}},
       {"file: bindsym $mod+Left focus left\nbindsym $mod+Shift+Left move left", "i3-msg reload"},
       {"In ~/wm/i3.conf, remove these lines:"}},
      {"openbox started with --config-file: its keys are read there, not in rc.xml", "Openbox", "Alt+Tab", kAlt, "Tab",
       {"/home/u", "", "", "", {"/usr/bin/openbox", "--config-file", "/srv/ob.xml"}, "/"},
       {{"/srv/ob.xml", kOpenboxRc}, {"/home/u/.config/openbox/rc.xml", "<openbox_config/>"}},
       {"openbox --reconfigure"}, {"key=\"A-Tab\" and key=\"A-S-Tab\" from the <keyboard> section of /srv/ob.xml"}},
      {"openbox started with --config-file that binds nothing: another program's", "Openbox", "Alt+Tab", kAlt, "Tab",
       {"/home/u", "", "", "", {"openbox", "--config-file", "/srv/ob.xml"}, "/"},
       {{"/srv/ob.xml", "<openbox_config/>"}, {"/home/u/.config/openbox/rc.xml", kOpenboxRc}}, {},
       {"held by another program, not by the window manager"}},
      {"icewm, a new user: its own Alt+Tab, its system file copied first", "IceWM", "Alt+Tab", kAlt, "Tab",
       {"/home/u", "", ""}, {{"/usr/share/icewm/preferences", "# QuickSwitch=1 # 0/1\n"}},
       {"mkdir -p ~/.icewm && cp /usr/share/icewm/preferences ~/.icewm/preferences",
        "echo QuickSwitch=0 >> ~/.icewm/preferences", "icewm -r"},
       {"held by the window manager, IceWM", "KeySysSwitchNext=\"Alt+Tab\" and KeySysSwitchLast=\"Alt+Shift+Tab\""}},
      {"icewm, switching off: another program's, and QuickSwitch is not said again", "IceWM", "Alt+Tab", kAlt, "Tab",
       {"/home/u", "", ""}, {{"/home/u/.config/icewm/preferences", "QuickSwitch=1\nQuickSwitch = 0 # off\n"},
                             {"/home/u/.icewm/preferences", "QuickSwitch=1\n"}},
       {}, {"held by another program, not by the window manager"}, {"QuickSwitch"}, {"/home/u/.config/icewm"}},
      {"icewm, its keys moved off Alt+Tab: another program's", "IceWM", "Alt+Tab", kAlt, "Tab", {"/home/u", "", ""},
       {{"/home/u/.icewm/preferences", "KeySysSwitchNext=\"Super+Tab\"\nKeySysSwitchLast=\"Super+Shift+Tab\"\n"}},
       {}, {"held by another program"}, {"QuickSwitch"}},
      {"icewm, a key its installed keys file binds: copied, and the line named", "IceWM", "Ctrl+Alt+T", kCtrlAlt, "T",
       {"/home/u", "", ""}, {{"/usr/share/icewm/keys", "# key \"Alt+Ctrl+x\" xterm\nkey \"Alt+Ctrl+t\"   x-terminal-emulator\n"}},
       {"mkdir -p ~/.icewm && cp /usr/share/icewm/keys ~/.icewm/keys", "file: key \"Alt+Ctrl+t\"   x-terminal-emulator",
        "icewm -r"},
       {"held by the window manager, IceWM", "Then, in ~/.icewm/keys, remove this line:"}, {"QuickSwitch"}},
      {"icewm, another of its own keys (its installed preferences list them commented out): set to nothing", "IceWM",
       "Alt+Esc", kAlt, "Esc", {"/home/u", "", ""},
       {{"/usr/share/icewm/preferences", "# KeySysWinNext=\"Alt+Esc\"\n# KeyWinClose=\"Alt+F4\"\n"}},
       {"mkdir -p ~/.icewm && cp /usr/share/icewm/preferences ~/.icewm/preferences",
        "echo 'KeySysWinNext=\"\"' >> ~/.icewm/preferences", "icewm -r"},
       {"In IceWM, KeySysWinNext=\"Alt+Esc\" holds it.", "Then set KeySysWinNext to nothing"}, {"QuickSwitch"}},
      {"icewm, $ICEWM_PRIVCFG and a file named by -c: written where it reads", "IceWM", "Alt+`", kAlt, "`",
       {"/home/u", "", "", "/home/u/ice", {"icewm", "--config=prefs2"}, "/"}, {{"/home/u/ice/prefs2", "Theme=x\n"}},
       {"mkdir -p ~/ice && echo QuickSwitch=0 >> ~/ice/prefs2", "icewm -r"}, {"KeySysSwitchClass=\"Alt+grave\""}},
      {"i3, a key only a mode binds: another program's", "i3", "Ctrl+Alt+K", kCtrlAlt, "K", {"/home/u", "", ""},
       {{"/etc/i3/config", kI3Config}}, {}, {"held by another program"}, {"i3-msg"}},
      {"i3, its file not found: the bindsym in its notation", "i3", "Ctrl+Super+`", KeyFlags::control | KeyFlags::command,
       "`", {"/home/u", "", ""}, {}, {"i3-msg restart"}, {"the bindsym line for Control+Mod4+grave"}},
      {"metacity: the commands keep Super+Tab", "Metacity", "Alt+Tab", kAlt, "Tab", {}, {},
       {"gsettings set org.gnome.desktop.wm.keybindings switch-applications \"['<Super>Tab']\"",
        "gsettings set org.gnome.desktop.wm.keybindings switch-applications-backward \"['<Shift><Super>Tab']\""},
       {"held by the window manager, Metacity", "switch-applications and switch-applications-backward"}},
      {"metacity, a key none of its bindings holds: its bindings are left alone", "Metacity", "Ctrl+Alt+K", kCtrlAlt,
       "K", {}, {}, {}, {"held by another program, not by the window manager: Metacity's own key bindings leave it free"},
       {"gsettings", "[]"}},
      {"metacity, an emptied binding: restarted", "Metacity", "Ctrl+Alt+Tab", kCtrlAlt, "Tab", {}, {},
       {"gsettings set org.gnome.desktop.wm.keybindings switch-panels \"[]\"", "metacity --replace &"}, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    auto read = [&row](const std::string& path) -> std::optional<std::string> {
      const auto found = row.files.find(path);
      if (found == row.files.end()) return std::nullopt;
      return found->second;
    };
    auto gsettings = [](std::string_view) { return kMetacityKeys; };
    auto isDirectory = [&row](const std::string& path) {
      return std::find(row.folders.begin(), row.folders.end(), path) != row.folders.end();
    };
    const AdviceText advice = ShortcutAdvice::advice(
        row.manager, row.shortcut,
        ShortcutAdvice::find(row.manager, row.flags, row.key, row.environment, read, gsettings, isDirectory));
    std::vector<std::string> blocks;
    std::string prose;
    for (const auto& part : advice.parts) {
      switch (part.kind) {
        case AdviceText::Part::Kind::prose: prose += part.text + "\n"; break;
        case AdviceText::Part::Kind::command: blocks.push_back(part.text); break;
        case AdviceText::Part::Kind::fileLines: blocks.push_back("file: " + part.text); break;
      }
    }
    EXPECT_EQ(blocks, row.blocks) << advice.plain();
    for (const std::string& text : row.says) EXPECT_NE(prose.find(text), std::string::npos) << text << "\n" << prose;
    for (const std::string& text : row.neverSays) EXPECT_EQ(advice.plain().find(text), std::string::npos) << text;
    // The holder the headings name is the one the advice names.
    EXPECT_NE(prose.find(advice.heldBy()), std::string::npos) << advice.heldBy() << "\n" << prose;
  }
}

// Managers whose bindings are not read here get the way to free them in their own settings; one
// not recognised, or no name at all, the general hint.
TEST(ShortcutAdviceTest, OtherManagersAreToldWhereTheyKeepTheBinding) {
  const std::vector<std::pair<const char*, const char*>> rows = {
      {"Marco", "gsettings list-recursively org.mate.Marco.global-keybindings"},
      {"IceWM", "echo QuickSwitch=0 >> ~/.icewm/preferences"},
      {"Blackbox", "Free it in the window manager's keyboard settings"},
      {"", "The shortcut is taken by another program, usually the window manager."},
  };
  for (const auto& [manager, says] : rows) {
    const std::string text = ShortcutAdvice::text(manager, manager[0] ? "Alt+Tab" : "");
    EXPECT_NE(text.find(says), std::string::npos) << manager << ": " << text;
  }
}

// Metacity's own defaults (gsettings list-recursively org.gnome.desktop.wm.keybindings): Alt+Tab sits
// beside Super+Tab in two keys; freeing Alt+Tab keeps Super+Tab where it was.
TEST(ShortcutAdviceTest, TheGsettingsKeysHoldingTheShortcutAreNamedAndKeepTheirOtherKeys) {
  struct Row {
    uint64_t flags;
    const char* key;
    std::vector<Key> held;
  };
  const std::vector<Row> rows = {
      {kAlt, "Tab", {{"switch-applications", {"<Super>Tab"}}, {"switch-applications-backward", {"<Shift><Super>Tab"}}}},
      {KeyFlags::command, "Tab",
       {{"switch-applications", {"<Alt>Tab"}}, {"switch-applications-backward", {"<Shift><Alt>Tab"}}}},
      {kAlt, "`", {{"switch-group", {"<Super>Above_Tab"}}}},
      {kCtrlAlt, "Tab", {{"switch-panels", {}}}},
      {KeyFlags::control, "Tab", {}},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(ShortcutAdvice::holding(kMetacityKeys, row.flags, row.key), row.held) << row.key << " " << row.flags;
  }
  // Marco's keys hold one accelerator each, and "disabled" frees one.
  const std::vector<Key> marco = {{"switch-windows", {"<Alt>Tab"}, false}, {"cycle-windows", {"<Alt>Escape"}, false}};
  ShortcutAdvice::Findings found;
  found.managerHolds = true;
  found.gsettingsHolders = ShortcutAdvice::holding(marco, kAlt, "Tab");
  EXPECT_EQ(ShortcutAdvice::advice("Marco", "Alt+Tab", found).parts.back(),
            (AdviceText::Part{AdviceText::Part::Kind::command,
                              "gsettings set org.mate.Marco.global-keybindings switch-windows disabled"}));
}

}  // namespace
}  // namespace quorvel
