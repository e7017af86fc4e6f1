#include "platform/x11/XkbKeyboardLayout.h"

#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include "platform/x11/X11KeyCodes.h"

namespace quorvel {

namespace {

// A dead key types nothing by itself; the key shows the accent it puts on the next letter.
const char* deadKeyAccent(xkb_keysym_t symbol) {
  static constexpr const char* accents[] = {"`", "\u00b4", "^", "~", "\u00af", "\u02d8", "\u02d9",
                                            "\u00a8", "\u02da", "\u02dd", "\u02c7", "\u00b8", "\u02db"};
  if (symbol >= XKB_KEY_dead_grave && symbol <= XKB_KEY_dead_ogonek) return accents[symbol - XKB_KEY_dead_grave];
  return nullptr;
}

}  // namespace

std::unique_ptr<XkbKeyboardLayout> XkbKeyboardLayout::open(xcb_connection_t* connection) {
  if (!connection) return nullptr;
  if (!xkb_x11_setup_xkb_extension(connection, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                   XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr, nullptr)) {
    return nullptr;
  }
  const int32_t device = xkb_x11_get_core_keyboard_device_id(connection);
  if (device < 0) return nullptr;
  xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
  if (!context) return nullptr;
  std::unique_ptr<XkbKeyboardLayout> layout(new XkbKeyboardLayout(connection, context, device));
  if (!layout->reload()) return nullptr;
  return layout;
}

XkbKeyboardLayout::XkbKeyboardLayout(xcb_connection_t* connection, xkb_context* context, int32_t device)
    : connection_(connection), context_(context), device_(device) {}

XkbKeyboardLayout::~XkbKeyboardLayout() {
  if (keymap_) xkb_keymap_unref(keymap_);
  xkb_context_unref(context_);
}

bool XkbKeyboardLayout::reload() {
  xkb_keymap* keymap = xkb_x11_keymap_new_from_device(context_, connection_, device_, XKB_KEYMAP_COMPILE_NO_FLAGS);
  if (!keymap) return false;
  xkb_state* state = xkb_x11_state_new_from_device(keymap, connection_, device_);
  if (!state) {
    xkb_keymap_unref(keymap);
    return false;
  }
  group_ = xkb_state_serialize_layout(state, XKB_STATE_LAYOUT_EFFECTIVE);
  xkb_state_unref(state);
  if (keymap_) xkb_keymap_unref(keymap_);
  keymap_ = keymap;
  return true;
}

std::optional<std::string> XkbKeyboardLayout::characters(uint16_t keyCode) const {
  const std::optional<uint8_t> xKey = X11KeyCodes::xKeyCode(keyCode);
  if (!xKey || !keymap_) return std::nullopt;
  // The key's first level in the group in use: what it types with no modifier held.
  const xkb_keysym_t* symbols = nullptr;
  const int count = xkb_keymap_key_get_syms_by_level(keymap_, *xKey, group_, 0, &symbols);
  if (count < 1 || !symbols) return std::nullopt;
  if (const char* accent = deadKeyAccent(symbols[0])) return std::string(accent);
  char text[16] = {};
  const int length = xkb_keysym_to_utf8(symbols[0], text, sizeof text);
  if (length <= 1) return std::nullopt;  // no character (the length counts the terminating zero)
  return std::string(text, static_cast<size_t>(length - 1));
}

}  // namespace quorvel
