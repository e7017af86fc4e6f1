#pragma once

#include <cstdint>

#include "platform/AXElement.h"

namespace quorvel {

// One Accessibility element of an X session. X has no element trees; the backend offers three
// kinds, named by what they stand for rather than by any object:
//   application   = a process (window 0);
//   window        = one managed top-level window of that process;
//   close button  = the close control of that window (pressing it asks the window to close).
// Identity is (kind, pid, window): the pid is part of it because X reuses window ids once a window
// is gone, and an element must not come to stand for another program's window.
class X11Element final : public AXElement {
 public:
  enum class Kind { application, window, closeButton };

  X11Element(Kind kind, int32_t pid, uint32_t window) : kind_(kind), pid_(pid), window_(window) {}

  static AXElementRef application(int32_t pid);
  static AXElementRef window(int32_t pid, uint32_t window);
  static AXElementRef closeButton(int32_t pid, uint32_t window);

  bool isEqual(const AXElement& other) const override;
  size_t hash() const override;

  Kind kind() const { return kind_; }
  int32_t pid() const { return pid_; }
  uint32_t window() const { return window_; }

 private:
  Kind kind_;
  int32_t pid_;
  uint32_t window_;
};

}  // namespace quorvel
