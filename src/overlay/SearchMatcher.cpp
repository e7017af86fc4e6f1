#include "overlay/SearchMatcher.h"

#include "overlay/SearchCorpus.h"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <utility>

namespace quorvel {

namespace {

constexpr int kWordStartBonus = 16;
constexpr int kMatchScore = 16;
constexpr int kAdjacentScore = 28;
constexpr int kGapCost = 2;
constexpr int64_t kSubsequenceBase = 1'000'000;
constexpr int64_t kContiguousBase = 2'000'000;
constexpr int kAlignmentLimit = 499'999;
constexpr SearchMatcher::Character kFirstClusterId = 0x110000;

bool isLetterOrNumber(UChar32 c) {
  return u_hasBinaryProperty(c, UCHAR_ALPHABETIC) || u_getIntPropertyValue(c, UCHAR_NUMERIC_TYPE) != U_NT_NONE;
}

bool isPlainAscii(std::string_view text) {
  for (unsigned char c : text) {
    // A carriage return before a line feed makes one character of two: leave it to the iterator.
    if (c >= 0x80 || c == '\r') return false;
  }
  return true;
}

bool asciiLetterOrDigit(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

}  // namespace

// The ICU objects one matcher reuses: the character break iterator, the composition and the text
// being read (the iterator refers to it).
struct SearchMatcher::Icu {
  std::unique_ptr<icu::BreakIterator> characters;
  const icu::Normalizer2* nfc = nullptr;
  icu::UnicodeString text;
  icu::UnicodeString composed;

  Icu() {
    UErrorCode status = U_ZERO_ERROR;
    characters.reset(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status)) characters.reset();
    status = U_ZERO_ERROR;
    nfc = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status)) nfc = nullptr;
  }
};

SearchMatcher::SearchMatcher() : icu_(std::make_unique<Icu>()) {}
SearchMatcher::SearchMatcher(SearchMatcher&&) noexcept = default;
SearchMatcher& SearchMatcher::operator=(SearchMatcher&&) noexcept = default;
SearchMatcher::~SearchMatcher() = default;

SearchMatcher SearchMatcher::terms(std::string_view query, const SearchCorpus& corpus) {
  SearchMatcher matcher;
  // Characters of several scalars keep the corpus's ids; the query's others get new ones.
  matcher.clusters_ = corpus.clusters_;
  matcher.splitTerms(query);
  return matcher;
}

SearchMatcher SearchMatcher::terms(std::string_view query) {
  SearchMatcher matcher;
  matcher.splitTerms(query);
  return matcher;
}

void SearchMatcher::splitTerms(std::string_view query) {
  SearchMatcher& matcher = *this;
  matcher.readCharacters(query, true);
  std::vector<Character> term;
  for (Character c : matcher.characters_) {
    if (c == ' ') {
      if (!term.empty()) matcher.terms_.push_back(std::move(term));
      term.clear();
    } else {
      term.push_back(c);
    }
  }
  if (!term.empty()) matcher.terms_.push_back(std::move(term));
}

SearchMatcher::Character SearchMatcher::characterOf(const char16_t* cluster, int32_t length, bool intern) {
  UChar32 first;
  int32_t at = 0;
  U16_NEXT(cluster, at, length, first);
  if (at == length) return static_cast<Character>(first);
  clusterKey_.assign(cluster, static_cast<size_t>(length));
  if (auto found = clusters_.find(clusterKey_); found != clusters_.end()) return found->second;
  if (!intern) return kUnmatched;
  const Character id = kFirstClusterId + static_cast<Character>(clusters_.size());
  clusters_.emplace(clusterKey_, id);
  return id;
}

