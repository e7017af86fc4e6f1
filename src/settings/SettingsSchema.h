#pragma once

#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace quorvel {

// The one table of the settings: every registered key with the type of its value, its default,
// and for enumerated settings the raw values of every case. The registered defaults (and the house
// look laid over them), the reset, the export and its import checks, and the settings window's
// choices are read from it. Plain functions; each builds the table afresh.
class SettingsSchema {
 public:
  using Value = nlohmann::json;

  // The type a key's value has; the export and import check values against it.
  enum class ValueType {
    boolean,
    number,
    text,
    textList,
    integerDictionary,   // a shortcut: text to integer
    wordListDictionary,  // the hidden title patterns: text to list of text
  };
  struct Entry {
    std::string key;
    ValueType type;
    Value value;
    std::span<const std::string_view> cases = {};  // an enumerated setting's raw values, in case order
    // For an enumerated setting: the index in `cases` of the case that stored text naming no case
    // (or no text at all) reads as. It is not always the default: a key whose default is "hide" may
    // still read unknown text as "show".
    size_t unknownCase = 0;
  };

  // The base table: 74 keys in table order, then one "cardSpacing" key per arrangement.
  static std::vector<Entry> entries();
  // The house look laid over the base table: 20 keys.
  static std::map<std::string, Value> houseLook();
  // Each entry of `look` replaces the base value of its key when the base holds the key with a value
  // of exactly the same JSON type; any other entry is skipped.
  static std::vector<Entry> laidOver(std::vector<Entry> base, const std::map<std::string, Value>& look);
  // The effective table (base with the house look laid over it), in table order.
  static std::vector<Entry> effective();
  // The effective table as key to value, as it is registered with the store.
  static std::map<std::string, Value> defaults();
  // One key's entry of the effective table, or none for a key outside it.
  static std::optional<Entry> find(std::string_view key);
  // The raw value an enumerated key reads as when `stored` names none of its cases (or is absent):
  // the case `unknownCase` picks. Empty for a key that is not enumerated. Answered from a table built
  // once, so the readers can ask on every read.
  static std::string_view unknownCaseValue(std::string_view key);
  // The raw value of the case `text` names for the enumerated `key`: one of its cases' own raw
  // values, or an older name the reader still understands ("classicRing" for "switcherStyle" names
  // "flatRing"). None for text that names no case, and for a key that is not enumerated.
  static std::optional<std::string_view> caseNamed(std::string_view key, std::string_view text);
  // The raw value an enumerated key reads as: the case `stored` names (caseNamed), else
  // unknownCaseValue(key). Empty for a key that is not enumerated.
  static std::string_view tolerantValue(std::string_view key, const std::optional<std::string>& stored);
};

}  // namespace quorvel
