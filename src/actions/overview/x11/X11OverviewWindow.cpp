#include "actions/overview/x11/X11OverviewWindow.h"

#include <xcb/xcb.h>

#include <cstdlib>

#include "gpu/vulkan/VulkanDevice.h"
#include "gpu/x11/VulkanWindowSurface.h"
#include "gpu/x11/X11ArgbWindow.h"

namespace quorvel {

namespace {

constexpr uint32_t kEscapeKeysym = 0xff1b;
constexpr uint8_t kLeftButton = 1;

// The key codes whose keys give Escape on the current keyboard map.
std::vector<uint8_t> escapeKeycodes(xcb_connection_t* c) {
  const xcb_setup_t* setup = xcb_get_setup(c);
  const uint8_t first = setup->min_keycode;
  const uint8_t count = static_cast<uint8_t>(setup->max_keycode - setup->min_keycode + 1);
  std::vector<uint8_t> codes;
  auto* reply = xcb_get_keyboard_mapping_reply(c, xcb_get_keyboard_mapping(c, first, count), nullptr);
  if (!reply) return codes;
  const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(reply);
  const int perCode = reply->keysyms_per_keycode;
  const int length = xcb_get_keyboard_mapping_keysyms_length(reply);
  for (int i = 0; perCode > 0 && i < length; ++i) {
    if (syms[i] == kEscapeKeysym) codes.push_back(static_cast<uint8_t>(first + i / perCode));
  }
  std::free(reply);
  return codes;
}

}  // namespace

std::unique_ptr<X11OverviewWindow> X11OverviewWindow::open(const std::string& display, Rect frame,
                                                           std::shared_ptr<VulkanDevice> device, std::string* error) {
  std::unique_ptr<X11OverviewWindow> w(new X11OverviewWindow());
  X11ArgbWindow::Options options;
  options.title = "Quorvel desktops";
  options.frame = frame;
  options.overrideRedirect = true;
  options.input = true;
  w->window_ = X11ArgbWindow::open(display, options, error);
  if (!w->window_) return nullptr;
  w->surface_ = VulkanWindowSurface::make(std::move(device), w->window_->connection(), w->window_->window(),
                                          "Quorvel overview", error);
  if (!w->surface_) return nullptr;
  w->surface_->setBounds({frame.width, frame.height});
  w->surface_->setContentsScale(1);
  w->surface_->setDrawableSize(static_cast<uint32_t>(frame.width), static_cast<uint32_t>(frame.height));
  w->escapeKeycodes_ = escapeKeycodes(w->window_->connection());
  return w;
}

X11OverviewWindow::~X11OverviewWindow() {
  surface_.reset();  // before the window it draws into
}

GpuSurface& X11OverviewWindow::surface() { return *surface_; }

uint32_t X11OverviewWindow::xWindow() const { return window_->window(); }

void X11OverviewWindow::pump() {
  const std::optional<Size> resized = window_->pollEvents([this](const xcb_generic_event_t& e) { handle(e); });
  if (!resized) return;
  surface_->setBounds(*resized);
  surface_->setDrawableSize(static_cast<uint32_t>(resized->width), static_cast<uint32_t>(resized->height));
  if (onGeometryChange) onGeometryChange();
}

void X11OverviewWindow::handle(const xcb_generic_event_t& event) {
  switch (event.response_type & 0x7f) {
    case XCB_BUTTON_PRESS: {
      const auto& e = reinterpret_cast<const xcb_button_press_event_t&>(event);
      if (e.detail == kLeftButton) pointer_.mouseDown({double(e.event_x), double(e.event_y)});
      break;
    }
    case XCB_BUTTON_RELEASE: {
      const auto& e = reinterpret_cast<const xcb_button_release_event_t&>(event);
      if (e.detail == kLeftButton) pointer_.mouseUp({double(e.event_x), double(e.event_y)});
      break;
    }
    case XCB_MOTION_NOTIFY: {
      const auto& e = reinterpret_cast<const xcb_motion_notify_event_t&>(event);
      const Point p{double(e.event_x), double(e.event_y)};
      if (e.state & XCB_BUTTON_MASK_1) {
        pointer_.mouseDragged(p);
      } else {
        pointer_.mouseMoved(p);
      }
      break;
    }
    case XCB_KEY_PRESS: {
      const auto& e = reinterpret_cast<const xcb_key_press_event_t&>(event);
      bool escape = false;
      for (uint8_t code : escapeKeycodes_) escape = escape || code == e.detail;
      pointer_.keyDown(escape);
      break;
    }
    default:
      break;
  }
}

bool X11OverviewWindow::isVisible() const { return window_->isMapped(); }

Size X11OverviewWindow::canvasSize() const { return window_->size(); }

void X11OverviewWindow::show() {
  window_->show();
  // An override-redirect window is given the keyboard by no window manager: it takes the focus.
  xcb_set_input_focus(window_->connection(), XCB_INPUT_FOCUS_POINTER_ROOT, window_->window(), XCB_CURRENT_TIME);
  xcb_flush(window_->connection());
}

void X11OverviewWindow::orderOut() { window_->hide(); }

void X11OverviewWindow::beep() {
  xcb_bell(window_->connection(), 0);
  xcb_flush(window_->connection());
}

}  // namespace quorvel
