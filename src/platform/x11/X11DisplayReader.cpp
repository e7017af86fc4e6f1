#include "platform/x11/X11DisplayReader.h"

#include <xcb/randr.h>

#include <algorithm>
#include <cstdint>

#include "platform/x11/X11Connection.h"

namespace quorvel {

namespace {

int32_t clampTo(int64_t value, int64_t low, int64_t high) {
  return static_cast<int32_t>(std::clamp(value, low, high));
}

}  // namespace

X11DisplayReader::X11DisplayReader(X11Connection& connection) : connection_(connection) {}

bool X11DisplayReader::hasRandrMonitors() {
  if (randrMonitors_) return *randrMonitors_;
  bool available = false;
  const xcb_query_extension_reply_t* extension = xcb_get_extension_data(connection_.xcb(), &xcb_randr_id);
  if (extension && extension->present) {
    auto version = connection_.reply(xcb_randr_query_version_reply,
                                     xcb_randr_query_version(connection_.xcb(), 1, 5));
    available = version && (version->major_version > 1 || version->minor_version >= 5);
  }
  if (!connection_.isBroken()) randrMonitors_ = available;
  return available;
}

std::vector<X11DisplayReader::RawMonitor> X11DisplayReader::rawMonitors() {
  std::vector<RawMonitor> result;
  if (connection_.isBroken()) return result;
  if (hasRandrMonitors()) {
    auto reply = connection_.reply(xcb_randr_get_monitors_reply,
                                   xcb_randr_get_monitors(connection_.xcb(), connection_.root(), 1));
    if (reply) {
      for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem > 0;
           xcb_randr_monitor_info_next(&it)) {
        const xcb_randr_monitor_info_t& info = *it.data;
        if (info.width == 0 || info.height == 0) continue;
        RawMonitor monitor;
        monitor.name = connection_.atomName(info.name);
        monitor.frame = X11Rect{info.x, info.y, info.width, info.height};
        monitor.primary = info.primary != 0;
        result.push_back(std::move(monitor));
      }
    }
  }
  if (result.empty()) {
    const xcb_screen_t* screen = connection_.screen();
    result.push_back(RawMonitor{"default", X11Rect{0, 0, screen->width_in_pixels, screen->height_in_pixels}, true});
  }
  // Exactly one primary: the first marked one, else the first listed.
  auto primary = std::find_if(result.begin(), result.end(), [](const RawMonitor& m) { return m.primary; });
  if (primary == result.end()) primary = result.begin();
  for (auto it = result.begin(); it != result.end(); ++it) it->primary = it == primary;
  return result;
}

std::optional<X11Rect> X11DisplayReader::primaryRootFrame() {
  for (const RawMonitor& monitor : rawMonitors()) {
    if (monitor.primary) return monitor.frame;
  }
  return std::nullopt;
}

std::vector<std::vector<uint32_t>> X11DisplayReader::dockStruts() {
  std::vector<std::vector<uint32_t>> struts;
  xcb_ewmh_connection_t* ewmh = connection_.ewmh();
  auto clients = connection_.property(connection_.root(), ewmh->_NET_CLIENT_LIST, XCB_ATOM_WINDOW);
  if (!clients) return struts;
  const std::vector<uint32_t> windows = clients->values32();
  std::vector<std::pair<xcb_get_property_cookie_t, xcb_get_property_cookie_t>> cookies;
  cookies.reserve(windows.size());
  for (uint32_t window : windows) {
    cookies.emplace_back(connection_.requestProperty(window, ewmh->_NET_WM_STRUT_PARTIAL, XCB_ATOM_CARDINAL, 12),
                         connection_.requestProperty(window, ewmh->_NET_WM_STRUT, XCB_ATOM_CARDINAL, 4));
  }
  const int32_t rootWidth = connection_.screen()->width_in_pixels;
  const int32_t rootHeight = connection_.screen()->height_in_pixels;
  for (auto& [partialCookie, plainCookie] : cookies) {
    auto partial = connection_.takeProperty(partialCookie, XCB_ATOM_CARDINAL);
    auto plain = connection_.takeProperty(plainCookie, XCB_ATOM_CARDINAL);
    std::vector<uint32_t> values = partial ? partial->values32() : std::vector<uint32_t>{};
    if (values.size() < 12) {
      // The older four-value strut spans the whole edge.
      std::vector<uint32_t> four = plain ? plain->values32() : std::vector<uint32_t>{};
      if (four.size() < 4) continue;
      const uint32_t lastY = static_cast<uint32_t>(std::max(rootHeight - 1, 0));
      const uint32_t lastX = static_cast<uint32_t>(std::max(rootWidth - 1, 0));
      values = {four[0], four[1], four[2], four[3], 0, lastY, 0, lastY, 0, lastX, 0, lastX};
    }
    values.resize(12);
    if (values[0] == 0 && values[1] == 0 && values[2] == 0 && values[3] == 0) continue;
    struts.push_back(std::move(values));
  }
  return struts;
}

