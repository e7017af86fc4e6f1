#include "tabs/FaviconProfiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>

#include <nlohmann/json.hpp>

namespace quorvel {

namespace fs = std::filesystem;

namespace {

// The bytes of a browser's own small file. Only a regular file of at most kMaxFileSize bytes is
// read, and opening never waits (a named pipe in its place is refused, not waited on).
std::optional<std::string> readFile(const fs::path& file) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::optional<std::string> result;
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size >= 0 &&
      static_cast<uint64_t>(info.st_size) <= FaviconProfiles::kMaxFileSize) {
    // One byte more than the limit is asked for, so that a file growing while it is read is refused.
    std::string bytes(FaviconProfiles::kMaxFileSize + 1, '\0');
    size_t total = 0;
    bool failed = false;
    while (total < bytes.size()) {
      const ssize_t count = ::read(fd, bytes.data() + total, bytes.size() - total);
      if (count < 0 && errno == EINTR) continue;
      if (count < 0) failed = true;
      if (count <= 0) break;
      total += static_cast<size_t>(count);
    }
    if (!failed && total <= FaviconProfiles::kMaxFileSize) {
      bytes.resize(total);
      result = std::move(bytes);
    }
  }
  ::close(fd);
  return result;
}

bool itemExists(const fs::path& item) {
  std::error_code error;
  return fs::exists(item, error);
}

bool isValidUtf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    size_t length = 0;
    char32_t cp = 0;
    if (b0 < 0x80) {
      ++i;
      continue;
    } else if ((b0 & 0xE0) == 0xC0) {
      length = 2, cp = b0 & 0x1F;
    } else if ((b0 & 0xF0) == 0xE0) {
      length = 3, cp = b0 & 0x0F;
    } else if ((b0 & 0xF8) == 0xF0) {
      length = 4, cp = b0 & 0x07;
    } else {
      return false;
    }
    if (i + length > text.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      const auto b = static_cast<unsigned char>(text[i + k]);
      if ((b & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (b & 0x3F);
    }
    static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kSmallest[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += length;
  }
  return true;
}

bool startsWithIgnoringAsciiCase(std::string_view text, std::string_view lowerPrefix) {
  if (text.size() < lowerPrefix.size()) return false;
  for (size_t i = 0; i < lowerPrefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lowerPrefix[i]) return false;
  }
  return true;
}

// Byte length of the line break at `pos`: LF, VT, FF, CR, CR LF, U+0085, U+2028, U+2029; 0 if none.
size_t lineBreakAt(std::string_view text, size_t pos) {
  const char c = text[pos];
  if (c == '\r') return text.substr(pos, 2) == "\r\n" ? 2 : 1;
  if (c == '\n' || c == '\v' || c == '\f') return 1;
  if (text.substr(pos, 2) == "\xC2\x85") return 2;
  if (text.substr(pos, 3) == "\xE2\x80\xA8" || text.substr(pos, 3) == "\xE2\x80\xA9") return 3;
  return 0;
}

// Byte length of the tab or Unicode space separator (category Zs) at `pos`; 0 if none.
size_t spaceAt(std::string_view text, size_t pos) {
  const auto at = [&](size_t k) { return static_cast<unsigned char>(text[pos + k]); };
  const size_t left = text.size() - pos;
  if (left == 0) return 0;
  if (at(0) == ' ' || at(0) == '\t') return 1;
  if (left >= 2 && at(0) == 0xC2 && at(1) == 0xA0) return 2;  // U+00A0
  if (left < 3) return 0;
  if (at(0) == 0xE1 && at(1) == 0x9A && at(2) == 0x80) return 3;                   // U+1680
  if (at(0) == 0xE2 && at(1) == 0x80 && ((at(2) >= 0x80 && at(2) <= 0x8A) || at(2) == 0xAF)) return 3;  // U+2000-200A, U+202F
  if (at(0) == 0xE2 && at(1) == 0x81 && at(2) == 0x9F) return 3;                   // U+205F
  if (at(0) == 0xE3 && at(1) == 0x80 && at(2) == 0x80) return 3;                   // U+3000
  return 0;
}

