#pragma once

#include <memory>

#include "platform/OwnApplication.h"

namespace quorvel {

class X11Backend;

// This program's own windows in an X session: the managed windows whose process is this one, in
// the order the window manager took them on. Deminiaturizing maps an iconified window; making a
// window key activates it through the window manager (which also brings this program forward), so
// activating the program on its own has nothing left to do.
class X11OwnApplication final : public OwnApplication {
 public:
  explicit X11OwnApplication(std::shared_ptr<X11Backend> backend);

  std::vector<OwnWindow> windows() override;
  bool unminimize(uint32_t number) override;
  bool minimize(uint32_t number) override;
  bool performClose(uint32_t number) override;
  bool raiseAndFocus(uint32_t number) override;
  void activateProgram() override;
  // Asks the window manager for the frame (bottom-left coordinates of the primary monitor, y up),
  // as X11WindowActions::setFrame does; true when it was asked.
  bool setFrame(uint32_t number, const Rect& frame) override;

 private:
  bool isOwn(uint32_t number);

  std::shared_ptr<X11Backend> backend_;
};

}  // namespace quorvel
