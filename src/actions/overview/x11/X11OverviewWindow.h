#pragma once

#include <xcb/xcb.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "actions/overview/OverviewPointer.h"
#include "actions/overview/OverviewSources.h"
#include "base/Geometry.h"

namespace quorvel {

class VulkanDevice;
class VulkanWindowSurface;
class X11ArgbWindow;
class GpuSurface;

// The desktops overview's window on X11: an override-redirect 32-bit window of ours over the given
// frame (see-through where nothing is drawn), drawn into through a Vulkan surface, that takes the
// keyboard focus when shown. Its pointer and key events go through OverviewPointer to the
// overview's controller; a change of its size calls onGeometryChange. The refusal sound is the X
// bell.
//
// Threads: the main thread; pump() hands over the events that arrived (call it often, e.g. every
// 16 ms, while the window is up).
class X11OverviewWindow final : public OverviewWindowHost {
 public:
  // None with the reason in `error` when the display, the window or the surface cannot be made.
  static std::unique_ptr<X11OverviewWindow> open(const std::string& display, Rect frame,
                                                 std::shared_ptr<VulkanDevice> device, std::string* error = nullptr);
  ~X11OverviewWindow() override;

  GpuSurface& surface();
  OverviewPointer& pointer() { return pointer_; }
  uint32_t xWindow() const;
  // Called after the window's size changed (the surface already follows it).
  std::function<void()> onGeometryChange;

  // Handles the events that arrived.
  void pump();

  bool isVisible() const override;
  Size canvasSize() const override;
  void show() override;
  void orderOut() override;
  void beep() override;

 private:
  X11OverviewWindow() = default;
  void handle(const xcb_generic_event_t& event);

  std::unique_ptr<X11ArgbWindow> window_;
  std::shared_ptr<VulkanWindowSurface> surface_;
  OverviewPointer pointer_;
  std::vector<uint8_t> escapeKeycodes_;
};

}  // namespace quorvel
