#include "settings/SettingsTransfer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <set>
#include <unordered_set>

#include "base/TextServices.h"
#include "settings/AppInfo.h"
#include "settings/AppSettings.h"
#include "settings/SettingColors.h"
#include "settings/TitlePatterns.h"

namespace quorvel {

namespace {

using Json = nlohmann::json;
using JSONValue = SettingsTransfer::JSONValue;
using ValueType = AppSettings::ValueType;

constexpr double kTwoTo53 = 9007199254740992.0;
constexpr double kTwoTo63 = 9223372036854775808.0;

SettingsTransfer::Failure notASettingsFile() {
  return {SettingsTransfer::Failure::Kind::notASettingsFile, 0};
}

std::string errnoText(const std::string& what) { return what + ": " + std::strerror(errno); }

// ---- Export: the store's values by the default's type ----

std::optional<std::vector<std::string>> textListIn(const Json& value) {
  if (!value.is_array()) return std::nullopt;
  std::vector<std::string> list;
  for (const auto& element : value) {
    if (!element.is_string()) return std::nullopt;
    list.push_back(element.get<std::string>());
  }
  return list;
}

JSONValue stringsValue(const std::vector<std::string>& list) {
  JSONValue::Array array;
  for (const auto& item : list) array.push_back({item});
  return {std::move(array)};
}

// A dictionary member by member: a list of text stays a list, an integer becomes a number, anything
// else is left out.
JSONValue dictionaryValue(const Json& dictionary) {
  JSONValue::Object object;
  for (const auto& [name, member] : dictionary.items()) {
    if (auto list = textListIn(member)) {
      object.emplace(name, stringsValue(*list));
    } else if (auto integer = HotkeyBinding::storedInteger(member)) {
      object.emplace(name, JSONValue{static_cast<double>(*integer)});
    }
  }
  return {std::move(object)};
}

JSONValue exportedValue(const DefaultsStore& store, const AppSettings::DefaultEntry& entry) {
  const auto& key = entry.key;
  switch (entry.type) {
    case ValueType::boolean:
      return {store.object(key) ? store.boolValue(key) : entry.value.get<bool>()};
    case ValueType::number:
      return {store.object(key) ? store.doubleValue(key) : entry.value.get<double>()};
    case ValueType::text:
      return {store.string(key).value_or(entry.value.get<std::string>())};
    case ValueType::textList: {
      const auto stored = store.object(key);
      auto list = stored ? textListIn(*stored) : std::nullopt;
      return stringsValue(list ? *list : *textListIn(entry.value));
    }
    case ValueType::integerDictionary:
    case ValueType::wordListDictionary: {
      const auto stored = store.object(key);
      return dictionaryValue(stored && stored->is_object() ? *stored : entry.value);
    }
  }
  return {false};
}

// What the program reads in place of a value the setting may not hold, so that an export always
// stays small enough to be read back and brings every setting as the program reads it: an enumerated
// setting's tolerant reading, a list in its canonical (bounded) form, the default for anything else.
// A short text stays as it is, colour or not: the import skips it, and the file still comes in.
JSONValue admissibleValue(const AppSettings::DefaultEntry& entry, JSONValue value) {
  const Json json = value.toJson();
  if (SettingsTransfer::admissible(entry, json)) return value;
  switch (entry.type) {
    case ValueType::text: {
      const auto* text = std::get_if<std::string>(&value.value);
      if (!entry.cases.empty()) {
        return {std::string(SettingsSchema::tolerantValue(entry.key, text ? std::optional(*text) : std::nullopt))};
      }
      if (text && text->size() <= SettingsTransfer::maximumTextLength) return value;
      return {entry.value.get<std::string>()};
    }
    case ValueType::textList:
      return stringsValue(TitlePatterns::canonicalIdentifiers(textListIn(json).value_or(std::vector<std::string>{})));
    case ValueType::wordListDictionary:
      return dictionaryValue(TitlePatterns::titlePatternsValue(TitlePatterns::titlePatternsFrom(json)));
    case ValueType::integerDictionary:
      return dictionaryValue(entry.value);
    case ValueType::boolean:
    case ValueType::number:
      break;
  }
  return value;
}

// Finds a number JSON cannot carry, so the export fails instead of writing null in its place.
std::optional<std::string> unencodable(const JSONValue& value, const std::string& key) {
  if (const auto* number = std::get_if<double>(&value.value)) {
    if (!std::isfinite(*number)) {
      return "The setting \"" + key + "\" holds a number that JSON cannot carry (" +
             std::to_string(*number) + ").";
    }
  } else if (const auto* array = std::get_if<JSONValue::Array>(&value.value)) {
    for (const auto& element : *array) {
      if (auto problem = unencodable(element, key)) return problem;
    }
  } else if (const auto* object = std::get_if<JSONValue::Object>(&value.value)) {
    for (const auto& [name, member] : *object) {
      if (auto problem = unencodable(member, key)) return problem;
    }
  }
  return std::nullopt;
}

// ---- Import: a file value converted to the default's type ----

std::optional<Json> converted(const JSONValue& value, ValueType type) {
  switch (type) {
    case ValueType::boolean:
      if (const auto* b = std::get_if<bool>(&value.value)) return Json(*b);
      return std::nullopt;
    case ValueType::number:
      if (const auto* d = std::get_if<double>(&value.value); d && std::isfinite(*d)) return Json(*d);
      return std::nullopt;
    case ValueType::text:
      if (const auto* s = std::get_if<std::string>(&value.value)) return Json(*s);
      return std::nullopt;
    case ValueType::textList: {
      const auto* array = std::get_if<JSONValue::Array>(&value.value);
      if (!array) return std::nullopt;
      Json list = Json::array();
      for (const auto& element : *array) {
        const auto* s = std::get_if<std::string>(&element.value);
        if (!s) return std::nullopt;
        list.push_back(*s);
      }
      return list;
    }
    case ValueType::integerDictionary: {
      const auto* object = std::get_if<JSONValue::Object>(&value.value);
      if (!object) return std::nullopt;
      Json dictionary = Json::object();
      for (const auto& [name, member] : *object) {
        const auto* d = std::get_if<double>(&member.value);
        if (!d || !std::isfinite(*d) || std::trunc(*d) != *d || *d < -kTwoTo63 || *d >= kTwoTo63) {
          return std::nullopt;
        }
        dictionary[name] = static_cast<int64_t>(*d);
      }
      return dictionary;
    }
    case ValueType::wordListDictionary: {
      const auto* object = std::get_if<JSONValue::Object>(&value.value);
      if (!object) return std::nullopt;
      Json dictionary = Json::object();
      for (const auto& [name, member] : *object) {
        auto words = converted(member, ValueType::textList);
        if (!words) return std::nullopt;
        dictionary[name] = std::move(*words);
      }
      return dictionary;
    }
  }
  return std::nullopt;
}

// The value `key` will have once `writes` are in: the pending write, else the store's own.
std::optional<Json> valueAfter(const std::map<std::string, Json>& writes, const DefaultsStore& store,
                               const std::string& key) {
  if (auto pending = writes.find(key); pending != writes.end()) return pending->second;
  return store.object(key);
}

std::vector<std::string> listAfter(const std::map<std::string, Json>& writes, const DefaultsStore& store,
                                   const std::string& key) {
  const auto value = valueAfter(writes, store, key);
  auto list = value ? textListIn(*value) : std::nullopt;
  return list.value_or(std::vector<std::string>{});
}

// A list of more applications than it may hold, cut after the last one it may: blanks and repeats
// (once trimmed) do not count, as the canonical list keeps none of them. A title-word dictionary keeps
// its first applications in key order. Says what was cut; none for a value within the bound.
std::optional<SettingsTransfer::LeftOut> trimmedToBound(const AppSettings::DefaultEntry& entry, Json& value) {
  constexpr size_t bound = TitlePatterns::maximumEntries;
  if (value.size() <= bound) return std::nullopt;
  size_t cut = value.size();
  size_t total = value.size();
  if (entry.type == ValueType::textList) {
    std::unordered_set<std::string> applications;
    for (size_t i = 0; i < value.size(); ++i) {
      std::string id = TextServices::trimmed(value[i].get_ref<const std::string&>());
      if (id.empty() || applications.contains(id)) continue;
      if (applications.size() == bound && cut == value.size()) cut = i;
      applications.insert(std::move(id));
    }
    if (cut == value.size()) return std::nullopt;
    total = applications.size();
    value.erase(value.begin() + static_cast<std::ptrdiff_t>(cut), value.end());
  } else if (entry.type == ValueType::wordListDictionary) {
    auto past = value.begin();
    std::advance(past, static_cast<std::ptrdiff_t>(bound));
    value.erase(past, value.end());
  } else {
    return std::nullopt;
  }
  return SettingsTransfer::LeftOut{entry.key, SettingsTransfer::LeftOut::Reason::trimmed, bound, total};
}

// Reads a file the user chose, refusing anything but a regular file of a settings file's size.
std::optional<std::string> readChosenFile(const std::filesystem::path& file) {
  // Non-blocking, so that a named pipe cannot hold the import; it is refused below.
  const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat info {};
  std::optional<std::string> data;
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
      static_cast<uint64_t>(info.st_size) <= SettingsTransfer::maximumFileSize) {
    std::string bytes;
    bytes.resize(SettingsTransfer::maximumFileSize + 1);
    size_t total = 0;
    bool failed = false;
    while (total < bytes.size()) {
      const ssize_t got = ::read(fd, bytes.data() + total, bytes.size() - total);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        failed = true;
        break;
      }
      if (got == 0) break;
      total += static_cast<size_t>(got);
    }
    // A file that grew past the limit while being read is refused as well.
    if (!failed && total <= SettingsTransfer::maximumFileSize) {
      bytes.resize(total);
      data = std::move(bytes);
    }
  }
  ::close(fd);
  return data;
}

