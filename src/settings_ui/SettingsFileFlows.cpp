#include "settings_ui/SettingsFileFlows.h"

#include <string_view>
#include <vector>

#include "settings/SettingsSchema.h"
#include "settings/SettingsTransfer.h"
#include "settings_ui/SettingNames.h"

namespace quorvel {

namespace {

using LeftOut = SettingsTransfer::LeftOut;
// Left-out values named one by one; the rest are counted.
constexpr size_t kNamedLeftOut = 5;
// Bytes of a key the file names, as the message quotes it.
constexpr size_t kQuotedKeyLength = 40;

// A key as the file has it, quoted: cut short (at a character's start) and without control characters.
std::string quotedKey(std::string_view key) {
  size_t length = key.size();
  if (length > kQuotedKeyLength) {
    length = kQuotedKeyLength;
    while (length > 0 && (static_cast<unsigned char>(key[length]) & 0xc0) == 0x80) --length;
  }
  std::string text;
  for (const char c : key.substr(0, length)) {
    const auto byte = static_cast<unsigned char>(c);
    text += byte < 0x20 || byte == 0x7f ? '?' : c;
  }
  if (length < key.size()) text += "\u2026";
  return "\u201c" + text + "\u201d";
}

// A setting by the words the settings window gives it; a key that is no setting as the file has it.
std::string settingName(const std::string& key) {
  if (std::optional<std::string> words = SettingNames::inSentence(key)) return *words;
  return quotedKey(key);
}

std::string wrongTypeText(const std::string& key) {
  using ValueType = SettingsSchema::ValueType;
  const std::optional<SettingsSchema::Entry> entry = SettingsSchema::find(key);
  switch (entry ? entry->type : ValueType::text) {
    case ValueType::boolean:
      return "its value is not true or false";
    case ValueType::number:
      return "its value is not a number";
    case ValueType::text:
      return "its value is not text";
    case ValueType::textList:
      return "its value is not a list of apps";
    case ValueType::integerDictionary:
      return "its value is not a shortcut";
    case ValueType::wordListDictionary:
      return "its value is not title words by app";
  }
  return "its value is of the wrong kind";
}

std::string why(const LeftOut& item) {
  switch (item.reason) {
    case LeftOut::Reason::unknownKey:
      return "no such setting in this version";
    case LeftOut::Reason::wrongType:
      return wrongTypeText(item.key);
    case LeftOut::Reason::tooLarge:
      return "its value is too large";
    case LeftOut::Reason::notAColour:
      return "its value is not a color";
    case LeftOut::Reason::notAChoice:
      return "not one of its choices";
    case LeftOut::Reason::controlCharacters:
      return "its value holds control characters";
    case LeftOut::Reason::trimmed:
      return "trimmed to " + std::to_string(item.kept) + " of its " + std::to_string(item.total) + " apps";
  }
  return "it could not be read";
}

// " Left out: a (why), b (why) and 3 more.", or nothing when nothing was.
std::string leftOutSentence(const std::vector<LeftOut>& leftOut) {
  if (leftOut.empty()) return {};
  std::vector<std::string> parts;
  for (size_t i = 0; i < leftOut.size() && i < kNamedLeftOut; ++i) {
    parts.push_back(settingName(leftOut[i].key) + " (" + why(leftOut[i]) + ")");
  }
  if (leftOut.size() > kNamedLeftOut) parts.push_back(std::to_string(leftOut.size() - kNamedLeftOut) + " more");
  std::string sentence = " Left out: ";
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) sentence += i + 1 == parts.size() ? " and " : ", ";
    sentence += parts[i];
  }
  return sentence + ".";
}

}  // namespace

std::optional<TransferReport> SettingsFileFlows::exportSettings() {
  if (!dialogs_.chooseExportFile) return std::nullopt;
  const std::optional<std::filesystem::path> file = dialogs_.chooseExportFile();
  if (!file || file->empty()) return std::nullopt;
  SettingsTransfer transfer(settings_);
  if (interruption_) transfer.setWriteInterruptionForTesting(interruption_);
  if (transfer.exportToFile(settings_.store(), *file).succeeded()) return std::nullopt;
  return TransferReport{"Could not save your settings",
                        "The file could not be written there. Try somewhere you own, like your home folder or "
                        "your Documents folder."};
}

std::optional<TransferReport> SettingsFileFlows::importSettings() {
  if (!dialogs_.chooseImportFile) return std::nullopt;
  const std::optional<std::filesystem::path> file = dialogs_.chooseImportFile();
  if (!file || file->empty()) return std::nullopt;
  SettingsTransfer transfer(settings_);
  const SettingsTransfer::ImportResult result = transfer.importFile(*file, settings_.store());
  if (result.failure) return TransferReport{"Could not read that file", SettingsTransfer::message(*result.failure)};
  const std::string leftOut = leftOutSentence(result.leftOut);
  if (result.written == 0) {
    return TransferReport{"Nothing brought in", result.leftOut.empty()
                                                    ? "That file holds no settings. Nothing was changed."
                                                    : "No setting came in from that file. Nothing was changed." + leftOut};
  }
  const std::string count = result.written == 1 ? "1 setting came in" : std::to_string(result.written) + " settings came in";
  if (result.waiting) {
    return TransferReport{"Settings not saved yet", count + " from that file. Another program is writing Quorvel's "
                                                            "settings file, so they are saved as soon as it has "
                                                            "finished." + leftOut};
  }
  if (!result.saved) {
    return TransferReport{"Settings not saved", count + " from that file, but they could not be saved to disk, so they "
                                                        "last only until Quorvel quits." + leftOut};
  }
  return TransferReport{"Settings brought in",
                        count + " from that file. Everything the file did not mention was left as it was." + leftOut};
}

bool SettingsFileFlows::restoreDefaults() {
  if (!dialogs_.confirmRestore || !dialogs_.confirmRestore()) return false;
  settings_.resetAll();
  return true;
}

}  // namespace quorvel
