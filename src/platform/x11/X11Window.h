#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/x11/X11Rect.h"

namespace quorvel {

// One managed top-level window of an X11 session, as its properties and the window manager's
// describe it. A plain value: no X types, only the window's id.
//
// Applications: X11 has no application bundles. A window's application is named by the class part
// of its WM_CLASS property (the second string, e.g. "XTerm", "Firefox"):
//   application name   = the class exactly as the client gives it ("XTerm"); the services name it
//                        by its desktop entry where it has one (X11Backend::applicationName);
//   bundle identifier  = "x11." + the class lower-cased, with every character other than a-z, 0-9,
//                        '.', '-' and '_' (spaces, slashes, non-ASCII) replaced by '-' ("x11.xterm",
//                        "x11.google-chrome"); absent when the window has no class or an empty one.
// The instance part (the first string, e.g. "xterm") is kept beside it but names nothing.
struct X11Window {
  // What the window says it is (_NET_WM_WINDOW_TYPE, first known entry). A window without the
  // property is `normal`, or `dialog` when it is transient for another window.
  enum class Type {
    normal,
    dialog,
    utility,
    toolbar,
    splash,
    menu,
    dropdownMenu,
    popupMenu,
    tooltip,
    notification,
    combo,
    dnd,
    dock,
    desktop,
  };

  uint32_t id = 0;
  // _NET_WM_NAME (UTF-8), or WM_NAME when that is missing; "" when the window has neither.
  std::string title;
  // WM_CLASS: instance and class; both empty when the window has none.
  std::string instanceName;
  std::string className;
  // The owning process: _NET_WM_PID, else what the X server knows of the client's local process.
  // Absent for remote clients that do not say.
  std::optional<int32_t> pid;
  // The frame on screen with the window manager's decorations (_NET_FRAME_EXTENTS; without them,
  // the rectangle of the frame window the manager put the client in, if any), in global
  // coordinates: pixels, origin at the top-left of the primary monitor, y downward. Monitors left of
  // or above the primary one give negative coordinates.
  X11Rect frame;
  // The frame as the user sees it: `frame` without the shadow a client draws around itself inside
  // its own window (_GTK_FRAME_EXTENTS); the same as `frame` for a window without one.
  X11Rect visibleFrame;
  // The desktop the window is on, counted from 0 as the window manager counts (_NET_WM_DESKTOP): a
  // window on the second desktop reads 1. Absent when the window is on every desktop (see
  // `onAllDesktops`) or the window manager has not said.
  std::optional<uint32_t> desktop;
  // _NET_WM_DESKTOP is 0xFFFFFFFF: the window shows on every desktop.
  bool onAllDesktops = false;
  // The window and all its ancestors are mapped: it is on screen now (not minimized, not on another
  // desktop), though it may be covered by other windows.
  bool isViewable = false;
  Type type = Type::normal;
  // The stacking layer of the type: 0 for normal windows and dialogs (the windows a switcher
  // offers), other values for docks, desktops, menus and the like (see `layerOf`).
  int layer = 0;
  // WM_TRANSIENT_FOR: the window this one belongs to, 0 when none.
  uint32_t transientFor = 0;
  // _NET_WM_STATE flags. `minimized` is _NET_WM_STATE_HIDDEN, which the window manager sets on
  // iconified windows.
  bool minimized = false;
  bool skipTaskbar = false;
  bool skipPager = false;
  bool fullscreen = false;
  bool above = false;
  bool below = false;
  bool modal = false;
  bool maximized = false;  // both maximized vertically and horizontally
  bool shaded = false;
  bool demandsAttention = false;

  bool operator==(const X11Window&) const = default;

  std::string applicationName() const { return className; }
  std::optional<std::string> bundleIdentifier() const { return bundleIdentifierFor(className); }

  // The bundle identifier of a WM_CLASS class, by the rule above.
  static std::optional<std::string> bundleIdentifierFor(std::string_view className);
  // The stacking layer of a window type: desktop -1; normal and dialog 0; utility and toolbar 3
  // (floating palettes); dock 20; splash 21; menus and combo boxes 101; notification 102; tooltip
  // 103; drag-and-drop 104.
  static int layerOf(Type type);
};

}  // namespace quorvel
