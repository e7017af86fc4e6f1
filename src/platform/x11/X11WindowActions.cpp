#include "platform/x11/X11WindowActions.h"

#include <xcb/xcb_icccm.h>

#include <thread>

#include "platform/x11/X11Connection.h"
#include "platform/x11/X11DesktopReader.h"

namespace quorvel {

namespace {

constexpr uint32_t kSourcePager = 2;
constexpr uint32_t kNorthWestGravity = 1;

}  // namespace

X11WindowActions::X11WindowActions(X11Connection& connection) : connection_(connection) {}

bool X11WindowActions::exists(uint32_t window) {
  if (window == 0 || connection_.isBroken()) return false;
  auto attributes =
      connection_.reply(xcb_get_window_attributes_reply, xcb_get_window_attributes(connection_.xcb(), window));
  return attributes != nullptr;
}

uint32_t X11WindowActions::timestamp(std::optional<uint32_t> eventTime) {
  if (eventTime && *eventTime != XCB_CURRENT_TIME) return *eventTime;
  // As for an activation: the server's own time rather than "current time".
  return connection_.serverTime().value_or(XCB_CURRENT_TIME);
}

bool X11WindowActions::sendToRoot(uint32_t window, uint32_t type, uint32_t d0, uint32_t d1, uint32_t d2,
                                  uint32_t d3) {
  xcb_client_message_event_t message{};
  message.response_type = XCB_CLIENT_MESSAGE;
  message.format = 32;
  message.window = window;
  message.type = type;
  message.data.data32[0] = d0;
  message.data.data32[1] = d1;
  message.data.data32[2] = d2;
  message.data.data32[3] = d3;
  const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
  auto cookie = xcb_send_event_checked(connection_.xcb(), 0, connection_.root(), mask,
                                       reinterpret_cast<const char*>(&message));
  return connection_.check(cookie);
}

bool X11WindowActions::activate(uint32_t window, std::optional<uint32_t> eventTime) {
  return activateStamped(window, eventTime).has_value();
}

std::optional<uint32_t> X11WindowActions::activateStamped(uint32_t window, std::optional<uint32_t> eventTime) {
  if (window == 0 || connection_.isBroken()) return std::nullopt;
  xcb_ewmh_connection_t* ewmh = connection_.ewmh();
  // Everything the request needs is asked for at once and the replies are taken after, so the
  // activation leaves one round trip after the call began: whether the window still exists, the
  // server's time when no event gives one, the window's desktop and the current one.
  const bool stampedByEvent = eventTime && *eventTime != XCB_CURRENT_TIME;
  std::optional<X11Connection::TimeRequest> timeRequest;
  if (!stampedByEvent) timeRequest.emplace(connection_.requestServerTime());
  const auto attributesCookie = connection_.counted(xcb_get_window_attributes(connection_.xcb(), window));
  const auto desktopCookie = connection_.requestProperty(window, ewmh->_NET_WM_DESKTOP, XCB_ATOM_CARDINAL, 1);
  const auto currentCookie =
      connection_.requestProperty(connection_.root(), ewmh->_NET_CURRENT_DESKTOP, XCB_ATOM_CARDINAL, 1);
  const bool exists = connection_.reply(xcb_get_window_attributes_reply, attributesCookie) != nullptr;
  const auto desktopValue = connection_.takeProperty(desktopCookie, XCB_ATOM_CARDINAL);
  const auto currentValue = connection_.takeProperty(currentCookie, XCB_ATOM_CARDINAL);
  // A request stamped "current time" may be taken for one that no user asked for; the server's own
  // time serves as well as the triggering event's.
  const uint32_t time = stampedByEvent ? *eventTime
                                       : connection_.takeServerTime(std::move(*timeRequest)).value_or(XCB_CURRENT_TIME);
  if (!exists) return std::nullopt;
  // Window managers may refuse to pull the focus to another desktop (they mark the window as wanting
  // attention instead), so a window on another desktop is reached by switching to that desktop first.
  const std::optional<uint32_t> desktop = desktopValue ? desktopValue->firstValue32() : std::nullopt;
  const std::optional<uint32_t> current = currentValue ? currentValue->firstValue32() : std::nullopt;
  const bool switching = desktop && current && *desktop != kAllDesktops && *desktop != *current;
  if (switching) {
    if (!sendToRoot(connection_.root(), ewmh->_NET_CURRENT_DESKTOP, *desktop, time)) return std::nullopt;
    // Sent back to back, the activation may reach the window manager while it still switches, and
    // some (xfwm4) then focus the new desktop's previous window: the activation waits for the switch.
    X11DesktopReader reader(connection_);
    waitUntil([&] { return reader.currentDesktop() == desktop || connection_.isBroken(); }, kDesktopSwitchWait);
  }
  if (!sendToRoot(window, ewmh->_NET_ACTIVE_WINDOW, kSourcePager, time, 0)) return std::nullopt;
  if (switching) {
    // Checked once: an activation that did not land is sent again. The desktop alone is not sent
    // again, since without the switch some managers (xfwm4) take the window to the current desktop.
    X11DesktopReader reader(connection_);
    const bool landed =
        waitUntil([&] { return reader.activeWindow() == window || connection_.isBroken(); }, kActivationWait);
    if (!landed && !sendToRoot(window, ewmh->_NET_ACTIVE_WINDOW, kSourcePager, time, 0)) return std::nullopt;
  }
  return time;
}

bool X11WindowActions::waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds bound) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kPollInterval);
  }
}

bool X11WindowActions::minimize(uint32_t window) {
  if (!exists(window)) return false;
  const uint32_t changeState = connection_.atom("WM_CHANGE_STATE");
  if (changeState == 0) return false;
  return sendToRoot(window, changeState, XCB_ICCCM_WM_STATE_ICONIC);
}

