#include "windows/ProcessIdentity.h"

#include "platform/Workspace.h"

namespace quorvel {

int32_t ProcessIdentity::ownPID() const {
  std::call_once(once_, [this] { pid_ = workspace_.ownPid(); });
  return pid_;
}

}  // namespace quorvel
