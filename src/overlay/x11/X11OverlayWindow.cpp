#include "overlay/x11/X11OverlayWindow.h"

#include <unistd.h>
#include <xcb/shape.h>
// xcb's XKB header names a field `explicit`, which C++ reserves.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon-compose.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "overlay/OverlayContentView.h"
#include "platform/x11/X11KeyCodes.h"

namespace quorvel {

namespace {

// The version of the drag-and-drop protocol the window speaks.
constexpr uint32_t kDndVersion = 5;

constexpr uint32_t kEventMask = XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_KEY_RELEASE | XCB_EVENT_MASK_BUTTON_PRESS |
                                XCB_EVENT_MASK_BUTTON_RELEASE | XCB_EVENT_MASK_POINTER_MOTION |
                                XCB_EVENT_MASK_LEAVE_WINDOW | XCB_EVENT_MASK_FOCUS_CHANGE |
                                XCB_EVENT_MASK_STRUCTURE_NOTIFY;

// A 32-bit TrueColor visual of the screen (the ARGB visual); 0 when there is none.
xcb_visualid_t argbVisual(xcb_screen_t* screen) {
  for (auto depths = xcb_screen_allowed_depths_iterator(screen); depths.rem; xcb_depth_next(&depths)) {
    if (depths.data->depth != 32) continue;
    for (auto visuals = xcb_depth_visuals_iterator(depths.data); visuals.rem; xcb_visualtype_next(&visuals)) {
      if (visuals.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR) return visuals.data->visual_id;
    }
  }
  return 0;
}

}  // namespace

std::unique_ptr<X11OverlayWindow> X11OverlayWindow::open(const std::string& display, const Rect& monitor,
                                                         Executor& main, std::string* error) {
  auto x = X11Connection::open(display);
  if (!x) {
    if (error) *error = "cannot connect to the X server";
    return nullptr;
  }
  std::unique_ptr<X11OverlayWindow> window(new X11OverlayWindow(std::move(x), monitor, main));
  if (!window->make(error)) return nullptr;
  return window;
}

X11OverlayWindow::X11OverlayWindow(std::unique_ptr<X11Connection> x, const Rect& monitor, Executor& main)
    : x_(std::move(x)), monitor_(monitor), main_(main), scrolls_(main, [this](const OverlayScrollEvent& event) {
        if (view_) view_->scrollWheel(event);
      }) {}

X11OverlayWindow::~X11OverlayWindow() {
  if (pumpTimer_) main_.cancel(*pumpTimer_);
  releaseKeyboard();
  scrolls_.reset();
  if (compose_) xkb_compose_state_unref(compose_);
  if (xkbState_) xkb_state_unref(xkbState_);
  if (keymap_) xkb_keymap_unref(keymap_);
  if (xkbContext_) xkb_context_unref(xkbContext_);
  if (gc_) xcb_free_gc(x_->xcb(), gc_);
  if (window_) xcb_destroy_window(x_->xcb(), window_);
  if (colormap_) xcb_free_colormap(x_->xcb(), colormap_);
  x_->flush();
}

bool X11OverlayWindow::make(std::string* error) {
  xcb_connection_t* c = x_->xcb();
  xcb_screen_t* screen = x_->screen();
  const xcb_visualid_t visual = argbVisual(screen);
  if (!visual) {
    if (error) *error = "the X server offers no 32-bit visual";
    return false;
  }
  if (!(monitor_.width >= 1) || !(monitor_.height >= 1) || monitor_.width > 32767 || monitor_.height > 32767) {
    if (error) *error = "the monitor's frame is not a window size";
    return false;
  }
  colormap_ = xcb_generate_id(c);
  xcb_create_colormap(c, XCB_COLORMAP_ALLOC_NONE, colormap_, screen->root, visual);
  window_ = xcb_generate_id(c);
  // Value order follows the mask bits: back pixel, border pixel, override-redirect, event mask,
  // colormap.
  const uint32_t values[] = {0, 0, 1, kEventMask, colormap_};
  const auto cookie = xcb_create_window_checked(
      c, 32, window_, screen->root, static_cast<int16_t>(monitor_.x), static_cast<int16_t>(monitor_.y),
      static_cast<uint16_t>(monitor_.width), static_cast<uint16_t>(monitor_.height), 0,
      XCB_WINDOW_CLASS_INPUT_OUTPUT, visual,
      XCB_CW_BACK_PIXEL | XCB_CW_BORDER_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK | XCB_CW_COLORMAP,
      values);
  if (!x_->check(cookie)) {
    if (error) *error = "the X server refused the overlay window";
    window_ = 0;
    return false;
  }
  static constexpr char kClass[] = "quorvel-overlay\0Quorvel";
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, window_, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, sizeof kClass,
                      kClass);
  static constexpr char kName[] = "Quorvel";
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, window_, x_->atom("_NET_WM_NAME"), x_->atom("UTF8_STRING"), 8,
                      sizeof kName - 1, kName);
  const uint32_t pid = static_cast<uint32_t>(getpid());
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, window_, x_->atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 32, 1, &pid);
  modifiers_ = X11ModifierMap::read(c);
  setupKeyboard();
  x_->flush();
  return true;
}

