#include "feedback/curl/CurlHttpsPoster.h"

#include <memory>
#include <mutex>
#include <string_view>

#include <curl/curl.h>

namespace quorvel {

namespace {

// libcurl's global set-up is not thread-safe; it runs once, before the first handle.
void initialiseOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// The most a reply's head (status lines and headers, interim ones included) may take; a server that
// goes on past it is not answering.
constexpr size_t kMaximumHead = 16 * 1024;

// What the reply said, as its head comes in.
struct Reply {
  int status = 0;          // of the last status line seen
  bool decided = false;    // a final (non-1xx) head ended: the status is the answer
  size_t headBytes = 0;
};

// A status line "HTTP/<version> <3 digits>[ <reason>]"; 0 when the line is not one.
int statusOf(std::string_view line) {
  if (!line.starts_with("HTTP/")) return 0;
  const size_t space = line.find(' ');
  if (space == std::string_view::npos || line.size() < space + 4) return 0;
  int status = 0;
  for (size_t i = space + 1; i < space + 4; ++i) {
    if (line[i] < '0' || line[i] > '9') return 0;
    status = status * 10 + (line[i] - '0');
  }
  return status;
}

// Called once per line of the head. The end of a final head decides the answer, and the transfer
// stops there: returning less than was given makes curl give up on the rest.
size_t onHeadLine(char* data, size_t size, size_t count, void* user) {
  auto* reply = static_cast<Reply*>(user);
  const size_t length = size * count;
  reply->headBytes += length;
  if (reply->headBytes > kMaximumHead) return 0;
  const std::string_view line(data, length);
  if (const int status = statusOf(line)) {
    reply->status = status;
  } else if (line == "\r\n" || line == "\n") {
    if (reply->status >= 200) {
      reply->decided = true;
      return 0;
    }
    reply->status = 0;  // an interim answer (100 Continue, 103 Early Hints): the real one follows
  }
  return length;
}

// The body is never read.
size_t refuseBody(char*, size_t, size_t, void*) { return 0; }

}  // namespace

CurlHttpsPoster::CurlHttpsPoster(std::optional<std::filesystem::path> caFile) : caFile_(std::move(caFile)) {}

std::optional<int> CurlHttpsPoster::post(const std::string& url, const std::string& body,
                                         std::chrono::milliseconds timeout, const PostCancellation* cancel) {
  if (cancel && cancel->cancelled()) return std::nullopt;
  initialiseOnce();
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> handle(curl_easy_init(), curl_easy_cleanup);
  std::unique_ptr<CURLM, decltype(&curl_multi_cleanup)> multi(curl_multi_init(), curl_multi_cleanup);
  if (!handle || !multi) return std::nullopt;
  // Only the content type is ours; "Expect:" switches off curl's wait for a 100-continue.
  curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
  headers = curl_slist_append(headers, "Expect:");
  std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headerList(headers, curl_slist_free_all);
  CURL* curl = handle.get();
  Reply reply;
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
      curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, onHeadLine) == CURLE_OK &&
      curl_easy_setopt(curl, CURLOPT_HEADERDATA, &reply) == CURLE_OK &&
      curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, refuseBody) == CURLE_OK &&
      (caFile.empty() || (curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.c_str()) == CURLE_OK &&
                          curl_easy_setopt(curl, CURLOPT_CAPATH, nullptr) == CURLE_OK));
  if (!configured || curl_multi_add_handle(multi.get(), curl) != CURLM_OK) return std::nullopt;

  // The transfer runs here, on the calling thread; between its steps it waits on the network and on
  // the cancellation together, so a cancel ends it at once.
  bool cancelled = false;
  int running = 1;
  while (running > 0) {
    if (curl_multi_perform(multi.get(), &running) != CURLM_OK) break;
    if (running == 0) break;
    curl_waitfd wake{};
    unsigned extra = 0;
    if (cancel && cancel->fd() >= 0) {
      wake.fd = cancel->fd();
      wake.events = CURL_WAIT_POLLIN;
      extra = 1;
    }
    // Without a descriptor to watch, a cancel is seen within the poll's bound.
    const int bound = extra ? 1000 : 50;
    if (curl_multi_poll(multi.get(), extra ? &wake : nullptr, extra, bound, nullptr) != CURLM_OK) break;
    if (cancel && cancel->cancelled()) {
      cancelled = true;
      break;
    }
  }
  curl_multi_remove_handle(multi.get(), curl);
  if (cancelled || !reply.decided) return std::nullopt;
  return reply.status;
}

}  // namespace quorvel
