#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace quorvel {

// An Accessibility element of another application (or of the system), as a backend hands it out.
// Elements are reference counted through std::shared_ptr (AXElementRef): the element is released
// when the last reference goes. Two references may denote the same element although they are
// different objects: identity is `isEqual`/`hash`, as the platform defines element equality.
class AXElement {
 public:
  virtual ~AXElement() = default;
  virtual bool isEqual(const AXElement& other) const = 0;
  virtual size_t hash() const = 0;
};

using AXElementRef = std::shared_ptr<const AXElement>;

// Element identity helpers for hashed containers keyed by element.
struct AXElementHash {
  size_t operator()(const AXElementRef& e) const { return e ? e->hash() : 0; }
};
struct AXElementEqual {
  bool operator()(const AXElementRef& a, const AXElementRef& b) const {
    if (!a || !b) return a == b;
    return a == b || a->isEqual(*b);
  }
};

}  // namespace quorvel