void X11OverlayWindow::setupKeyboard() {
  xcb_connection_t* c = x_->xcb();
  uint8_t eventBase = 0;
  if (!xkb_x11_setup_xkb_extension(c, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                   XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, &eventBase, nullptr)) {
    return;  // keys still arrive, without their text
  }
  xkbContext_ = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
  if (!xkbContext_) return;
  // Dead keys and the compose key make one character of several keys, by the rules of the
  // user's locale; without rules for it, each key types what it shows.
  const char* locale = nullptr;
  for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(name);
    if (value && *value) {
      locale = value;
      break;
    }
  }
  if (xkb_compose_table* table =
          xkb_compose_table_new_from_locale(xkbContext_, locale ? locale : "C", XKB_COMPOSE_COMPILE_NO_FLAGS)) {
    compose_ = xkb_compose_state_new(table, XKB_COMPOSE_STATE_NO_FLAGS);
    xkb_compose_table_unref(table);  // the state holds it
  }
  keyboardDevice_ = xkb_x11_get_core_keyboard_device_id(c);
  if (keyboardDevice_ < 0) return;
  xkbEventBase_ = eventBase;
  // The layout can change while the program runs (a layout switcher, setxkbmap): the server
  // reports a new keyboard or a changed map, and the keymap is read again before the next key.
  const uint16_t mapParts = XCB_XKB_MAP_PART_KEY_TYPES | XCB_XKB_MAP_PART_KEY_SYMS | XCB_XKB_MAP_PART_MODIFIER_MAP |
                            XCB_XKB_MAP_PART_EXPLICIT_COMPONENTS | XCB_XKB_MAP_PART_KEY_ACTIONS |
                            XCB_XKB_MAP_PART_VIRTUAL_MODS | XCB_XKB_MAP_PART_VIRTUAL_MOD_MAP;
  xcb_xkb_select_events_details_t details{};
  details.affectNewKeyboard = XCB_XKB_NKN_DETAIL_KEYCODES;
  details.newKeyboardDetails = XCB_XKB_NKN_DETAIL_KEYCODES;
  xcb_xkb_select_events_aux(c, static_cast<xcb_xkb_device_spec_t>(keyboardDevice_),
                            XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY | XCB_XKB_EVENT_TYPE_MAP_NOTIFY, 0, 0, mapParts,
                            mapParts, &details);
  readKeymap();
}

void X11OverlayWindow::readKeymap() {
  if (!xkbContext_ || keyboardDevice_ < 0) return;
  xcb_connection_t* c = x_->xcb();
  xkb_keymap* keymap = xkb_x11_keymap_new_from_device(xkbContext_, c, keyboardDevice_, XKB_KEYMAP_COMPILE_NO_FLAGS);
  xkb_state* state = keymap ? xkb_x11_state_new_from_device(keymap, c, keyboardDevice_) : nullptr;
  if (!state) {
    // The keymap read before stays: a failed read must not take the keys' text away.
    if (keymap) xkb_keymap_unref(keymap);
    return;
  }
  if (xkbState_) xkb_state_unref(xkbState_);
  if (keymap_) xkb_keymap_unref(keymap_);
  keymap_ = keymap;
  xkbState_ = state;
}

