#include "overlay/SearchMatcher.h"

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

SearchMatcher SearchMatcher::terms(std::string_view query) {
  SearchMatcher matcher;
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
  return matcher;
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
  if (n == 0) return std::nullopt;
  if (bonus_.size() < n) bonus_.resize(n);
  bonus_[0] = kWordStartBonus;
  for (size_t j = 1; j < n; ++j) bonus_[j] = wordChar_[j - 1] ? 0 : kWordStartBonus;

  const Character* s = characters_.data();
  int64_t total = 0;
  for (const std::vector<Character>& term : terms_) {
    const size_t m = term.size();
    size_t consumed = 0;
    for (size_t j = 0; j < n && consumed < m; ++j) {
      if (s[j] == term[consumed]) ++consumed;
    }
    if (consumed == m) {
      const bool contiguous = std::search(s, s + n, term.begin(), term.end()) != s + n;
      const int alignment = std::clamp(alignmentScore(term, s, bonus_.data(), n), -kAlignmentLimit, kAlignmentLimit);
      total += (contiguous ? kContiguousBase : kSubsequenceBase) + alignment;
      continue;
    }
    if (m < 4 || !matchesAsWordWithinOneEdit(term)) return std::nullopt;
  }
  return total;
}

int SearchMatcher::alignmentScore(const std::vector<Character>& term, const Character* s, const int* bonus,
                                  size_t n) {
  const size_t m = term.size();
  if (m == 0 || n == 0) return kNoAlignment;
  if (table_.size() < 4 * n) table_.resize(4 * n, 0);
  int* matchedPrev = table_.data();
  int* bestPrev = matchedPrev + n;
  int* matched = bestPrev + n;
  int* best = matched + n;
  constexpr int NEG = kNoAlignment;

  for (size_t j = 0; j < n; ++j) {
    matchedPrev[j] = s[j] == term[0] ? kMatchScore + bonus[j] : NEG;
    bestPrev[j] = j == 0 ? matchedPrev[0] : std::max(matchedPrev[j], bestPrev[j - 1]);
  }
  for (size_t i = 1; i < m; ++i) {
    const Character t = term[i];
    matched[0] = NEG;
    best[0] = NEG;
    for (size_t j = 1; j < n; ++j) {
      int value = NEG;
      if (s[j] == t) {
        if (bestPrev[j - 1] != NEG) value = bestPrev[j - 1] + kMatchScore + bonus[j];
        if (matchedPrev[j - 1] != NEG) value = std::max(value, matchedPrev[j - 1] + kAdjacentScore + bonus[j]);
      }
      matched[j] = value;
      best[j] = std::max(value, best[j - 1] == NEG ? NEG : best[j - 1] - kGapCost);
    }
    std::swap(matchedPrev, matched);
    std::swap(bestPrev, best);
  }
  return *std::max_element(matchedPrev, matchedPrev + n);
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

bool SearchMatcher::matchesAsWordWithinOneEdit(const std::vector<Character>& term) const {
  const size_t n = characters_.size();
  size_t j = 0;
  while (j < n) {
    while (j < n && !wordChar_[j]) ++j;
    const size_t start = j;
    while (j < n && wordChar_[j]) ++j;
    if (j > start && isWithinOneEdit(term.data(), term.size(), characters_.data() + start, j - start)) return true;
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
