#include "platform/atspi/AtspiElement.h"

namespace quorvel {

bool AtspiElement::isEqual(const AXElement& other) const {
  const auto* o = dynamic_cast<const AtspiElement*>(&other);
  return o && o->node_ == node_;
}

size_t AtspiElement::hash() const { return AtspiNodeHash{}(node_); }

}  // namespace quorvel
