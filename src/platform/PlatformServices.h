#pragma once

namespace quorvel {

class Accessibility;
class DesktopServer;
class Displays;
class InputIdle;
class OwnApplication;
class Pointer;
class ShareableContent;
class WindowServer;
class Workspace;

// The operating-system services the window model runs on, handed to the core by the program (the
// X11 backend) or by a test (the simulated desktop). Later subsystems add their own services.
struct PlatformServices {
  WindowServer& windowServer;
  ShareableContent& shareableContent;
  Displays& displays;
  DesktopServer& desktopServer;
  Accessibility& accessibility;
  Workspace& workspace;
  InputIdle& inputIdle;
  Pointer& pointer;
  OwnApplication& ownApplication;
};

}  // namespace quorvel
