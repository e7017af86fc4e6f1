#include "feedback/FeedbackClient.h"

#include "feedback/HttpsPoster.h"

namespace quorvel {

FeedbackClient::FeedbackClient(std::shared_ptr<HttpsPoster> poster, std::string host,
                               std::chrono::milliseconds timeout)
    : poster_(std::move(poster)), host_(std::move(host)), timeout_(timeout) {}

std::optional<std::string> FeedbackClient::endpoint(std::string_view host) {
  if (host.empty()) return std::nullopt;
  // A host name, an IPv4 address or a bracketed IPv6 address, and an optional port: nothing that
  // would carry a path, a query, credentials or a second line into the address.
  for (const char c : host) {
    const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                         c == '-' || c == ':' || c == '[' || c == ']' || c == '_';
    if (!allowed) return std::nullopt;
  }
  if (host.front() == '.' || host.front() == ':' || host.front() == '-') return std::nullopt;
  return "https://" + std::string(host) + "/v1/feedback";
}

std::string FeedbackClient::builtInHost() {
#ifdef QUORVEL_FEEDBACK_HOST
  return QUORVEL_FEEDBACK_HOST;
#else
  return {};
#endif
}

const char* FeedbackClient::sentence(Failure failure) {
  switch (failure) {
    case Failure::tooLarge:
      return "That is more text than we can send in one go. Please shorten it a little and press Send again.";
    case Failure::couldNotSend:
      break;
  }
  return "Could not send right now. Your text is safe here, try again in a moment.";
}

std::optional<FeedbackClient::Failure> FeedbackClient::send(const FeedbackReport& report,
                                                            const PostCancellation* cancel) const {
  const auto url = endpoint(host_);
  if (!url || !poster_) return Failure::couldNotSend;
  const auto document = report.encoded();
  if (!document) return Failure::couldNotSend;
  if (document->size() > maximumDocumentSize) return Failure::tooLarge;
  const auto status = poster_->post(*url, *document, timeout_, cancel);
  if (!status || *status < 200 || *status > 299) return Failure::couldNotSend;
  return std::nullopt;
}

}  // namespace quorvel
