#pragma once

#include <xcb/xcb.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/Geometry.h"

namespace quorvel {

// A top-level X window with a 32-bit ARGB visual (see-through where nothing is drawn), on its own
// connection. Override-redirect windows are placed exactly where asked and never decorated (the
// overlay); others are ordinary managed windows (the render demo). Used from one thread.
class X11ArgbWindow {
 public:
  struct Options {
    std::string title = "Quorvel";
    Rect frame{0, 0, 640, 400};
    bool overrideRedirect = false;
    // Also asks for the pointer's presses, releases and motion and for key presses, which
    // pollEvents hands to its `input` callback.
    bool input = false;
  };

  // None with the reason in `error` when the display cannot be opened or has no 32-bit visual.
  static std::unique_ptr<X11ArgbWindow> open(const std::string& display, const Options& options,
                                             std::string* error = nullptr);
  ~X11ArgbWindow();
  X11ArgbWindow(const X11ArgbWindow&) = delete;
  X11ArgbWindow& operator=(const X11ArgbWindow&) = delete;

  xcb_connection_t* connection() const { return connection_; }
  xcb_window_t window() const { return window_; }
  void show();
  void hide();
  bool isMapped() const { return mapped_; }
  // Handles the events that arrived; answers the new size when the window was resized. Input
  // events (with Options::input) go to `input`, in the order they arrived.
  std::optional<Size> pollEvents(const std::function<void(const xcb_generic_event_t&)>& input = {});
  // The window manager asked the window to close, or the connection broke.
  bool closeRequested() const { return closeRequested_; }
  Size size() const { return size_; }

  // The refresh rate of the monitor under the window's centre, from RandR; 60 when unknown.
  double refreshRate() const;

 private:
  X11ArgbWindow() = default;

  xcb_connection_t* connection_ = nullptr;
  xcb_window_t window_ = 0;
  xcb_colormap_t colormap_ = 0;
  xcb_atom_t deleteAtom_ = 0;
  Rect frame_;
  Size size_;
  bool closeRequested_ = false;
  bool mapped_ = false;
};

}  // namespace quorvel
