#include "gpu/x11/X11ArgbWindow.h"

#include <xcb/randr.h>

#include <cstdlib>
#include <cstring>

namespace quorvel {
namespace {

xcb_atom_t internAtom(xcb_connection_t* c, const char* name) {
  auto* reply = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
  if (!reply) return 0;
  const xcb_atom_t atom = reply->atom;
  std::free(reply);
  return atom;
}

// The rate of a mode in frames a second; 0 when the mode does not say.
double modeRate(const xcb_randr_mode_info_t& mode) {
  double vtotal = mode.vtotal;
  if (mode.mode_flags & XCB_RANDR_MODE_FLAG_DOUBLE_SCAN) vtotal *= 2;
  if (mode.mode_flags & XCB_RANDR_MODE_FLAG_INTERLACE) vtotal /= 2;
  if (mode.dot_clock == 0 || mode.htotal == 0 || vtotal <= 0) return 0;
  return static_cast<double>(mode.dot_clock) / (mode.htotal * vtotal);
}

}  // namespace

std::unique_ptr<X11ArgbWindow> X11ArgbWindow::open(const std::string& display, const Options& options,
                                                   std::string* error) {
  auto fail = [&](const std::string& why) -> std::unique_ptr<X11ArgbWindow> {
    if (error) *error = why;
    return nullptr;
  };
  std::unique_ptr<X11ArgbWindow> w(new X11ArgbWindow());
  w->connection_ = xcb_connect(display.empty() ? nullptr : display.c_str(), nullptr);
  if (!w->connection_ || xcb_connection_has_error(w->connection_)) return fail("cannot open the X display");
  xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(w->connection_)).data;
  if (!screen) return fail("the X display has no screen");
  xcb_visualid_t visual = 0;
  for (auto depths = xcb_screen_allowed_depths_iterator(screen); depths.rem && !visual; xcb_depth_next(&depths)) {
    if (depths.data->depth != 32) continue;
    for (auto v = xcb_depth_visuals_iterator(depths.data); v.rem; xcb_visualtype_next(&v)) {
      if (v.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR) {
        visual = v.data->visual_id;
        break;
      }
    }
  }
  if (!visual) return fail("the X display has no 32-bit true-colour visual");
  w->colormap_ = xcb_generate_id(w->connection_);
  xcb_create_colormap(w->connection_, XCB_COLORMAP_ALLOC_NONE, w->colormap_, screen->root, visual);
  w->window_ = xcb_generate_id(w->connection_);
  w->frame_ = options.frame;
  w->size_ = {options.frame.width, options.frame.height};
  const uint32_t mask = XCB_CW_BACK_PIXEL | XCB_CW_BORDER_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK |
                        XCB_CW_COLORMAP;
  uint32_t events = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_EXPOSURE;
  if (options.input) {
    events |= XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE | XCB_EVENT_MASK_POINTER_MOTION |
              XCB_EVENT_MASK_KEY_PRESS;
  }
  const uint32_t values[] = {0, 0, options.overrideRedirect ? 1u : 0u, events, w->colormap_};
  auto cookie = xcb_create_window_checked(
      w->connection_, 32, w->window_, screen->root, static_cast<int16_t>(options.frame.x),
      static_cast<int16_t>(options.frame.y), static_cast<uint16_t>(std::max(1.0, options.frame.width)),
      static_cast<uint16_t>(std::max(1.0, options.frame.height)), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, visual, mask,
      values);
  if (xcb_generic_error_t* e = xcb_request_check(w->connection_, cookie)) {
    std::free(e);
    w->window_ = 0;
    return fail("the X server refused the window");
  }
  xcb_change_property(w->connection_, XCB_PROP_MODE_REPLACE, w->window_, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                      static_cast<uint32_t>(options.title.size()), options.title.data());
  const xcb_atom_t protocols = internAtom(w->connection_, "WM_PROTOCOLS");
  w->deleteAtom_ = internAtom(w->connection_, "WM_DELETE_WINDOW");
  if (protocols && w->deleteAtom_)
    xcb_change_property(w->connection_, XCB_PROP_MODE_REPLACE, w->window_, protocols, XCB_ATOM_ATOM, 32, 1,
                        &w->deleteAtom_);
  xcb_flush(w->connection_);
  return w;
}

