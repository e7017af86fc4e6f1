#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/Executor.h"
#include "base/ObserverList.h"
#include "base/VirtualClock.h"
#include "platform/AXValue.h"
#include "platform/DesktopServer.h"
#include "platform/Displays.h"
#include "platform/InputIdle.h"
#include "platform/ShareableContent.h"
#include "platform/WindowServer.h"
#include "platform/Workspace.h"
#include "platform/sim/SimDesktop.h"

namespace quorvel {

class SimObserver;

// An injected failure: answers `error` for `remaining` more calls (-1: always).
struct SimInjected {
  AXError error = AXError::failure;
  int remaining = -1;
};
// Per attribute or action name, the failures armed for it, used up in the order they were armed.
using SimInjectedTable = std::map<std::string, std::deque<SimInjected>>;

// One Accessibility element of the world. Application and window elements compute most of their
// attributes from the application and window they stand for; built elements keep theirs in
// `attributes`.
struct SimNode {
  enum class Kind { application, window, built };
  SimElementId id = SimElementId::none;
  int32_t pid = 0;
  Kind kind = Kind::built;
  uint32_t window = 0;  // window elements
  SimElementId parent = SimElementId::none;
  std::vector<SimElementId> children;  // built children, in order
  bool childrenAreTabs = false;
  std::map<std::string, AXValue> attributes;
  std::map<std::string, SimActionHandler> actions;
  std::map<std::string, SimSetHook> hooks;
  std::set<std::string> unsettable;  // attributes a client may not write (window elements)
  SimInjectedTable readFailures;
  SimInjectedTable writeFailures;
  SimInjectedTable actionRefusals;
  std::map<std::string, int> actionCounts;
  float messagingTimeout = 0;
};

struct SimAppState {
  int32_t pid = 0;
  std::optional<std::string> bundleID;
  std::optional<std::string> bundleURL;
  std::optional<std::string> name;
  ActivationPolicy policy = ActivationPolicy::regular;
  bool running = false;
  bool hidden = false;
  SimElementId element = SimElementId::none;
  std::optional<uint32_t> focused;
  AXError observerError = AXError::success;
  AXError notificationError = AXError::success;
  bool unresponsive = false;
  Duration latency{0};
};

struct SimWindowState {
  uint32_t number = 0;
  int32_t pid = 0;
  std::optional<std::string> title;
  Rect frame;
  int64_t layer = 0;
  std::string subrole;
  bool minimized = false;
  std::vector<int64_t> desktops;  // in the order it was put on them
  bool sticky = false;
  std::optional<bool> listedByAX;
  bool hasOwningApplication = true;
  bool ignoresDesktopMoves = false;
  SimElementId element = SimElementId::none;
};

struct SimSpace {
  int64_t id = 0;
  int64_t type = 0;  // 0 normal, 4 full screen
};

struct SimDisplayState {
  SimDisplaySpec spec;
  std::vector<SimSpace> spaces;
  int64_t current = 0;
};

// Work that a change of the world sets off (notifications, callbacks); run after the lock is
// released, in the order it was added.
class SimEffects {
 public:
  void add(std::function<void()> effect) { effects_.push_back(std::move(effect)); }
  void run() {
    for (auto& effect : effects_) effect();
    effects_.clear();
  }

 private:
  std::vector<std::function<void()>> effects_;
};

// The state of the simulated desktop and the rules that change it, shared by SimDesktop and the
// services. Every member is guarded by `mutex`; the methods below expect it held, and add the
// callbacks they set off to the effects, which the caller runs after unlocking.
class SimWorld : public std::enable_shared_from_this<SimWorld> {
 public:
  SimWorld(Runtime& runtime, const SimDesktopOptions& options);

  // Runs `f(effects)` under the lock, then the effects outside it.
  template <class F>
  auto change(F&& f) {
    SimEffects effects;
    if constexpr (std::is_void_v<decltype(f(effects))>) {
      {
        std::lock_guard guard(mutex);
        f(effects);
      }
      effects.run();
    } else {
      auto result = [&] {
        std::lock_guard guard(mutex);
        return f(effects);
      }();
      effects.run();
      return result;
    }
  }
  template <class F>
  auto read(F&& f) const {
    std::lock_guard guard(mutex);
    return f();
  }

  // --- Applications
  SimAppState* app(int32_t pid);
  const SimAppState* app(int32_t pid) const;
  SimAppState* runningApp(int32_t pid);
  const SimAppState* runningApp(int32_t pid) const;
  RunningApplication runningApplication(const SimAppState& app) const;
  bool launch(const SimAppSpec& spec, SimEffects& fx);
  bool quit(int32_t pid, SimEffects& fx);
  bool activate(int32_t pid, bool allWindows, SimEffects& fx);
  bool hide(int32_t pid, SimEffects& fx);
  bool unhide(int32_t pid, SimEffects& fx);
  void setFront(std::optional<int32_t> pid, SimEffects& fx);
  // The front application after `leaving` stepped back: the owner of the front-most on-screen
  // window of another running, regular application.
  std::optional<int32_t> nextFront(int32_t leaving) const;
  void postWorkspace(Workspace::Event event, const SimAppState& app, SimEffects& fx);

