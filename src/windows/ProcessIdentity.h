#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

namespace quorvel {

class Workspace;

// The program's own process id, read from the workspace once, on first use, and kept.
class ProcessIdentity {
 public:
  explicit ProcessIdentity(Workspace& workspace) : workspace_(workspace) {}
  int32_t ownPID() const;

 private:
  Workspace& workspace_;
  mutable std::once_flag once_;
  mutable int32_t pid_ = 0;
};

}  // namespace quorvel
