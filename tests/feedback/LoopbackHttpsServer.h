#pragma once

#include <atomic>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// An HTTPS server on 127.0.0.1 for the feedback tests, over OpenSSL: a key and a self-signed
// certificate for 127.0.0.1 made when it starts (written to a temporary CA file that only the
// test's client trusts). It answers every request with one status, or, when silent, reads the
// request and never answers. It records each request it received in full.
class LoopbackHttpsServer {
 public:
  struct Request {
    std::string head;  // request line and headers
    std::string body;
  };
  // What follows the status line.
  enum class Reply {
    small,          // a two-byte body, then the connection closes
    announcedHuge,  // "Content-Length: 10737418240", then body bytes until the client hangs up
    endlessChunks,  // a chunked body that never ends
    endlessHead,    // header lines that never end
  };

  // `status` 0 makes the server silent.
  explicit LoopbackHttpsServer(int status, Reply reply = Reply::small);
  ~LoopbackHttpsServer();

  std::string host() const { return "127.0.0.1:" + std::to_string(port_); }
  const std::filesystem::path& caFile() const { return caFile_; }
  std::vector<Request> requests() const;
  int connections() const { return connections_.load(); }

 private:
  void serve();
  void answer(int client);

  int status_;
  Reply reply_;
  int listener_ = -1;
  int port_ = 0;
  std::filesystem::path caFile_;
  void* context_ = nullptr;  // SSL_CTX
  std::atomic<bool> stopping_{false};
  std::atomic<int> connections_{0};
  mutable std::mutex mutex_;
  std::vector<Request> requests_;
  std::thread thread_;
};
