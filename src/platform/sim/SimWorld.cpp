// The simulated desktop's state: applications, windows with their stacking and focus, displays and
// their desktops (the Accessibility elements are in SimWorldElements.cpp).
#include "platform/sim/SimWorld.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace quorvel {

namespace {

constexpr double kTopPanelHeight = 25.0;

[[noreturn]] void misuse(const char* what) {
  std::fprintf(stderr, "SimDesktop: %s\n", what);
  std::abort();
}

double overlapArea(const Rect& a, const Rect& b) {
  if (!a.intersects(b)) return 0;
  const Rect r = a.intersection(b);
  return r.isNull() ? 0 : r.width * r.height;
}

}  // namespace

SimWorld::SimWorld(Runtime& runtime, const SimDesktopOptions& options)
    : runtime(runtime),
      virtualClock(dynamic_cast<VirtualClock*>(&runtime.clock())),
      ownPid(options.ownPid),
      trusted(options.accessibilityTrusted),
      screenRecording(options.screenRecordingGranted),
      separateSpaces(options.separateSpaces),
      nextWindowNumber(options.firstWindowNumber),
      nextSpaceID(options.firstDesktopID) {
  for (const auto& spec : options.displays) attach(spec);
  const Instant now = runtime.clock().now();
  lastInput[InputIdle::Source::hidSystem] = now;
  lastInput[InputIdle::Source::combinedSession] = now;
}

// --- Applications ----------------------------------------------------------------------------

SimAppState* SimWorld::app(int32_t pid) {
  auto it = apps.find(pid);
  return it == apps.end() ? nullptr : &it->second;
}

const SimAppState* SimWorld::app(int32_t pid) const {
  auto it = apps.find(pid);
  return it == apps.end() ? nullptr : &it->second;
}

SimAppState* SimWorld::runningApp(int32_t pid) {
  auto* a = app(pid);
  return a && a->running ? a : nullptr;
}

const SimAppState* SimWorld::runningApp(int32_t pid) const {
  const auto* a = app(pid);
  return a && a->running ? a : nullptr;
}

RunningApplication SimWorld::runningApplication(const SimAppState& a) const {
  return RunningApplication{.pid = a.pid,
                            .bundleIdentifier = a.bundleID,
                            .localizedName = a.name,
                            .bundleURL = a.bundleURL,
                            .isHidden = a.hidden,
                            .isActive = front == a.pid,
                            .activationPolicy = a.policy};
}

void SimWorld::postWorkspace(Workspace::Event event, const SimAppState& a, SimEffects& fx) {
  // The observers of the moment of the change; those removed before the delivery are skipped.
  auto observers = workspaceObservers[static_cast<size_t>(event)].snapshot();
  if (observers.empty()) return;
  RunningApplication info = runningApplication(a);
  info.noticedAt = runtime.clock().now();
  Executor& main = runtime.main();
  fx.add([observers = std::move(observers), info = std::move(info), event, &main] {
    main.post([observers, info, event] { observers.notify(event, info); });
  });
}

bool SimWorld::launch(const SimAppSpec& spec, SimEffects& fx) {
  if (runningApp(spec.pid)) return false;
  SimAppState& a = apps[spec.pid];
  a = SimAppState{};
  a.pid = spec.pid;
  a.bundleID = spec.bundleID;
  a.bundleURL = spec.bundleURL;
  a.name = spec.name;
  a.policy = spec.policy;
  a.running = true;
  a.hidden = spec.hidden && !spec.activate;
  SimNode n;
  n.pid = spec.pid;
  n.kind = SimNode::Kind::application;
  a.element = addNode(std::move(n));
  appOrder.push_back(spec.pid);
  postWorkspace(Workspace::Event::didLaunchApplication, a, fx);
  if (spec.activate) setFront(spec.pid, fx);
  return true;
}

bool SimWorld::quit(int32_t pid, SimEffects& fx) {
  SimAppState* a = runningApp(pid);
  if (!a) return false;
  std::vector<uint32_t> owned;
  for (const auto& [number, w] : windows) {
    if (w.pid == pid) owned.push_back(number);
  }
  for (uint32_t number : owned) {
    std::erase(stack, number);
    dropNode(windows[number].element);
    windows.erase(number);
  }
  dropNode(a->element);
  a->element = SimElementId::none;
  a->running = false;
  a->hidden = false;
  a->focused.reset();
  std::erase(appOrder, pid);
  postWorkspace(Workspace::Event::didTerminateApplication, *a, fx);
  if (front == pid) {
    front.reset();
    setFront(nextFront(pid), fx);
  }
  return true;
}