void X11OverlayWindow::setContentView(OverlayContentView* view) {
  view_ = view;
  if (!view) scrolls_.reset();
}

void X11OverlayWindow::setDragAware(bool aware) {
  if (aware == dragAware_) return;
  dragAware_ = aware;
  if (aware) {
    const uint32_t version = kDndVersion;
    xcb_change_property(x_->xcb(), XCB_PROP_MODE_REPLACE, window_, x_->atom("XdndAware"), XCB_ATOM_ATOM, 32, 1,
                        &version);
  } else {
    xcb_delete_property(x_->xcb(), window_, x_->atom("XdndAware"));
  }
}

void X11OverlayWindow::show() {
  xcb_connection_t* c = x_->xcb();
  setDragAware(view_ && view_->acceptsDrags());
  const uint32_t above = XCB_STACK_MODE_ABOVE;
  xcb_map_window(c, window_);
  xcb_configure_window(c, window_, XCB_CONFIG_WINDOW_STACK_MODE, &above);
  mapped_ = true;
  x_->flush();
  if (compose_) xkb_compose_state_reset(compose_);  // no sequence carries over from an earlier summon
  if (!pumpTimer_) schedulePump();
}

void X11OverlayWindow::schedulePump() {
  // Keys, clicks and the pointer reach the window on its own connection; nothing else reads it.
  pumpTimer_ = main_.postAfter(std::chrono::milliseconds(16), [this, alive = std::weak_ptr<int>(alive_)] {
    if (!alive.lock()) return;
    pumpTimer_.reset();
    if (wantsKeyboard_ && !keyboardGrabbed_) grabKeyboard();
    dispatchEvents();
    if (mapped_) schedulePump();
  });
}

void X11OverlayWindow::makeKey() {
  if (!mapped_) return;
  // The grab first: once the focus is seen on the window, every key typed goes to it.
  if (!clickThrough_) {
    wantsKeyboard_ = true;
    if (!keyboardGrabbed_) grabKeyboard();
  }
  xcb_set_input_focus(x_->xcb(), XCB_INPUT_FOCUS_PARENT, window_, XCB_CURRENT_TIME);
  x_->flush();
  focused_ = true;
}

void X11OverlayWindow::grabKeyboard() {
  if (!mapped_ || clickThrough_ || keyboardGrabbed_) return;
  xcb_connection_t* c = x_->xcb();
  const auto grab = [&] {
    // Every key to this window, whatever has the focus; the keyboard and the pointer run on.
    auto* reply = xcb_grab_keyboard_reply(
        c, xcb_grab_keyboard(c, 0, window_, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC), nullptr);
    const bool granted = reply && reply->status == XCB_GRAB_STATUS_SUCCESS;
    std::free(reply);
    return granted;
  };
  keyboardGrabbed_ = grab();
  // AlreadyGrabbed or Frozen: the key stream kept it for us, or another client holds the keyboard
  // for now (the next pump asks again).
  if (!keyboardGrabbed_ && takeKeyboardFromStream && takeKeyboardFromStream()) keyboardGrabbed_ = grab();
}

void X11OverlayWindow::releaseKeyboard() {
  wantsKeyboard_ = false;
  if (!keyboardGrabbed_) return;
  keyboardGrabbed_ = false;
  xcb_ungrab_keyboard(x_->xcb(), XCB_CURRENT_TIME);
  x_->flush();
}

void X11OverlayWindow::takeFocusBack() {
  // While the overlay is up it covers its monitor, so whatever took the focus did so unseen: the
  // window manager focusing a window the switcher restored, or a program raising itself. Until the
  // overlay lets clicks through (its fade-out, when the chosen window is meant to take the focus),
  // it takes the keyboard back, at most once in a while so that it never fights a window manager
  // that insists.
  if (!mapped_ || clickThrough_) return;
  const Instant now = main_.clock().now();
  if (lastFocusReclaim_ && now - *lastFocusReclaim_ < kFocusReclaimInterval) return;
  lastFocusReclaim_ = now;
  makeKey();
}

