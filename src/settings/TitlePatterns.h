#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace quorvel {

// The canonical forms of the hidden and pass-through application lists and of the hidden title
// patterns, as the settings store them: trimmed, without empties or repeats, in the user's
// locale's collation without regard to letter case. Plain functions.
class TitlePatterns {
 public:
  using Value = nlohmann::json;
  using Patterns = std::map<std::string, std::vector<std::string>>;

  // `value` as a list of text; none when it is not a list of text only.
  static std::optional<std::vector<std::string>> textList(const Value& value);
  // Trimmed, without empties or repeats (the first stays), in the canonical order.
  static std::vector<std::string> canonicalIdentifiers(const std::vector<std::string>& list);
  // Trimmed and lower-cased, without empties or repeats, in the canonical order.
  static std::vector<std::string> normalizedTitleWords(const std::vector<std::string>& words);
  // The title patterns held in `value` in canonical word form: entries that are no list of text, or
  // whose words are all blank, are dropped.
  static Patterns titlePatternsFrom(const Value& value);
  // The patterns of the applications in `hidden` only, with normalised, non-empty word lists.
  static Patterns restrictedTitlePatterns(const Patterns& patterns, const std::vector<std::string>& hidden);
  static Value titlePatternsValue(const Patterns& patterns);
};

}  // namespace quorvel