bool writeAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t wrote = ::write(fd, data.data(), data.size());
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    data.remove_prefix(static_cast<size_t>(wrote));
  }
  return true;
}

void syncFolder(const std::filesystem::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

// ---- JSONValue ----

std::optional<JSONValue> JSONValue::fromJson(const Json& json, int depth) {
  if (depth > maximumNesting) return std::nullopt;
  switch (json.type()) {
    case Json::value_t::boolean:
      return JSONValue{json.get<bool>()};
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
    case Json::value_t::number_float:
      return JSONValue{json.get<double>()};
    case Json::value_t::string:
      return JSONValue{json.get<std::string>()};
    case Json::value_t::array: {
      Array array;
      array.reserve(json.size());
      for (const auto& element : json) {
        auto value = fromJson(element, depth + 1);
        if (!value) return std::nullopt;
        array.push_back(std::move(*value));
      }
      return JSONValue{std::move(array)};
    }
    case Json::value_t::object: {
      Object object;
      for (const auto& [name, member] : json.items()) {
        auto value = fromJson(member, depth + 1);
        if (!value) return std::nullopt;
        object.emplace(name, std::move(*value));
      }
      return JSONValue{std::move(object)};
    }
    default:
      return std::nullopt;
  }
}

Json JSONValue::toJson() const {
  return std::visit(
      [](const auto& v) -> Json {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, double>) {
          if (std::trunc(v) == v && std::fabs(v) < kTwoTo53) return Json(static_cast<int64_t>(v));
          return Json(v);
        } else if constexpr (std::is_same_v<T, Array>) {
          Json array = Json::array();
          for (const auto& element : v) array.push_back(element.toJson());
          return array;
        } else if constexpr (std::is_same_v<T, Object>) {
          Json object = Json::object();
          for (const auto& [name, member] : v) object[name] = member.toJson();
          return object;
        } else {
          return Json(v);
        }
      },
      value);
}

