#pragma once

#include <atomic>
#include <chrono>
#include <optional>
#include <string>

namespace quorvel {

// Ends a POST in flight, from any thread, at once: the poster watches `fd()` while it waits on the
// network and gives up as soon as it becomes readable. One cancellation serves one send; once
// cancelled it stays so, and a send that has not started yet never starts.
class PostCancellation {
 public:
  PostCancellation();
  ~PostCancellation();
  PostCancellation(const PostCancellation&) = delete;
  PostCancellation& operator=(const PostCancellation&) = delete;

  void cancel();
  bool cancelled() const { return cancelled_.load(); }
  // Readable once cancelled; -1 when no descriptor could be made (then only `cancelled()` tells).
  int fd() const { return fd_; }

 private:
  std::atomic<bool> cancelled_{false};
  int fd_ = -1;
};

// The one network operation feedback needs: a single HTTPS POST of a JSON document.
// Implemented over a maintained HTTP client; tests substitute their own.
class HttpsPoster {
 public:
  virtual ~HttpsPoster() = default;

  // POSTs `body` to `url` with "Content-Type: application/json", on a connection of its own that
  // keeps no cookies and no cache, and waits at most `timeout` for the whole exchange. Never retries
  // and never follows a redirect. The response's HTTP status, decided on the status line: the
  // response's body is never read, and the connection is dropped as soon as the status is known.
  // None on a transport failure (no network, refused, time-out, a certificate that is not trusted,
  // a head that never ends) and when `cancel` was cancelled before an answer came.
  // Blocks the calling thread; safe to call from several threads at once.
  virtual std::optional<int> post(const std::string& url, const std::string& body,
                                  std::chrono::milliseconds timeout, const PostCancellation* cancel = nullptr) = 0;
};

}  // namespace quorvel