void SimWorld::setFront(std::optional<int32_t> pid, SimEffects& fx) {
  if (front == pid) return;
  front = pid;
  if (pid) {
    if (const auto* a = app(*pid)) postWorkspace(Workspace::Event::didActivateApplication, *a, fx);
  }
}

std::optional<int32_t> SimWorld::nextFront(int32_t leaving) const {
  for (uint32_t number : onScreenOrder()) {
    const auto& w = windows.at(number);
    if (w.pid == leaving) continue;
    const auto* a = runningApp(w.pid);
    if (a && a->policy == ActivationPolicy::regular) return w.pid;
  }
  return std::nullopt;
}

bool SimWorld::activate(int32_t pid, bool allWindows, SimEffects& fx) {
  SimAppState* a = runningApp(pid);
  if (!a) return false;
  if (a->hidden) unhide(pid, fx);
  if (allWindows) {
    std::vector<uint32_t> own;
    for (uint32_t number : stack) {
      const auto& w = windows.at(number);
      if (w.pid == pid && isOnScreen(w)) own.push_back(number);
    }
    std::erase_if(stack, [&](uint32_t n) { return std::find(own.begin(), own.end(), n) != own.end(); });
    stack.insert(stack.begin(), own.begin(), own.end());
  } else if (a->focused) {
    if (const auto* w = window(*a->focused); w && isOnScreen(*w)) toFront(w->number);
  }
  setFront(pid, fx);
  return true;
}

bool SimWorld::hide(int32_t pid, SimEffects& fx) {
  SimAppState* a = runningApp(pid);
  if (!a) return false;
  if (a->hidden) return true;
  a->hidden = true;
  postWorkspace(Workspace::Event::didHideApplication, *a, fx);
  if (front == pid) setFront(nextFront(pid), fx);
  return true;
}

bool SimWorld::unhide(int32_t pid, SimEffects& fx) {
  SimAppState* a = runningApp(pid);
  if (!a) return false;
  if (!a->hidden) return true;
  a->hidden = false;
  postWorkspace(Workspace::Event::didUnhideApplication, *a, fx);
  return true;
}

// --- Windows ---------------------------------------------------------------------------------

SimWindowState* SimWorld::window(uint32_t number) {
  auto it = windows.find(number);
  return it == windows.end() ? nullptr : &it->second;
}

const SimWindowState* SimWorld::window(uint32_t number) const {
  auto it = windows.find(number);
  return it == windows.end() ? nullptr : &it->second;
}

uint32_t SimWorld::open(int32_t pid, const SimWindowSpec& spec, SimEffects& fx) {
  SimAppState* a = runningApp(pid);
  if (!a) misuse("openWindow: the application is not running");
  uint32_t number = 0;
  if (spec.number) {
    number = *spec.number;
    if (number == 0 || windows.count(number)) misuse("openWindow: the window number is 0 or taken");
  } else {
    while (nextWindowNumber == 0 || windows.count(nextWindowNumber)) ++nextWindowNumber;
    number = nextWindowNumber++;
  }
  SimWindowState w;
  w.number = number;
  w.pid = pid;
  w.title = spec.title;
  w.frame = spec.frame;
  w.layer = spec.layer;
  w.subrole = spec.subrole;
  w.minimized = spec.minimized;
  w.sticky = spec.sticky;
  w.listedByAX = spec.listedByAX;
  w.hasOwningApplication = spec.hasOwningApplication;
  if (!spec.sticky) w.desktops.push_back(spec.desktop ? *spec.desktop : defaultDesktop(spec.frame));
  SimNode n;
  n.pid = pid;
  n.kind = SimNode::Kind::window;
  n.window = number;
  n.parent = a->element;
  w.element = addNode(std::move(n));
  windows.emplace(number, std::move(w));
  if (spec.inFront) {
    stack.insert(stack.begin(), number);
  } else {
    stack.push_back(number);
  }
  if (!spec.minimized && (spec.inFront || !a->focused)) setFocused(pid, number, fx);
  return number;
}

