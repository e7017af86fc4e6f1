// The simulated desktop as the tests script it: applications, windows, displays and desktops,
// element trees, permissions, input and the pointer (injected failures and the call counters are in
// SimDesktopFaults.cpp).
#include "platform/sim/SimDesktop.h"

#include <cstdio>
#include <cstdlib>

#include "platform/sim/SimAccessibility.h"
#include "platform/sim/SimApp.h"
#include "platform/sim/SimDesktopServer.h"
#include "platform/sim/SimDisplays.h"
#include "platform/sim/SimInputIdle.h"
#include "platform/sim/SimOwnApplication.h"
#include "platform/sim/SimPointer.h"
#include "platform/sim/SimScreenCapture.h"
#include "platform/sim/SimShareableContent.h"
#include "platform/sim/SimWindow.h"
#include "platform/sim/SimWindowServer.h"
#include "platform/sim/SimWorkspace.h"
#include "platform/sim/SimWorld.h"

namespace quorvel {

namespace {

[[noreturn]] void misuse(const char* what) {
  std::fprintf(stderr, "SimDesktop: %s\n", what);
  std::abort();
}

}  // namespace

SimDesktop::SimDesktop(Runtime& runtime, SimDesktopOptions options)
    : runtime_(runtime),
      world_(std::make_shared<SimWorld>(runtime, options)),
      windowServer_(std::make_unique<SimWindowServer>(world_)),
      shareableContent_(std::make_unique<SimShareableContent>(world_)),
      screenCapture_(std::make_unique<SimScreenCapture>(world_)),
      displays_(std::make_unique<SimDisplays>(world_)),
      desktopServer_(std::make_unique<SimDesktopServer>(world_)),
      accessibility_(std::make_unique<SimAccessibility>(world_)),
      workspace_(std::make_unique<SimWorkspace>(world_)),
      inputIdle_(std::make_unique<SimInputIdle>(world_)),
      pointer_(std::make_unique<SimPointer>(world_)),
      ownApplication_(std::make_unique<SimOwnApplication>(world_)) {}

SimDesktop::~SimDesktop() = default;

PlatformServices SimDesktop::services() {
  return PlatformServices{*windowServer_, *shareableContent_, *displays_, *desktopServer_,
                          *accessibility_, *workspace_,       *inputIdle_,     *pointer_,
                          *ownApplication_};
}

WindowServer& SimDesktop::windowServer() { return *windowServer_; }
ShareableContent& SimDesktop::shareableContent() { return *shareableContent_; }
SimScreenCapture& SimDesktop::screenCapture() { return *screenCapture_; }
Displays& SimDesktop::displays() { return *displays_; }
DesktopServer& SimDesktop::desktopServer() { return *desktopServer_; }
Accessibility& SimDesktop::accessibility() { return *accessibility_; }
Workspace& SimDesktop::workspace() { return *workspace_; }
InputIdle& SimDesktop::inputIdle() { return *inputIdle_; }
Pointer& SimDesktop::pointer() { return *pointer_; }
OwnApplication& SimDesktop::ownApplication() { return *ownApplication_; }

// --- Applications ----------------------------------------------------------------------------

SimApp& SimDesktop::launchApp(SimAppSpec spec) {
  world_->change([&](SimEffects& fx) { world_->launch(spec, fx); });
  std::lock_guard guard(handlesMutex_);
  auto& handle = apps_[spec.pid];
  if (!handle) handle = std::make_unique<SimApp>(*this, spec.pid);
  return *handle;
}

SimApp& SimDesktop::app(int32_t pid) {
  std::lock_guard guard(handlesMutex_);
  auto it = apps_.find(pid);
  if (it == apps_.end()) misuse("app: no application with this pid was launched");
  return *it->second;
}

bool SimDesktop::quitApp(int32_t pid) {
  return world_->change([&](SimEffects& fx) { return world_->quit(pid, fx); });
}

bool SimDesktop::activateApp(int32_t pid, bool allWindows) {
  return world_->change([&](SimEffects& fx) { return world_->activate(pid, allWindows, fx); });
}

bool SimDesktop::hideApp(int32_t pid) {
  return world_->change([&](SimEffects& fx) { return world_->hide(pid, fx); });
}

bool SimDesktop::unhideApp(int32_t pid) {
  return world_->change([&](SimEffects& fx) { return world_->unhide(pid, fx); });
}

void SimDesktop::setActivationPolicy(int32_t pid, ActivationPolicy policy) {
  world_->change([&](SimEffects&) {
    if (auto* a = world_->app(pid)) a->policy = policy;
  });
}

std::optional<int32_t> SimDesktop::frontApp() const {
  return world_->read([&] { return world_->front; });
}

bool SimDesktop::isRunning(int32_t pid) const {
  return world_->read([&] { return world_->runningApp(pid) != nullptr; });
}

bool SimDesktop::isHidden(int32_t pid) const {
  return world_->read([&] {
    const auto* a = world_->runningApp(pid);
    return a && a->hidden;
  });
}

// --- Windows ---------------------------------------------------------------------------------

SimWindow& SimDesktop::openWindow(int32_t pid, SimWindowSpec spec) {
  const uint32_t number = world_->change([&](SimEffects& fx) { return world_->open(pid, spec, fx); });
  std::lock_guard guard(handlesMutex_);
  auto& handle = windows_[number];
  if (!handle) handle = std::make_unique<SimWindow>(*this, number, pid);
  *handle = SimWindow(*this, number, pid);
  return *handle;
}

SimWindow& SimDesktop::window(uint32_t number) {
  std::lock_guard guard(handlesMutex_);
  auto it = windows_.find(number);
  if (it == windows_.end()) misuse("window: no window with this number was opened");
  return *it->second;
}

bool SimDesktop::closeWindow(uint32_t number) {
  return world_->change([&](SimEffects& fx) { return world_->close(number, fx); });
}

bool SimDesktop::focusWindow(uint32_t number) {
  return world_->change([&](SimEffects& fx) { return world_->focus(number, fx); });
}

bool SimDesktop::raiseWindow(uint32_t number) {
  return world_->change([&](SimEffects& fx) { return world_->raise(number, fx); });
}

bool SimDesktop::minimizeWindow(uint32_t number, bool minimized) {
  return world_->change([&](SimEffects& fx) { return world_->minimize(number, minimized, fx); });
}

bool SimDesktop::setWindowTitle(uint32_t number, std::optional<std::string> title) {
  return world_->change([&](SimEffects&) {
    auto* w = world_->window(number);
    if (w) w->title = std::move(title);
    return w != nullptr;
  });
}

bool SimDesktop::setWindowFrame(uint32_t number, Rect frame) {
  return world_->change([&](SimEffects&) {
    auto* w = world_->window(number);
    if (w) w->frame = frame;
    return w != nullptr;
  });
}

bool SimDesktop::setWindowSubrole(uint32_t number, std::string subrole) {
  return world_->change([&](SimEffects&) {
    auto* w = world_->window(number);
    if (w) w->subrole = std::move(subrole);
    return w != nullptr;
  });
}

bool SimDesktop::setWindowListedByAX(uint32_t number, std::optional<bool> listed) {
  return world_->change([&](SimEffects&) {
    auto* w = world_->window(number);
    if (w) w->listedByAX = listed;
    return w != nullptr;
  });
}

bool SimDesktop::moveWindowToDesktop(uint32_t number, int64_t spaceID) {
  return world_->change([&](SimEffects&) {
    auto* w = world_->window(number);
    if (!w || !world_->displayOfSpace(spaceID)) return false;
    w->sticky = false;
    w->desktops = {spaceID};
    return true;
  });
}

bool SimDesktop::setSticky(uint32_t number, bool sticky) {
  return world_->change([&](SimEffects&) {
    auto* w = world_->window(number);
    if (!w) return false;
    w->sticky = sticky;
    if (!sticky && w->desktops.empty()) w->desktops.push_back(world_->defaultDesktop(w->frame));
    return true;
  });
}

bool SimDesktop::windowExists(uint32_t number) const {
  return world_->read([&] { return world_->window(number) != nullptr; });
}

bool SimDesktop::isOnScreen(uint32_t number) const {
  return world_->read([&] {
    const auto* w = world_->window(number);
    return w && world_->isOnScreen(*w);
  });
}

bool SimDesktop::isMinimized(uint32_t number) const {
  return world_->read([&] {
    const auto* w = world_->window(number);
    return w && w->minimized;
  });
}

std::optional<Rect> SimDesktop::windowFrame(uint32_t number) const {
  return world_->read([&]() -> std::optional<Rect> {
    const auto* w = world_->window(number);
    if (!w) return std::nullopt;
    return w->frame;
  });
}

std::vector<int64_t> SimDesktop::desktopsOf(uint32_t number) const {
  return world_->read([&] {
    const auto* w = world_->window(number);
    return w ? world_->desktopsOf(*w) : std::vector<int64_t>{};
  });
}

std::vector<uint32_t> SimDesktop::stackingOrder() const {
  return world_->read([&] { return world_->stack; });
}

std::vector<uint32_t> SimDesktop::onScreenOrder() const {
  return world_->read([&] { return world_->onScreenOrder(); });
}

std::vector<uint32_t> SimDesktop::windowsOf(int32_t pid) const {
  return world_->read([&] {
    std::vector<uint32_t> own;
    for (uint32_t number : world_->stack) {
      if (world_->windows.at(number).pid == pid) own.push_back(number);
    }
    return own;
  });
}

std::optional<uint32_t> SimDesktop::focusedWindow(int32_t pid) const {
  return world_->read([&]() -> std::optional<uint32_t> {
    const auto* a = world_->runningApp(pid);
    return a ? a->focused : std::nullopt;
  });
}

std::optional<uint32_t> SimDesktop::focusedWindow() const {
  return world_->read([&]() -> std::optional<uint32_t> {
    if (!world_->front) return std::nullopt;
    const auto* a = world_->runningApp(*world_->front);
    return a ? a->focused : std::nullopt;
  });
}

// --- Displays and desktops -------------------------------------------------------------------

void SimDesktop::addDisplay(SimDisplaySpec spec) {
  world_->change([&](SimEffects&) { world_->attach(std::move(spec)); });
}

bool SimDesktop::removeDisplay(uint32_t displayID) {
  return world_->change([&](SimEffects&) {
    SimDisplayState* d = world_->display(displayID);
    if (!d) return false;
    std::vector<int64_t> spaces;
    for (const auto& s : d->spaces) spaces.push_back(s.id);
    auto& list = world_->displayList;
    list.erase(list.begin() + (d - list.data()));
    if (world_->mainDisplayID == displayID) world_->mainDisplayID = list.empty() ? 0 : list.front().spec.id;
    const SimDisplayState* main = world_->mainDisplay();
    const int64_t fallback = main ? main->current : 0;
    for (auto& [number, w] : world_->windows) {
      bool moved = false;
      for (int64_t s : spaces) moved |= std::erase(w.desktops, s) > 0;
      if (moved && w.desktops.empty() && !w.sticky && fallback != 0) w.desktops.push_back(fallback);
    }
    return true;
  });
}

bool SimDesktop::setMainDisplay(uint32_t displayID) {
  return world_->change([&](SimEffects&) {
    if (!world_->display(displayID)) return false;
    world_->mainDisplayID = displayID;
    return true;
  });
}

void SimDesktop::setSeparateSpaces(bool separate) {
  world_->change([&](SimEffects&) { world_->separateSpaces = separate; });
}

std::vector<uint32_t> SimDesktop::displayIDs() const {
  return world_->read([&] {
    std::vector<uint32_t> ids;
    for (const auto* d : world_->orderedDisplays()) ids.push_back(d->spec.id);
    return ids;
  });
}

std::vector<int64_t> SimDesktop::desktops(uint32_t displayID) const {
  return world_->read([&] {
    std::vector<int64_t> ids;
    if (const auto* d = world_->display(displayID)) {
      for (const auto& s : d->spaces) ids.push_back(s.id);
    }
    return ids;
  });
}

std::optional<int64_t> SimDesktop::currentDesktop(uint32_t displayID) const {
  return world_->read([&]() -> std::optional<int64_t> {
    const auto* d = world_->display(displayID);
    if (!d || d->current == 0) return std::nullopt;
    return d->current;
  });
}

std::optional<uint32_t> SimDesktop::displayOfDesktop(int64_t spaceID) const {
  return world_->read([&]() -> std::optional<uint32_t> {
    const auto* d = world_->displayOfSpace(spaceID);
    if (!d) return std::nullopt;
    return d->spec.id;
  });
}

int64_t SimDesktop::addDesktop(uint32_t displayID) {
  return world_->change([&](SimEffects&) -> int64_t {
    SimDisplayState* d = world_->display(displayID);
    if (!d) misuse("addDesktop: unknown display");
    const int64_t id = world_->newSpace(*d, 0);
    if (d->current == 0) d->current = id;
    return id;
  });
}

int64_t SimDesktop::addFullScreenDesktop(uint32_t displayID, uint32_t window) {
  return world_->change([&](SimEffects&) -> int64_t {
    SimDisplayState* d = world_->display(displayID);
    SimWindowState* w = world_->window(window);
    if (!d || !w) misuse("addFullScreenDesktop: unknown display or window");
    size_t at = d->spaces.size();
    for (size_t i = 0; i < d->spaces.size(); ++i) {
      if (d->spaces[i].id == d->current) at = i + 1;
    }
    const int64_t id = world_->newSpace(*d, 4, at);
    d->current = id;
    w->sticky = false;
    w->minimized = false;
    w->desktops = {id};
    w->frame = d->spec.frame;
    world_->toFront(window);
    return id;
  });
}

bool SimDesktop::removeDesktop(int64_t spaceID) {
  return world_->change([&](SimEffects&) { return world_->dropSpace(spaceID); });
}

bool SimDesktop::switchDesktop(int64_t spaceID) {
  return world_->change([&](SimEffects&) {
    SimDisplayState* d = world_->displayOfSpace(spaceID);
    if (!d) return false;
    d->current = spaceID;
    return true;
  });
}

// --- Accessibility trees ---------------------------------------------------------------------

SimElementId SimDesktop::applicationElement(int32_t pid) const {
  return world_->read([&] {
    const auto* a = world_->runningApp(pid);
    return a ? a->element : SimElementId::none;
  });
}

SimElementId SimDesktop::windowElement(uint32_t number) const {
  return world_->read([&] {
    const auto* w = world_->window(number);
    return w ? w->element : SimElementId::none;
  });
}

SimElementId SimDesktop::addElement(SimElementId parent, SimElementSpec spec) {
  return world_->change([&](SimEffects&) {
    const SimNode* p = world_->node(parent);
    if (!p) misuse("addElement: the parent element does not exist");
    return world_->build(parent, p->pid, spec);
  });
}

std::vector<SimElementId> SimDesktop::replaceChildren(SimElementId parent, std::vector<SimElementSpec> specs) {
  return world_->change([&](SimEffects&) {
    SimNode* p = world_->node(parent);
    if (!p) misuse("replaceChildren: the parent element does not exist");
    const std::vector<SimElementId> old = p->children;
    for (SimElementId child : old) world_->dropNode(child);
    const int32_t pid = world_->node(parent)->pid;
    std::vector<SimElementId> fresh;
    for (const auto& spec : specs) fresh.push_back(world_->build(parent, pid, spec));
    return fresh;
  });
}

bool SimDesktop::removeElement(SimElementId element) {
  return world_->change([&](SimEffects&) {
    const SimNode* n = world_->node(element);
    if (!n || n->kind != SimNode::Kind::built) return false;
    world_->dropNode(element);
    return true;
  });
}

std::vector<SimElementId> SimDesktop::children(SimElementId element) const {
  return world_->read([&] {
    const SimNode* n = world_->node(element);
    return n ? n->children : std::vector<SimElementId>{};
  });
}

SimElementId SimDesktop::parent(SimElementId element) const {
  return world_->read([&] {
    const SimNode* n = world_->node(element);
    return n && world_->node(n->parent) ? n->parent : SimElementId::none;
  });
}

bool SimDesktop::elementExists(SimElementId element) const {
  return world_->read([&] { return world_->node(element) != nullptr; });
}

bool SimDesktop::setAttribute(SimElementId element, const std::string& attribute, AXValue value) {
  return world_->change([&](SimEffects&) {
    SimNode* n = world_->node(element);
    if (!n) return false;
    n->attributes[attribute] = std::move(value);
    return true;
  });
}

AXAttributeResult SimDesktop::attribute(SimElementId element, const std::string& attribute) const {
  return world_->read([&] {
    const SimNode* n = world_->node(element);
    if (!n) return AXAttributeResult{AXError::invalidElement, {}};
    return world_->readAttribute(*n, attribute);
  });
}

void SimDesktop::setAction(SimElementId element, const std::string& action, SimActionHandler handler) {
  world_->change([&](SimEffects&) {
    if (SimNode* n = world_->node(element)) n->actions[action] = std::move(handler);
  });
}

void SimDesktop::onAttributeSet(SimElementId element, const std::string& attribute, SimSetHook hook) {
  world_->change([&](SimEffects&) {
    if (SimNode* n = world_->node(element)) n->hooks[attribute] = std::move(hook);
  });
}

void SimDesktop::setSettable(SimElementId element, const std::string& attribute, bool settable) {
  world_->change([&](SimEffects&) {
    if (SimNode* n = world_->node(element)) {
      if (settable) {
        n->unsettable.erase(attribute);
      } else {
        n->unsettable.insert(attribute);
      }
    }
  });
}

void SimDesktop::setIgnoresDesktopMoves(uint32_t number, bool ignores) {
  world_->change([&](SimEffects&) {
    if (SimWindowState* w = world_->window(number)) w->ignoresDesktopMoves = ignores;
  });
}

AXElementRef SimDesktop::ref(SimElementId element) const {
  return world_->read([&] { return world_->ref(element); });
}

SimElementId SimDesktop::idOf(const AXElementRef& element) const { return world_->idOf(element); }

SimActionHandler SimDesktop::selectsAmongSiblings() {
  std::weak_ptr<SimWorld> weak = world_;
  return [weak](SimElementId self) {
    auto world = weak.lock();
    if (!world) return AXError::invalidElement;
    return world->change([&](SimEffects&) {
      SimNode* n = world->node(self);
      if (!n) return AXError::invalidElement;
      if (SimNode* p = world->node(n->parent)) {
        for (SimElementId sibling : p->children) {
          if (SimNode* s = world->node(sibling)) s->attributes["AXSelected"] = false;
        }
      }
      world->node(self)->attributes["AXSelected"] = true;
      return AXError::success;
    });
  };
}

void SimDesktop::postNotification(SimElementId element, const std::string& notification) {
  world_->change([&](SimEffects& fx) {
    const SimNode* n = world_->node(element);
    if (!n) return;
    std::vector<SimElementId> targets{element};
    if (const auto* a = world_->runningApp(n->pid); a && a->element != element) targets.push_back(a->element);
    world_->notify(n->pid, targets, element, notification, fx);
  });
}

int SimDesktop::actionCount(SimElementId element, const std::string& action) const {
  return world_->read([&] {
    const SimNode* n = world_->node(element);
    if (!n) return 0;
    auto it = n->actionCounts.find(action);
    return it == n->actionCounts.end() ? 0 : it->second;
  });
}

float SimDesktop::messagingTimeout(SimElementId element) const {
  return world_->read([&] {
    const SimNode* n = world_->node(element);
    return n ? n->messagingTimeout : 0.0f;
  });
}

// --- Permissions and input -------------------------------------------------------------------

void SimDesktop::setAccessibilityTrusted(bool trusted) {
  world_->change([&](SimEffects&) { world_->trusted = trusted; });
}

void SimDesktop::setScreenRecordingGranted(bool granted) {
  world_->change([&](SimEffects&) { world_->screenRecording = granted; });
}

int SimDesktop::accessibilityPrompts() const {
  return world_->read([&] { return world_->accessibilityPrompts; });
}

int SimDesktop::screenRecordingRequests() const {
  return world_->read([&] { return world_->screenRecordingRequests; });
}

void SimDesktop::setIdleSeconds(InputIdle::Source source, std::optional<double> seconds) {
  const Instant now = runtime_.clock().now();
  world_->change([&](SimEffects&) {
    world_->lastInput[source] = seconds ? std::optional<Instant>(now - fromSeconds(*seconds)) : std::nullopt;
  });
}

void SimDesktop::setIdleSeconds(std::optional<double> seconds) {
  setIdleSeconds(InputIdle::Source::hidSystem, seconds);
  setIdleSeconds(InputIdle::Source::combinedSession, seconds);
}

// --- Pointer and the program's own application ----------------------------------------------

void SimDesktop::setPressedButtons(uint32_t buttons) {
  world_->change([&](SimEffects&) { world_->pointer.pressedButtons = buttons; });
}

void SimDesktop::setPointerLocation(Point location) {
  world_->change([&](SimEffects&) { world_->pointer.location = location; });
}

Point SimDesktop::pointerLocation() const {
  return world_->read([&] { return world_->pointer.location; });
}

int SimDesktop::pointerWarps() const {
  return world_->read([&] { return world_->pointer.warps; });
}

bool SimDesktop::pointerAssociated() const {
  return world_->read([&] { return world_->pointer.associated; });
}

std::vector<SimOpenRequest> SimDesktop::openRequests() const {
  return world_->read([&] { return world_->openRequests; });
}

int SimDesktop::ownActivations() const {
  return world_->read([&] { return world_->ownActivations; });
}

int SimDesktop::ownKeyWindowRequests() const {
  return world_->read([&] { return world_->ownKeyWindowRequests; });
}

}  // namespace quorvel
