#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/Executor.h"
#include "overlay/OverlayWindow.h"
#include "overlay/ScrollPhaseSynthesizer.h"
#include "platform/KeyStreamOrder.h"
#include "platform/RasterBitmap.h"
#include "platform/x11/X11Connection.h"
#include "platform/x11/X11ModifierMap.h"

struct xkb_context;
struct xkb_keymap;
struct xkb_state;
struct xkb_compose_state;

namespace quorvel {

// An overlay window on X11: an override-redirect window with a 32-bit ARGB visual covering one
// monitor, on a connection of its own. Override-redirect keeps it out of the window manager's client
// list, and so out of the program's own window list, and gives it no frame, shadow or animation.
//
// The keyboard: while the overlay is up it holds the whole keyboard with an active grab, so that no
// window manager's binding (Alt+Escape, Alt+Space, Ctrl+Alt+Tab...) takes a key typed to the
// switcher; the server activates no passive grab while the keyboard is grabbed, the window
// manager's and the global shortcut's alike. The shortcut's own keys therefore reach the window
// too: each key press goes first to `shortcutKey`, which acts on the shortcut's keys as the key
// stream would (a step), and the view sees every other key. The release of the shortcut's modifier
// still reaches the shortcut manager through the key stream's XInput 2 raw events, which the server
// sends whatever client holds the keyboard. makeKey() gives the window the input focus and asks for
// the grab; the key stream, which may keep the keyboard from the press that summoned until then,
// lets go of it when asked (takeKeyboardFromStream); while another program holds the keyboard the
// grab is asked for again at every pump. It is given back as soon as the overlay lets clicks through (its fade-out), at the
// order-out and when the window goes; the server also ends it when the window is unmapped or the
// connection closes. isKey() is whether this window holds the grab or the focus, as its own
// requests and the focus events read since say (no round trip to the server beyond the grab's).
//
// The pointer: the window covers its monitor, so moves, clicks and the wheel over it are its own.
// setClickThrough(true) empties its input shape, so clicks fall through while it fades out; the
// pointer leaves the window then (and at an unmap) under a grab of its own, so that a manager whose
// focus follows the pointer does not focus the window below it in place of the chosen one.
// Until then, a focus that another window takes while the overlay is up is taken back (the window
// manager focuses a window that the switcher restored, for one), at most once every
// kFocusReclaimInterval.
//
// Drags from other programs (the X drag-and-drop protocol, XDND version 5): while the content view
// accepts drags, the window says it is drag-aware, and a drag over it is routed through the view
// (a card under the pointer is highlighted; resting on it long enough brings its window forward and
// the overlay stands aside, so that the drag goes on to that window and its drop lands there).
// The window answers a position with whether a card lies under it, and a drop on it with "not
// taken": it never asks for the dragged data. Messages of any drag but the one in progress are
// ignored, and the drag is forgotten when the window leaves the screen.
//
// Keys become the program's key codes and modifier bits with the text they type (xkbcommon, from
// the server's keymap, read again whenever the server reports that it changed, so a layout chosen
// after the start types its own letters; dead keys and the compose key combine by the locale's
// compose rules); wheel buttons become scrolls of 40 points a click whose phases the
// ScrollPhaseSynthesizer makes up. Main thread only.
class X11OverlayWindow final : public OverlayWindow {
 public:
  static constexpr double kPointsPerWheelClick = 40;
  static constexpr Duration kFocusReclaimInterval = std::chrono::milliseconds(250);

  // Opens a connection to `display` (DISPLAY when empty) and makes the window, unmapped, over
  // `monitor` (X coordinates: origin at the top left of the root). None with the reason in `error`.
  static std::unique_ptr<X11OverlayWindow> open(const std::string& display, const Rect& monitor,
                                                Executor& main, std::string* error = nullptr);
  ~X11OverlayWindow() override;
  X11OverlayWindow(const X11OverlayWindow&) = delete;
  X11OverlayWindow& operator=(const X11OverlayWindow&) = delete;