// ---- SettingsTransfer ----

SettingsTransfer::SettingsTransfer(AppSettings& settings) : settings_(settings) {}

void SettingsTransfer::setWriteInterruptionForTesting(std::function<bool()> hook) {
  interruption_ = std::move(hook);
}

SettingsTransfer::ExportResult SettingsTransfer::exportSettings(const DefaultsStore& store) const {
  Json settings = Json::object();
  for (const auto& entry : AppSettings::defaultEntries()) {
    const JSONValue value = admissibleValue(entry, exportedValue(store, entry));
    if (auto problem = unencodable(value, entry.key)) return {std::nullopt, *problem};
    settings[entry.key] = value.toJson();
  }
  Json document = {
      {"schemaVersion", currentSchemaVersion},
      {"appVersion", AppInfo::versionString()},
      {"settings", std::move(settings)},
  };
  try {
    // Object members come out in key order.
    return {document.dump(2), {}};
  } catch (const Json::exception& error) {
    return {std::nullopt, error.what()};
  }
}

SettingsTransfer::ExportResult SettingsTransfer::exportToFile(const DefaultsStore& store,
                                                              const std::filesystem::path& file) const {
  ExportResult result = exportSettings(store);
  if (!result.succeeded()) return result;

  const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : ".";
  std::string temporary = (folder / ("." + file.filename().string() + ".XXXXXX")).string();
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) return {std::nullopt, errnoText("Could not create a file beside " + file.string())};

  // Keep the permissions of the file being replaced; a new file gets the usual ones.
  struct stat existing {};
  const mode_t mode = ::stat(file.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)
                          ? (existing.st_mode & 07777)
                          : 0644;
  std::string error;
  if (!writeAll(fd, *result.data)) {
    error = errnoText("Could not write " + temporary);
  } else if (::fchmod(fd, mode) != 0 || ::fsync(fd) != 0) {
    error = errnoText("Could not save " + temporary);
  }
  if (::close(fd) != 0 && error.empty()) error = errnoText("Could not save " + temporary);
  if (error.empty() && interruption_ && !interruption_()) error = "The export was interrupted.";
  if (error.empty() && ::rename(temporary.c_str(), file.c_str()) != 0) {
    error = errnoText("Could not replace " + file.string());
  }
  if (!error.empty()) {
    ::unlink(temporary.c_str());
    return {std::nullopt, error};
  }
  syncFolder(folder);
  return result;
}

