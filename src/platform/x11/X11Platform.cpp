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
#include "platform/x11/X11Workspace.h"

namespace quorvel {

namespace {

// How long the event thread waits for the socket before it looks again (also at xcb's own queue,
// which other threads' replies may have filled) and checks whether it is to stop.
constexpr auto kEventWait = std::chrono::milliseconds(50);

}  // namespace

std::unique_ptr<X11Platform> X11Platform::open(Runtime& runtime, const std::string& displayName) {
  std::unique_ptr<X11Connection> connection = X11Connection::open(displayName);
  if (!connection) return nullptr;
  return std::unique_ptr<X11Platform>(new X11Platform(runtime, std::make_shared<X11Backend>(std::move(connection))));
}

X11Platform::X11Platform(Runtime& runtime, std::shared_ptr<X11Backend> backend)
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
      ownApplication_(std::make_unique<X11OwnApplication>(backend_)) {
  // Changes from here on reach the event thread; the state read next is what they are measured
  // against, so none falls between the two.
  backend_->connection().watchRoot();
  lastActive_ = backend_->activeWindow();
  std::optional<int32_t> activePid;
  const std::vector<X11Window> clients = backend_->windowsInClientOrder();
  for (const X11Window& w : clients) {
    if (lastActive_ == w.id) activePid = w.pid;
  }
  workspace_->update(clients, activePid);
  thread_ = std::thread([this] { watch(); });
}

X11Platform::~X11Platform() {
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
}

PlatformServices X11Platform::services() {
  return PlatformServices{*windowServer_, *shareableContent_, *displays_, *desktopServer_,
                          *accessibility_, *workspace_,       *inputIdle_,     *pointer_,
                          *ownApplication_};
}

X11Connection& X11Platform::connection() { return backend_->connection(); }

void X11Platform::watch() {
  pthread_setname_np(pthread_self(), "quorvel.x11");
  X11Connection& connection = backend_->connection();
  const uint32_t root = connection.root();
  const uint32_t clientList = connection.ewmh()->_NET_CLIENT_LIST;
  const uint32_t activeWindow = connection.ewmh()->_NET_ACTIVE_WINDOW;
  while (!stopping_ && !connection.isBroken()) {
    if (!connection.waitForEvents(kEventWait)) continue;
    bool changed = false;
    connection.pumpEvents([&](const xcb_generic_event_t& event) {
      if ((event.response_type & 0x7f) != XCB_PROPERTY_NOTIFY) return;
      const auto& notify = reinterpret_cast<const xcb_property_notify_event_t&>(event);
      if (notify.window != root) return;
      if (notify.atom == activeWindow) activeChangedAt_ = notify.time;
      if (notify.atom == clientList || notify.atom == activeWindow) changed = true;
    });
    if (changed && !stopping_) noteChanges();
  }
}

void X11Platform::noteChanges() {
  const std::optional<uint32_t> active = backend_->activeWindow();
  const std::vector<X11Window> clients = backend_->windowsInClientOrder();
  if (backend_->isBroken()) return;
  std::optional<int32_t> activePid;
  for (const X11Window& w : clients) {
    if (active == w.id) activePid = w.pid;
  }
  // An active window not yet readable as a managed window of a process is looked at again with
  // the next change.
  if (active != lastActive_ && (!active || activePid)) {
    lastActive_ = active;
    if (active) {
      backend_->noteRecentWindow(*activePid, *active, activeChangedAt_);
      accessibility_->activeWindowChanged(*activePid, *active);
    }
  }
  workspace_->update(clients, activePid);
}

}  // namespace quorvel