void SearchMatcher::readCharacters(std::string_view text, bool intern) {
  characters_.clear();
  wordChar_.clear();
  if (isPlainAscii(text)) {
    for (unsigned char c : text) {
      characters_.push_back(c >= 'A' && c <= 'Z' ? static_cast<Character>(c - 'A' + 'a') : c);
      wordChar_.push_back(asciiLetterOrDigit(c) ? 1 : 0);
    }
    return;
  }
  Icu& icu = *icu_;
  icu.text = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
  icu.text.toLower(icu::Locale::getRoot());
  if (icu.nfc) {
    UErrorCode status = U_ZERO_ERROR;
    if (!icu.nfc->isNormalized(icu.text, status) && U_SUCCESS(status)) {
      icu.composed.remove();
      icu.nfc->normalize(icu.text, icu.composed, status);
      if (U_SUCCESS(status)) std::swap(icu.text, icu.composed);
    }
  }
  const char16_t* units = icu.text.getBuffer();
  const int32_t length = icu.text.length();
  auto push = [&](int32_t start, int32_t end) {
    characters_.push_back(characterOf(units + start, end - start, intern));
    wordChar_.push_back(isLetterOrNumber(icu.text.char32At(start)) ? 1 : 0);
  };
  if (!icu.characters) {
    for (int32_t at = 0; at < length;) {
      const int32_t start = at;
      UChar32 c;
      U16_NEXT(units, at, length, c);
      push(start, at);
    }
    return;
  }
  icu.characters->setText(icu.text);
  int32_t start = icu.characters->first();
  for (int32_t end = icu.characters->next(); end != icu::BreakIterator::DONE; end = icu.characters->next()) {
    push(start, std::min(end, length));
    start = end;
  }
}

std::optional<int64_t> SearchMatcher::score(std::string_view haystack) {
  if (terms_.empty()) return 0;
  readCharacters(haystack, false);
  const size_t n = characters_.size();
  if (bonus_.size() < n) bonus_.resize(n);
  bonusRow(wordChar_.data(), n, bonus_.data());
  return score(characters_.data(), wordChar_.data(), bonus_.data(), n);
}

std::optional<int64_t> SearchMatcher::score(const Prepared& haystack) {
  if (terms_.empty()) return 0;
  return score(haystack.characters.data(), haystack.wordChar.data(), haystack.bonus.data(),
               haystack.characters.size());
}

void SearchMatcher::bonusRow(const uint8_t* wordChar, size_t n, int* bonus) {
  if (n == 0) return;
  bonus[0] = kWordStartBonus;
  for (size_t j = 1; j < n; ++j) bonus[j] = wordChar[j - 1] ? 0 : kWordStartBonus;
}

std::optional<int64_t> SearchMatcher::score(const Character* s, const uint8_t* wordChar, const int* bonus, size_t n) {
  if (n == 0) return std::nullopt;
  int64_t total = 0;
  for (const std::vector<Character>& term : terms_) {
    const size_t m = term.size();
    size_t consumed = 0;
    for (size_t j = 0; j < n && consumed < m; ++j) {
      if (s[j] == term[consumed]) ++consumed;
    }
    if (consumed == m) {
      const bool contiguous = std::search(s, s + n, term.begin(), term.end()) != s + n;
      const int alignment = std::clamp(alignmentScore(term, s, bonus, n), -kAlignmentLimit, kAlignmentLimit);
      total += (contiguous ? kContiguousBase : kSubsequenceBase) + alignment;
      continue;
    }
    if (m < 4 || !matchesAsWordWithinOneEdit(term, s, wordChar, n)) return std::nullopt;
  }
  return total;
}

