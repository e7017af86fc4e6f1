#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "base/Geometry.h"
#include "platform/AXElement.h"
#include "platform/AXError.h"

namespace quorvel {

// One attribute value read from (or written to) an Accessibility element. Points, sizes and
// rectangles are the platform's "Accessibility value" type (AXWindow.value accepts only those);
// the rest are plain values.
struct AXValue {
  using Elements = std::vector<AXElementRef>;
  using Storage = std::variant<std::monostate, bool, int64_t, double, std::string, Point, Size, Rect,
                               AXElementRef, Elements>;
  Storage value;

  AXValue() = default;
  template <class T>
  AXValue(T v) : value(std::move(v)) {}  // NOLINT: implicit by design
  AXValue(const char* s) : value(std::string(s)) {}
  AXValue(int v) : value(static_cast<int64_t>(v)) {}

  bool isAXValueType() const {
    return std::holds_alternative<Point>(value) || std::holds_alternative<Size>(value) ||
           std::holds_alternative<Rect>(value);
  }
  template <class T>
  const T* get() const {
    return std::get_if<T>(&value);
  }
  bool isEmpty() const { return std::holds_alternative<std::monostate>(value); }
};

// The result of an attribute read: an error, or success with a value.
struct AXAttributeResult {
  AXError error = AXError::noValue;
  AXValue value;
  bool ok() const { return error == AXError::success; }
};

}  // namespace quorvel