std::string_view trimSpaces(std::string_view text) {
  while (size_t n = spaceAt(text, 0)) text.remove_prefix(n);
  for (bool trimmed = true; trimmed && !text.empty();) {
    trimmed = false;
    for (size_t n = 1; n <= 3 && n <= text.size(); ++n) {
      if (spaceAt(text, text.size() - n) == n) {
        text.remove_suffix(n);
        trimmed = true;
        break;
      }
    }
  }
  return text;
}

// Appends a path below `folder` one component at a time ("Profiles/abc" is two folders). A leading
// "/" does not make it absolute: what a browser's own files name always lies in its data folder.
fs::path appendRelative(fs::path folder, std::string_view relative) {
  size_t start = 0;
  while (start <= relative.size()) {
    size_t slash = relative.find('/', start);
    if (slash == std::string_view::npos) slash = relative.size();
    if (slash > start) folder /= std::string(relative.substr(start, slash - start));
    start = slash + 1;
  }
  return folder;
}

// Whether a profile path named by the browser's own files, once "." and ".." are resolved, stays
// inside the data folder (the data folder itself included).
bool staysInside(const fs::path& dataFolder, std::string_view relative) {
  const fs::path folder = dataFolder.lexically_normal();
  const fs::path normal = appendRelative(dataFolder, relative).lexically_normal();
  auto inner = normal.begin();
  for (auto outer = folder.begin(); outer != folder.end(); ++outer, ++inner) {
    if (outer->empty() && std::next(outer) == folder.end()) break;  // the trailing "" of "a/b/"
    if (inner == normal.end() || *inner != *outer) return false;
  }
  return true;
}

// "Default" first, then code-point order (UTF-8 byte order is code-point order), at most 8.
std::vector<fs::path> orderedProfiles(const fs::path& dataFolder, std::vector<std::string> names) {
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    if (a == "Default" || b == "Default") return a == "Default" && b != "Default";
    return a < b;
  });
  if (names.size() > FaviconProfiles::kMaxProfiles) names.resize(FaviconProfiles::kMaxProfiles);
  std::vector<fs::path> folders;
  for (const auto& name : names) folders.push_back(appendRelative(dataFolder, name).lexically_normal());
  return folders;
}

std::optional<std::vector<std::string>> namesFromLocalState(const fs::path& dataFolder) {
  auto bytes = readFile(dataFolder / "Local State");
  if (!bytes) return std::nullopt;
  const auto json = nlohmann::json::parse(*bytes, nullptr, false);
  if (json.is_discarded() || !json.is_object()) return std::nullopt;
  const auto profile = json.find("profile");
  if (profile == json.end() || !profile->is_object()) return std::nullopt;
  const auto infoCache = profile->find("info_cache");
  if (infoCache == profile->end() || !infoCache->is_object() || infoCache->empty()) return std::nullopt;
  std::vector<std::string> names;
  // A name that leads out of the data folder ("..", "a/../../b") names no profile of this browser.
  for (const auto& member : infoCache->items()) {
    if (staysInside(dataFolder, member.key())) names.push_back(member.key());
  }
  if (names.empty()) return std::nullopt;
  return names;
}

std::vector<fs::path> scanForHistory(const fs::path& dataFolder) {
  if (itemExists(dataFolder / "History")) return {dataFolder};
  std::vector<std::string> names;
  std::error_code error;
  fs::directory_iterator it(dataFolder, error);
  for (; !error && it != fs::directory_iterator(); it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.empty() || name.front() == '.') continue;
    if (itemExists(it->path() / "History")) names.push_back(name);
  }
  if (error) return {};  // a listing that fails part-way counts as empty
  return orderedProfiles(dataFolder, std::move(names));
}

const std::string* valueOf(const FaviconProfiles::INISection& section, const std::string& key) {
  const auto it = section.values.find(key);
  return it == section.values.end() ? nullptr : &it->second;
}

}  // namespace

