#include "platform/x11/X11Element.h"

#include <memory>

namespace quorvel {

AXElementRef X11Element::application(int32_t pid) {
  return std::make_shared<X11Element>(Kind::application, pid, 0);
}

AXElementRef X11Element::window(int32_t pid, uint32_t window) {
  return std::make_shared<X11Element>(Kind::window, pid, window);
}

AXElementRef X11Element::closeButton(int32_t pid, uint32_t window) {
  return std::make_shared<X11Element>(Kind::closeButton, pid, window);
}

bool X11Element::isEqual(const AXElement& other) const {
  const auto* x = dynamic_cast<const X11Element*>(&other);
  return x && x->kind_ == kind_ && x->pid_ == pid_ && x->window_ == window_;
}

size_t X11Element::hash() const {
  const uint64_t packed = (uint64_t{static_cast<uint32_t>(pid_)} << 32) | window_;
  return std::hash<uint64_t>{}(packed) ^ (static_cast<size_t>(kind_) * 0x9E3779B97F4A7C15ull);
}

}  // namespace quorvel
