#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "base/Geometry.h"
#include "platform/AXError.h"
#include "platform/atspi/AtspiNode.h"

namespace quorvel {

// The answer of one call on the accessibility bus: a value, or why there is none.
//   invalidElement        the object or its application is gone
//   cannotComplete        the application did not answer within the time-out, or the bus is down
//   attributeUnsupported  the object does not implement the interface the call needs
//   apiDisabled           there is no accessibility bus to talk to
template <class T>
struct AtspiAnswer {
  AXError error = AXError::success;
  T value{};
  bool ok() const { return error == AXError::success; }
};

// What one object says of itself in one round trip (the Accessible interface's properties).
struct AtspiObject {
  std::string name;
  std::string description;
  int32_t childCount = 0;
};

// The calls this program makes on Linux's accessibility bus (AT-SPI 2), one method per remote
// call. Every call blocks the calling thread until the application answers or `timeout` passes,
// and is safe from any thread. Roles and states are AT-SPI's own numbers (AtspiRoles names the
// ones that matter); extents are in screen pixels, top-left origin.
class AtspiBus {
 public:
  using Timeout = std::chrono::milliseconds;
  virtual ~AtspiBus() = default;

  // The applications registered with the bus (the registry's children).
  virtual AtspiAnswer<std::vector<AtspiNode>> applications(Timeout timeout) = 0;
  // The process behind an application's bus connection.
  virtual AtspiAnswer<int32_t> processOf(const std::string& bus, Timeout timeout) = 0;

  virtual AtspiAnswer<AtspiObject> object(const AtspiNode& node, Timeout timeout) = 0;
  virtual AtspiAnswer<std::vector<AtspiNode>> children(const AtspiNode& node, Timeout timeout) = 0;
  virtual AtspiAnswer<AtspiNode> parent(const AtspiNode& node, Timeout timeout) = 0;
  virtual AtspiAnswer<int32_t> indexInParent(const AtspiNode& node, Timeout timeout) = 0;
  virtual AtspiAnswer<uint32_t> role(const AtspiNode& node, Timeout timeout) = 0;
  // The state set as one 64-bit mask (bit n = AT-SPI state n).
  virtual AtspiAnswer<uint64_t> states(const AtspiNode& node, Timeout timeout) = 0;
  virtual AtspiAnswer<std::map<std::string, std::string>> attributes(const AtspiNode& node, Timeout timeout) = 0;
  // Component interface: the object's extents on the screen.
  virtual AtspiAnswer<Rect> extents(const AtspiNode& node, Timeout timeout) = 0;
  // Action interface: the names of the object's actions, in index order, and doing one.
  virtual AtspiAnswer<std::vector<std::string>> actions(const AtspiNode& node, Timeout timeout) = 0;
  virtual AtspiAnswer<bool> doAction(const AtspiNode& node, int32_t index, Timeout timeout) = 0;
  // Selection interface of a container: selecting its child at `index`.
  virtual AtspiAnswer<bool> selectChild(const AtspiNode& container, int32_t index, Timeout timeout) = 0;

  // The session's switch for assistive technology (org.a11y.Status "IsEnabled"): applications
  // that build their trees only for assistive technology watch it.
  virtual AtspiAnswer<bool> isEnabled(Timeout timeout) = 0;
  virtual AXError setEnabled(bool enabled, Timeout timeout) = 0;
};

}  // namespace quorvel
