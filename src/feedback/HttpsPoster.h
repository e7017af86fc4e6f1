#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace quorvel {

// The one network operation feedback needs: a single HTTPS POST of a JSON document.
// Implemented over a maintained HTTP client; tests substitute their own.
class HttpsPoster {
 public:
  virtual ~HttpsPoster() = default;

  // POSTs `body` to `url` with "Content-Type: application/json", on a connection of its own that
  // keeps no cookies and no cache, and waits at most `timeout` for the whole exchange. Never retries
  // and never follows a redirect. The response's HTTP status; none on a transport failure (no
  // network, refused, time-out, a certificate that is not trusted). The response body is not read.
  // Blocks the calling thread; safe to call from several threads at once.
  virtual std::optional<int> post(const std::string& url, const std::string& body,
                                  std::chrono::milliseconds timeout) = 0;
};

}  // namespace quorvel
