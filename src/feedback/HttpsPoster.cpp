#include "feedback/HttpsPoster.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace quorvel {

PostCancellation::PostCancellation() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

PostCancellation::~PostCancellation() {
  if (fd_ >= 0) ::close(fd_);
}

void PostCancellation::cancel() {
  if (cancelled_.exchange(true) || fd_ < 0) return;
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(fd_, &one, sizeof one);
}

}  // namespace quorvel
