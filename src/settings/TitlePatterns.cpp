#include "settings/TitlePatterns.h"

#include <unicode/coll.h>
#include <unicode/locid.h>

#include <algorithm>
#include <memory>
#include <string_view>
#include <unordered_set>

#include "base/TextServices.h"

namespace quorvel {

namespace {

// The canonical order of the application lists: the user's locale's collation without regard to
// letter case. Accents still count, and digits compare one by one ("app10" before "app9"), so
// entries that differ only in letter case compare equal. Returns -1, 0 or 1.
int caseInsensitiveCompare(std::string_view a, std::string_view b) {
  thread_local std::string collatorLocale;
  thread_local std::unique_ptr<icu::Collator> collator;
  const std::string locale = TextServices::currentLocale();
  if (!collator || locale != collatorLocale) {
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale chosen(locale.c_str());
    collator.reset(icu::Collator::createInstance(chosen.isBogus() ? icu::Locale::getRoot() : chosen, status));
    if (U_FAILURE(status)) collator.reset();
    if (collator) {
      collator->setAttribute(UCOL_STRENGTH, UCOL_SECONDARY, status);
      collator->setAttribute(UCOL_NORMALIZATION_MODE, UCOL_ON, status);
    }
    collatorLocale = locale;
  }
  if (!collator) {
    const std::string lowerA = TextServices::lowercased(a, "en");
    const std::string lowerB = TextServices::lowercased(b, "en");
    return TextServices::plainCompare(lowerA, lowerB);
  }
  UErrorCode status = U_ZERO_ERROR;
  const UCollationResult result =
      collator->compareUTF8(icu::StringPiece(a.data(), static_cast<int32_t>(a.size())),
                            icu::StringPiece(b.data(), static_cast<int32_t>(b.size())), status);
  if (U_FAILURE(status)) return 0;
  return result == UCOL_LESS ? -1 : (result == UCOL_GREATER ? 1 : 0);
}

// Drops empty and inadmissible entries and repeats (the first stays), keeps the first
// `maximumCount` of the rest, and sorts them in the canonical order (equal entries keeping their
// order). The work stays bounded however long the list.
std::vector<std::string> canonicalized(std::vector<std::string> list, size_t maximumLength, size_t maximumCount) {
  std::vector<std::string> kept;
  kept.reserve(std::min(list.size(), maximumCount));
  std::unordered_set<std::string> seen;
  for (auto& item : list) {
    if (kept.size() == maximumCount) break;
    if (item.empty() || !TitlePatterns::admissible(item, maximumLength)) continue;
    if (!seen.insert(item).second) continue;
    kept.push_back(std::move(item));
  }
  std::stable_sort(kept.begin(), kept.end(), [](const std::string& a, const std::string& b) {
    return caseInsensitiveCompare(a, b) < 0;
  });
  return kept;
}

std::string lowercasedWord(std::string_view word) {
  // Locale-independent lower-casing: a word list must not depend on the user's language.
  return TextServices::lowercased(word, "en");
}

}  // namespace

bool TitlePatterns::admissible(std::string_view text, size_t maximumLength) {
  if (text.size() > maximumLength) return false;
  return std::none_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7f;
  });
}

std::optional<std::vector<std::string>> TitlePatterns::textList(const Value& value) {
  if (!value.is_array() || !std::all_of(value.begin(), value.end(), [](const Value& v) { return v.is_string(); }))
    return std::nullopt;
  std::vector<std::string> list;
  list.reserve(value.size());
  for (const auto& element : value) list.push_back(element.get<std::string>());
  return list;
}

std::vector<std::string> TitlePatterns::canonicalIdentifiers(const std::vector<std::string>& list) {
  std::vector<std::string> trimmed;
  trimmed.reserve(list.size());
  for (const auto& id : list) trimmed.push_back(TextServices::trimmed(id));
  return canonicalized(std::move(trimmed), maximumEntryLength, maximumEntries);
}

std::vector<std::string> TitlePatterns::normalizedTitleWords(const std::vector<std::string>& words) {
  std::vector<std::string> lowered;
  lowered.reserve(words.size());
  for (const auto& word : words) lowered.push_back(lowercasedWord(TextServices::trimmed(word)));
  return canonicalized(std::move(lowered), maximumWordLength, maximumWords);
}

std::map<std::string, std::vector<std::string>> TitlePatterns::titlePatternsFrom(const Value& value) {
  std::map<std::string, std::vector<std::string>> patterns;
  if (!value.is_object()) return patterns;
  for (const auto& [id, words] : value.items()) {
    if (patterns.size() == maximumEntries) break;
    if (!admissible(id, maximumEntryLength)) continue;
    const auto list = textList(words);
    if (!list) continue;
    auto normalized = normalizedTitleWords(*list);
    if (!normalized.empty()) patterns.emplace(id, std::move(normalized));
  }
  return patterns;
}

std::map<std::string, std::vector<std::string>> TitlePatterns::restrictedTitlePatterns(
    const std::map<std::string, std::vector<std::string>>& patterns,
    const std::vector<std::string>& hidden) {
  std::map<std::string, std::vector<std::string>> kept;
  for (const auto& [id, words] : patterns) {
    if (std::find(hidden.begin(), hidden.end(), id) == hidden.end()) continue;
    auto normalized = normalizedTitleWords(words);
    if (!normalized.empty()) kept.emplace(id, std::move(normalized));
  }
  return kept;
}

TitlePatterns::Value TitlePatterns::titlePatternsValue(const std::map<std::string, std::vector<std::string>>& patterns) {
  Value value = Value::object();
  for (const auto& [id, words] : patterns) value[id] = words;
  return value;
}

}  // namespace quorvel
