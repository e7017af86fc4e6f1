#include "app/LoginItem.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <system_error>

#include "base/DefaultsFile.h"

namespace quorvel {

namespace {

std::string trimmed(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.pop_back();
  size_t start = 0;
  while (start < s.size() && (s[start] == ' ' || s[start] == '\t')) ++start;
  return s.substr(start);
}

}  // namespace

LoginItem::LoginItem(std::filesystem::path folder, std::filesystem::path executable)
    : folder_(std::move(folder)), executable_(std::move(executable)) {}

std::filesystem::path LoginItem::defaultFolder() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config && config[0] == '/') return std::filesystem::path(config) / "autostart";
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home ? home : "/") / ".config" / "autostart";
}

LoginItem LoginItem::forCurrentUser() {
  std::error_code error;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) self = "quorvel";
  return LoginItem(defaultFolder(), self);
}

std::string LoginItem::quoteExecArgument(const std::string& argument) {
  // Reserved characters force quoting; inside quotes ", `, $ and \ are escaped with a backslash.
  // A literal % is written %% in any case (field codes start with it).
  static const std::string reserved = " \t\n\"'\\><~|&;$*?#()`";
  bool quote = argument.empty() || argument.find_first_of(reserved) != std::string::npos;
  std::string out;
  if (quote) out += '"';
  for (char c : argument) {
    if (c == '%') {
      out += "%%";
      continue;
    }
    if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) out += '\\';
    out += c;
  }
  if (quote) out += '"';
  // The desktop entry format escapes a backslash once more in every string value.
  std::string escaped;
  for (char c : out) {
    if (c == '\\') escaped += '\\';
    escaped += c;
  }
  return escaped;
}

std::string LoginItem::entryText(const std::filesystem::path& executable) {
  std::ostringstream text;
  text << "[Desktop Entry]\n"
       << "Type=Application\n"
       << "Name=Quorvel\n"
       << "GenericName=Window Switcher\n"
       << "Comment=See every open window at once and switch to the one you want\n"
       << "Exec=" << quoteExecArgument(executable.string()) << "\n"
       << "Icon=" << kIconName << "\n"
       << "Terminal=false\n"
       << "X-GNOME-Autostart-enabled=true\n";
  return text.str();
}

bool LoginItem::writeEntry() const {
  std::error_code error;
  std::filesystem::create_directories(folder_, error);
  if (error) return false;
  const std::filesystem::path target = entryPath();
  const std::filesystem::path temporary = folder_ / ".quorvel.desktop.tmp";
  const std::string text = entryText(executable_);
  // Whatever a crash or someone else left under the temporary name goes first: opening a named
  // pipe there would wait for a reader that never comes.
  ::unlink(temporary.c_str());
  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  size_t written = 0;
  bool ok = true;
  while (written < text.size()) {
    ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n <= 0) {
      ok = false;
      break;
    }
    written += static_cast<size_t>(n);
  }
  ok = ::fsync(fd) == 0 && ok;
  ok = ::close(fd) == 0 && ok;
  if (ok) ok = ::rename(temporary.c_str(), target.c_str()) == 0;
  if (!ok) std::filesystem::remove(temporary, error);
  return ok;
}

LoginItem::Result LoginItem::setEnabled(bool wanted) {
  if (wanted) {
    if (writeEntry() && isEnabled()) return {true, std::nullopt};
    return {isEnabled(), kCannotEnable};
  }
  std::error_code error;
  std::filesystem::remove(entryPath(), error);
  if (!error && !isEnabled()) return {false, std::nullopt};
  return {isEnabled(), kCannotDisable};
}

bool LoginItem::isEnabled() const {
  // Only a regular file is read, without ever blocking: a named pipe or a device standing there is
  // no entry the session manager would start, and opening it could wait forever.
  std::string bytes;
  int error = 0;
  if (DefaultsFile::read(entryPath(), kMaximumEntrySize, bytes, error) != DefaultsFile::ReadOutcome::read) {
    return false;
  }
  std::istringstream in(bytes);
  bool inMainGroup = false;
  bool sawGroup = false;
  std::string line;
  while (std::getline(in, line)) {
    line = trimmed(line);
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      inMainGroup = line == "[Desktop Entry]";
      sawGroup = true;
      continue;
    }
    if (!inMainGroup) continue;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = trimmed(line.substr(0, eq));
    const std::string value = trimmed(line.substr(eq + 1));
    if (key == "Hidden" && value == "true") return false;
    if (key == "X-GNOME-Autostart-enabled" && value == "false") return false;
  }
  return sawGroup;
}

}  // namespace quorvel