bool X11WindowActions::unminimize(uint32_t window) {
  if (!exists(window)) return false;
  return connection_.check(xcb_map_window_checked(connection_.xcb(), window));
}

bool X11WindowActions::setFullScreen(uint32_t window, bool fullScreen) {
  if (!exists(window)) return false;
  xcb_ewmh_connection_t* ewmh = connection_.ewmh();
  const uint32_t action = fullScreen ? XCB_EWMH_WM_STATE_ADD : XCB_EWMH_WM_STATE_REMOVE;
  return sendToRoot(window, ewmh->_NET_WM_STATE, action, ewmh->_NET_WM_STATE_FULLSCREEN, 0, kSourcePager);
}

bool X11WindowActions::close(uint32_t window, std::optional<uint32_t> eventTime) {
  if (!exists(window)) return false;
  return sendToRoot(window, connection_.ewmh()->_NET_CLOSE_WINDOW, timestamp(eventTime), kSourcePager);
}

bool X11WindowActions::moveToDesktop(uint32_t window, uint32_t desktop) {
  if (desktop != kAllDesktops) {
    const std::optional<uint32_t> count = X11DesktopReader(connection_).numberOfDesktops();
    if (count && desktop >= *count) return false;
  }
  if (!exists(window)) return false;
  return sendToRoot(window, connection_.ewmh()->_NET_WM_DESKTOP, desktop, kSourcePager);
}

std::optional<X11Rect> X11WindowActions::clientRect(uint32_t window) {
  if (window == 0 || connection_.isBroken()) return std::nullopt;
  xcb_connection_t* c = connection_.xcb();
  const auto geometryCookie = xcb_get_geometry(c, window);
  const auto positionCookie = xcb_translate_coordinates(c, window, connection_.root(), 0, 0);
  auto geometry = connection_.reply(xcb_get_geometry_reply, geometryCookie);
  auto position = connection_.reply(xcb_translate_coordinates_reply, positionCookie);
  if (!geometry || !position) return std::nullopt;
  const int32_t border = geometry->border_width;
  return X11Rect{position->dst_x - border, position->dst_y - border, geometry->width + 2 * border,
                 geometry->height + 2 * border};
}

bool X11WindowActions::supports(uint32_t atom) {
  auto supported = connection_.property(connection_.root(), connection_.ewmh()->_NET_SUPPORTED, XCB_ATOM_ATOM);
  if (!supported) return false;
  for (uint32_t value : supported->values32()) {
    if (value == atom) return true;
  }
  return false;
}

bool X11WindowActions::setFrame(uint32_t window, const X11Rect& frame, std::optional<std::pair<int32_t, int32_t>> origin,
                                std::optional<std::pair<int32_t, int32_t>> size) {
  if (!origin && !size) return exists(window);
  const std::optional<X11Rect> client = clientRect(window);
  if (!client) return false;
  // The decorations around the window: where it sits inside its frame, and how much wider and
  // higher the frame is.
  const int32_t left = client->x - frame.x, top = client->y - frame.y;
  const int32_t extraWidth = std::max(0, frame.width - client->width);
  const int32_t extraHeight = std::max(0, frame.height - client->height);
  X11Rect wanted = *client;
  if (origin) {
    wanted.x = origin->first + left;
    wanted.y = origin->second + top;
  }
  if (size) {
    wanted.width = std::max(1, size->first - extraWidth);
    wanted.height = std::max(1, size->second - extraHeight);
  }
  xcb_ewmh_connection_t* ewmh = connection_.ewmh();
  bool sent = false;
  if (supports(ewmh->_NET_MOVERESIZE_WINDOW)) {
    // With north-west gravity the position names the frame's top-left corner; the size is the
    // window's own.
    const uint32_t flags = kNorthWestGravity | (origin ? (1u << 8) | (1u << 9) : 0) |
                           (size ? (1u << 10) | (1u << 11) : 0) | (kSourcePager << 12);
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = ewmh->_NET_MOVERESIZE_WINDOW;
    message.data.data32[0] = flags;
    message.data.data32[1] = origin ? static_cast<uint32_t>(origin->first) : 0;
    message.data.data32[2] = origin ? static_cast<uint32_t>(origin->second) : 0;
    message.data.data32[3] = size ? static_cast<uint32_t>(wanted.width) : 0;
    message.data.data32[4] = size ? static_cast<uint32_t>(wanted.height) : 0;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    sent = connection_.check(xcb_send_event_checked(connection_.xcb(), 0, connection_.root(), mask,
                                                    reinterpret_cast<const char*>(&message)));
  } else {
    // A configure request of the window itself: the window manager places the frame by the
    // window's gravity (north-west unless it says otherwise).
    uint16_t mask = 0;
    std::vector<uint32_t> values;
    if (origin) {
      mask |= XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y;
      values.push_back(static_cast<uint32_t>(origin->first));
      values.push_back(static_cast<uint32_t>(origin->second));
    }
    if (size) {
      mask |= XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT;
      values.push_back(static_cast<uint32_t>(wanted.width));
      values.push_back(static_cast<uint32_t>(wanted.height));
    }
    sent = connection_.check(xcb_configure_window_checked(connection_.xcb(), window, mask, values.data()));
  }
  if (!sent) return false;
  waitUntil(
      [&] {
        const std::optional<X11Rect> now = clientRect(window);
        if (!now) return true;
        const bool placed = !origin || (now->x == wanted.x && now->y == wanted.y);
        const bool sized = !size || (now->width == wanted.width && now->height == wanted.height);
        return placed && sized;
      },
      kFrameWait);
  return true;
}

}  // namespace quorvel
