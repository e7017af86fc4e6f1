#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace quorvel {

// Launch at login, as a desktop-entry file "quorvel.desktop" in the XDG autostart folder
// ($XDG_CONFIG_HOME/autostart, else ~/.config/autostart), which the desktop's session manager
// starts at login.
//
// setEnabled writes the file (atomically: a temporary file beside it, then a rename) or removes
// it, and reports the state the folder is in afterwards, with a sentence for the user when the
// wish could not be met. isEnabled reads the folder: the entry counts while it is a regular file
// (anything else standing there, a named pipe or a device, is never opened) and is neither hidden
// ("Hidden=true") nor switched off ("X-GNOME-Autostart-enabled=false").
//
// Threads: main queue in practice; no state of its own.
class LoginItem {
 public:
  struct Result {
    bool enabled = false;                 // the program starts at login now
    std::optional<std::string> message;   // none on success
    bool operator==(const Result&) const = default;
  };

  static constexpr const char* kFileName = "quorvel.desktop";
  // The program's icon in the icon theme, as the installed desktop entry names it.
  static constexpr const char* kIconName = "quorvel";
  // A larger entry is none of ours and counts as off.
  static constexpr size_t kMaximumEntrySize = 64 * 1024;
  static constexpr const char* kCannotEnable =
      "Quorvel could not be set to open at login. Check Startup Applications in your desktop's settings.";
  static constexpr const char* kCannotDisable =
      "Quorvel could not be kept from opening at login. Check Startup Applications in your desktop's settings.";

  // `folder`: the autostart folder; `executable`: the program the entry starts.
  LoginItem(std::filesystem::path folder, std::filesystem::path executable);

  // The autostart folder of the user and this process's own executable.
  static LoginItem forCurrentUser();
  static std::filesystem::path defaultFolder();

  Result setEnabled(bool wanted);
  bool isEnabled() const;

  std::filesystem::path entryPath() const { return folder_ / kFileName; }
  // The entry's text for `executable`.
  static std::string entryText(const std::filesystem::path& executable);
  // One argument of an Exec line, quoted as desktop entries require.
  static std::string quoteExecArgument(const std::string& argument);

 private:
  bool writeEntry() const;

  std::filesystem::path folder_;
  std::filesystem::path executable_;
};

}  // namespace quorvel
