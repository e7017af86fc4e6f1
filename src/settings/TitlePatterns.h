#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace quorvel {

// The canonical forms of the hidden and pass-through application lists and of the hidden title
// patterns, as the settings store them: trimmed, without empties or repeats, in the user's
// locale's collation without regard to letter case, and within bounds that keep the settings file
// and its export small enough to be read back (an entry too long or holding a control character is
// dropped, and so is every entry after the last a list may have). Plain functions.
class TitlePatterns {
 public:
  using Value = nlohmann::json;
  using Patterns = std::map<std::string, std::vector<std::string>>;

  // Applications in one list (and applications with title words).
  static constexpr size_t maximumEntries = 200;
  // Bytes of one application identifier.
  static constexpr size_t maximumEntryLength = 255;
  // Title words of one application, and bytes of one word.
  static constexpr size_t maximumWords = 16;
  static constexpr size_t maximumWordLength = 64;

  // Whether `text` may be an entry of at most `maximumLength` bytes: no control characters.
  static bool admissible(std::string_view text, size_t maximumLength);

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
