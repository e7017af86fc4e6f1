#pragma once

#include <optional>
#include <string>

#include "windows/ax/AXHandle.h"

namespace quorvel {

// One Accessibility window of an application.
struct WindowAXInfo {
  AXHandleRef handle;
  bool isMinimized = false;            // "AXMinimized"
  std::optional<std::string> subrole;  // "AXSubrole"
};

}  // namespace quorvel
