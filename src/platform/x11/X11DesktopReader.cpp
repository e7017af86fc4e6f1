#include "platform/x11/X11DesktopReader.h"

#include "platform/x11/X11Connection.h"
#include "platform/x11/X11Text.h"

namespace quorvel {

X11DesktopReader::X11DesktopReader(X11Connection& connection) : connection_(connection) {}

std::optional<uint32_t> X11DesktopReader::rootCardinal(uint32_t property, uint32_t type) {
  auto value = connection_.property(connection_.root(), property, type, 1);
  if (!value) return std::nullopt;
  return value->firstValue32();
}

std::optional<uint32_t> X11DesktopReader::managerCheckWindow() {
  xcb_ewmh_connection_t* ewmh = connection_.ewmh();
  auto check = rootCardinal(ewmh->_NET_SUPPORTING_WM_CHECK, XCB_ATOM_WINDOW);
  if (!check || *check == 0) return std::nullopt;
  // A window manager that died leaves a stale id behind: its check window must name itself.
  auto self = connection_.property(*check, ewmh->_NET_SUPPORTING_WM_CHECK, XCB_ATOM_WINDOW, 1);
  if (!self || self->firstValue32() != *check) return std::nullopt;
  return check;
}

std::optional<std::string> X11DesktopReader::windowManagerName() {
  const std::optional<uint32_t> check = managerCheckWindow();
  if (!check) return std::nullopt;
  xcb_ewmh_connection_t* ewmh = connection_.ewmh();
  auto name = connection_.property(*check, ewmh->_NET_WM_NAME, ewmh->UTF8_STRING);
  if (!name || name->format != 8) return std::string();
  return X11Text::fromUtf8(name->bytes.data(), name->bytes.size(), name->truncated);
}

std::optional<uint32_t> X11DesktopReader::windowManagerPid() {
  const std::optional<uint32_t> check = managerCheckWindow();
  if (!check) return std::nullopt;
  auto pid = connection_.property(*check, connection_.ewmh()->_NET_WM_PID, XCB_ATOM_CARDINAL, 1);
  if (!pid || pid->format != 32 || pid->firstValue32() == 0) return std::nullopt;
  return pid->firstValue32();
}

std::optional<uint32_t> X11DesktopReader::numberOfDesktops() {
  const std::optional<uint32_t> count = rootCardinal(connection_.ewmh()->_NET_NUMBER_OF_DESKTOPS, XCB_ATOM_CARDINAL);
  if (count && *count > kMostDesktops) return std::nullopt;
  return count;
}

std::optional<uint32_t> X11DesktopReader::currentDesktop() {
  return rootCardinal(connection_.ewmh()->_NET_CURRENT_DESKTOP, XCB_ATOM_CARDINAL);
}

std::vector<std::string> X11DesktopReader::desktopNames() {
  xcb_ewmh_connection_t* ewmh = connection_.ewmh();
  std::vector<std::string> names;
  auto value = connection_.property(connection_.root(), ewmh->_NET_DESKTOP_NAMES, ewmh->UTF8_STRING);
  if (!value || value->format != 8) return names;
  const std::vector<uint8_t>& bytes = value->bytes;
  size_t start = 0;
  for (size_t i = 0; i <= bytes.size(); ++i) {
    if (i == bytes.size() || bytes[i] == 0) {
      if (i < bytes.size() || i > start) {
        const bool last = i == bytes.size();
        names.push_back(X11Text::fromUtf8(bytes.data() + start, i - start, last && value->truncated));
      }
      start = i + 1;
    }
  }
  return names;
}

std::optional<uint32_t> X11DesktopReader::activeWindow() {
  auto window = rootCardinal(connection_.ewmh()->_NET_ACTIVE_WINDOW, XCB_ATOM_WINDOW);
  if (!window || *window == 0) return std::nullopt;
  return window;
}

}  // namespace quorvel