  Rect frame() const override { return monitor_; }
  double backingScale() const override { return 1.0; }
  int windowNumber() const override { return static_cast<int>(window_); }
  void setContentView(OverlayContentView* view) override;
  void show() override;
  void makeKey() override;
  bool isKey() override;
  void orderOut() override;
  bool isVisible() const override { return mapped_; }
  void setClickThrough(bool on) override;
  // Sets _NET_WM_WINDOW_OPACITY, which a compositing manager honours.
  void setAlpha(double alpha) override;
  void setHiddenFromScreenSharing(bool) override {}
  bool blurAvailable() override;
  bool setBackgroundBlur(int radius) override;
  bool dispatchEvents() override;
  // One round trip on the window's connection: the server sent every event it had for the window
  // before its answer, so they are all here to deliver (those typed before the key-stream event
  // being handled, with a key order).
  bool catchUpInput() override;
  // The order of the global key stream's hops: a key or click of this window waits while a
  // key-stream event typed before it is on its way to the main queue, and acts after it. Without
  // one, every event acts as it is read.
  void setKeyOrder(std::shared_ptr<const KeyStreamOrder> order) { keyOrder_ = std::move(order); }
  // Asked first for every key press (the program's key code and modifier bits): true when the key
  // is the global shortcut's and was acted on as such; the view does not see it then.
  std::function<bool(int64_t keyCode, uint64_t flags)> shortcutKey;
  // Asked when the window's keyboard grab is refused: the key stream may have kept the keyboard
  // since the press that summoned (so the keys typed before the window came reach the switcher).
  // True when it let go of it; the grab is asked for again at once.
  std::function<bool()> takeKeyboardFromStream;
  // Whether the window holds the active keyboard grab now.
  bool holdsKeyboardGrab() const { return keyboardGrabbed_; }

  // Shows a premultiplied chrome bitmap the size of the window (pixels at scale 1) as the window's
  // contents, by a plain image upload: the overlay's picture while it is not drawn on the GPU.
  // False when the sizes differ.
  bool showChrome(const RasterBitmap& bitmap);

  X11Connection& connection() { return *x_; }
  uint32_t xWindow() const { return window_; }
  bool clickThrough() const { return clickThrough_; }

 private:
  X11OverlayWindow(std::unique_ptr<X11Connection> x, const Rect& monitor, Executor& main);
  bool make(std::string* error);
  void setupKeyboard();
  // (Re)reads the server's keymap; the one read before stays when the read fails.
  void readKeymap();
  void handle(const xcb_generic_event_t& event);
  // Hands the events read so far to handle(), in order, up to the first key or click that must wait
  // for the key stream (it and those after it stay for a later delivery).
  void deliverRead();
  void handleKey(const xcb_key_press_event_t& event);
  void handleButton(const xcb_button_press_event_t& event, bool pressed);
  void handleMotion(const xcb_motion_notify_event_t& event);
  void takeFocusBack();
  // Asks for the active keyboard grab (one round trip); gives it back.
  void grabKeyboard();
  void releaseKeyboard();
  void handleClientMessage(const xcb_client_message_event_t& event);
  // Tells `target` an XDND message of `type` from this window with `data` (five 32-bit values).
  void sendDndMessage(uint32_t target, const char* type, const uint32_t (&data)[5]);
  void setDragAware(bool aware);
  // Runs `change`, which takes the window from under the pointer, with the pointer grabbed, so the
  // window below sees no ordinary entry of the pointer: under a manager whose focus follows the
  // pointer, the overlay's going focuses nothing (the chosen window alone is focused).
  void leavePointerQuietly(const std::function<void()>& change);
  // Runs a pressed key through the compose rules: `characters` becomes the composed text at the
  // end of a sequence and nothing inside one.
  void composeText(uint8_t keycode, std::optional<std::string>& characters);
  Point viewPoint(int16_t x, int16_t y) const { return {double(x), monitor_.height - double(y)}; }
  static double seconds(uint32_t serverTime) { return serverTime / 1000.0; }
  // While the window is on screen, its input is delivered from the main queue every frame.
  void schedulePump();

  std::unique_ptr<X11Connection> x_;
  Rect monitor_;
  Executor& main_;
  uint32_t window_ = 0;
  uint32_t colormap_ = 0;
  uint32_t gc_ = 0;
  bool mapped_ = false;
  bool focused_ = false;  // see isKey()
  bool wantsKeyboard_ = false;  // from makeKey() until the fade-out or the order-out
  bool keyboardGrabbed_ = false;
  bool clickThrough_ = false;
  OverlayContentView* view_ = nullptr;
  std::optional<X11ModifierMap> modifiers_;
  xkb_context* xkbContext_ = nullptr;
  xkb_keymap* keymap_ = nullptr;
  xkb_state* xkbState_ = nullptr;
  xkb_compose_state* compose_ = nullptr;  // none without compose rules for the locale
  int32_t keyboardDevice_ = -1;
  uint8_t xkbEventBase_ = 0;  // 0: no XKB events are selected
  std::optional<Point> lastPointer_;
  std::optional<Instant> lastFocusReclaim_;
  bool primaryDown_ = false;
  // The drag over the window: its source's window (0: none), whether the view was told it entered,
  // and where it was last.
  uint32_t dragSource_ = 0;
  bool dragEntered_ = false;
  Point dragPoint_{};
  bool dragAware_ = false;
  ScrollPhaseSynthesizer scrolls_;
  std::optional<TimerId> pumpTimer_;
  std::shared_ptr<const KeyStreamOrder> keyOrder_;
  std::deque<X11Connection::Event> read_;  // read off the connection, not yet delivered
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);  // a pump already queued checks it
};

}  // namespace quorvel
