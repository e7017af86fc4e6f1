#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

// Where the desktop keeps its application entries and icon themes (the XDG base directories).
struct DesktopDirs {
  std::string home;                   // $HOME
  std::string dataHome;               // $XDG_DATA_HOME, else ~/.local/share
  std::vector<std::string> dataDirs;  // $XDG_DATA_DIRS, else /usr/local/share and /usr/share
  std::string configHome;             // $XDG_CONFIG_HOME, else ~/.config
  std::string messagesLocale;         // $LC_ALL, else $LC_MESSAGES, else $LANG ("de_AT.UTF-8@euro")
  static DesktopDirs fromEnvironment();
};

// The name and the icon file of an X11 application found through its desktop entry and the user's
// icon theme:
//   entry      = the first .desktop file (user's data folder first, then the system's) whose
//                StartupWMClass equals the window's class, else whose file name (without
//                ".desktop", case ignored) equals the class or the instance; for the icon, the
//                first such entry with an Icon key, for the name the first with a Name key;
//   name       = its Name key in the user's language (messagesLocale), as desktop entries localise
//                it: Name[lang_COUNTRY@MODIFIER], Name[lang_COUNTRY], Name[lang@MODIFIER],
//                Name[lang], else Name;
//   icon       = its Icon key: an absolute path to a regular file is taken as it is; a name is
//                looked up in the user's theme (gtk-icon-theme-name of gtk-3.0/settings.ini, else
//                "hicolor"), the themes it inherits, then "hicolor", then the pixmaps folder;
//   in a theme = among the theme's directories (index.theme) holding the name as .png, .svg or
//                .xpm, the smallest at least 256 pixels (size × scale; a scalable one counts as its
//                maximum size), else the largest.
// Files are read only when regular and small (entries up to 64 KiB, theme indexes up to 256 KiB),
// so a hostile file cannot stall or exhaust the lookup. The entry index is built on first use and
// rebuilt when an applications folder changes. Not thread-safe: one caller at a time.
class DesktopEntryIcons {
 public:
  static constexpr int kWantedSize = 256;

  explicit DesktopEntryIcons(DesktopDirs dirs);

  std::optional<std::string> iconFile(std::string_view className, std::string_view instanceName);
  // The Name of the entry matching the class and instance, in the user's language, if any.
  std::optional<std::string> applicationName(std::string_view className, std::string_view instanceName);
  // The Icon key of the entry matching the class and instance, if any.
  std::optional<std::string> iconName(std::string_view className, std::string_view instanceName);
  // The file of an icon name (or absolute path) by the rules above.
  std::optional<std::string> findIcon(const std::string& name);
  std::string themeName() const;

  // An application the desktop lists: the window class its windows are expected to carry
  // (StartupWMClass, else the entry's file name without ".desktop", lower-cased), its name and icon.
  struct Application {
    std::string windowClass;
    std::string name;
    std::string icon;
  };
  // Every entry of type Application that is neither hidden nor marked NoDisplay, one per window class.
  std::vector<Application> applications();

 private:
  struct Entry {
    std::string stem;       // file name without ".desktop", lower-cased
    std::string wmClass;    // StartupWMClass, lower-cased
    std::string icon;
    std::string name;       // in the user's language
    bool listed = false;  // an application the desktop shows in its menus
  };
  // The first entry matching the class and instance for which `has` holds.
  const Entry* find(std::string_view className, std::string_view instanceName, std::string Entry::*has);
  void refreshIndex();
  std::optional<std::string> findInTheme(const std::string& theme, const std::string& name,
                                         std::vector<std::string>& visited);
  std::vector<std::filesystem::path> iconBases() const;

  DesktopDirs dirs_;
  std::vector<Entry> entries_;
  bool indexed_ = false;
  std::map<std::string, std::filesystem::file_time_type> folderTimes_;
};

}  // namespace quorvel
