#pragma once

#include <string>
#include <vector>

namespace quorvel {

// Whether the user's interface language is written right to left (the tab geometry mirrors the
// site-icon position for it).
class WritingDirection {
 public:
  // True when the first language of the list (BCP 47 tags or locale ids) is written right to
  // left; false for an empty list.
  static bool isRightToLeft(const std::vector<std::string>& preferredLanguages);
  // The user's preferred languages: the LANGUAGE list, then the locale of the environment.
  static std::vector<std::string> preferredLanguages();
  // isRightToLeft(preferredLanguages()), decided once per process.
  static bool userLanguageIsRightToLeft();
};

}  // namespace quorvel
