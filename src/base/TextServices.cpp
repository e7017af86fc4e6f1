#include "base/TextServices.h"

#include <unicode/brkiter.h>
#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>

namespace quorvel {

namespace {

icu::UnicodeString toUnicode(std::string_view text) {
  return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

std::string toUtf8(const icu::UnicodeString& text) {
  std::string out;
  text.toUTF8String(out);
  return out;
}

// Accepts both ICU ids ("tr_TR") and BCP 47 tags ("tr-TR").
icu::Locale makeLocale(const std::string& id) {
  if (id.find('-') != std::string::npos && id.find('_') == std::string::npos) {
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale locale = icu::Locale::forLanguageTag(id, status);
    if (U_SUCCESS(status) && !locale.isBogus()) return locale;
  }
  icu::Locale locale(id.c_str());
  return locale.isBogus() ? icu::Locale::getRoot() : locale;
}

const icu::Normalizer2* normalizer(bool composed) {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* n = composed ? icu::Normalizer2::getNFCInstance(status)
                                       : icu::Normalizer2::getNFDInstance(status);
  return U_SUCCESS(status) ? n : nullptr;
}

icu::UnicodeString normalized(std::string_view text, bool composed) {
  icu::UnicodeString source = toUnicode(text);
  const icu::Normalizer2* n = normalizer(composed);
  if (!n) return source;
  UErrorCode status = U_ZERO_ERROR;
  icu::UnicodeString result = n->normalize(source, status);
  return U_SUCCESS(status) ? result : source;
}

int sign(int v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

// The two collators of one locale: base letters only (case and accents ignored), then every
// difference. Both order digit runs by their numeric value. Collators are kept per thread.
struct CollatorPair {
  std::unique_ptr<icu::Collator> primary;
  std::unique_ptr<icu::Collator> tertiary;
};

std::unique_ptr<icu::Collator> makeCollator(const icu::Locale& locale, UColAttributeValue strength) {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(locale, status));
  if (U_FAILURE(status) || !collator) {
    status = U_ZERO_ERROR;
    collator.reset(icu::Collator::createInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status)) return nullptr;
  }
  status = U_ZERO_ERROR;
  collator->setAttribute(UCOL_NUMERIC_COLLATION, UCOL_ON, status);
  collator->setAttribute(UCOL_NORMALIZATION_MODE, UCOL_ON, status);
  collator->setAttribute(UCOL_STRENGTH, strength, status);
  return collator;
}

const CollatorPair& collatorsFor(const std::string& localeId) {
  thread_local std::map<std::string, CollatorPair> cache;
  auto it = cache.find(localeId);
  if (it == cache.end()) {
    icu::Locale locale = makeLocale(localeId);
    CollatorPair pair{makeCollator(locale, UCOL_PRIMARY), makeCollator(locale, UCOL_TERTIARY)};
    it = cache.emplace(localeId, std::move(pair)).first;
  }
  return it->second;
}

int collate(const icu::Collator* collator, std::string_view a, std::string_view b) {
  if (!collator) return 0;
  UErrorCode status = U_ZERO_ERROR;
  UCollationResult r = collator->compareUTF8(icu::StringPiece(a.data(), static_cast<int32_t>(a.size())),
                                             icu::StringPiece(b.data(), static_cast<int32_t>(b.size())), status);
  if (U_FAILURE(status)) return 0;
  return r == UCOL_LESS ? -1 : (r == UCOL_GREATER ? 1 : 0);
}

// A character break iterator over UTF-8 text, its boundaries in byte offsets.
class Graphemes {
 public:
  explicit Graphemes(std::string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    text_ = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
    if (U_FAILURE(status)) {
      text_ = nullptr;
      return;
    }
    thread_local std::unique_ptr<icu::BreakIterator> prototype = [] {
      UErrorCode s = U_ZERO_ERROR;
      std::unique_ptr<icu::BreakIterator> it(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), s));
      return U_SUCCESS(s) ? std::move(it) : nullptr;
    }();
    if (!prototype) return;
    iterator_.reset(prototype->clone());
    iterator_->setText(text_, status);
    if (U_FAILURE(status)) iterator_.reset();
  }
  ~Graphemes() {
    iterator_.reset();
    if (text_) utext_close(text_);
  }
  Graphemes(const Graphemes&) = delete;
  Graphemes& operator=(const Graphemes&) = delete;

  bool valid() const { return iterator_ != nullptr; }
  // The byte offset after the next cluster, or -1 at the end.
  int32_t next() { return iterator_->next(); }

 private:
  UText* text_ = nullptr;
  std::unique_ptr<icu::BreakIterator> iterator_;
};

bool isWhiteSpace(UChar32 c) { return c >= 0 && u_hasBinaryProperty(c, UCHAR_WHITE_SPACE); }

}  // namespace

std::string TextServices::lowercased(std::string_view text) { return lowercased(text, currentLocale()); }

