#pragma once

#include <optional>
#include <vector>

#include "platform/x11/X11Monitor.h"
#include "platform/x11/X11Rect.h"

namespace quorvel {

class X11Connection;

// Reads the monitors of the X screen (RandR 1.5 monitors, or the whole screen as one monitor when the
// server has none) and the parts of them that docks leave free.
class X11DisplayReader {
 public:
  explicit X11DisplayReader(X11Connection& connection);

  // What docks and the window manager keep from the monitors: the struts of every managed window
  // and, when no window has one, the window manager's work area of the current desktop. Reading it
  // asks every managed window; it only changes with a strut, the client list, the work area or the
  // current desktop, all of which the server announces.
  struct ReservedArea {
    std::vector<std::vector<uint32_t>> struts;
    std::optional<X11Rect> workArea;
  };
  ReservedArea reservedArea();

  // Every active monitor in RandR's order, frames in global coordinates; exactly one is primary.
  // Empty only when the connection is lost. The first form reads the reserved area afresh; the
  // second takes one read earlier, and asks the server only for the monitors (one request).
  std::vector<X11Monitor> monitors();
  std::vector<X11Monitor> monitors(const ReservedArea& reserved);
  // The same monitors with their whole frames only: `visibleFrame` is the frame, since no dock is
  // asked for its struts. One request, where monitors() asks every managed window.
  std::vector<X11Monitor> monitorFrames();
  // The primary monitor's frame in root-window coordinates. Global coordinates are root coordinates
  // less this frame's origin. Absent only when the connection is lost.
  std::optional<X11Rect> primaryRootFrame();

  // The free part of a monitor (root coordinates) once the given struts are taken away. A strut is
  // the 12 values of _NET_WM_STRUT_PARTIAL (left, right, top, bottom, then the start and end of each
  // along its edge) with the root size it refers to; it trims a monitor only where it reaches into
  // it. A trim that would leave nothing is ignored (a broken strut must not swallow a display).
  static X11Rect trimByStruts(const X11Rect& monitor, const std::vector<std::vector<uint32_t>>& struts,
                              int32_t rootWidth, int32_t rootHeight);

 private:
  struct RawMonitor {
    std::string name;
    X11Rect frame;
    bool primary = false;
  };
  std::vector<RawMonitor> rawMonitors();
  bool hasRandrMonitors();
  std::vector<std::vector<uint32_t>> dockStruts();
  std::optional<X11Rect> currentWorkArea();

  X11Connection& connection_;
  std::optional<bool> randrMonitors_;
};

}  // namespace quorvel