bool X11OverlayWindow::isKey() { return mapped_ && (focused_ || keyboardGrabbed_); }

void X11OverlayWindow::leavePointerQuietly(const std::function<void()>& change) {
  // Grabbed, the pointer's crossings go to us alone; its release enters the window below with the
  // "ungrab" mode, which a manager whose focus follows the pointer does not take for the user's move.
  xcb_connection_t* c = x_->xcb();
  xcb_grab_pointer(c, 0, x_->root(), 0, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC, XCB_NONE, XCB_NONE,
                   XCB_CURRENT_TIME);
  change();
  xcb_ungrab_pointer(c, XCB_CURRENT_TIME);
}

void X11OverlayWindow::orderOut() {
  scrolls_.reset();
  releaseKeyboard();
  // Already click-through, the pointer is below the window and unmapping moves it nowhere.
  if (clickThrough_) {
    xcb_unmap_window(x_->xcb(), window_);
  } else {
    leavePointerQuietly([this] { xcb_unmap_window(x_->xcb(), window_); });
  }
  mapped_ = false;
  focused_ = false;
  primaryDown_ = false;
  // Keys and clicks held back for the key stream were typed to a switcher that is gone now: the next
  // summon must not act on them.
  std::erase_if(read_, [](const X11Connection::Event& event) {
    switch (event->response_type & 0x7f) {
      case XCB_KEY_PRESS:
      case XCB_KEY_RELEASE:
      case XCB_BUTTON_PRESS:
      case XCB_BUTTON_RELEASE:
      case XCB_MOTION_NOTIFY:
        return true;
      default:
        return false;
    }
  });
  // A drag still under way goes on to whatever window is now under the pointer; its source speaks
  // to that one from here on.
  dragSource_ = 0;
  dragEntered_ = false;
  x_->flush();
}

void X11OverlayWindow::setAlpha(double alpha) {
  alpha = std::isfinite(alpha) ? std::clamp(alpha, 0.0, 1.0) : 1.0;
  if (alpha == alpha_) return;
  alpha_ = alpha;
  // A compositor blends the whole window by this opacity; without one the window stays opaque
  // until it is unmapped.
  const uint32_t opacity = static_cast<uint32_t>(std::lround(alpha * 0xFFFFFFFFu));
  xcb_change_property(x_->xcb(), XCB_PROP_MODE_REPLACE, window_, x_->atom("_NET_WM_WINDOW_OPACITY"), XCB_ATOM_CARDINAL,
                      32, 1, &opacity);
  x_->flush();
}

void X11OverlayWindow::setClickThrough(bool on) {
  if (on == clickThrough_) return;
  clickThrough_ = on;
  // Letting clicks through is the fade-out: the chosen window is to have the keyboard.
  if (on) releaseKeyboard();
  if (on) {
    leavePointerQuietly([this] {
      xcb_shape_rectangles(x_->xcb(), XCB_SHAPE_SO_SET, XCB_SHAPE_SK_INPUT, XCB_CLIP_ORDERING_UNSORTED, window_, 0, 0,
                           0, nullptr);
    });
  } else {
    xcb_shape_mask(x_->xcb(), XCB_SHAPE_SO_SET, XCB_SHAPE_SK_INPUT, window_, 0, 0, XCB_NONE);
  }
  x_->flush();
}

bool X11OverlayWindow::blurAvailable() {
  const uint32_t hint = x_->atom("_KDE_NET_WM_BLUR_BEHIND_REGION");
  const auto supported = x_->property(x_->root(), x_->atom("_NET_SUPPORTED"), XCB_ATOM_ATOM);
  if (!supported || !hint) return false;
  const auto atoms = supported->values32();
  return std::find(atoms.begin(), atoms.end(), hint) != atoms.end();
}

bool X11OverlayWindow::setBackgroundBlur(int radius) {
  if (window_ == 0 || !blurAvailable()) return false;
  const uint32_t hint = x_->atom("_KDE_NET_WM_BLUR_BEHIND_REGION");
  // The hint has no strength: an empty region asks for the whole window to be blurred behind, and
  // removing the property removes the blur.
  if (radius > 0) {
    xcb_change_property(x_->xcb(), XCB_PROP_MODE_REPLACE, window_, hint, XCB_ATOM_CARDINAL, 32, 0, nullptr);
  } else {
    xcb_delete_property(x_->xcb(), window_, hint);
  }
  x_->flush();
  return true;
}

