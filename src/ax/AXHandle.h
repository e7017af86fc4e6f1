#pragma once

#include <memory>

#include "platform/AXElement.h"

namespace quorvel {

// A retained Accessibility element of another application's window or tab. Cards and tables hold
// handles by reference (AXHandleRef), so copies of a card share one handle; the element is released
// when the last reference to the handle goes. A handle has no equality of its own.
class AXHandle final {
 public:
  explicit AXHandle(AXElementRef element) : element_(std::move(element)) {}
  AXHandle(const AXHandle&) = delete;
  AXHandle& operator=(const AXHandle&) = delete;

  const AXElementRef& element() const { return element_; }

  static std::shared_ptr<const AXHandle> make(AXElementRef element) {
    return std::make_shared<const AXHandle>(std::move(element));
  }

 private:
  const AXElementRef element_;
};

using AXHandleRef = std::shared_ptr<const AXHandle>;

}  // namespace quorvel
