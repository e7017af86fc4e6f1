#pragma once

#include <optional>

#include "platform/AXSubrole.h"
#include "ax/AXHandle.h"

namespace quorvel {

// One Accessibility window of an application.
struct WindowAXInfo {
  AXHandleRef handle;
  bool isMinimized = false;            // "AXMinimized"
  std::optional<AXSubrole> subrole;  // "AXSubrole"; none when unreadable
};

}  // namespace quorvel
