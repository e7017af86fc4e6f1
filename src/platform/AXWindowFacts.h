#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/Geometry.h"
#include "platform/AXElement.h"
#include "platform/AXSubrole.h"

namespace quorvel {

// One Accessibility window of an application as one typed read hands it back.
struct AXWindowFacts {
  // Which facts beyond the window number, the minimized flag and the subrole a read asks for.
  struct Wanted {
    bool frame = false;
    bool title = false;
  };

  AXElementRef element;
  uint32_t number = 0;                // the window server's window number, never 0
  bool isMinimized = false;           // "AXMinimized"; false when unreadable
  std::optional<AXSubrole> subrole;   // none when unreadable
  std::optional<Rect> frame;          // when asked for and readable with a positive size
  std::optional<std::string> title;   // when asked for and readable as text
};

}  // namespace quorvel