bool SimWorld::close(uint32_t number, SimEffects& fx) {
  SimWindowState* w = window(number);
  if (!w) return false;
  const int32_t pid = w->pid;
  std::erase(stack, number);
  dropNode(w->element);
  windows.erase(number);
  refocusAfterLoss(pid, number, fx);
  return true;
}

void SimWorld::toFront(uint32_t number) {
  std::erase(stack, number);
  stack.insert(stack.begin(), number);
}

void SimWorld::setFocused(int32_t pid, std::optional<uint32_t> number, SimEffects& fx) {
  SimAppState* a = runningApp(pid);
  if (!a || a->focused == number) return;
  a->focused = number;
  if (!number) return;
  const SimWindowState* w = window(*number);
  if (!w) return;
  notify(pid, {a->element}, w->element, "AXFocusedWindowChanged", fx);
}

void SimWorld::refocusAfterLoss(int32_t pid, uint32_t lost, SimEffects& fx) {
  SimAppState* a = runningApp(pid);
  if (!a || a->focused != lost) return;
  std::optional<uint32_t> next;
  for (uint32_t number : stack) {
    const auto& w = windows.at(number);
    if (w.pid == pid && number != lost && !w.minimized) {
      next = number;
      break;
    }
  }
  a->focused.reset();
  if (next) setFocused(pid, next, fx);
}

bool SimWorld::focus(uint32_t number, SimEffects& fx) {
  SimWindowState* w = window(number);
  if (!w || !runningApp(w->pid)) return false;
  w->minimized = false;
  if (!onCurrentDesktop(*w) && !w->desktops.empty()) {
    if (auto* d = displayOfSpace(w->desktops.front())) d->current = w->desktops.front();
  }
  // Focused first, so that activating brings this window forward, not the one focused before.
  setFocused(w->pid, number, fx);
  toFront(number);
  activate(w->pid, false, fx);
  return true;
}

bool SimWorld::raise(uint32_t number, SimEffects& fx) {
  SimWindowState* w = window(number);
  if (!w) return false;
  toFront(number);
  if (!w->minimized) setFocused(w->pid, number, fx);
  return true;
}

bool SimWorld::minimize(uint32_t number, bool minimized, SimEffects& fx) {
  SimWindowState* w = window(number);
  if (!w) return false;
  if (w->minimized == minimized) return true;
  w->minimized = minimized;
  if (minimized) {
    refocusAfterLoss(w->pid, number, fx);
  } else {
    toFront(number);
    setFocused(w->pid, number, fx);
  }
  return true;
}

bool SimWorld::onCurrentDesktop(const SimWindowState& w) const {
  if (w.sticky) return !displayList.empty();
  for (int64_t space : w.desktops) {
    const auto* d = displayOfSpace(space);
    if (d && d->current == space) return true;
  }
  return false;
}

bool SimWorld::isOnScreen(const SimWindowState& w) const {
  const auto* a = runningApp(w.pid);
  return a && !a->hidden && !w.minimized && onCurrentDesktop(w);
}

bool SimWorld::isListedByAX(const SimWindowState& w) const {
  if (w.listedByAX) return *w.listedByAX;
  return w.minimized || onCurrentDesktop(w);
}

std::vector<int64_t> SimWorld::desktopsOf(const SimWindowState& w) const {
  if (!w.sticky) return w.desktops;
  std::vector<int64_t> all;
  for (const auto* d : orderedDisplays()) {
    for (const auto& s : d->spaces) all.push_back(s.id);
  }
  return all;
}

std::vector<uint32_t> SimWorld::onScreenOrder() const {
  std::vector<uint32_t> order;
  order.reserve(stack.size());
  bool layered = false;  // more than one layer on screen
  for (uint32_t number : stack) {
    const SimWindowState& w = windows.at(number);
    if (!isOnScreen(w)) continue;
    if (!order.empty() && w.layer != windows.at(order.front()).layer) layered = true;
    order.push_back(number);
  }
  if (layered) {
    std::stable_sort(order.begin(), order.end(),
                     [&](uint32_t a, uint32_t b) { return windows.at(a).layer > windows.at(b).layer; });
  }
  return order;
}

