#include "platform/x11/X11WindowActions.h"

#include <xcb/xcb_icccm.h>

#include <thread>

#include "platform/x11/X11Connection.h"
#include "platform/x11/X11DesktopReader.h"

namespace quorvel {

namespace {

constexpr uint32_t kSourcePager = 2;

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

}  // namespace quorvel
