#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quorvel {

class SearchCorpus;

// The fuzzy scorer of the switcher's search. Built once per filter pass from the query, then asked
// for the score of every card's haystack in turn.
//
// Text is compared as user-perceived characters (extended grapheme clusters) after Unicode
// lower-casing (locale independent) and composition (NFC), so characters compare by canonical
// equivalence: "é" typed composed matches "e" + U+0301 in a title, emoji with skin-tone modifiers
// and flags are one character each, and CJK text is matched character by character.
//
// Scores: every term of the query (the query split at the space character) must match, either as a
// subsequence of the haystack (1,000,000, or 2,000,000 when it occurs as a contiguous run, plus an
// alignment score that rewards word starts and adjacent characters, clamped to ±499,999) or, for
// terms of four characters or more, as a word within one edit (a typo, adding 0). No terms: every
// haystack scores 0. A haystack that misses a term has no score.
//
// The matcher reuses its buffers (the haystack's characters, the word-start bonus row and the
// matches of two rows of the alignment) from one haystack to the next, growing them only for a longer
// haystack, so a pass over many cards allocates nearly nothing. Not thread-safe: one pass, one
// thread.
class SearchMatcher {
 public:
  // One character: its code point when it is a single scalar; characters of several scalars that
  // occur in the query get ids above the code-point range; any other such character is kUnmatched.
  using Character = uint32_t;
  static constexpr Character kUnmatched = 0xFFFFFFFFu;
  static constexpr int kNoAlignment = -1'000'000'000;

  // The matcher of `query`: lower-cased, split at " " (other white space is an ordinary
  // character), empty pieces dropped.
  static SearchMatcher terms(std::string_view query);
  // The same, for haystacks prepared by `corpus` (whose characters it shares).
  static SearchMatcher terms(std::string_view query, const SearchCorpus& corpus);

  // A haystack read once: its characters, which of them are letters or digits, and the word-start
  // bonus of each.
  struct Prepared {
    std::vector<Character> characters;
    std::vector<uint8_t> wordChar;
    std::vector<int> bonus;
  };

  SearchMatcher(SearchMatcher&&) noexcept;
  SearchMatcher& operator=(SearchMatcher&&) noexcept;
  ~SearchMatcher();

  const std::vector<std::vector<Character>>& termCharacters() const { return terms_; }
  bool hasTerms() const { return !terms_.empty(); }

  // The score of one haystack, none when it does not match.
  std::optional<int64_t> score(std::string_view haystack);
  // The same for a haystack of the corpus the matcher was made for.
  std::optional<int64_t> score(const Prepared& haystack);

  // Positions of the matching haystacks, best first; equal scores keep their given order. Without
  // terms, every position in order.
  std::vector<size_t> rank(const std::vector<std::string>& haystacks);

  // The best alignment of `term` in `text` with its bonus row (kNoAlignment when none).
  int alignmentScore(const std::vector<Character>& term, const Character* text, const int* bonus, size_t length);
  // Whether `word` is `term` with one character added, removed or changed, or two adjacent ones
  // swapped (an equal word is not).
  static bool isWithinOneEdit(const Character* term, size_t termLength, const Character* word, size_t wordLength);

 private:
  friend class SearchCorpus;
  struct Icu;
  SearchMatcher();
  std::optional<int64_t> score(const Character* s, const uint8_t* wordChar, const int* bonus, size_t n);
  // The word-start bonus row of characters whose letters and digits are marked in `wordChar`.
  static void bonusRow(const uint8_t* wordChar, size_t n, int* bonus);
  void splitTerms(std::string_view query);
  // Reads `text` into characters_ and wordChar_ (lower-cased, composed, one entry per character).
  void readCharacters(std::string_view text, bool intern);
  Character characterOf(const char16_t* cluster, int32_t length, bool intern);
  static bool matchesAsWordWithinOneEdit(const std::vector<Character>& term, const Character* s,
                                         const uint8_t* wordChar, size_t n);

  std::vector<std::vector<Character>> terms_;
  std::unordered_map<std::u16string, Character> clusters_;
  std::vector<Character> characters_;
  std::vector<uint8_t> wordChar_;
  std::vector<int> bonus_;
  // The matches of two rows of the alignment (place in the haystack, best score ending there).
  struct Match {
    size_t at;
    int score;
  };
  std::vector<Match> previousRow_;
  std::vector<Match> row_;
  std::u16string clusterKey_;
  std::unique_ptr<Icu> icu_;
};

}  // namespace quorvel
