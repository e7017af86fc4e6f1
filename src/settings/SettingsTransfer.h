#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/DefaultsStore.h"
#include "settings/SettingsSchema.h"

namespace quorvel {

class AppSettings;

// The settings file: every setting of the table of registered defaults in one JSON document, and the
// import of such a document into a store.
//
// The keys written, the keys read and the type each value must have come from the table of defaults,
// never from the file. An import checks the whole file before it writes anything and then writes all
// of its keys as one change; a refused file changes nothing.
class SettingsTransfer {
 public:
  static constexpr int64_t currentSchemaVersion = 1;
  // Larger files are refused before they are read: no settings file comes near this.
  static constexpr size_t maximumFileSize = size_t{1} << 20;
  // Deeper nesting in a file is refused rather than followed.
  static constexpr int maximumNesting = 512;
  // Bytes of a text setting, and members of a shortcut. The lists' bounds are TitlePatterns'. With
  // them every export stays well inside maximumFileSize, so whatever is exported can be read back.
  static constexpr size_t maximumTextLength = 256;
  static constexpr size_t maximumShortcutMembers = 8;

  // One value of the file: Boolean, number, text, list or object. Null is none of them.
  struct JSONValue {
    using Array = std::vector<JSONValue>;
    using Object = std::map<std::string, JSONValue>;
    std::variant<bool, double, std::string, Array, Object> value;

    bool operator==(const JSONValue&) const = default;

    // None for null anywhere inside, or for nesting deeper than maximumNesting.
    static std::optional<JSONValue> fromJson(const nlohmann::json& json, int depth = 0);
    // Whole numbers are written without a fraction.
    nlohmann::json toJson() const;
  };

  // The document.
  struct File {
    int64_t schemaVersion = currentSchemaVersion;
    std::string appVersion;
    std::map<std::string, JSONValue> settings;
  };

  struct Failure {
    enum class Kind { fromAnotherVersion, notASettingsFile };
    Kind kind;
    int64_t schemaVersion = 0;  // the file's version, for fromAnotherVersion
    bool operator==(const Failure&) const = default;
  };

  // A value of the file that did not come in whole, and why.
  struct LeftOut {
    enum class Reason {
      unknownKey,         // no setting has the key
      wrongType,          // the value is not of the setting's type
      tooLarge,           // a text, an entry, a word list or a shortcut past its bounds
      notAColour,         // a colour setting's text that names no colour
      notAChoice,         // an enumerated setting's text that names none of its cases
      controlCharacters,  // an entry or a name holding a control character
      trimmed,            // a list of more applications than it may hold: the first `kept` of `total` came in
    };
    std::string key;
    Reason reason = Reason::wrongType;
    size_t kept = 0;
    size_t total = 0;
    bool operator==(const LeftOut&) const = default;
  };

  struct ImportResult {
    std::optional<Failure> failure;
    int written = 0;     // keys written from the file
    bool saved = true;   // false when the store could not save them yet
    bool waiting = false;  // not saved yet, but waiting for a settings file another program is writing
    // The settings of the table in table order, then the file's unknown keys in key order.
    std::vector<LeftOut> leftOut;
    bool succeeded() const { return !failure; }
  };

  struct ExportResult {
    std::optional<std::string> data;  // the document's bytes
    std::string error;                // why there is no document
    bool succeeded() const { return data.has_value(); }
  };

  // `settings` is over the program's own store: an import into that store also tidies the hidden and
  // pass-through application lists the file brings as the settings window writes them (hidden
  // applications brought in restrict the stored title words too); lists the file does not bring are
  // left as they are.
  explicit SettingsTransfer(AppSettings& settings);

  ExportResult exportSettings(const DefaultsStore& store) const;
  // Writes the document to `file` through a temporary file beside it, so that `file` holds either
  // its old content or the whole new document.
  ExportResult exportToFile(const DefaultsStore& store, const std::filesystem::path& file) const;

  ImportResult importSettings(std::string_view data, DefaultsStore& store) const;
  // Reads a file the user chose: only a regular file of at most maximumFileSize bytes is decoded.
  ImportResult importFile(const std::filesystem::path& file, DefaultsStore& store) const;

  static std::variant<File, Failure> decode(std::string_view data);
  // Whether `value`, already of the entry's type, is one the setting may hold: a text no longer than
  // maximumTextLength (a colour, where the default is one; one of its cases, or an older name of one,
  // where the setting is enumerated), a list or title-word dictionary within TitlePatterns' bounds, a
  // shortcut of at most maximumShortcutMembers members. A value that is not is skipped by the import
  // (a list of too many applications is cut to the first it may hold); the export writes what the
  // program reads in its place.
  static bool admissible(const SettingsSchema::Entry& entry, const nlohmann::json& value);
  // Why `value` is not admissible; none when it is.
  static std::optional<LeftOut::Reason> inadmissibility(const SettingsSchema::Entry& entry,
                                                        const nlohmann::json& value);
  // The sentence shown for a refused file.
  static std::string message(const Failure& failure);

  // For tests: runs after the temporary export file is complete and before it replaces the real
  // one; returning false abandons the export there.
  void setWriteInterruptionForTesting(std::function<bool()> hook);

 private:
  AppSettings& settings_;
  std::function<bool()> interruption_;
};

}  // namespace quorvel