  // --- Windows
  SimWindowState* window(uint32_t number);
  const SimWindowState* window(uint32_t number) const;
  uint32_t open(int32_t pid, const SimWindowSpec& spec, SimEffects& fx);
  bool close(uint32_t number, SimEffects& fx);
  bool focus(uint32_t number, SimEffects& fx);
  bool raise(uint32_t number, SimEffects& fx);
  bool minimize(uint32_t number, bool minimized, SimEffects& fx);
  void toFront(uint32_t number);
  // Makes the window its application's focused window; notifies focus observers when it changed.
  void setFocused(int32_t pid, std::optional<uint32_t> number, SimEffects& fx);
  // After the focused window went away or was minimized: the next window of the application.
  void refocusAfterLoss(int32_t pid, uint32_t lost, SimEffects& fx);
  bool isOnScreen(const SimWindowState& w) const;
  bool isListedByAX(const SimWindowState& w) const;
  bool onCurrentDesktop(const SimWindowState& w) const;
  std::vector<int64_t> desktopsOf(const SimWindowState& w) const;
  std::vector<uint32_t> onScreenOrder() const;  // front to back, higher layers first

  // --- Displays and desktops
  SimDisplayState* display(uint32_t id);
  const SimDisplayState* display(uint32_t id) const;
  SimDisplayState* displayOfSpace(int64_t spaceID);
  const SimDisplayState* displayOfSpace(int64_t spaceID) const;
  const SimDisplayState* mainDisplay() const;
  // Displays in the service's order: the main display first, then the others as attached.
  std::vector<const SimDisplayState*> orderedDisplays() const;
  void attach(SimDisplaySpec spec);
  int64_t newSpace(SimDisplayState& display, int64_t type, std::optional<size_t> at = std::nullopt);
  bool dropSpace(int64_t spaceID);
  // The current desktop of the display that holds most of the frame (the main display's when none).
  int64_t defaultDesktop(const Rect& frame) const;
  Rect flipped(const Rect& topLeft) const;  // to the display service's bottom-left coordinates

  // --- Accessibility elements
  SimNode* node(SimElementId id);
  const SimNode* node(SimElementId id) const;
  SimElementId addNode(SimNode node);
  SimElementId build(SimElementId parent, int32_t pid, const SimElementSpec& spec);
  void dropNode(SimElementId id);  // and its subtree; detaches it from its parent
  AXElementRef ref(SimElementId id) const;
  AXElementRef ref(const SimNode& node) const { return ref(node.id); }
  SimElementId idOf(const AXElementRef& element) const;
  // An attribute as the element answers it, without counting or injected failures.
  AXAttributeResult readAttribute(const SimNode& node, const std::string& attribute) const;
  std::vector<std::string> attributeNames(const SimNode& node) const;
  // A client's write: changes the world, stores the value, collects the hook.
  AXError writeAttribute(SimNode& node, const std::string& attribute, const AXValue& value, SimEffects& fx);
  // Notifies observers of the element's application registered for `targets`.
  void notify(int32_t pid, std::vector<SimElementId> targets, SimElementId subject, const std::string& notification,
              SimEffects& fx);

  // --- Accessibility calls
  // The start of every counted call on an element: counts it, checks trust and the element, and
  // lets an unresponsive or slow application take its time. `node` is set on success.
  AXError enterCall(const AXElementRef& element, SimNode*& node);
  // Uses up one injected failure of `name`, if any is armed; answers its error.
  static std::optional<AXError> takeInjected(SimInjectedTable& table, const std::string& name);
  void spend(int32_t pid, Duration d);

  Runtime& runtime;
  VirtualClock* virtualClock = nullptr;  // when the runtime's clock is virtual
  mutable std::mutex mutex;

  int32_t ownPid;
  bool trusted;
  bool screenRecording;
  bool separateSpaces;
  int accessibilityPrompts = 0;
  int screenRecordingRequests = 0;

  std::map<int32_t, SimAppState> apps;
  std::vector<int32_t> appOrder;  // running applications, in launch order
  std::optional<int32_t> front;
  std::map<uint32_t, SimWindowState> windows;
  std::vector<uint32_t> stack;  // every open window, front to back
  uint32_t nextWindowNumber;
  std::vector<SimDisplayState> displayList;  // in attach order
  uint32_t mainDisplayID = 0;
  int64_t nextSpaceID;
  std::map<SimElementId, SimNode> nodes;
  uint64_t nextNodeID = 1;

  // By event; each list has its own lock.
  std::array<ObserverList<Workspace::Event, const RunningApplication&>, Workspace::kEventCount> workspaceObservers;
  std::map<int32_t, std::vector<std::weak_ptr<SimObserver>>> axObservers;

  std::map<int32_t, int> axCallCounts;
  std::map<int32_t, Duration> axTimes;
  int axCallsTotal = 0;

  std::map<InputIdle::Source, std::optional<Instant>> lastInput;

  struct PointerState {
    Point location;
    uint32_t pressedButtons = 0;
    int warps = 0;
    bool associated = true;
  } pointer;
  std::vector<SimOpenRequest> openRequests;
  int ownActivations = 0;
  int ownKeyWindowRequests = 0;

  std::set<DesktopServer::Group> unavailableGroups;
  std::set<SimDesktopCall> failingCalls;
  std::map<SimDesktopCall, int> desktopCallCounts;
  std::map<uint32_t, int32_t> blurRadii;
  std::optional<SimInjected> shareableFailure;
  std::optional<std::string> shareableError;
  Duration shareableDelay{0};
  int shareableRequests = 0;
  bool windowListAvailable = true;
  bool activeDisplaysAvailable = true;
  int windowListCalls = 0;
  std::function<void(std::vector<WindowListEntry>&)> windowListTransform;
  std::optional<WindowFocus> reportedFocus;
  std::map<int32_t, uint32_t> reportedFrontWindows;
  std::function<void(std::vector<ScreenInfo>&)> screensTransform;
  std::function<void(std::vector<ManagedDisplaySpaces>&)> spacesTransform;
};

}  // namespace quorvel
