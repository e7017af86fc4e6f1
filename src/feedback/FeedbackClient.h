#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "feedback/FeedbackReport.h"

namespace quorvel {

class HttpsPoster;
class PostCancellation;

// Sends a feedback report to the feedback service: one HTTPS POST of the encoded report to
// "https://<host>/v1/feedback". A 2xx answer is success; anything else fails, and nothing is tried
// again (the user presses Send again). Nothing here writes to the log.
//
// Threads: send blocks, so callers run it off the main thread; one client may send from several
// threads at once (it holds no state of its own besides its settings).
class FeedbackClient {
 public:
  enum class Failure {
    tooLarge,      // the document exceeds maximumDocumentSize; nothing was sent
    couldNotSend,  // everything else
  };
  static constexpr size_t maximumDocumentSize = 65536;
  static constexpr std::chrono::milliseconds defaultTimeout{15000};

  // `host` is a host name or address, with a port when needed ("feedback.example.org",
  // "127.0.0.1:8443"); an empty one makes every send fail with couldNotSend.
  FeedbackClient(std::shared_ptr<HttpsPoster> poster, std::string host,
                 std::chrono::milliseconds timeout = defaultTimeout);

  // None when the service accepted the report. A send that `cancel` ends (before it starts or while
  // it waits on the network) returns at once with couldNotSend.
  std::optional<Failure> send(const FeedbackReport& report, const PostCancellation* cancel = nullptr) const;

  // "https://<host>/v1/feedback", or none when `host` cannot form an address.
  static std::optional<std::string> endpoint(std::string_view host);
  // The host this build was given for the feedback service; empty when it was given none.
  static std::string builtInHost();
  // The sentence the feedback form shows for a failure.
  static const char* sentence(Failure failure);

 private:
  std::shared_ptr<HttpsPoster> poster_;
  std::string host_;
  std::chrono::milliseconds timeout_;
};

}  // namespace quorvel
