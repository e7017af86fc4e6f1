#include "platform/x11/X11Platform.h"

#include <pthread.h>

#include <chrono>

#include "base/Executor.h"
#include "platform/atspi/AtspiAccessibility.h"
#include "platform/atspi/AtspiDbusBus.h"
#include "platform/x11/X11Accessibility.h"
#include "platform/x11/X11Backend.h"
#include "platform/x11/X11DesktopServer.h"
#include "platform/x11/X11Displays.h"
#include "platform/x11/X11AppIcons.h"
#include "platform/x11/X11InputIdle.h"
#include "platform/x11/X11OwnApplication.h"
#include "platform/x11/X11Pointer.h"
#include "platform/x11/X11ShareableContent.h"
#include "platform/x11/X11WindowServer.h"
#include "platform/x11/X11ScreenCapture.h"
#include "platform/x11/X11Workspace.h"

namespace quorvel {

std::unique_ptr<X11Platform> X11Platform::open(Runtime& runtime, const std::string& displayName) {
  std::unique_ptr<X11Connection> connection = X11Connection::open(displayName);
  if (!connection) return nullptr;
  // The event thread waits on a connection of its own, which carries the window model's events and
  // nothing else: the replies that services read on the other never wake it.
  std::unique_ptr<X11Connection> events = X11Connection::open(displayName);
  if (!events) return nullptr;
  return std::unique_ptr<X11Platform>(new X11Platform(
      runtime, std::make_shared<X11Backend>(std::move(connection), std::move(events)), displayName));
}

X11Platform::X11Platform(Runtime& runtime, std::shared_ptr<X11Backend> backend, const std::string& displayName)
    : backend_(std::move(backend)),
      windowServer_(std::make_unique<X11WindowServer>(backend_)),
      shareableContent_(std::make_unique<X11ShareableContent>(backend_, runtime.pool())),
      displays_(std::make_unique<X11Displays>(backend_)),
      desktopServer_(std::make_unique<X11DesktopServer>(backend_)),
      accessibility_(std::make_unique<X11Accessibility>(
          backend_, std::make_shared<AtspiAccessibility>(std::make_shared<AtspiDbusBus>()))),
      workspace_(std::make_shared<X11Workspace>(backend_, runtime.main(), runtime.clock())),
      inputIdle_(std::make_unique<X11InputIdle>(backend_)),
      appIcons_(std::make_unique<X11AppIcons>(backend_)),
      pointer_(std::make_unique<X11Pointer>(backend_)),
      ownApplication_(std::make_unique<X11OwnApplication>(backend_)),
      screenCapture_(X11ScreenCapture::open(displayName)) {
  // The model asks for the server's events before its first read, so no change falls between
  // the state read here and the changes the event thread measures against it.
  const X11WindowModel::Snapshot state = backend_->model().current();
  lastActive_ = state->activeWindow;
  lastGeneration_ = state->generation;
  std::optional<int32_t> activePid;
  if (const X11Window* active = lastActive_ ? state->find(*lastActive_) : nullptr) activePid = active->pid;
  workspace_->update(state->clients, activePid);
  thread_ = std::thread([this] { watch(); });
}

X11Platform::~X11Platform() { stop(); }

void X11Platform::stop() {
  stopping_ = true;
  backend_->events().wake();
  if (thread_.joinable()) thread_.join();
  if (screenCapture_) screenCapture_->stop();
}

PlatformServices X11Platform::services() {
  return PlatformServices{*windowServer_, *shareableContent_, *displays_, *desktopServer_,
                          *accessibility_, *workspace_,       *inputIdle_,     *pointer_,
                          *ownApplication_};
}

X11Connection& X11Platform::connection() { return backend_->connection(); }

X11Connection& X11Platform::events() { return backend_->events(); }

void X11Platform::watch() {
  pthread_setname_np(pthread_self(), "quorvel.x11");
  X11Connection& connection = backend_->events();
  // Blocks until the server sends an event or a wake-up comes (a look on another thread that took
  // the events and changed the model, or the platform stopping); no time-out.
  while (!stopping_ && connection.waitForEventsOrWake()) {
    if (stopping_) break;
    // Every event that has arrived is applied at once, and what it changed is told once.
    noteChanges(backend_->model().current());
  }
}

void X11Platform::noteChanges(const X11WindowModel::Snapshot& state) {
  backend_->noteActiveChanges();
  if (backend_->isBroken() || state->generation == lastGeneration_) return;
  lastGeneration_ = state->generation;
  const std::optional<uint32_t> active = state->activeWindow;
  std::optional<int32_t> activePid;
  if (const X11Window* window = active ? state->find(*active) : nullptr) activePid = window->pid;
  // An active window not yet readable as a managed window of a process is looked at again with
  // the next change.
  if (active != lastActive_ && (!active || activePid)) {
    lastActive_ = active;
    if (active) {
      backend_->noteRecentWindow(*activePid, *active, state->activeChangedAt);
      accessibility_->activeWindowChanged(*activePid, *active);
    }
  }
  workspace_->update(state->clients, activePid);
}

}  // namespace quorvel
