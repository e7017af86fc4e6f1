#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

// Advice as the user reads it: sentences, and between them commands to be typed or copied exactly
// as they stand, or lines of a file as the file writes them (lines to take out of it, never to be
// run). A view shows each command whole, on a line of its own, apart from the sentences, and the
// lines of a file as the text of that file.
struct AdviceText {
  struct Part {
    enum class Kind { prose, command, fileLines };
    Kind kind = Kind::prose;
    std::string text;  // fileLines: the lines, each ended by a newline but the last
    bool operator==(const Part&) const = default;
  };
  std::vector<Part> parts;
  // Who holds the keys, as the advice found it: the window manager (named in `holderName`), another
  // program beside it, or not known (another program, usually the window manager). Every heading
  // and line said above or beside the advice names the same holder.
  enum class Holder { unknown, windowManager, anotherProgram };
  Holder holder = Holder::unknown;
  std::string holderName;

  AdviceText() = default;
  // One sentence (or several) without a command.
  AdviceText(std::string prose);  // NOLINT(google-explicit-constructor): a sentence is advice
  AdviceText(const char* prose) : AdviceText(std::string(prose)) {}  // NOLINT(google-explicit-constructor)

  // Adds prose: to the prose before it, one space apart, or as a new part after a command.
  AdviceText& say(std::string_view prose);
  AdviceText& command(std::string text);
  // Lines of a file, as it writes them.
  AdviceText& fileLines(const std::vector<std::string>& lines);
  AdviceText& append(const AdviceText& more);

  // The whole advice as text, each command and each line of a file on a line of its own: the log.
  std::string plain() const;
  // The holder as said after "held by": "the window manager, Openbox", "another program, not by the
  // window manager", "another program, usually the window manager".
  std::string heldBy() const;
  bool operator==(const AdviceText&) const = default;
};

// What to tell the user when another program holds the keys of the shortcut they chose: whose they
// are, and how to free them under the window manager that runs here, in that manager's own terms
// and notation. The same advice stands in the tour, the "Shortcut needed" window, the settings
// window's shortcut rows, the log and the tray's message. The caller adds what the user can do in
// its own place ("Or choose another shortcut here.").
struct ShortcutAdvice {
  // One key of a window manager's GSettings schema that holds key bindings, with its accelerators
  // as GSettings stores them ("<Alt>Tab", "<Shift><Super>Tab"). `isList` for a key of string lists
  // (Metacity's), false for a key of one string (Marco's, where "disabled" frees it).
  struct GsettingsKey {
    std::string name;
    std::vector<std::string> accelerators;
    bool isList = true;
    bool operator==(const GsettingsKey&) const = default;
  };

  // The window manager's own say on where its configuration lives: its environment ($HOME,
  // $XDG_CONFIG_HOME, $XDG_CONFIG_DIRS, IceWM's $ICEWM_PRIVCFG; an unset variable is empty), and the
  // command line it was started with (a file of its own given there is the only one it reads),
  // with the folder it was started in, against which a relative file is read. An unknown command
  // line is empty.
  struct Environment {
    std::string home;
    std::string configHome;
    std::string configDirs;
    std::string icewmPrivateConfig;
    std::vector<std::string> commandLine;
    std::string workingDirectory;
  };

  // What was found of the window manager's own bindings.
  struct Findings {
    // Whether the manager's own bindings hold the shortcut; none when that could not be read.
    std::optional<bool> managerHolds;
    // Openbox, i3 and IceWM: the bindings that hold it as the manager's file writes them (a
    // keybind's key, a bindsym line, a KeySysSwitchNext="Alt+Tab" line or IceWM's own default).
    std::vector<std::string> bindings;
    // Openbox, i3 and IceWM: where the user's own file goes ("~/.config/openbox/rc.xml"; empty: the
    // usual place), and the system's file the manager reads while the user has none of their own
    // (empty when the user has one, or when that is not known).
    std::string userFile;
    std::string systemFile;
    // IceWM: the lines of its keys file that hold it, as written; where the user's keys file goes,
    // and the system's that IceWM reads while the user has none (as for the preferences above).
    std::vector<std::string> keysLines;
    std::string keysFile;
    std::string keysSystemFile;
    // Metacity and Marco: the GSettings keys that hold it, each with the accelerators it keeps.
    std::vector<GsettingsKey> gsettingsHolders;
  };