X11ArgbWindow::~X11ArgbWindow() {
  if (!connection_) return;
  if (window_) xcb_destroy_window(connection_, window_);
  if (colormap_) xcb_free_colormap(connection_, colormap_);
  xcb_flush(connection_);
  xcb_disconnect(connection_);
}

void X11ArgbWindow::show() {
  xcb_map_window(connection_, window_);
  xcb_flush(connection_);
  mapped_ = true;
}

void X11ArgbWindow::hide() {
  xcb_unmap_window(connection_, window_);
  xcb_flush(connection_);
  mapped_ = false;
}

std::optional<Size> X11ArgbWindow::pollEvents(const std::function<void(const xcb_generic_event_t&)>& input) {
  std::optional<Size> resized;
  if (xcb_connection_has_error(connection_)) {
    closeRequested_ = true;
    return std::nullopt;
  }
  while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
    switch (event->response_type & 0x7f) {
      case XCB_CONFIGURE_NOTIFY: {
        auto* e = reinterpret_cast<xcb_configure_notify_event_t*>(event);
        if (e->window == window_ && (e->width != size_.width || e->height != size_.height)) {
          size_ = {static_cast<double>(e->width), static_cast<double>(e->height)};
          resized = size_;
        }
        if (e->window == window_) frame_ = {double(e->x), double(e->y), double(e->width), double(e->height)};
        break;
      }
      case XCB_CLIENT_MESSAGE: {
        auto* e = reinterpret_cast<xcb_client_message_event_t*>(event);
        if (e->format == 32 && e->data.data32[0] == deleteAtom_) closeRequested_ = true;
        break;
      }
      case XCB_BUTTON_PRESS:
      case XCB_BUTTON_RELEASE:
      case XCB_MOTION_NOTIFY:
      case XCB_KEY_PRESS:
        if (input) input(*event);
        break;
      default:
        break;
    }
    std::free(event);
  }
  return resized;
}

double X11ArgbWindow::refreshRate() const {
  constexpr double kUnknown = 60;
  xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
  auto* resources = xcb_randr_get_screen_resources_current_reply(
      connection_, xcb_randr_get_screen_resources_current(connection_, screen->root), nullptr);
  if (!resources) return kUnknown;
  const double cx = frame_.x + frame_.width / 2, cy = frame_.y + frame_.height / 2;
  const xcb_randr_crtc_t* crtcs = xcb_randr_get_screen_resources_current_crtcs(resources);
  const int crtcCount = xcb_randr_get_screen_resources_current_crtcs_length(resources);
  const xcb_randr_mode_info_t* modes = xcb_randr_get_screen_resources_current_modes(resources);
  const int modeCount = xcb_randr_get_screen_resources_current_modes_length(resources);
  double best = 0, any = 0;
  for (int i = 0; i < crtcCount; ++i) {
    auto* info = xcb_randr_get_crtc_info_reply(
        connection_, xcb_randr_get_crtc_info(connection_, crtcs[i], resources->config_timestamp), nullptr);
    if (!info) continue;
    double rate = 0;
    for (int m = 0; m < modeCount && info->mode; ++m)
      if (modes[m].id == info->mode) rate = modeRate(modes[m]);
    const bool under = cx >= info->x && cx < info->x + info->width && cy >= info->y && cy < info->y + info->height;
    if (under) best = std::max(best, rate);
    any = std::max(any, rate);
    std::free(info);
  }
  std::free(resources);
  if (best > 0) return best;
  return any > 0 ? any : kUnknown;
}

}  // namespace quorvel
