#include "platform/x11/DesktopEntryIcons.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <system_error>

namespace quorvel {

namespace fs = std::filesystem;

namespace {

constexpr uintmax_t kMaxEntryBytes = 64 * 1024;
constexpr uintmax_t kMaxThemeIndexBytes = 256 * 1024;
constexpr size_t kMaxEntries = 20000;
constexpr size_t kMaxInheritDepth = 8;

std::string lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

std::string trim(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(" \t\r");
  return std::string(text.substr(first, last - first + 1));
}

bool isSmallRegularFile(const fs::path& path, uintmax_t limit) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec) || ec) return false;
  const uintmax_t size = fs::file_size(path, ec);
  return !ec && size <= limit;
}

// The key-value groups of an ini-style file (desktop entries, theme indexes, GTK settings).
using Groups = std::map<std::string, std::map<std::string, std::string>>;

std::optional<Groups> readGroups(const fs::path& path, uintmax_t limit) {
  if (!isSmallRegularFile(path, limit)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  Groups groups;
  std::string group;
  std::string line;
  while (std::getline(in, line)) {
    const std::string t = trim(line);
    if (t.empty() || t[0] == '#') continue;
    if (t.front() == '[' && t.back() == ']') {
      group = t.substr(1, t.size() - 2);
      continue;
    }
    const size_t eq = t.find('=');
    if (eq == std::string::npos) continue;
    groups[group].insert_or_assign(trim(std::string_view(t).substr(0, eq)), trim(std::string_view(t).substr(eq + 1)));
  }
  return groups;
}

std::vector<std::string> splitList(const std::string& text, char separator) {
  std::vector<std::string> items;
  std::stringstream in(text);
  std::string item;
  while (std::getline(in, item, separator)) {
    item = trim(item);
    if (!item.empty()) items.push_back(item);
  }
  return items;
}

// The keys a localised value is looked up under, most specific first, for a locale
// "lang_COUNTRY.ENCODING@MODIFIER" (the encoding plays no part): Key[lang_COUNTRY@MODIFIER],
// Key[lang_COUNTRY], Key[lang@MODIFIER], Key[lang], Key.
std::vector<std::string> localisedKeys(const std::string& key, std::string_view locale) {
  std::string_view modifier, country;
  if (const size_t at = locale.find('@'); at != std::string_view::npos) {
    modifier = locale.substr(at + 1);
    locale = locale.substr(0, at);
  }
  if (const size_t dot = locale.find('.'); dot != std::string_view::npos) locale = locale.substr(0, dot);
  std::string_view lang = locale;
  if (const size_t underscore = locale.find('_'); underscore != std::string_view::npos) {
    country = locale.substr(underscore + 1);
    lang = locale.substr(0, underscore);
  }
  std::vector<std::string> keys;
  auto add = [&](std::string_view c, std::string_view m) {
    std::string k = key + "[" + std::string(lang);
    if (!c.empty()) k += "_" + std::string(c);
    if (!m.empty()) k += "@" + std::string(m);
    keys.push_back(k + "]");
  };
  // "C" and "POSIX" name no language.
  if (!lang.empty() && lang != "C" && lang != "POSIX") {
    if (!country.empty() && !modifier.empty()) add(country, modifier);
    if (!country.empty()) add(country, {});
    if (!modifier.empty()) add({}, modifier);
    add({}, {});
  }
  keys.push_back(key);
  return keys;
}

// A string value of a desktop entry with its escapes (\s, \n, \t, \r, \\) turned back
// into the characters they stand for; a line break or tab becomes a space, since a name is one line.
std::string unescaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out.push_back(text[i]);
      continue;
    }
    const char next = text[++i];
    out.push_back(next == '\\' ? '\\' : (next == 's' || next == 'n' || next == 't' || next == 'r') ? ' ' : next);
  }
  return out;
}

int toInt(const std::string& text, int fallback) {
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (end == text.c_str() || v < 0 || v > 100000) return fallback;
  return static_cast<int>(v);
}

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

}  // namespace

DesktopDirs DesktopDirs::fromEnvironment() {
  DesktopDirs d;
  d.home = env("HOME");
  d.dataHome = env("XDG_DATA_HOME");
  if (d.dataHome.empty() && !d.home.empty()) d.dataHome = d.home + "/.local/share";
  d.dataDirs = splitList(env("XDG_DATA_DIRS"), ':');
  if (d.dataDirs.empty()) d.dataDirs = {"/usr/local/share", "/usr/share"};
  d.configHome = env("XDG_CONFIG_HOME");
  if (d.configHome.empty() && !d.home.empty()) d.configHome = d.home + "/.config";
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    d.messagesLocale = env(name);
    if (!d.messagesLocale.empty()) break;
  }
  return d;
}