std::optional<X11Rect> X11DisplayReader::currentWorkArea() {
  xcb_ewmh_connection_t* ewmh = connection_.ewmh();
  auto area = connection_.property(connection_.root(), ewmh->_NET_WORKAREA, XCB_ATOM_CARDINAL);
  if (!area) return std::nullopt;
  const std::vector<uint32_t> values = area->values32();
  auto current = connection_.property(connection_.root(), ewmh->_NET_CURRENT_DESKTOP, XCB_ATOM_CARDINAL);
  size_t desktop = current && current->firstValue32() ? *current->firstValue32() : 0;
  if (desktop >= values.size() / 4) desktop = 0;
  if (values.size() < 4) return std::nullopt;
  const size_t i = desktop * 4;
  const X11Rect rect{clampTo(values[i], 0, INT16_MAX), clampTo(values[i + 1], 0, INT16_MAX),
                     clampTo(values[i + 2], 0, UINT16_MAX), clampTo(values[i + 3], 0, UINT16_MAX)};
  if (rect.isEmpty()) return std::nullopt;
  return rect;
}

X11Rect X11DisplayReader::trimByStruts(const X11Rect& monitor, const std::vector<std::vector<uint32_t>>& struts,
                                       int32_t rootWidth, int32_t rootHeight) {
  X11Rect free = monitor;
  const int64_t w = std::max(rootWidth, 0);
  const int64_t h = std::max(rootHeight, 0);
  for (const std::vector<uint32_t>& s : struts) {
    if (s.size() < 12) continue;
    // Each reserved edge strip in root coordinates; a strip counts only where it reaches the monitor.
    const auto span = [](uint32_t start, uint32_t end, int64_t limit) {
      const int64_t a = std::min<int64_t>(start, limit);
      const int64_t b = std::min<int64_t>(static_cast<int64_t>(end) + 1, limit);
      return std::pair<int32_t, int32_t>{static_cast<int32_t>(a), static_cast<int32_t>(std::max(b - a, int64_t{0}))};
    };
    const int32_t left = clampTo(s[0], 0, w), right = clampTo(s[1], 0, w);
    const int32_t top = clampTo(s[2], 0, h), bottom = clampTo(s[3], 0, h);
    X11Rect trimmed = free;
    if (left > 0) {
      auto [y, height] = span(s[4], s[5], h);
      if (X11Rect{0, y, left, height}.intersects(monitor) && left > trimmed.x) {
        trimmed.width = trimmed.right() - left;
        trimmed.x = left;
      }
    }
    if (right > 0) {
      auto [y, height] = span(s[6], s[7], h);
      const int32_t edge = static_cast<int32_t>(w) - right;
      if (X11Rect{edge, y, right, height}.intersects(monitor) && edge < trimmed.right()) {
        trimmed.width = edge - trimmed.x;
      }
    }
    if (top > 0) {
      auto [x, width] = span(s[8], s[9], w);
      if (X11Rect{x, 0, width, top}.intersects(monitor) && top > trimmed.y) {
        trimmed.height = trimmed.bottom() - top;
        trimmed.y = top;
      }
    }
    if (bottom > 0) {
      auto [x, width] = span(s[10], s[11], w);
      const int32_t edge = static_cast<int32_t>(h) - bottom;
      if (X11Rect{x, edge, width, bottom}.intersects(monitor) && edge < trimmed.bottom()) {
        trimmed.height = edge - trimmed.y;
      }
    }
    if (!trimmed.isEmpty()) free = trimmed;
  }
  return free;
}

std::vector<X11Monitor> X11DisplayReader::monitorFrames() {
  std::vector<X11Monitor> result;
  const std::vector<RawMonitor> raw = rawMonitors();
  X11Rect origin;
  for (const RawMonitor& m : raw) {
    if (m.primary) origin = m.frame;
  }
  for (const RawMonitor& m : raw) {
    const X11Rect frame = m.frame.offsetBy(-origin.x, -origin.y);
    result.push_back(X11Monitor{m.name, frame, frame, m.primary});
  }
  return result;
}

X11DisplayReader::ReservedArea X11DisplayReader::reservedArea() {
  ReservedArea reserved;
  reserved.struts = dockStruts();
  if (reserved.struts.empty()) reserved.workArea = currentWorkArea();
  return reserved;
}

std::vector<X11Monitor> X11DisplayReader::monitors() { return monitors(reservedArea()); }

std::vector<X11Monitor> X11DisplayReader::monitors(const ReservedArea& reserved) {
  std::vector<X11Monitor> result;
  const std::vector<RawMonitor> raw = rawMonitors();
  if (raw.empty()) return result;
  X11Rect origin;
  for (const RawMonitor& m : raw) {
    if (m.primary) origin = m.frame;
  }
  const std::vector<std::vector<uint32_t>>& struts = reserved.struts;
  std::optional<X11Rect> workArea;
  if (struts.empty() && raw.size() == 1) workArea = reserved.workArea;
  const int32_t rootWidth = connection_.screen()->width_in_pixels;
  const int32_t rootHeight = connection_.screen()->height_in_pixels;
  for (const RawMonitor& m : raw) {
    X11Rect visible = m.frame;
    if (!struts.empty()) {
      visible = trimByStruts(m.frame, struts, rootWidth, rootHeight);
    } else if (workArea) {
      // Without struts to go by, a single monitor takes the window manager's work area (which may
      // hold margins of its own). With several monitors the work area spans them all and says
      // nothing about any one.
      const X11Rect overlap = m.frame.intersection(*workArea);
      if (!overlap.isEmpty()) visible = overlap;
    }
    result.push_back(X11Monitor{m.name, m.frame.offsetBy(-origin.x, -origin.y),
                                visible.offsetBy(-origin.x, -origin.y), m.primary});
  }
  return result;
}

}  // namespace quorvel
