#include "feedback/FeedbackEnvironment.h"

#include <charconv>
#include <cmath>
#include <fstream>
#include <iterator>
#include <sstream>

#include <unicode/unistr.h>

#include "base/DefaultsStore.h"
#include "settings/AppInfo.h"
#include "settings/SettingsSchema.h"

namespace quorvel {

namespace {

using Json = nlohmann::json;

std::optional<std::string> readFile(const std::filesystem::path& path, size_t limit) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text(limit, '\0');
  in.read(text.data(), static_cast<std::streamsize>(limit));
  if (in.bad()) return std::nullopt;
  text.resize(static_cast<size_t>(in.gcount()));
  return text;
}

// The shortest decimal text that reads back as `value`, with ".0" on whole numbers.
std::string doubleText(double value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  std::string text(buffer, result.ptr);
  if (std::isfinite(value) && text.find_first_of(".e") == std::string::npos) text += ".0";
  return text;
}

// A value as plain text: strings as they are, numbers in decimal, anything else as JSON.
std::string plainDescription(const Json& value) {
  if (value.is_string()) return value.get<std::string>();
  if (value.is_boolean()) return value.get<bool>() ? "true" : "false";
  if (value.is_number_float()) return doubleText(value.get<double>());
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string plural(size_t count, const char* noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

Json storedOrRegistered(const DefaultsStore& store, const std::string& key, Json::value_t type) {
  auto value = store.object(key);
  if (value && value->type() == type) return *value;
  return type == Json::value_t::array ? Json::array() : Json::object();
}

// One line of os-release: KEY=value, the value maybe quoted as a shell would read it.
std::optional<std::string> osReleaseValue(const std::string& text, const std::string& key) {
  std::istringstream lines(text);
  std::string line;
  std::optional<std::string> found;
  while (std::getline(lines, line)) {
    if (line.rfind(key + "=", 0) != 0) continue;
    std::string raw = line.substr(key.size() + 1), value;
    char quote = 0;
    for (size_t i = 0; i < raw.size(); ++i) {
      const char c = raw[i];
      if (quote == 0 && (c == '"' || c == '\'')) {
        quote = c;
      } else if (quote != 0 && c == quote) {
        quote = 0;
      } else if (c == '\\' && quote != '\'' && i + 1 < raw.size()) {
        value += raw[++i];
      } else {
        value += c;
      }
    }
    found = value;
  }
  return found;
}

}  // namespace

const std::set<std::string>& FeedbackEnvironment::countedKeys() {
  static const std::set<std::string> keys{"hiddenBundleIDs", "hiddenTitlePatterns", "passThroughBundleIDs"};
  return keys;
}

FeedbackEnvironment::Sources FeedbackEnvironment::systemSources() {
  Sources sources;
  sources.appVersion = AppInfo::versionString();
#ifdef QUORVEL_BUILD_NUMBER
  sources.build = std::string(QUORVEL_BUILD_NUMBER);
#endif
  sources.osRelease = std::filesystem::exists("/etc/os-release") ? "/etc/os-release" : "/usr/lib/os-release";
  sources.modelFiles = {"/sys/devices/virtual/dmi/id/product_name", "/proc/device-tree/model"};
  return sources;
}

FeedbackEnvironment FeedbackEnvironment::current(const DefaultsStore& store, const Sources& sources) {
  FeedbackEnvironment environment;
  environment.appVersion = sources.appVersion.value_or("unknown");
  environment.build = sources.build.value_or("unknown");
  environment.osVersion = systemVersion(readFile(sources.osRelease, 64 * 1024));
  environment.hardwareModel = readHardwareModel(sources.modelFiles).value_or("unknown");
  environment.settings = settingsSummary(store);
  return environment;
}

std::vector<std::string> FeedbackEnvironment::detailsText() const {
  std::vector<std::string> lines{"appVersion: " + appVersion, "build: " + build, "osVersion: " + osVersion,
                                 "hardwareModel: " + hardwareModel};
  for (const auto& [key, text] : settings) lines.push_back(key + ": " + text);
  return lines;
}

std::map<std::string, std::string> FeedbackEnvironment::settingsSummary(const DefaultsStore& store) {
  std::map<std::string, std::string> summary;
  for (const auto& [key, registered] : SettingsSchema::defaults()) {
    std::string text;
    if (countedKeys().contains(key)) {
      text = countSummary(key, registered, store);
    } else if (registered.is_boolean()) {
      text = store.boolValue(key) ? "true" : "false";
    } else if (registered.is_number_float()) {
      text = doubleText(store.doubleValue(key));
    } else if (registered.is_array()) {
      const Json list = storedOrRegistered(store, key, Json::value_t::array);
      for (const auto& entry : list) {
        if (!entry.is_string()) continue;
        if (!text.empty()) text += ", ";
        text += entry.get<std::string>();
      }
    } else if (registered.is_object()) {
      const Json map = storedOrRegistered(store, key, Json::value_t::object);
      for (const auto& [name, value] : map.items()) {
        if (!text.empty()) text += " ";
        text += name + "=" + plainDescription(value);
      }
    } else {
      text = store.string(key).value_or(plainDescription(registered));
    }
    summary[key] = std::move(text);
  }
  return summary;
}

std::string FeedbackEnvironment::countSummary(const std::string& key, const Json& registeredDefault,
                                              const DefaultsStore& store) {
  if (registeredDefault.is_array()) {
    size_t count = 0;
    for (const auto& entry : storedOrRegistered(store, key, Json::value_t::array)) count += entry.is_string();
    return plural(count, "app");
  }
  const Json map = storedOrRegistered(store, key, Json::value_t::object);
  size_t words = 0;
  for (const auto& [name, value] : map.items()) {
    if (!value.is_array()) continue;
    bool allStrings = true;
    for (const auto& word : value) allStrings = allStrings && word.is_string();
    if (allStrings) words += value.size();
  }
  return plural(words, "word") + " for " + plural(map.size(), "app");
}

std::string FeedbackEnvironment::systemVersion(const std::optional<std::string>& osReleaseText) {
  if (!osReleaseText) return "unknown";
  const std::string name = osReleaseValue(*osReleaseText, "NAME").value_or("Linux");
  const auto versionId = osReleaseValue(*osReleaseText, "VERSION_ID");
  if (!versionId || versionId->empty()) return name;
  // Major, minor and patch as decimal numbers, always three of them; parts that are not numbers
  // (a rolling release's "rolling") leave the version as the system writes it.
  long parts[3] = {0, 0, 0};
  std::istringstream in(*versionId);
  std::string part;
  int count = 0;
  while (std::getline(in, part, '.')) {
    long number = 0;
    const auto result = std::from_chars(part.data(), part.data() + part.size(), number);
    if (count == 3 || part.empty() || result.ec != std::errc() || result.ptr != part.data() + part.size()) {
      return name + " " + *versionId;
    }
    parts[count++] = number;
  }
  return name + " " + std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "." + std::to_string(parts[2]);
}

std::optional<std::string> FeedbackEnvironment::readHardwareModel(const std::vector<std::filesystem::path>& files) {
  for (const auto& file : files) {
    auto bytes = readFile(file, 4096);
    if (!bytes) continue;
    bytes->resize(std::min(bytes->size(), bytes->find('\0')));
    while (!bytes->empty() && std::isspace(static_cast<unsigned char>(bytes->back()))) bytes->pop_back();
    if (bytes->empty()) continue;
    std::string text;
    icu::UnicodeString::fromUTF8(*bytes).toUTF8String(text);
    return text;
  }
  return std::nullopt;
}

}  // namespace quorvel