bool X11OverlayWindow::showChrome(const RasterBitmap& bitmap) {
  if (bitmap.width() != static_cast<int>(monitor_.width) || bitmap.height() != static_cast<int>(monitor_.height)) {
    return false;
  }
  xcb_connection_t* c = x_->xcb();
  if (!gc_) {
    gc_ = xcb_generate_id(c);
    xcb_create_gc(c, gc_, window_, 0, nullptr);
  }
  // The bitmap's bytes are the 32-bit visual's pixels (premultiplied, blue first, rows from the
  // top); sent in strips that stay well inside the server's request size.
  const size_t rowBytes = bitmap.bytesPerRow();
  const int rowsPerStrip = std::max(1, static_cast<int>((256 * 1024) / rowBytes));
  for (int top = 0; top < bitmap.height(); top += rowsPerStrip) {
    const int rows = std::min(rowsPerStrip, bitmap.height() - top);
    xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, window_, gc_, static_cast<uint16_t>(bitmap.width()),
                  static_cast<uint16_t>(rows), 0, static_cast<int16_t>(top), 0, 32,
                  static_cast<uint32_t>(rowBytes * static_cast<size_t>(rows)),
                  bitmap.data() + rowBytes * static_cast<size_t>(top));
  }
  x_->flush();
  return true;
}

bool X11OverlayWindow::dispatchEvents() {
  x_->takeEvents(read_);
  deliverRead();
  return !x_->isBroken();
}

void X11OverlayWindow::deliverRead() {
  while (!read_.empty()) {
    const xcb_generic_event_t& event = *read_.front();
    std::optional<uint32_t> time;
    switch (event.response_type & 0x7f) {
      case XCB_KEY_PRESS:
      case XCB_KEY_RELEASE:
        time = reinterpret_cast<const xcb_key_press_event_t&>(event).time;
        break;
      case XCB_BUTTON_PRESS:
      case XCB_BUTTON_RELEASE:
        time = reinterpret_cast<const xcb_button_press_event_t&>(event).time;
        break;
      default:
        break;
    }
    if (time && keyOrder_ && !keyOrder_->overlayKeyMayAct(*time)) return;
    const X11Connection::Event taken = std::move(read_.front());
    read_.pop_front();
    handle(*taken);
  }
}

bool X11OverlayWindow::catchUpInput() {
  if (mapped_) x_->sync();
  return dispatchEvents();
}

void X11OverlayWindow::handle(const xcb_generic_event_t& event) {
  switch (event.response_type & 0x7f) {
    case XCB_KEY_PRESS:
      handleKey(reinterpret_cast<const xcb_key_press_event_t&>(event));
      break;
    case XCB_BUTTON_PRESS:
      handleButton(reinterpret_cast<const xcb_button_press_event_t&>(event), true);
      break;
    case XCB_BUTTON_RELEASE:
      handleButton(reinterpret_cast<const xcb_button_press_event_t&>(event), false);
      break;
    case XCB_MOTION_NOTIFY:
      handleMotion(reinterpret_cast<const xcb_motion_notify_event_t&>(event));
      break;
    case XCB_FOCUS_IN:
    case XCB_FOCUS_OUT: {
      const auto& focus = reinterpret_cast<const xcb_focus_in_event_t&>(event);
      // Grab and ungrab notifications and pointer-root focus changes say nothing of the key status.
      if (focus.mode != XCB_NOTIFY_MODE_NORMAL && focus.mode != XCB_NOTIFY_MODE_WHILE_GRABBED) break;
      if (focus.detail == XCB_NOTIFY_DETAIL_POINTER) break;
      const bool in = (event.response_type & 0x7f) == XCB_FOCUS_IN;
      focused_ = in;
      if (onKeyStatusChange) onKeyStatusChange(in);
      if (!in) takeFocusBack();
      break;
    }
    case XCB_LEAVE_NOTIFY:
      if (view_) view_->mouseExited();
      break;
    case XCB_CLIENT_MESSAGE:
      handleClientMessage(reinterpret_cast<const xcb_client_message_event_t&>(event));
      break;
    case XCB_MAPPING_NOTIFY:
      modifiers_ = X11ModifierMap::read(x_->xcb());
      readKeymap();
      break;
    default:
      if (xkbEventBase_ != 0 && (event.response_type & 0x7f) == xkbEventBase_) {
        // XKB events share one event code; the second byte names the kind.
        const uint8_t kind = reinterpret_cast<const uint8_t*>(&event)[1];
        if (kind == XCB_XKB_NEW_KEYBOARD_NOTIFY || kind == XCB_XKB_MAP_NOTIFY) {
          modifiers_ = X11ModifierMap::read(x_->xcb());
          readKeymap();
        }
      }
      break;
  }
}