  // "Alt+Tab is held by Openbox, the window manager. ..." with how to free it.
  static AdviceText advice(std::string_view windowManagerName, std::string_view shortcut, const Findings& found = {});
  // The same as one text.
  static std::string text(std::string_view windowManagerName, std::string_view shortcut, const Findings& found = {}) {
    return advice(windowManagerName, shortcut, found).plain();
  }

  // Reads the manager's own bindings for the shortcut (`modifierFlags` its KeyFlags, `keyName` its
  // key as shown: "Tab", "`", "Left Arrow"). `readFile` gives a file's text, none when there is no
  // such file; `gsettings` gives the keys of a GSettings schema (empty when it is not installed);
  // `isDirectory` says whether a folder exists (IceWM's private folder is $XDG_CONFIG_HOME/icewm only
  // when that exists; unset: it does not).
  static Findings find(std::string_view windowManagerName, uint64_t modifierFlags, std::string_view keyName,
                       const Environment& environment,
                       const std::function<std::optional<std::string>(const std::string& path)>& readFile,
                       const std::function<std::vector<GsettingsKey>(std::string_view schema)>& gsettings,
                       const std::function<bool(const std::string& path)>& isDirectory = {});

  // The program name of a manager whose files are read here ("openbox", "i3", "icewm"), to find its
  // process by; empty for any other.
  static std::string processName(std::string_view windowManagerName);
  // The file a window manager was told to read on its command line (`openbox --config-file F`,
  // `i3 -c F`, `icewm --config=F`), as given; empty when it was told none.
  static std::string configFileArgument(std::string_view windowManagerName, const std::vector<std::string>& commandLine);

  // The GSettings schema where this manager keeps its key bindings ("org.gnome.desktop.wm.keybindings"
  // for Metacity, "org.mate.Marco.global-keybindings" for Marco); empty for a manager that keeps them
  // elsewhere.
  static std::string_view gsettingsSchema(std::string_view windowManagerName);

  // The keys of `schemaKeys` with an accelerator that holds the shortcut: exactly its modifiers
  // (Shift aside: the switcher takes the shortcut with Shift too, to step backward) and its key.
  // Each key comes back with the accelerators it keeps once those that hold the shortcut are taken
  // out: the value that frees the shortcut.
  static std::vector<GsettingsKey> holding(const std::vector<GsettingsKey>& schemaKeys, uint64_t modifierFlags,
                                           std::string_view keyName);
  // The keybinds of an Openbox rc.xml that hold the shortcut, as the file writes their keys ("A-Tab").
  static std::vector<std::string> openboxHolding(std::string_view rcXml, uint64_t modifierFlags,
                                                 std::string_view keyName);
  // The bindsym lines of an i3 configuration that hold the shortcut outside any mode, as written.
  static std::vector<std::string> i3Holding(std::string_view config, uint64_t modifierFlags, std::string_view keyName);
  // IceWM's keys on the root window (KeySys...) that hold the shortcut, read from its preferences
  // laid over its own values (`defaults`: its installed preferences, which list them commented out;
  // a later line wins): each as a preferences line (KeySysSwitchNext="Alt+Tab"). Its window
  // switching's keys are left out while QuickSwitch=0 turns that off.
  static std::vector<std::string> icewmHolding(std::string_view defaults, const std::vector<std::string>& preferences,
                                               uint64_t modifierFlags, std::string_view keyName);
  // The lines of an IceWM keys file that hold the shortcut (key "Alt+Ctrl+t" ...), as written.
  static std::vector<std::string> icewmKeysHolding(std::string_view keys, uint64_t modifierFlags,
                                                   std::string_view keyName);
};

}  // namespace quorvel
