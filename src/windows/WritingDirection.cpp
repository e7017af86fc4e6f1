#include "windows/WritingDirection.h"

#include <cstdlib>
#include <string_view>

#include <unicode/locid.h>

#include "base/TextServices.h"

namespace quorvel {

namespace {

// "ar_EG.UTF-8@euro" → "ar_EG"; "C" and "POSIX" name no language.
std::string languageOfLocale(std::string_view locale) {
  const size_t cut = locale.find_first_of(".@");
  if (cut != std::string_view::npos) locale = locale.substr(0, cut);
  if (locale == "C" || locale == "POSIX") return {};
  return std::string(locale);
}

}  // namespace

bool WritingDirection::isRightToLeft(const std::vector<std::string>& preferredLanguages) {
  if (preferredLanguages.empty()) return false;
  const std::string& first = preferredLanguages.front();
  UErrorCode status = U_ZERO_ERROR;
  icu::Locale locale = icu::Locale::forLanguageTag(first, status);
  if (U_FAILURE(status) || locale.isBogus() || std::string_view(locale.getLanguage()).empty()) {
    locale = icu::Locale(first.c_str());
  }
  return !locale.isBogus() && locale.isRightToLeft();
}

std::vector<std::string> WritingDirection::preferredLanguages() {
  std::vector<std::string> languages;
  if (const char* list = std::getenv("LANGUAGE")) {
    std::string_view rest(list);
    while (!rest.empty()) {
      const size_t colon = rest.find(':');
      const std::string language = languageOfLocale(rest.substr(0, colon));
      if (!language.empty()) languages.push_back(language);
      if (colon == std::string_view::npos) break;
      rest.remove_prefix(colon + 1);
    }
  }
  const std::string locale = languageOfLocale(TextServices::currentLocale());
  if (!locale.empty()) languages.push_back(locale);
  return languages;
}

bool WritingDirection::userLanguageIsRightToLeft() {
  static const bool value = isRightToLeft(preferredLanguages());
  return value;
}

}  // namespace quorvel