void X11OverlayWindow::handleKey(const xcb_key_press_event_t& event) {
  if (!view_) return;
  const auto code = X11KeyCodes::virtualKeyCode(event.detail);
  if (!code) return;
  OverlayKeyEvent key;
  key.keyCode = *code;
  key.modifierFlags = static_cast<int64_t>(modifiers_ ? modifiers_->flagsFromState(event.state) : 0);
  key.timestamp = seconds(event.time);
  if (shortcutKey && shortcutKey(key.keyCode, static_cast<uint64_t>(key.modifierFlags))) return;
  if (xkbState_) {
    const uint32_t numLock = modifiers_ ? modifiers_->numLockMask() : uint32_t{XCB_MOD_MASK_2};
    const uint32_t locks = XCB_MOD_MASK_LOCK | numLock;
    // The text a key types leaves Control out: with a shortcut such as Ctrl+Alt+K still held, the
    // letters of a search type themselves rather than control characters.
    const uint32_t depressed = event.state & ~locks & ~uint32_t{XCB_MOD_MASK_CONTROL};
    xkb_state_update_mask(xkbState_, depressed, 0, event.state & locks, 0, 0, (event.state >> 13) & 3);
    char text[64] = {};
    const int length = xkb_state_key_get_utf8(xkbState_, event.detail, text, sizeof text);
    if (length > 0 && static_cast<size_t>(length) < sizeof text) key.characters = std::string(text, size_t(length));
    if (compose_) composeText(event.detail, key.characters);
  }
  view_->keyDown(key);
}

void X11OverlayWindow::composeText(uint8_t keycode, std::optional<std::string>& characters) {
  const xkb_keysym_t symbol = xkb_state_key_get_one_sym(xkbState_, keycode);
  if (xkb_compose_state_feed(compose_, symbol) != XKB_COMPOSE_FEED_ACCEPTED) return;  // a modifier
  switch (xkb_compose_state_get_status(compose_)) {
    case XKB_COMPOSE_NOTHING:
      break;
    case XKB_COMPOSE_COMPOSING:
      // A key inside a sequence types nothing yet; the key itself still arrives.
      characters.reset();
      break;
    case XKB_COMPOSE_COMPOSED: {
      char text[64] = {};
      const int length = xkb_compose_state_get_utf8(compose_, text, sizeof text);
      characters.reset();
      if (length > 0 && static_cast<size_t>(length) < sizeof text) characters = std::string(text, size_t(length));
      xkb_compose_state_reset(compose_);
      break;
    }
    case XKB_COMPOSE_CANCELLED:
      // A key that ends a sequence no rule knows types nothing, as in other programs.
      characters.reset();
      xkb_compose_state_reset(compose_);
      break;
  }
}