// --- Displays and desktops -------------------------------------------------------------------

SimDisplayState* SimWorld::display(uint32_t id) {
  for (auto& d : displayList) {
    if (d.spec.id == id) return &d;
  }
  return nullptr;
}

const SimDisplayState* SimWorld::display(uint32_t id) const {
  for (const auto& d : displayList) {
    if (d.spec.id == id) return &d;
  }
  return nullptr;
}

SimDisplayState* SimWorld::displayOfSpace(int64_t spaceID) {
  for (auto& d : displayList) {
    for (const auto& s : d.spaces) {
      if (s.id == spaceID) return &d;
    }
  }
  return nullptr;
}

const SimDisplayState* SimWorld::displayOfSpace(int64_t spaceID) const {
  return const_cast<SimWorld*>(this)->displayOfSpace(spaceID);
}

const SimDisplayState* SimWorld::mainDisplay() const { return display(mainDisplayID); }

std::vector<const SimDisplayState*> SimWorld::orderedDisplays() const {
  std::vector<const SimDisplayState*> order;
  if (const auto* main = mainDisplay()) order.push_back(main);
  for (const auto& d : displayList) {
    if (d.spec.id != mainDisplayID) order.push_back(&d);
  }
  return order;
}

void SimWorld::attach(SimDisplaySpec spec) {
  if (display(spec.id)) misuse("addDisplay: the display id is taken");
  if (spec.uuid.empty()) {
    char uuid[40];
    std::snprintf(uuid, sizeof uuid, "5A1D0000-0000-4000-8000-%012X", static_cast<unsigned>(spec.id));
    spec.uuid = uuid;
  }
  if (!spec.visibleFrame) {
    const Rect f = spec.frame.standardized();
    spec.visibleFrame = Rect{f.x, f.y + kTopPanelHeight, f.width, std::max(0.0, f.height - kTopPanelHeight)};
  }
  displayList.push_back(SimDisplayState{.spec = spec});
  SimDisplayState& d = displayList.back();
  for (int i = 0; i < spec.desktops; ++i) newSpace(d, 0);
  if (!d.spaces.empty()) d.current = d.spaces.front().id;
  if (mainDisplayID == 0 || !mainDisplay()) mainDisplayID = spec.id;
}

int64_t SimWorld::newSpace(SimDisplayState& d, int64_t type, std::optional<size_t> at) {
  const int64_t id = nextSpaceID++;
  const size_t position = std::min(at.value_or(d.spaces.size()), d.spaces.size());
  d.spaces.insert(d.spaces.begin() + static_cast<std::ptrdiff_t>(position), SimSpace{id, type});
  return id;
}

bool SimWorld::dropSpace(int64_t spaceID) {
  SimDisplayState* d = displayOfSpace(spaceID);
  if (!d) return false;
  std::erase_if(d->spaces, [&](const SimSpace& s) { return s.id == spaceID; });
  int64_t fallback = 0;
  for (const auto& s : d->spaces) {
    if (s.type == 0) {
      fallback = s.id;
      break;
    }
  }
  if (fallback == 0 && !d->spaces.empty()) fallback = d->spaces.front().id;
  if (d->current == spaceID) d->current = fallback;
  if (fallback == 0 && mainDisplay()) fallback = mainDisplay()->current;
  for (auto& [number, w] : windows) {
    if (std::erase(w.desktops, spaceID) > 0 && w.desktops.empty() && !w.sticky && fallback != 0) {
      w.desktops.push_back(fallback);
    }
  }
  return true;
}

int64_t SimWorld::defaultDesktop(const Rect& frame) const {
  const SimDisplayState* best = nullptr;
  double bestArea = 0;
  for (const auto* d : orderedDisplays()) {
    const double area = overlapArea(d->spec.frame, frame);
    if (area > bestArea) {
      best = d;
      bestArea = area;
    }
  }
  if (!best) best = mainDisplay();
  return best ? best->current : 0;
}

Rect SimWorld::flipped(const Rect& topLeft) const {
  const SimDisplayState* main = mainDisplay();
  const double height = main ? main->spec.frame.standardized().height : 0;
  const Rect r = topLeft.standardized();
  return Rect{r.x, height - r.maxY(), r.width, r.height};
}

}  // namespace quorvel