// The best alignment is a dynamic programme over (term character, haystack character) whose rows
// are sparse: only the places where the haystack holds the row's character can end a match. Each
// row therefore keeps its matches alone, in order, and reaches back to the previous row's through
// a running maximum: the best of the previous row up to j - 1 (less the gap cost for every skipped
// character, from the second row on), and the match at j - 1 itself for adjacent characters.
int SearchMatcher::alignmentScore(const std::vector<Character>& term, const Character* s, const int* bonus,
                                  size_t n) {
  const size_t m = term.size();
  if (m == 0 || n == 0) return kNoAlignment;
  std::vector<Match>& previous = previousRow_;
  std::vector<Match>& row = row_;
  previous.clear();
  for (const Character* at = std::find(s, s + n, term[0]); at != s + n; at = std::find(at + 1, s + n, term[0])) {
    const size_t j = static_cast<size_t>(at - s);
    previous.push_back({j, kMatchScore + bonus[j]});
  }
  if (previous.empty()) return kNoAlignment;
  for (size_t i = 1; i < m; ++i) {
    const Character t = term[i];
    const bool gaps = i >= 2;  // the first row's best carries no gap cost
    row.clear();
    size_t k = 0;
    int64_t reach = 0;  // the best of the previous row so far, plus 2 × its place when gaps count
    bool any = false;
    // No match of this row can come before the previous row's first.
    for (const Character* at = std::find(s + previous.front().at + 1, s + n, t); at != s + n;
         at = std::find(at + 1, s + n, t)) {
      const size_t j = static_cast<size_t>(at - s);
      for (; k < previous.size() && previous[k].at <= j - 1; ++k) {
        const int64_t candidate = previous[k].score + (gaps ? kGapCost * static_cast<int64_t>(previous[k].at) : 0);
        reach = any ? std::max(reach, candidate) : candidate;
        any = true;
      }
      if (!any) continue;
      const int64_t best = gaps ? reach - kGapCost * static_cast<int64_t>(j - 1) : reach;
      int64_t value = best + kMatchScore;
      if (previous[k - 1].at == j - 1) value = std::max(value, int64_t{previous[k - 1].score} + kAdjacentScore);
      row.push_back({j, static_cast<int>(value + bonus[j])});
    }
    if (row.empty()) return kNoAlignment;
    std::swap(previous, row);
  }
  int result = previous.front().score;
  for (const Match& match : previous) result = std::max(result, match.score);
  return result;
}

bool SearchMatcher::isWithinOneEdit(const Character* t, size_t m, const Character* w, size_t length) {
  // `longer` with one character removed equals `shorter`.
  auto oneRemoved = [](const Character* shorter, size_t shortLength, const Character* longer) {
    size_t k = 0;
    while (k < shortLength && shorter[k] == longer[k]) ++k;
    return std::equal(shorter + k, shorter + shortLength, longer + k + 1);
  };
  if (length == m + 1) return oneRemoved(t, m, w);
  if (m > 0 && length == m - 1) return oneRemoved(w, length, t);
  if (length != m) return false;
  size_t first = m, differences = 0;
  for (size_t k = 0; k < m; ++k) {
    if (t[k] == w[k]) continue;
    if (++differences > 2) return false;
    if (first == m) first = k;
  }
  if (differences == 1) return true;
  return differences == 2 && first + 1 < m && t[first] == w[first + 1] && t[first + 1] == w[first] &&
         t[first + 1] != w[first + 1];
}

bool SearchMatcher::matchesAsWordWithinOneEdit(const std::vector<Character>& term, const Character* s,
                                               const uint8_t* wordChar, size_t n) {
  size_t j = 0;
  while (j < n) {
    while (j < n && !wordChar[j]) ++j;
    const size_t start = j;
    while (j < n && wordChar[j]) ++j;
    if (j > start && isWithinOneEdit(term.data(), term.size(), s + start, j - start)) return true;
  }
  return false;
}

std::vector<size_t> SearchMatcher::rank(const std::vector<std::string>& haystacks) {
  std::vector<size_t> order;
  order.reserve(haystacks.size());
  if (terms_.empty()) {
    for (size_t p = 0; p < haystacks.size(); ++p) order.push_back(p);
    return order;
  }
  std::vector<std::pair<int64_t, size_t>> kept;
  kept.reserve(haystacks.size());
  for (size_t p = 0; p < haystacks.size(); ++p) {
    if (std::optional<int64_t> s = score(haystacks[p])) kept.emplace_back(*s, p);
  }
  std::stable_sort(kept.begin(), kept.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  for (const auto& entry : kept) order.push_back(entry.second);
  return order;
}

}  // namespace quorvel
