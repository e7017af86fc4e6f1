#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "platform/PlatformServices.h"
#include "platform/x11/X11WindowModel.h"

namespace quorvel {

class Runtime;
class X11Accessibility;
class X11Backend;
class X11Connection;
class X11DesktopServer;
class X11Displays;
class X11AppIcons;
class X11InputIdle;
class X11OwnApplication;
class X11Pointer;
class X11ScreenCapture;
class X11ShareableContent;
class X11WindowServer;
class X11Workspace;

// The operating-system services of an X session: one connection to the X server with every service
// of PlatformServices on it, a second one that carries the window model's events alone, and an event
// thread that waits on that second connection and keeps the window model current (X11WindowModel)
// and turns its changes of the client list and active window, once per batch of events, into
// workspace notifications
// (posted to the runtime's main executor) and focus notifications of Accessibility observers
// (posted to the executor each observer is scheduled on).
//
// The runtime must outlive the platform. stop() (or destroying the platform) ends the threads that
// call into its callers: the event thread and the picture reads' (X11ScreenCapture::stop).
// Notifications and shareable-content answers still queued then find the services gone and do
// nothing (the content answers with an error).
class X11Platform {
 public:
  // Connects to `displayName` (the DISPLAY environment variable when empty); absent when the X
  // server cannot be reached or lacks the window-manager atoms.
  static std::unique_ptr<X11Platform> open(Runtime& runtime, const std::string& displayName = {});
  // Stops (stop()).
  ~X11Platform();
  X11Platform(const X11Platform&) = delete;
  X11Platform& operator=(const X11Platform&) = delete;

  // Ends the event thread and the picture reads' threads, waiting for what they are doing: from
  // then on the window model and the workspace stand still, no focus or workspace notification is
  // sent, and no picture completion runs. The services stay usable for their own calls. Main
  // thread; safe to call more than once.
  void stop();

  PlatformServices services();

  X11Connection& connection();
  // The connection the event thread waits on; waitCount() tells how often it woke.
  X11Connection& events();
  X11WindowServer& windowServer() { return *windowServer_; }
  X11ShareableContent& shareableContent() { return *shareableContent_; }
  X11Displays& displays() { return *displays_; }
  X11DesktopServer& desktopServer() { return *desktopServer_; }
  X11Accessibility& accessibility() { return *accessibility_; }
  X11Workspace& workspace() { return *workspace_; }
  X11InputIdle& inputIdle() { return *inputIdle_; }
  // The applications' icons (not part of PlatformServices: the window model does not use them).
  X11AppIcons& appIcons() { return *appIcons_; }
  X11Pointer& pointer() { return *pointer_; }
  X11OwnApplication& ownApplication() { return *ownApplication_; }
  // Pictures of windows and displays, on a connection of its own; none when that connection could
  // not be opened.
  X11ScreenCapture* screenCapture() { return screenCapture_.get(); }

 private:
  X11Platform(Runtime& runtime, std::shared_ptr<X11Backend> backend, const std::string& displayName);
  void watch();
  // Tells the services what changed in the window model since the last snapshot told.
  void noteChanges(const X11WindowModel::Snapshot& state);

  std::shared_ptr<X11Backend> backend_;
  std::unique_ptr<X11WindowServer> windowServer_;
  std::unique_ptr<X11ShareableContent> shareableContent_;
  std::unique_ptr<X11Displays> displays_;
  std::unique_ptr<X11DesktopServer> desktopServer_;
  std::unique_ptr<X11Accessibility> accessibility_;
  std::shared_ptr<X11Workspace> workspace_;
  std::unique_ptr<X11InputIdle> inputIdle_;
  std::unique_ptr<X11AppIcons> appIcons_;
  std::unique_ptr<X11Pointer> pointer_;
  std::unique_ptr<X11OwnApplication> ownApplication_;
  std::unique_ptr<X11ScreenCapture> screenCapture_;

  std::optional<uint32_t> lastActive_;  // event thread only (after start)
  uint64_t lastGeneration_ = 0;         // the model snapshot told last (ditto)
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace quorvel
