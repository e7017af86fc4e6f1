#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

// Text operations on UTF-8 strings, as the user's locale and Unicode define them (ICU underneath).
class TextServices {
 public:
  // Lower-cases with the user's current locale (or `locale`, a BCP 47 / ICU locale id).
  static std::string lowercased(std::string_view text);
  static std::string lowercased(std::string_view text, const std::string& locale);
  static std::string uppercased(std::string_view text);
  // Plain string order: code-point order of the strings as given (-1, 0, 1).
  static int plainCompare(std::string_view a, std::string_view b);
  // The localized standard compare (the file manager's order): locale collation, case and accent insensitive
  // at first, numbers compared by value ("File 2" before "File 10"); -1, 0, 1.
  static int localizedStandardCompare(std::string_view a, std::string_view b);
  // Canonical equivalence: equal after Unicode normalization (NFD "e\u0301" equals NFC "\u00e9").
  static bool canonicallyEqual(std::string_view a, std::string_view b);
  static std::string nfc(std::string_view text);
  // True when `text` contains `needle` under canonical equivalence.
  static bool containsCanonically(std::string_view text, std::string_view needle);
  // Number of user-perceived characters (extended grapheme clusters).
  static size_t graphemeCount(std::string_view text);
  // The byte offsets of the boundaries between grapheme clusters, from 0 to text.size() (the empty
  // text has the one boundary 0): cluster k spans [boundaries[k], boundaries[k + 1]).
  static std::vector<size_t> graphemeBoundaries(std::string_view text);
  // The first `count` grapheme clusters of `text`.
  static std::string prefixGraphemes(std::string_view text, size_t count);
  // Removes leading and trailing white space and newlines (Unicode White_Space).
  static std::string trimmed(std::string_view text);
  // The user's locale identifier (from LC_ALL / LC_MESSAGES / LANG, "en_US" when unset or "C").
  static std::string currentLocale();
};

}  // namespace quorvel