std::string TextServices::lowercased(std::string_view text, const std::string& locale) {
  icu::UnicodeString s = toUnicode(text);
  s.toLower(makeLocale(locale));
  return toUtf8(s);
}

std::string TextServices::uppercased(std::string_view text) {
  icu::UnicodeString s = toUnicode(text);
  s.toUpper(makeLocale(currentLocale()));
  return toUtf8(s);
}

int TextServices::plainCompare(std::string_view a, std::string_view b) {
  // Byte order of UTF-8 is code-point order (char_traits compares bytes as unsigned).
  return sign(a.compare(b));
}

int TextServices::localizedStandardCompare(std::string_view a, std::string_view b) {
  const CollatorPair& collators = collatorsFor(currentLocale());
  if (int r = collate(collators.primary.get(), a, b)) return r;
  if (int r = collate(collators.tertiary.get(), a, b)) return r;
  // Still equal to the collator: order by code points of the composed forms, so that the order is
  // total and only canonically equal strings compare equal.
  if (a == b) return 0;
  return plainCompare(nfc(a), nfc(b));
}

bool TextServices::canonicallyEqual(std::string_view a, std::string_view b) {
  if (a == b) return true;
  return normalized(a, true) == normalized(b, true);
}

std::string TextServices::nfc(std::string_view text) { return toUtf8(normalized(text, true)); }

bool TextServices::containsCanonically(std::string_view text, std::string_view needle) {
  if (needle.empty()) return true;
  // Compare decomposed forms; a match must not end inside a character (a following combining mark
  // belongs to the last matched letter: "cafe" is not in "café").
  icu::UnicodeString haystack = normalized(text, false);
  icu::UnicodeString pattern = normalized(needle, false);
  int32_t from = 0;
  while (from <= haystack.length() - pattern.length()) {
    int32_t at = haystack.indexOf(pattern, from);
    if (at < 0) return false;
    int32_t end = at + pattern.length();
    if (end >= haystack.length() || u_getCombiningClass(haystack.char32At(end)) == 0) return true;
    from = at + 1;
  }
  return false;
}

size_t TextServices::graphemeCount(std::string_view text) {
  if (text.empty()) return 0;
  Graphemes graphemes(text);
  if (!graphemes.valid()) return toUnicode(text).countChar32();
  size_t count = 0;
  while (graphemes.next() != icu::BreakIterator::DONE) ++count;
  return count;
}

std::vector<size_t> TextServices::graphemeBoundaries(std::string_view text) {
  std::vector<size_t> boundaries{0};
  if (text.empty()) return boundaries;
  Graphemes graphemes(text);
  if (!graphemes.valid()) {
    // Without a break iterator every code point stands alone.
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const int32_t length = static_cast<int32_t>(text.size());
    int32_t at = 0;
    while (at < length) {
      UChar32 c;
      U8_NEXT(bytes, at, length, c);
      boundaries.push_back(static_cast<size_t>(at));
    }
    return boundaries;
  }
  for (int32_t b = graphemes.next(); b != icu::BreakIterator::DONE; b = graphemes.next()) {
    boundaries.push_back(std::min(static_cast<size_t>(b), text.size()));
  }
  if (boundaries.back() != text.size()) boundaries.push_back(text.size());
  return boundaries;
}

std::string TextServices::prefixGraphemes(std::string_view text, size_t count) {
  if (count == 0 || text.empty()) return {};
  Graphemes graphemes(text);
  if (!graphemes.valid()) return std::string(text);
  size_t end = 0;
  for (size_t i = 0; i < count; ++i) {
    int32_t boundary = graphemes.next();
    if (boundary == icu::BreakIterator::DONE) return std::string(text);
    end = static_cast<size_t>(boundary);
  }
  return std::string(text.substr(0, std::min(end, text.size())));
}

std::string TextServices::trimmed(std::string_view text) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const int32_t length = static_cast<int32_t>(text.size());
  int32_t start = 0;
  while (start < length) {
    int32_t next = start;
    UChar32 c;
    U8_NEXT(bytes, next, length, c);
    if (!isWhiteSpace(c)) break;
    start = next;
  }
  int32_t end = length;
  while (end > start) {
    int32_t previous = end;
    UChar32 c;
    U8_PREV(bytes, start, previous, c);
    if (!isWhiteSpace(c)) break;
    end = previous;
  }
  return std::string(text.substr(static_cast<size_t>(start), static_cast<size_t>(end - start)));
}

std::string TextServices::currentLocale() {
  const char* value = nullptr;
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* v = std::getenv(name);
    if (v && *v) {
      value = v;
      break;
    }
  }
  if (!value) return "en_US";
  std::string id(value);
  // "de_DE.UTF-8@euro" -> "de_DE"
  if (size_t cut = id.find_first_of(".@"); cut != std::string::npos) id.resize(cut);
  if (id.empty() || id == "C" || id == "POSIX") return "en_US";
  return id;
}

}  // namespace quorvel