DesktopEntryIcons::DesktopEntryIcons(DesktopDirs dirs) : dirs_(std::move(dirs)) {}

void DesktopEntryIcons::refreshIndex() {
  std::vector<std::string> folders;
  if (!dirs_.dataHome.empty()) folders.push_back(dirs_.dataHome + "/applications");
  for (const std::string& d : dirs_.dataDirs) folders.push_back(d + "/applications");

  std::map<std::string, fs::file_time_type> times;
  for (const std::string& folder : folders) {
    std::error_code ec;
    const auto t = fs::last_write_time(folder, ec);
    if (!ec) times.emplace(folder, t);
  }
  if (indexed_ && times == folderTimes_) return;
  folderTimes_ = std::move(times);
  indexed_ = true;
  entries_.clear();
  for (const std::string& folder : folders) {
    std::error_code ec;
    fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
    if (ec) continue;
    for (; it != fs::directory_iterator() && entries_.size() < kMaxEntries; it.increment(ec)) {
      if (ec) break;
      const fs::path& path = it->path();
      if (path.extension() != ".desktop") continue;
      const std::optional<Groups> groups = readGroups(path, kMaxEntryBytes);
      if (!groups) continue;
      auto group = groups->find("Desktop Entry");
      if (group == groups->end()) continue;
      Entry entry;
      entry.stem = lower(path.stem().string());
      if (auto k = group->second.find("StartupWMClass"); k != group->second.end()) entry.wmClass = lower(k->second);
      if (auto k = group->second.find("Icon"); k != group->second.end()) entry.icon = k->second;
      for (const std::string& key : localisedKeys("Name", dirs_.messagesLocale)) {
        if (auto k = group->second.find(key); k != group->second.end() && !k->second.empty()) {
          entry.name = unescaped(k->second);
          break;
        }
      }
      const auto value = [&](const char* key) {
        auto k = group->second.find(key);
        return k == group->second.end() ? std::string() : k->second;
      };
      entry.listed = value("Type") == "Application" && value("NoDisplay") != "true" && value("Hidden") != "true" &&
                     !entry.name.empty();
      if (!entry.icon.empty() || !entry.name.empty()) entries_.push_back(std::move(entry));
    }
  }
}

const DesktopEntryIcons::Entry* DesktopEntryIcons::find(std::string_view className, std::string_view instanceName,
                                                         std::string Entry::*has) {
  if (className.empty() && instanceName.empty()) return nullptr;
  refreshIndex();
  const std::string cls = lower(className), instance = lower(instanceName);
  for (const Entry& e : entries_) {
    if (!(e.*has).empty() && !cls.empty() && e.wmClass == cls) return &e;
  }
  for (const Entry& e : entries_) {
    if ((e.*has).empty()) continue;
    if ((!cls.empty() && e.stem == cls) || (!instance.empty() && e.stem == instance)) return &e;
  }
  return nullptr;
}

std::optional<std::string> DesktopEntryIcons::iconName(std::string_view className, std::string_view instanceName) {
  if (const Entry* e = find(className, instanceName, &Entry::icon)) return e->icon;
  return std::nullopt;
}

std::optional<std::string> DesktopEntryIcons::applicationName(std::string_view className,
                                                              std::string_view instanceName) {
  if (const Entry* e = find(className, instanceName, &Entry::name)) return e->name;
  return std::nullopt;
}

std::vector<DesktopEntryIcons::Application> DesktopEntryIcons::applications() {
  refreshIndex();
  std::vector<Application> out;
  std::set<std::string> seen;
  for (const Entry& e : entries_) {
    if (!e.listed) continue;
    std::string windowClass = e.wmClass.empty() ? e.stem : e.wmClass;
    if (!seen.insert(windowClass).second) continue;  // the user's entry hides the system's
    out.push_back({std::move(windowClass), e.name, e.icon});
  }
  return out;
}

std::string DesktopEntryIcons::themeName() const {
  if (!dirs_.configHome.empty()) {
    if (auto groups = readGroups(dirs_.configHome + "/gtk-3.0/settings.ini", kMaxEntryBytes)) {
      auto group = groups->find("Settings");
      if (group != groups->end()) {
        auto key = group->second.find("gtk-icon-theme-name");
        if (key != group->second.end()) {
          std::string name = key->second;
          if (name.size() >= 2 && name.front() == '"' && name.back() == '"') name = name.substr(1, name.size() - 2);
          // A theme name names a folder, never a path.
          if (!name.empty() && name.find('/') == std::string::npos && name != "." && name != "..") return name;
        }
      }
    }
  }
  return "hicolor";
}