std::variant<SettingsTransfer::File, SettingsTransfer::Failure> SettingsTransfer::decode(
    std::string_view data) {
  const Json document = Json::parse(data.begin(), data.end(), nullptr, false);
  if (document.is_discarded() || !document.is_object()) return notASettingsFile();

  const auto version = document.find("schemaVersion");
  const auto appVersion = document.find("appVersion");
  const auto settings = document.find("settings");
  if (version == document.end() || appVersion == document.end() || settings == document.end()) {
    return notASettingsFile();
  }
  const auto schemaVersion = HotkeyBinding::storedInteger(*version);
  if (!schemaVersion || !appVersion->is_string() || !settings->is_object()) return notASettingsFile();

  File file;
  file.schemaVersion = *schemaVersion;
  file.appVersion = appVersion->get<std::string>();
  for (const auto& [key, member] : settings->items()) {
    auto value = JSONValue::fromJson(member, 1);
    if (!value) return notASettingsFile();
    file.settings.emplace(key, std::move(*value));
  }
  return file;
}

SettingsTransfer::ImportResult SettingsTransfer::importSettings(std::string_view data,
                                                                DefaultsStore& store) const {
  auto decoded = decode(data);
  if (auto* failure = std::get_if<Failure>(&decoded)) return {*failure, 0};
  const File& file = std::get<File>(decoded);
  if (file.schemaVersion != currentSchemaVersion) {
    return {Failure{Failure::Kind::fromAnotherVersion, file.schemaVersion}, 0};
  }

  // Everything is worked out first and written as one change at the end.
  std::map<std::string, Json> writes;
  std::vector<LeftOut> leftOut;
  std::set<std::string_view> known;
  int written = 0;
  const auto entries = AppSettings::defaultEntries();
  for (const auto& entry : entries) {
    known.insert(entry.key);
    const auto inFile = file.settings.find(entry.key);
    if (inFile == file.settings.end()) continue;
    auto value = converted(inFile->second, entry.type);
    if (!value) {
      leftOut.push_back({entry.key, LeftOut::Reason::wrongType});
      continue;
    }
    const std::optional<LeftOut> trimmed = trimmedToBound(entry, *value);
    if (auto reason = inadmissibility(entry, *value)) {
      leftOut.push_back({entry.key, *reason});
      continue;
    }
    if (trimmed) leftOut.push_back(*trimmed);
    // An older name of a case comes in as the case it names.
    if (!entry.cases.empty()) value = std::string(*SettingsSchema::caseNamed(entry.key, value->get<std::string>()));
    writes[entry.key] = std::move(*value);
    ++written;
  }
  for (const auto& [key, value] : file.settings) {
    if (!known.contains(key)) leftOut.push_back({key, LeftOut::Reason::unknownKey});
  }
  // A file that brings nothing changes nothing, the tidying of the lists included.
  if (written == 0) return {std::nullopt, 0, true, false, std::move(leftOut)};

  // The lists the file brings are written as the settings window writes them; the store's own lists
  // stay as they are. Hidden applications brought in restrict the stored title words, and title words
  // brought in are restricted to the applications hidden once the file is in.
  if (&store == &settings_.store()) {
    using K = AppSettings::Key;
    const bool bringsHidden = writes.contains(K::hiddenBundleIDs);
    if (bringsHidden) {
      writes[K::hiddenBundleIDs] = Json(AppSettings::canonicalIdentifiers(listAfter(writes, store, K::hiddenBundleIDs)));
    }
    if (bringsHidden || writes.contains(K::hiddenTitlePatterns)) {
      const auto hidden = listAfter(writes, store, K::hiddenBundleIDs);
      const std::set<std::string> hiddenSet(hidden.begin(), hidden.end());
      // Only the hidden applications' words are read, so the bound on how many applications have
      // words counts none of the others.
      Json words = Json::object();
      const auto patternsValue = valueAfter(writes, store, K::hiddenTitlePatterns);
      if (patternsValue && patternsValue->is_object()) {
        for (const auto& [id, list] : patternsValue->items()) {
          if (hiddenSet.contains(id)) words[id] = list;
        }
      }
      writes[K::hiddenTitlePatterns] = AppSettings::titlePatternsValue(AppSettings::titlePatternsFrom(words));
    }
    if (writes.contains(K::passThroughBundleIDs)) {
      writes[K::passThroughBundleIDs] =
          Json(AppSettings::canonicalIdentifiers(listAfter(writes, store, K::passThroughBundleIDs)));
    }
  }

  store.setMany(writes);
  const auto outcome = store.lastWriteOutcome();
  return {std::nullopt, written, outcome == DefaultsStore::WriteOutcome::saved,
          outcome == DefaultsStore::WriteOutcome::waiting, std::move(leftOut)};
}