std::vector<fs::path> FaviconProfiles::chromiumProfiles(const fs::path& dataFolder) {
  auto names = namesFromLocalState(dataFolder);
  if (!names) return scanForHistory(dataFolder);
  return orderedProfiles(dataFolder, std::move(*names));
}

std::vector<FaviconProfiles::INISection> FaviconProfiles::parseINI(std::string_view text) {
  std::vector<INISection> sections;
  std::optional<std::string> open;
  std::unordered_map<std::string, std::string> values;

  const auto handleLine = [&](std::string_view line) {
    line = trimSpaces(line);
    if (line.empty() || line.front() == ';' || line.front() == '#') return;
    if (line.front() == '[' && line.back() == ']' && line.size() >= 2) {
      // Pairs read before the first header stay and belong to the first section.
      if (open) {
        sections.push_back({std::move(*open), std::move(values)});
        values.clear();
      }
      open = std::string(line.substr(1, line.size() - 2));
      return;
    }
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) return;
    const std::string_view key = trimSpaces(line.substr(0, equals));
    if (key.empty()) return;
    values[std::string(key)] = std::string(trimSpaces(line.substr(equals + 1)));
  };

  size_t start = 0;
  for (size_t i = 0; i < text.size();) {
    if (const size_t n = lineBreakAt(text, i)) {
      handleLine(text.substr(start, i - start));
      i += n;
      start = i;
    } else {
      ++i;
    }
  }
  handleLine(text.substr(start));
  if (open) sections.push_back({std::move(*open), std::move(values)});
  return sections;
}

std::vector<fs::path> FaviconProfiles::geckoProfiles(const fs::path& dataFolder) {
  auto text = readFile(dataFolder / "profiles.ini");
  if (!text || !isValidUtf8(*text)) return {};
  std::string_view body = *text;
  if (body.substr(0, 3) == "\xEF\xBB\xBF") body.remove_prefix(3);  // a byte-order mark is not content
  const auto sections = parseINI(body);

  std::vector<std::string> paths;
  const auto add = [&](const std::string& path) {
    if (std::find(paths.begin(), paths.end(), path) == paths.end()) paths.push_back(path);
  };

  for (const auto& section : sections) {
    if (!startsWithIgnoringAsciiCase(section.name, "install")) continue;
    const std::string* value = valueOf(section, "Default");
    if (value && !value->empty()) {
      add(*value);
      break;
    }
  }

  std::vector<const INISection*> profiles;
  for (const auto& section : sections) {
    if (startsWithIgnoringAsciiCase(section.name, "profile")) profiles.push_back(&section);
  }
  for (const INISection* section : profiles) {
    const std::string* isDefault = valueOf(*section, "Default");
    if (!isDefault || *isDefault != "1") continue;
    if (const std::string* path = valueOf(*section, "Path")) add(*path);
    break;
  }
  for (const INISection* section : profiles) {
    const std::string* path = valueOf(*section, "Path");
    if (path && !path->empty()) add(*path);
  }

  // The first section naming a path decides whether it is relative; a missing flag means relative.
  std::unordered_map<std::string, bool> isRelative;
  for (const INISection* section : profiles) {
    const std::string* path = valueOf(*section, "Path");
    if (!path) continue;
    const std::string* flag = valueOf(*section, "IsRelative");
    isRelative.try_emplace(*path, !(flag && *flag == "0"));
  }

  std::vector<fs::path> folders;
  for (const auto& path : paths) {
    if (folders.size() == kMaxProfiles) break;
    const auto flag = isRelative.find(path);
    const bool relative = flag == isRelative.end() || flag->second;
    // A relative path that leads out of the data folder ("../../x") is refused and takes no place.
    if (relative && !staysInside(dataFolder, path)) continue;
    folders.push_back(relative ? appendRelative(dataFolder, path).lexically_normal() : fs::path(path));
  }
  return folders;
}

}  // namespace quorvel
