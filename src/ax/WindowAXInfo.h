#pragma once

#include <optional>

#include "ax/AXHandle.h"
#include "platform/AXSubrole.h"

namespace quorvel {

// One Accessibility window of an application.
struct WindowAXInfo {
  AXHandleRef handle;
  bool isMinimized = false;            // "AXMinimized"
  std::optional<AXSubrole> subrole;  // "AXSubrole"; none when unreadable
};

}  // namespace quorvel