bool SettingsTransfer::admissible(const SettingsSchema::Entry& entry, const Json& value) {
  return !inadmissibility(entry, value);
}

std::optional<SettingsTransfer::LeftOut::Reason> SettingsTransfer::inadmissibility(const SettingsSchema::Entry& entry,
                                                                                   const Json& value) {
  using Reason = LeftOut::Reason;
  auto textReason = [](const Json& text, size_t length) -> std::optional<Reason> {
    if (!text.is_string()) return Reason::wrongType;
    const auto& bytes = text.get_ref<const std::string&>();
    if (bytes.size() > length) return Reason::tooLarge;
    if (!TitlePatterns::admissible(bytes, length)) return Reason::controlCharacters;
    return std::nullopt;
  };
  auto wordsReason = [&](const Json& list, size_t count, size_t length) -> std::optional<Reason> {
    if (!list.is_array()) return Reason::wrongType;
    if (list.size() > count) return Reason::tooLarge;
    for (const auto& item : list) {
      if (auto reason = textReason(item, length)) return reason;
    }
    return std::nullopt;
  };
  switch (entry.type) {
    case ValueType::boolean:
    case ValueType::number:
      return std::nullopt;
    case ValueType::text: {
      if (!value.is_string()) return Reason::wrongType;
      const auto& text = value.get_ref<const std::string&>();
      if (text.size() > maximumTextLength) return Reason::tooLarge;
      // An enumerated setting holds one of its cases.
      if (!entry.cases.empty() && !SettingsSchema::caseNamed(entry.key, text)) return Reason::notAChoice;
      // A colour setting holds a colour.
      const bool colour = entry.cases.empty() && entry.value.is_string() &&
                          SettingColors::rgbFromHex(entry.value.get_ref<const std::string&>()).has_value();
      if (colour && !SettingColors::rgbFromHex(text)) return Reason::notAColour;
      return std::nullopt;
    }
    case ValueType::textList:
      return wordsReason(value, TitlePatterns::maximumEntries, TitlePatterns::maximumEntryLength);
    case ValueType::wordListDictionary:
      if (!value.is_object()) return Reason::wrongType;
      if (value.size() > TitlePatterns::maximumEntries) return Reason::tooLarge;
      for (const auto& [id, words] : value.items()) {
        if (auto reason = textReason(Json(id), TitlePatterns::maximumEntryLength)) return reason;
        if (auto reason = wordsReason(words, TitlePatterns::maximumWords, TitlePatterns::maximumWordLength)) return reason;
      }
      return std::nullopt;
    case ValueType::integerDictionary:
      if (!value.is_object()) return Reason::wrongType;
      if (value.size() > maximumShortcutMembers) return Reason::tooLarge;
      for (const auto& [name, member] : value.items()) {
        if (auto reason = textReason(Json(name), maximumTextLength)) return reason;
      }
      return std::nullopt;
  }
  return Reason::wrongType;
}

SettingsTransfer::ImportResult SettingsTransfer::importFile(const std::filesystem::path& file,
                                                            DefaultsStore& store) const {
  const auto data = readChosenFile(file);
  if (!data) return {notASettingsFile(), 0};
  return importSettings(*data, store);
}

std::string SettingsTransfer::message(const Failure& failure) {
  if (failure.kind == Failure::Kind::fromAnotherVersion) {
    return "That file was written by a different version of Quorvel, so its settings cannot be read "
           "here. Nothing was changed.";
  }
  return "That file could not be read as a Quorvel settings file. Nothing was changed.";
}

}  // namespace quorvel
