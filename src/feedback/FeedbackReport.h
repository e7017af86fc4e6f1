#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "feedback/FeedbackEnvironment.h"

namespace quorvel {

// One feedback report as the feedback service receives it: the user's message, an optional reply
// address and, when the user leaves system info on, the facts of a FeedbackEnvironment. Encoded
// only, never read back.
//
// The JSON keys are the field names, sorted at every level, in one compact UTF-8 line; an absent
// field is left out (never null), and the five system fields are all present or all absent. The
// receiving service reads these keys as they stand.
// `text` without the white space and line breaks at its ends (Unicode's, in UTF-8).
std::string trimmedFeedbackText(std::string_view text);

struct FeedbackReport {
  int64_t schemaVersion = 1;
  std::string message;
  std::optional<std::string> email;
  std::optional<std::string> appVersion;
  std::optional<std::string> build;
  std::optional<std::string> osVersion;
  std::optional<std::string> hardwareModel;
  std::optional<std::map<std::string, std::string>> settings;

  // The message and address trimmed of white space and line breaks at both ends (inner text as
  // typed); an empty address is left out. With `includeSystemInfo` the environment is gathered now
  // through `environment`; without it, it is not gathered at all. The message is not checked for
  // emptiness: the form offers no Send while it is empty.
  template <typename GatherEnvironment>
  static FeedbackReport make(const std::string& message, const std::string& email, bool includeSystemInfo,
                             GatherEnvironment&& environment) {
    FeedbackReport report = makeWithout(message, email);
    if (includeSystemInfo) report.include(environment());
    return report;
  }
  static FeedbackReport makeWithout(const std::string& message, const std::string& email);
  void include(const FeedbackEnvironment& environment);

  // The document's bytes; none when it cannot be encoded (text that is not UTF-8).
  std::optional<std::string> encoded() const;
};

}  // namespace quorvel
