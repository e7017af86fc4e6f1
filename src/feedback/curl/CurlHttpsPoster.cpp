#include "feedback/curl/CurlHttpsPoster.h"

#include <memory>
#include <mutex>

#include <curl/curl.h>

namespace quorvel {

namespace {

// libcurl's global set-up is not thread-safe; it runs once, before the first handle.
void initialiseOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

size_t discard(char*, size_t size, size_t count, void*) { return size * count; }

}  // namespace

CurlHttpsPoster::CurlHttpsPoster(std::optional<std::filesystem::path> caFile) : caFile_(std::move(caFile)) {}

std::optional<int> CurlHttpsPoster::post(const std::string& url, const std::string& body,
                                         std::chrono::milliseconds timeout) {
  initialiseOnce();
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> handle(curl_easy_init(), curl_easy_cleanup);
  if (!handle) return std::nullopt;
  // Only the content type is ours; "Expect:" switches off curl's wait for a 100-continue.
  curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
  headers = curl_slist_append(headers, "Expect:");
  std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headerList(headers, curl_slist_free_all);
  CURL* curl = handle.get();
  const std::string caFile = caFile_ ? caFile_->string() : std::string();
  const bool configured =
      curl_easy_setopt(curl, CURLOPT_URL, url.c_str()) == CURLE_OK &&
      curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "https") == CURLE_OK &&
      curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
      curl_easy_setopt(curl, CURLOPT_POST, 1L) == CURLE_OK &&
      curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data()) == CURLE_OK &&
      curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size())) == CURLE_OK &&
      curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headerList.get()) == CURLE_OK &&
      curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(timeout.count())) == CURLE_OK &&
      curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L) == CURLE_OK &&
      curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L) == CURLE_OK &&
      curl_easy_setopt(curl, CURLOPT_FRESH_CONNECT, 1L) == CURLE_OK &&
      curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK &&
      curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK &&
      curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, discard) == CURLE_OK &&
      (caFile.empty() || (curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.c_str()) == CURLE_OK &&
                          curl_easy_setopt(curl, CURLOPT_CAPATH, nullptr) == CURLE_OK));
  if (!configured || curl_easy_perform(curl) != CURLE_OK) return std::nullopt;
  long status = 0;
  if (curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK || status == 0) return std::nullopt;
  return static_cast<int>(status);
}

}  // namespace quorvel