std::vector<fs::path> DesktopEntryIcons::iconBases() const {
  std::vector<fs::path> bases;
  if (!dirs_.home.empty()) bases.emplace_back(dirs_.home + "/.icons");
  if (!dirs_.dataHome.empty()) bases.emplace_back(dirs_.dataHome + "/icons");
  for (const std::string& d : dirs_.dataDirs) bases.emplace_back(d + "/icons");
  return bases;
}

std::optional<std::string> DesktopEntryIcons::findInTheme(const std::string& theme, const std::string& name,
                                                          std::vector<std::string>& visited) {
  if (visited.size() > kMaxInheritDepth || std::find(visited.begin(), visited.end(), theme) != visited.end()) {
    return std::nullopt;
  }
  if (theme.find('/') != std::string::npos || theme == "." || theme == "..") return std::nullopt;
  visited.push_back(theme);
  std::optional<Groups> index;
  for (const fs::path& base : iconBases()) {
    if ((index = readGroups(base / theme / "index.theme", kMaxThemeIndexBytes))) break;
  }
  if (!index) return std::nullopt;
  const auto& head = (*index)["Icon Theme"];
  std::vector<std::string> directories;
  if (auto it = head.find("Directories"); it != head.end()) directories = splitList(it->second, ',');
  if (auto it = head.find("ScaledDirectories"); it != head.end()) {
    for (std::string& d : splitList(it->second, ',')) directories.push_back(std::move(d));
  }

  std::optional<std::string> best;
  int bestSize = 0;
  auto better = [](int candidate, int current) {
    // The smallest at least the wanted size, else the largest.
    const bool candidateBig = candidate >= kWantedSize, currentBig = current >= kWantedSize;
    if (candidateBig != currentBig) return candidateBig;
    return candidateBig ? candidate < current : candidate > current;
  };
  for (const std::string& dir : directories) {
    if (dir.find("..") != std::string::npos) continue;
    const auto& info = (*index)[dir];
    auto value = [&](const char* key) {
      auto it = info.find(key);
      return it != info.end() ? it->second : std::string();
    };
    int size = toInt(value("Size"), 0) * std::max(1, toInt(value("Scale"), 1));
    if (lower(value("Type")) == "scalable") size = std::max(size, toInt(value("MaxSize"), size));
    if (size <= 0) continue;
    for (const fs::path& base : iconBases()) {
      for (const char* ext : {".png", ".svg", ".xpm"}) {
        const fs::path file = base / theme / dir / (name + ext);
        std::error_code ec;
        if (fs::is_regular_file(file, ec) && (!best || better(size, bestSize))) {
          best = file.string();
          bestSize = size;
        }
      }
    }
  }
  if (best) return best;
  if (auto it = head.find("Inherits"); it != head.end()) {
    for (const std::string& parent : splitList(it->second, ',')) {
      if (auto found = findInTheme(parent, name, visited)) return found;
    }
  }
  return std::nullopt;
}

std::optional<std::string> DesktopEntryIcons::findIcon(const std::string& rawName) {
  if (rawName.empty()) return std::nullopt;
  if (rawName.front() == '/') {
    std::error_code ec;
    if (fs::is_regular_file(rawName, ec)) return rawName;
    return std::nullopt;
  }
  if (rawName.find('/') != std::string::npos) return std::nullopt;
  std::string name = rawName;
  for (const char* ext : {".png", ".svg", ".xpm"}) {
    if (name.size() > 4 && name.ends_with(ext)) name.resize(name.size() - 4);
  }
  std::vector<std::string> visited;
  if (auto found = findInTheme(themeName(), name, visited)) return found;
  if (auto found = findInTheme("hicolor", name, visited)) return found;
  for (const std::string& d : dirs_.dataDirs) {
    for (const char* ext : {".png", ".svg", ".xpm"}) {
      const fs::path file = fs::path(d) / "pixmaps" / (name + ext);
      std::error_code ec;
      if (fs::is_regular_file(file, ec)) return file.string();
    }
  }
  return std::nullopt;
}

std::optional<std::string> DesktopEntryIcons::iconFile(std::string_view className, std::string_view instanceName) {
  const std::optional<std::string> name = iconName(className, instanceName);
  if (!name) return std::nullopt;
  return findIcon(*name);
}

}  // namespace quorvel
