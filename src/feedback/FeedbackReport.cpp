#include "feedback/FeedbackReport.h"

#include <string_view>

namespace quorvel {

namespace {

// White space and line breaks at both ends, as Unicode counts them in the text a form gives.
bool isSpaceAt(std::string_view text, size_t at, size_t& length) {
  const auto c = static_cast<unsigned char>(text[at]);
  if (c == ' ' || (c >= '\t' && c <= '\r')) {
    length = 1;
    return true;
  }
  // U+0085, U+00A0, U+1680, U+2000-U+200A, U+2028, U+2029, U+202F, U+205F, U+3000 in UTF-8.
  auto starts = [&](std::string_view seq) { return text.substr(at, seq.size()) == seq; };
  for (std::string_view seq : {"\xC2\x85", "\xC2\xA0"}) {
    if (starts(seq)) return (length = 2), true;
  }
  for (std::string_view seq : {"\xE1\x9A\x80", "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F",
                               "\xE3\x80\x80"}) {
    if (starts(seq)) return (length = 3), true;
  }
  if (starts("\xE2\x80") && at + 2 < text.size()) {
    const auto last = static_cast<unsigned char>(text[at + 2]);
    if (last >= 0x80 && last <= 0x8A) return (length = 3), true;
  }
  return false;
}

bool isSpaceEndingAt(std::string_view text, size_t end, size_t& length) {
  for (size_t size = 1; size <= 3 && size <= end; ++size) {
    size_t found = 0;
    if (isSpaceAt(text, end - size, found) && found == size) return (length = size), true;
  }
  return false;
}

}  // namespace

std::string trimmedFeedbackText(std::string_view text) {
  size_t begin = 0, end = text.size(), length = 0;
  while (begin < end && isSpaceAt(text, begin, length)) begin += length;
  while (end > begin && isSpaceEndingAt(text.substr(0, end), end, length)) end -= length;
  return std::string(text.substr(begin, end - begin));
}

FeedbackReport FeedbackReport::makeWithout(const std::string& message, const std::string& email) {
  FeedbackReport report;
  report.message = trimmedFeedbackText(message);
  std::string address = trimmedFeedbackText(email);
  if (!address.empty()) report.email = std::move(address);
  report.schemaVersion = 1;
  return report;
}

void FeedbackReport::include(const FeedbackEnvironment& environment) {
  appVersion = environment.appVersion;
  build = environment.build;
  osVersion = environment.osVersion;
  hardwareModel = environment.hardwareModel;
  settings = environment.settings;
}

std::optional<std::string> FeedbackReport::encoded() const {
  // nlohmann's objects keep their keys sorted, at every level.
  nlohmann::json document = nlohmann::json::object();
  document["schemaVersion"] = schemaVersion;
  document["message"] = message;
  if (email) document["email"] = *email;
  if (appVersion) document["appVersion"] = *appVersion;
  if (build) document["build"] = *build;
  if (osVersion) document["osVersion"] = *osVersion;
  if (hardwareModel) document["hardwareModel"] = *hardwareModel;
  if (settings) document["settings"] = *settings;
  try {
    return document.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
  } catch (const nlohmann::json::exception&) {
    return std::nullopt;
  }
}

}  // namespace quorvel
