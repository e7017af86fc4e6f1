#include "platform/x11/X11Pointer.h"

#include <cmath>
#include <limits>

#include "platform/x11/X11Backend.h"

namespace quorvel {

namespace {

// A coordinate as the protocol's signed 16-bit value, or none when it does not fit.
std::optional<int16_t> coordinate(double value) {
  if (!std::isfinite(value)) return std::nullopt;
  const double rounded = std::floor(value);
  if (rounded < std::numeric_limits<int16_t>::min() || rounded > std::numeric_limits<int16_t>::max()) {
    return std::nullopt;
  }
  return static_cast<int16_t>(rounded);
}

}  // namespace

X11Pointer::X11Pointer(std::shared_ptr<X11Backend> backend) : backend_(std::move(backend)) {}

uint32_t X11Pointer::pressedButtons() {
  X11Connection& x = backend_->connection();
  if (x.isBroken()) return 0;
  auto reply = x.reply(xcb_query_pointer_reply, xcb_query_pointer(x.xcb(), x.root()));
  if (!reply) return 0;
  uint32_t buttons = 0;
  if (reply->mask & XCB_BUTTON_MASK_1) buttons |= kPrimaryButton;
  if (reply->mask & XCB_BUTTON_MASK_3) buttons |= kSecondaryButton;
  if (reply->mask & XCB_BUTTON_MASK_2) buttons |= kMiddleButton;
  return buttons;
}

std::optional<Point> X11Pointer::location() {
  X11Connection& x = backend_->connection();
  if (x.isBroken()) return std::nullopt;
  auto reply = x.reply(xcb_query_pointer_reply, xcb_query_pointer(x.xcb(), x.root()));
  if (!reply) return std::nullopt;
  return Point{double(reply->root_x), double(reply->root_y)};
}

bool X11Pointer::warp(Point location) {
  X11Connection& x = backend_->connection();
  const std::optional<int16_t> px = coordinate(location.x);
  const std::optional<int16_t> py = coordinate(location.y);
  if (x.isBroken() || !px || !py) return false;
  return x.check(xcb_warp_pointer_checked(x.xcb(), XCB_NONE, x.root(), 0, 0, 0, 0, *px, *py));
}

bool X11Pointer::associateMouseAndCursor(bool) { return !backend_->isBroken(); }

}  // namespace quorvel
