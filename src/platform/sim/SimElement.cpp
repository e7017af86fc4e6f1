#include "platform/sim/SimElement.h"

#include <functional>

namespace quorvel {

bool SimElement::isEqual(const AXElement& other) const {
  const auto* sim = dynamic_cast<const SimElement*>(&other);
  return sim && sim->id_ == id_;
}

size_t SimElement::hash() const {
  // Mixed so that neighbouring ids do not land in neighbouring buckets.
  uint64_t h = static_cast<uint64_t>(id_) * 0x9E3779B97F4A7C15ull;
  return static_cast<size_t>(h ^ (h >> 29));
}

}  // namespace quorvel
