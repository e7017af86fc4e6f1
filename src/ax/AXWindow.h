#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>

#include "ax/WindowAXInfo.h"
#include "base/Geometry.h"
#include "platform/AXElement.h"
#include "platform/AXValue.h"

namespace quorvel {

class Accessibility;

// The element readers that all Accessibility code shares. They call other applications, so they run
// on the serial Accessibility queue; every error reads as a missing value.
class AXWindow {
 public:
  // The messaging time-out set on the application element that windows() reads.
  static constexpr float kMessagingTimeout = 0.5f;

  // One attribute read that accepts only an Accessibility value (a point, a size or a rectangle).
  static std::optional<AXValue> value(Accessibility& accessibility, const AXElementRef& element,
                                      const std::string& attribute);
  // The element's frame ("AXPosition" and "AXSize") in global top-left coordinates; none when
  // either is missing or the size is not positive in both directions (Accessibility::frame).
  static std::optional<Rect> frame(Accessibility& accessibility, const AXElementRef& element);
  // Every Accessibility window of the application that has a window number, keyed by that number,
  // with its minimized flag and subrole; empty on any failure (not trusted, no windows, errors).
  static std::unordered_map<uint32_t, WindowAXInfo> windows(Accessibility& accessibility, int32_t pid);
};

}  // namespace quorvel