void X11OverlayWindow::handleButton(const xcb_button_press_event_t& event, bool pressed) {
  if (!view_) return;
  OverlayPointerEvent pointer;
  pointer.location = viewPoint(event.event_x, event.event_y);
  pointer.timestamp = seconds(event.time);
  switch (event.detail) {
    case 1:
      primaryDown_ = pressed;
      lastPointer_ = Point{double(event.event_x), double(event.event_y)};
      pressed ? view_->mouseDown(pointer) : view_->mouseUp(pointer);
      break;
    case 2:
      pointer.buttonNumber = 2;
      pressed ? view_->otherMouseDown(pointer) : view_->otherMouseUp(pointer);
      break;
    case 4:
    case 5:
    case 6:
    case 7:
      if (pressed) {
        // Wheel up and left scroll the content towards the user, as positive deltas.
        OverlayScrollEvent scroll;
        scroll.timestamp = pointer.timestamp;
        const double amount = event.detail == 4 || event.detail == 6 ? kPointsPerWheelClick : -kPointsPerWheelClick;
        (event.detail <= 5 ? scroll.scrollingDeltaY : scroll.scrollingDeltaX) = amount;
        scrolls_.feed(scroll);
      }
      break;
    default:
      break;
  }
}

void X11OverlayWindow::handleMotion(const xcb_motion_notify_event_t& event) {
  if (!view_) return;
  const Point now{double(event.event_x), double(event.event_y)};
  OverlayPointerEvent pointer;
  pointer.location = viewPoint(event.event_x, event.event_y);
  pointer.timestamp = seconds(event.time);
  if (lastPointer_) {
    pointer.deltaX = now.x - lastPointer_->x;
    pointer.deltaY = now.y - lastPointer_->y;
  }
  lastPointer_ = now;
  primaryDown_ ? view_->mouseDragged(pointer) : view_->mouseMoved(pointer);
}

}  // namespace quorvel

namespace quorvel {

void X11OverlayWindow::sendDndMessage(uint32_t target, const char* type, const uint32_t (&data)[5]) {
  xcb_client_message_event_t message{};
  message.response_type = XCB_CLIENT_MESSAGE;
  message.format = 32;
  message.window = target;
  message.type = x_->atom(type);
  std::copy(std::begin(data), std::end(data), message.data.data32);
  xcb_send_event(x_->xcb(), 0, target, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&message));
  x_->flush();
}

void X11OverlayWindow::handleClientMessage(const xcb_client_message_event_t& event) {
  if (event.format != 32 || !dragAware_) return;
  const uint32_t source = event.data.data32[0];
  const uint32_t type = event.type;
  if (type == x_->atom("XdndEnter")) {
    // A new drag replaces one whose end was never heard of.
    if (dragEntered_ && view_) view_->draggingExited();
    dragSource_ = source;
    dragEntered_ = false;
    return;
  }
  if (source == 0 || source != dragSource_) return;
  if (type == x_->atom("XdndPosition")) {
    // The pointer in root coordinates, packed as x << 16 | y; the window sits at its monitor's origin.
    const auto rootX = static_cast<int16_t>(event.data.data32[2] >> 16);
    const auto rootY = static_cast<int16_t>(event.data.data32[2] & 0xFFFF);
    dragPoint_ = viewPoint(static_cast<int16_t>(rootX - monitor_.x), static_cast<int16_t>(rootY - monitor_.y));
    bool overCard = false;
    if (view_) {
      overCard = dragEntered_ ? view_->draggingUpdated(dragPoint_) : view_->draggingEntered(dragPoint_);
      dragEntered_ = true;
    }
    // Accepted only over a card (so a release elsewhere is no drop), with the action the source
    // proposed; an empty rectangle asks for every move.
    const uint32_t status[5] = {window_, overCard ? 1u : 0u, 0, 0, overCard ? event.data.data32[4] : 0u};
    sendDndMessage(source, "XdndStatus", status);
  } else if (type == x_->atom("XdndLeave")) {
    if (dragEntered_ && view_) view_->draggingExited();
    dragSource_ = 0;
    dragEntered_ = false;
  } else if (type == x_->atom("XdndDrop")) {
    // The drop commits the card under it, but its data is not ours to take: the source hears that
    // the drop was not accepted.
    const bool entered = dragEntered_;
    dragSource_ = 0;
    dragEntered_ = false;
    const uint32_t finished[5] = {window_, 0, 0, 0, 0};
    sendDndMessage(source, "XdndFinished", finished);
    if (entered && view_) view_->performDragOperation(dragPoint_);
  }
}

}  // namespace quorvel
