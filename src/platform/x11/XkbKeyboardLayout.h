#pragma once

#include <xcb/xcb.h>

#include <memory>
#include <optional>
#include <string>

#include "platform/KeyboardLayout.h"

struct xkb_context;
struct xkb_keymap;

namespace quorvel {

// The user's keyboard layout as the X server holds it, read through xkbcommon: what each key types
// with no modifier held, in the layout group in use. The keymap is read at open and again on
// reload() (the layout can change while the program runs: a layout switcher, setxkbmap).
//
// Threads: one caller at a time (the main thread); the connection may be shared.
class XkbKeyboardLayout final : public KeyboardLayout {
 public:
  // None when the server has no XKB extension or its keymap cannot be read.
  static std::unique_ptr<XkbKeyboardLayout> open(xcb_connection_t* connection);
  ~XkbKeyboardLayout() override;
  XkbKeyboardLayout(const XkbKeyboardLayout&) = delete;
  XkbKeyboardLayout& operator=(const XkbKeyboardLayout&) = delete;

  // `keyCode` is a virtual key code (X11KeyCodes).
  std::optional<std::string> characters(uint16_t keyCode) const override;
  // Reads the keymap and the group in use again; keeps the old ones when that fails.
  bool reload();

 private:
  XkbKeyboardLayout(xcb_connection_t* connection, xkb_context* context, int32_t device);

  xcb_connection_t* const connection_;
  xkb_context* const context_;
  const int32_t device_;
  xkb_keymap* keymap_ = nullptr;
  uint32_t group_ = 0;
};

}  // namespace quorvel
