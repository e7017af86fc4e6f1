#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>

#include "platform/AXElement.h"
#include "platform/atspi/AtspiNode.h"

namespace quorvel {

// An Accessibility element that stands for one object on the accessibility bus, with the process
// that owns it. Identity is the node alone (the same object reached twice is one element).
//
// Each element carries its messaging time-out: the longest any call on it may wait for the
// application. Elements read from another element (its children, its parent, its windows) start
// with that element's time-out; a fresh application element starts with kDefaultTimeout.
class AtspiElement final : public AXElement {
 public:
  static constexpr std::chrono::milliseconds kDefaultTimeout{500};

  AtspiElement(AtspiNode node, int32_t pid, std::chrono::milliseconds timeout = kDefaultTimeout)
      : node_(std::move(node)), pid_(pid), timeoutMs_(static_cast<int64_t>(timeout.count())) {}

  static std::shared_ptr<const AtspiElement> make(AtspiNode node, int32_t pid,
                                                  std::chrono::milliseconds timeout = kDefaultTimeout) {
    return std::make_shared<const AtspiElement>(std::move(node), pid, timeout);
  }

  bool isEqual(const AXElement& other) const override;
  size_t hash() const override;

  const AtspiNode& node() const { return node_; }
  int32_t pid() const { return pid_; }
  std::chrono::milliseconds timeout() const { return std::chrono::milliseconds(timeoutMs_.load()); }
  // Changes the time-out of this element object (and of elements read from it later on).
  void setTimeout(std::chrono::milliseconds timeout) const { timeoutMs_.store(timeout.count()); }

 private:
  AtspiNode node_;
  int32_t pid_;
  mutable std::atomic<int64_t> timeoutMs_;
};

}  // namespace quorvel
