#pragma once

#include <cstdint>

#include "platform/AXElement.h"
#include "platform/sim/SimDesktop.h"

namespace quorvel {

// A reference to one simulated Accessibility element. The service hands out a new reference on
// every answer, as the platform does, so identity is the element id, never the object.
class SimElement final : public AXElement {
 public:
  SimElement(SimElementId id, int32_t pid) : id_(id), pid_(pid) {}
  bool isEqual(const AXElement& other) const override;
  size_t hash() const override;
  SimElementId id() const { return id_; }
  int32_t pid() const { return pid_; }

 private:
  SimElementId id_;
  int32_t pid_;
};

}  // namespace quorvel
