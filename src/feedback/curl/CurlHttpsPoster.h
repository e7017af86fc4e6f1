#pragma once

#include <filesystem>
#include <optional>

#include "feedback/HttpsPoster.h"

namespace quorvel {

// HttpsPoster over libcurl: one easy handle per POST (so no cookie, cache or connection is shared
// between sends), HTTPS only, certificates checked against the system's trust store or, when one is
// given, against `caFile` alone.
class CurlHttpsPoster final : public HttpsPoster {
 public:
  explicit CurlHttpsPoster(std::optional<std::filesystem::path> caFile = std::nullopt);
  std::optional<int> post(const std::string& url, const std::string& body, std::chrono::milliseconds timeout,
                          const PostCancellation* cancel = nullptr) override;

 private:
  std::optional<std::filesystem::path> caFile_;
};

}  // namespace quorvel
