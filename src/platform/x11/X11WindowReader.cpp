#include "platform/x11/X11WindowReader.h"

#include <xcb/res.h>

#include <algorithm>
#include <unordered_set>

#include "base/Logger.h"
#include "platform/x11/X11Connection.h"
#include "platform/x11/X11DisplayReader.h"
#include "platform/x11/X11Text.h"

namespace quorvel {

namespace {

const Logger& log() {
  // Never destroyed: threads still running as the process ends may log.
  static const Logger& logger = *new Logger("X11WindowReader");
  return logger;
}

// All requests about one window, sent before any reply is taken.
struct Pending {
  uint32_t window = 0;
  xcb_get_window_attributes_cookie_t attributes;
  xcb_get_geometry_cookie_t geometry;
  xcb_translate_coordinates_cookie_t position;
  xcb_query_tree_cookie_t tree;
  xcb_get_property_cookie_t netName;
  xcb_get_property_cookie_t name;
  xcb_get_property_cookie_t wmClass;
  xcb_get_property_cookie_t pid;
  xcb_get_property_cookie_t extents;
  xcb_get_property_cookie_t shadow;
  xcb_get_property_cookie_t state;
  xcb_get_property_cookie_t type;
  xcb_get_property_cookie_t desktop;
  xcb_get_property_cookie_t transientFor;
};

int32_t clampTo(int64_t value, int64_t low, int64_t high) {
  return static_cast<int32_t>(std::clamp(value, low, high));
}

std::string legacyTitle(X11Connection& connection, const X11Connection::Property& p) {
  if (p.format != 8) return {};
  const uint8_t* data = p.bytes.data();
  const size_t size = p.bytes.size();
  if (p.type == XCB_ATOM_STRING) return X11Text::fromLatin1(data, size);
  if (p.type == connection.ewmh()->UTF8_STRING) return X11Text::fromUtf8(data, size, p.truncated);
  if (p.type == connection.atom("COMPOUND_TEXT")) return X11Text::fromCompoundText(data, size);
  // Some other encoding: take it as UTF-8 when it is, else as ISO 8859-1.
  if (X11Text::isValidUtf8(data, size)) return X11Text::fromUtf8(data, size, p.truncated);
  return X11Text::fromLatin1(data, size);
}

}  // namespace

X11WindowReader::X11WindowReader(X11Connection& connection, X11DisplayReader& displays)
    : connection_(connection), displays_(displays) {}

std::vector<uint32_t> X11WindowReader::rootWindows(uint32_t property, bool reversed) {
  // One item more than the bound is asked for, so that a longer list shows as cut.
  auto value = connection_.property(connection_.root(), property, XCB_ATOM_WINDOW, kMaxListedWindows + 1);
  ListMemo& memo = lists_[property];
  if (!value) {
    memo = ListMemo{};
    return {};
  }
  std::vector<uint32_t> windows = value->values32();
  const bool cut = value->truncated || windows.size() > kMaxListedWindows;
  if (windows.size() > kMaxListedWindows) windows.resize(kMaxListedWindows);
  if (cut && !memo.reportedCut) {
    log().error("The root window's list %{public}s names more than %u windows; only the first %u are read.",
                connection_.atomName(property), kMaxListedWindows, kMaxListedWindows);
  }
  memo.reportedCut = cut;

  if (windows != memo.raw) {
    // The list changed: every id in it is looked at afresh, and what is gone from it is forgotten.
    memo.notWindows.clear();
    std::unordered_set<uint32_t> present(windows.begin(), windows.end());
    std::erase_if(memo.windows, [&](uint32_t window) { return !present.contains(window); });
    memo.raw = windows;
  }
  if (reversed) std::reverse(windows.begin(), windows.end());
  // Any client may write these lists: a window named twice keeps its first place, and 0 names none.
  std::unordered_set<uint32_t> seen;
  std::erase_if(windows, [&](uint32_t window) { return window == 0 || !seen.insert(window).second; });
  return windows;
}

std::vector<uint32_t> X11WindowReader::listedWindows(uint32_t property, bool reversed) {
  std::vector<uint32_t> windows = rootWindows(property, reversed);
  ListMemo& memo = lists_[property];
  std::erase_if(windows, [&](uint32_t window) { return memo.notWindows.contains(window); });

  // Ids not met before: one request each, all sent before any reply is taken.
  std::vector<std::pair<uint32_t, xcb_get_geometry_cookie_t>> probes;
  for (uint32_t window : windows) {
    if (!memo.windows.contains(window)) probes.emplace_back(window, connection_.counted(xcb_get_geometry(connection_.xcb(), window)));
  }
  const uint32_t root = connection_.root();
  for (const auto& [window, cookie] : probes) {
    auto geometry = connection_.reply(xcb_get_geometry_reply, cookie);
    if (geometry && geometry->root == root) {
      memo.windows.insert(window);
    } else if (!connection_.isBroken()) {
      memo.notWindows.insert(window);
    }
  }
  std::erase_if(windows, [&](uint32_t window) { return memo.notWindows.contains(window); });
  return windows;
}

std::vector<uint32_t> X11WindowReader::managedClients() {
  return listedWindows(connection_.ewmh()->_NET_CLIENT_LIST, false);
}

std::vector<uint32_t> X11WindowReader::managedFrontToBack() {
  return listedWindows(connection_.ewmh()->_NET_CLIENT_LIST_STACKING, true);
}

std::vector<uint32_t> X11WindowReader::clientList() { return rootWindows(connection_.ewmh()->_NET_CLIENT_LIST, false); }

std::vector<uint32_t> X11WindowReader::frontToBack() {
  return rootWindows(connection_.ewmh()->_NET_CLIENT_LIST_STACKING, true);
}

std::vector<X11Window> X11WindowReader::readAll() {
  std::vector<uint32_t> order = listedWindows(connection_.ewmh()->_NET_CLIENT_LIST_STACKING, true);
  std::unordered_set<uint32_t> seen(order.begin(), order.end());
  for (uint32_t window : listedWindows(connection_.ewmh()->_NET_CLIENT_LIST, false)) {
    if (seen.insert(window).second) order.push_back(window);
  }
  return read(order);
}

std::vector<X11Window> X11WindowReader::readClients() {
  return read(listedWindows(connection_.ewmh()->_NET_CLIENT_LIST, false));
}

std::optional<X11Window> X11WindowReader::read(uint32_t window) {
  std::vector<X11Window> windows = read(std::vector<uint32_t>{window});
  if (windows.empty()) return std::nullopt;
  return std::move(windows.front());
}

std::vector<X11Window> X11WindowReader::read(const std::vector<uint32_t>& windows) {
  if (windows.empty() || connection_.isBroken()) return {};
  return read(windows, displays_.primaryRootFrame().value_or(X11Rect{}));
}

std::vector<X11Window> X11WindowReader::read(const std::vector<uint32_t>& windows, const X11Rect& origin) {
  std::vector<X11Window> result;
  if (windows.empty() || connection_.isBroken()) return result;

  xcb_connection_t* c = connection_.xcb();
  xcb_ewmh_connection_t* ewmh = connection_.ewmh();
  const uint32_t root = connection_.root();
  const uint32_t shadowAtom = connection_.atom("_GTK_FRAME_EXTENTS");
  std::vector<Pending> pending;
  pending.reserve(windows.size());
  for (uint32_t window : windows) {
    Pending p;
    p.window = window;
    p.netName = connection_.requestProperty(window, ewmh->_NET_WM_NAME, ewmh->UTF8_STRING, 4096);
    p.name = connection_.requestProperty(window, XCB_ATOM_WM_NAME, 0, 4096);
    p.wmClass = connection_.requestProperty(window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 1024);
    p.pid = connection_.requestProperty(window, ewmh->_NET_WM_PID, XCB_ATOM_CARDINAL, 1);
    p.extents = connection_.requestProperty(window, ewmh->_NET_FRAME_EXTENTS, XCB_ATOM_CARDINAL, 4);
    p.shadow = connection_.requestProperty(window, shadowAtom, XCB_ATOM_CARDINAL, 4);
    p.state = connection_.requestProperty(window, ewmh->_NET_WM_STATE, XCB_ATOM_ATOM, 64);
    p.type = connection_.requestProperty(window, ewmh->_NET_WM_WINDOW_TYPE, XCB_ATOM_ATOM, 64);
    p.desktop = connection_.requestProperty(window, ewmh->_NET_WM_DESKTOP, XCB_ATOM_CARDINAL, 1);
    p.transientFor = connection_.requestProperty(window, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, 1);
    // The window's own requests come last: the server handles one client's requests in order, so
    // when these find the window, it was there for every property read before them. A window
    // destroyed in the middle is left out rather than read half (no title, no class, no process).
    p.attributes = connection_.counted(xcb_get_window_attributes(c, window));
    p.geometry = connection_.counted(xcb_get_geometry(c, window));
    p.position = connection_.counted(xcb_translate_coordinates(c, window, root, 0, 0));
    p.tree = connection_.counted(xcb_query_tree(c, window));
    pending.push_back(p);
  }

  const std::pair<uint32_t, X11Window::Type> typeAtoms[] = {
      {ewmh->_NET_WM_WINDOW_TYPE_NORMAL, X11Window::Type::normal},
      {ewmh->_NET_WM_WINDOW_TYPE_DIALOG, X11Window::Type::dialog},
      {ewmh->_NET_WM_WINDOW_TYPE_UTILITY, X11Window::Type::utility},
      {ewmh->_NET_WM_WINDOW_TYPE_TOOLBAR, X11Window::Type::toolbar},
      {ewmh->_NET_WM_WINDOW_TYPE_SPLASH, X11Window::Type::splash},
      {ewmh->_NET_WM_WINDOW_TYPE_MENU, X11Window::Type::menu},
      {ewmh->_NET_WM_WINDOW_TYPE_DROPDOWN_MENU, X11Window::Type::dropdownMenu},
      {ewmh->_NET_WM_WINDOW_TYPE_POPUP_MENU, X11Window::Type::popupMenu},
      {ewmh->_NET_WM_WINDOW_TYPE_TOOLTIP, X11Window::Type::tooltip},
      {ewmh->_NET_WM_WINDOW_TYPE_NOTIFICATION, X11Window::Type::notification},
      {ewmh->_NET_WM_WINDOW_TYPE_COMBO, X11Window::Type::combo},
      {ewmh->_NET_WM_WINDOW_TYPE_DND, X11Window::Type::dnd},
      {ewmh->_NET_WM_WINDOW_TYPE_DOCK, X11Window::Type::dock},
      {ewmh->_NET_WM_WINDOW_TYPE_DESKTOP, X11Window::Type::desktop},
  };

  std::vector<Framed> framed;
  std::vector<std::vector<uint32_t>> shadows;  // one per read window
  for (Pending& p : pending) {
    // Every reply is taken, also for a window found gone, so that none is left waiting.
    auto netName = connection_.takeProperty(p.netName, ewmh->UTF8_STRING);
    auto name = connection_.takeProperty(p.name);
    auto wmClass = connection_.takeProperty(p.wmClass, XCB_ATOM_STRING);
    auto pid = connection_.takeProperty(p.pid, XCB_ATOM_CARDINAL);
    auto extents = connection_.takeProperty(p.extents, XCB_ATOM_CARDINAL);
    auto shadow = connection_.takeProperty(p.shadow, XCB_ATOM_CARDINAL);
    auto state = connection_.takeProperty(p.state, XCB_ATOM_ATOM);
    auto type = connection_.takeProperty(p.type, XCB_ATOM_ATOM);
    auto desktop = connection_.takeProperty(p.desktop, XCB_ATOM_CARDINAL);
    auto transientFor = connection_.takeProperty(p.transientFor, XCB_ATOM_WINDOW);
    auto attributes = connection_.reply(xcb_get_window_attributes_reply, p.attributes);
    auto geometry = connection_.reply(xcb_get_geometry_reply, p.geometry);
    auto position = connection_.reply(xcb_translate_coordinates_reply, p.position);
    auto tree = connection_.reply(xcb_query_tree_reply, p.tree);
    if (!attributes || !geometry || !position) continue;

    X11Window w;
    w.id = p.window;
    if (netName && netName->format == 8) {
      w.title = X11Text::fromUtf8(netName->bytes.data(), netName->bytes.size(), netName->truncated);
    }
    if (w.title.empty() && name) w.title = legacyTitle(connection_, *name);
    if (wmClass && wmClass->format == 8) {
      std::vector<std::string> parts = X11Text::latin1List(wmClass->bytes.data(), wmClass->bytes.size());
      if (!parts.empty()) w.instanceName = parts[0];
      if (parts.size() > 1) w.className = parts[1];
    }
    if (auto value = pid ? pid->firstValue32() : std::nullopt; value && *value > 0 && *value <= INT32_MAX) {
      w.pid = static_cast<int32_t>(*value);
    }

    // The client's own rectangle in root coordinates (outside its border), grown by the frame the
    // window manager drew around it, then moved into global coordinates.
    const int64_t border = geometry->border_width;
    int64_t x = int64_t{position->dst_x} - border;
    int64_t y = int64_t{position->dst_y} - border;
    int64_t width = int64_t{geometry->width} + 2 * border;
    int64_t height = int64_t{geometry->height} + 2 * border;
    const std::vector<uint32_t> frame = extents ? extents->values32() : std::vector<uint32_t>{};
    if (frame.size() < 4 && tree && tree->parent != root && tree->parent != XCB_WINDOW_NONE) {
      // No extents (i3 sets none): the frame window the manager put the client in is the frame.
      framed.push_back(Framed{result.size(), tree->parent});
    }
    if (frame.size() >= 4) {
      const int64_t left = std::min<uint32_t>(frame[0], UINT16_MAX), right = std::min<uint32_t>(frame[1], UINT16_MAX);
      const int64_t top = std::min<uint32_t>(frame[2], UINT16_MAX), bottom = std::min<uint32_t>(frame[3], UINT16_MAX);
      x -= left;
      y -= top;
      width += left + right;
      height += top + bottom;
    }
    w.frame = X11Rect{clampTo(x - origin.x, INT32_MIN / 2, INT32_MAX / 2), clampTo(y - origin.y, INT32_MIN / 2, INT32_MAX / 2),
                      clampTo(width, 0, INT32_MAX / 2), clampTo(height, 0, INT32_MAX / 2)};

    if (auto value = desktop ? desktop->firstValue32() : std::nullopt) {
      if (*value == 0xFFFFFFFFu) {
        w.onAllDesktops = true;
      } else {
        w.desktop = *value;
      }
    }
    w.isViewable = attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    if (auto value = transientFor ? transientFor->firstValue32() : std::nullopt) w.transientFor = *value;

    bool typed = false;
    for (uint32_t atom : type ? type->values32() : std::vector<uint32_t>{}) {
      for (const auto& [known, kind] : typeAtoms) {
        if (atom == known) {
          w.type = kind;
          typed = true;
          break;
        }
      }
      if (typed) break;
    }
    if (!typed) w.type = w.transientFor != 0 ? X11Window::Type::dialog : X11Window::Type::normal;
    w.layer = X11Window::layerOf(w.type);

    bool maximizedVertically = false, maximizedHorizontally = false;
    for (uint32_t atom : state ? state->values32() : std::vector<uint32_t>{}) {
      if (atom == 0) continue;
      if (atom == ewmh->_NET_WM_STATE_HIDDEN) w.minimized = true;
      else if (atom == ewmh->_NET_WM_STATE_SKIP_TASKBAR) w.skipTaskbar = true;
      else if (atom == ewmh->_NET_WM_STATE_SKIP_PAGER) w.skipPager = true;
      else if (atom == ewmh->_NET_WM_STATE_FULLSCREEN) w.fullscreen = true;
      else if (atom == ewmh->_NET_WM_STATE_ABOVE) w.above = true;
      else if (atom == ewmh->_NET_WM_STATE_BELOW) w.below = true;
      else if (atom == ewmh->_NET_WM_STATE_MODAL) w.modal = true;
      else if (atom == ewmh->_NET_WM_STATE_MAXIMIZED_VERT) maximizedVertically = true;
      else if (atom == ewmh->_NET_WM_STATE_MAXIMIZED_HORZ) maximizedHorizontally = true;
      else if (atom == ewmh->_NET_WM_STATE_SHADED) w.shaded = true;
      else if (atom == ewmh->_NET_WM_STATE_DEMANDS_ATTENTION) w.demandsAttention = true;
    }
    w.maximized = maximizedVertically && maximizedHorizontally;
    shadows.push_back(shadow ? shadow->values32() : std::vector<uint32_t>{});
    result.push_back(std::move(w));
  }
  readFrameWindows(result, framed, origin);
  for (size_t i = 0; i < result.size(); ++i) {
    X11Window& w = result[i];
    w.visibleFrame = w.frame;
    const std::vector<uint32_t>& sides = shadows[i];  // left, right, top, bottom
    if (sides.size() < 4) continue;
    const int64_t left = std::min<uint32_t>(sides[0], UINT16_MAX), right = std::min<uint32_t>(sides[1], UINT16_MAX);
    const int64_t top = std::min<uint32_t>(sides[2], UINT16_MAX), bottom = std::min<uint32_t>(sides[3], UINT16_MAX);
    const int64_t width = int64_t{w.frame.width} - left - right, height = int64_t{w.frame.height} - top - bottom;
    if (width < 1 || height < 1) continue;
    w.visibleFrame = X11Rect{static_cast<int32_t>(w.frame.x + left), static_cast<int32_t>(w.frame.y + top),
                             static_cast<int32_t>(width), static_cast<int32_t>(height)};
  }
  fillProcessIds(result);
  return result;
}

void X11WindowReader::readFrameWindows(std::vector<X11Window>& windows, const std::vector<Framed>& framed,
                                       const X11Rect& origin) {
  if (framed.empty()) return;
  xcb_connection_t* c = connection_.xcb();
  const uint32_t root = connection_.root();
  struct Asked {
    xcb_get_geometry_cookie_t geometry;
    xcb_translate_coordinates_cookie_t position;
  };
  std::vector<Asked> asked;
  asked.reserve(framed.size());
  for (const Framed& f : framed) {
    asked.push_back(Asked{connection_.counted(xcb_get_geometry(c, f.frameWindow)),
                          connection_.counted(xcb_translate_coordinates(c, f.frameWindow, root, 0, 0))});
  }
  for (size_t i = 0; i < framed.size(); ++i) {
    auto geometry = connection_.reply(xcb_get_geometry_reply, asked[i].geometry);
    auto position = connection_.reply(xcb_translate_coordinates_reply, asked[i].position);
    // A frame window gone meanwhile leaves the client's own rectangle.
    if (!geometry || !position) continue;
    const int64_t border = geometry->border_width;
    const int64_t x = int64_t{position->dst_x} - border - origin.x;
    const int64_t y = int64_t{position->dst_y} - border - origin.y;
    windows[framed[i].index].frame =
        X11Rect{clampTo(x, INT32_MIN / 2, INT32_MAX / 2), clampTo(y, INT32_MIN / 2, INT32_MAX / 2),
                clampTo(int64_t{geometry->width} + 2 * border, 0, INT32_MAX / 2),
                clampTo(int64_t{geometry->height} + 2 * border, 0, INT32_MAX / 2)};
  }
}

bool X11WindowReader::hasClientIds() {
  if (clientIds_) return *clientIds_;
  bool available = false;
  const xcb_query_extension_reply_t* extension = xcb_get_extension_data(connection_.xcb(), &xcb_res_id);
  if (extension && extension->present) {
    auto version = connection_.reply(xcb_res_query_version_reply, xcb_res_query_version(connection_.xcb(), 1, 2));
    available = version && (version->server_major > 1 || version->server_minor >= 2);
  }
  if (!connection_.isBroken()) clientIds_ = available;
  return available;
}

void X11WindowReader::fillProcessIds(std::vector<X11Window>& windows) {
  std::vector<size_t> missing;
  for (size_t i = 0; i < windows.size(); ++i) {
    if (!windows[i].pid) missing.push_back(i);
  }
  if (missing.empty() || !hasClientIds()) return;
  std::vector<xcb_res_query_client_ids_cookie_t> cookies;
  cookies.reserve(missing.size());
  for (size_t i : missing) {
    xcb_res_client_id_spec_t spec{windows[i].id, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
    cookies.push_back(connection_.counted(xcb_res_query_client_ids(connection_.xcb(), 1, &spec)));
  }
  for (size_t k = 0; k < missing.size(); ++k) {
    auto reply = connection_.reply(xcb_res_query_client_ids_reply, cookies[k]);
    if (!reply) continue;
    for (auto it = xcb_res_query_client_ids_ids_iterator(reply.get()); it.rem > 0; xcb_res_client_id_value_next(&it)) {
      if (!(it.data->spec.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID)) continue;
      if (xcb_res_client_id_value_value_length(it.data) < 1) continue;
      const uint32_t pid = *xcb_res_client_id_value_value(it.data);
      if (pid > 0 && pid <= INT32_MAX) windows[missing[k]].pid = static_cast<int32_t>(pid);
      break;
    }
  }
}

}  // namespace quorvel
