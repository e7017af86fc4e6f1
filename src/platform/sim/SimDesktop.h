#pragma once

// The simulated desktop: a deterministic stand-in for the window server, the capture service, the
// displays, the private desktop calls, Accessibility, the workspace and the idle timer, for tests.
//
//   ManualLoop loop;
//   SimDesktop sim(loop);
//   auto& chrome = sim.launchApp({.pid = 100, .bundleID = "com.google.Chrome", .name = "Chrome"});
//   auto& inbox = sim.openWindow(100, {.title = "Inbox", .frame = {0, 0, 800, 600}});
//   WindowRegistry registry(sim.services(), ...);
//   inbox.focus();                       // raises it, activates Chrome, notifies focus observers
//   loop.runUntilIdle();                 // workspace notifications arrive on the main queue
//
// Every service reads and changes one world under one lock, so tests may drive it from several
// threads; callbacks (workspace observers, Accessibility observers, action handlers, set hooks)
// always run outside that lock. Workspace notifications are posted to the runtime's main queue,
// Accessibility notifications to the executor the observer is scheduled on, and shareable content
// answers on the runtime's pool.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "base/Executor.h"
#include "base/Geometry.h"
#include "platform/AXElement.h"
#include "platform/AXError.h"
#include "platform/AXValue.h"
#include "platform/Accessibility.h"
#include "platform/DesktopServer.h"
#include "platform/Displays.h"
#include "platform/InputIdle.h"
#include "platform/OwnApplication.h"
#include "platform/Pointer.h"
#include "platform/PlatformServices.h"
#include "platform/ShareableContent.h"
#include "platform/WindowServer.h"
#include "platform/Workspace.h"

namespace quorvel {

class SimAccessibility;
class SimApp;
class SimDesktopServer;
class SimDisplays;
class SimInputIdle;
class SimOwnApplication;
class SimPointer;
class SimScreenCapture;
class SimShareableContent;
class SimWindow;
class SimWindowServer;
class SimWorkspace;
class SimWorld;

// One simulated Accessibility element (an application, a window or a node a test built). Ids are
// never reused: an element that was removed or rebuilt answers "invalid element" from then on.
enum class SimElementId : uint64_t { none = 0 };

// What an element does when an action is performed on it; runs outside the world's lock, so it
// may change the world (select a tab, open a window). An empty handler just succeeds.
using SimActionHandler = std::function<AXError(SimElementId self)>;
// Runs after a client set an attribute (the value is already stored), outside the world's lock:
// e.g. an application that builds its tree only once "AXManualAccessibility" is set.
using SimSetHook = std::function<void(SimElementId self, const AXValue& value)>;

// A node of an application's Accessibility tree as a test builds it. Unset fields are attributes
// the element does not have ("attribute unsupported").
struct SimElementSpec {
  std::optional<std::string> role;         // "AXRole"
  std::optional<std::string> subrole;      // "AXSubrole"
  std::optional<std::string> title;        // "AXTitle"
  std::optional<std::string> description;  // "AXDescription"
  std::optional<std::string> identifier;   // "AXIdentifier"
  AXValue value;                           // "AXValue" when not empty
  std::optional<bool> selected;            // "AXSelected"
  std::optional<Rect> frame;               // "AXPosition" and "AXSize", global top-left
  std::vector<SimElementSpec> children;    // "AXChildren", in order
  bool childrenAreTabs = false;            // "AXTabs" lists the children too
  std::map<std::string, AXValue> attributes;        // any other attribute
  std::map<std::string, SimActionHandler> actions;  // the actions it accepts ("AXPress", ...)
  std::map<std::string, SimSetHook> onSet;          // hooks run after a client sets an attribute
};

struct SimAppSpec {
  int32_t pid = 0;
  std::optional<std::string> bundleID;
  std::optional<std::string> name;
  std::optional<std::string> bundleURL;  // where its bundle lies; none for an application without one
  ActivationPolicy policy = ActivationPolicy::regular;
  bool hidden = false;
  bool activate = false;  // becomes the front application on launch
};

struct SimWindowSpec {
  std::optional<std::string> title = std::string();  // none: the capture service reports no title
  Rect frame{100, 100, 800, 600};                     // global top-left coordinates
  int64_t layer = 0;
  std::string subrole = "AXStandardWindow";
  bool minimized = false;
  // The desktop it opens on; default: the current desktop of the display that holds most of the
  // frame (the main display when it overlaps none).
  std::optional<int64_t> desktop;
  bool sticky = false;              // on every desktop ("all desktops")
  std::optional<uint32_t> number;   // default: the next free window number
  bool inFront = true;              // opens at the front of the stacking order, else at the back
  // Whether the application's "AXWindows" lists it. Default: as the platform does, minimized
  // windows and windows on a desktop that some display shows now, not windows of other desktops.
  std::optional<bool> listedByAX;
  bool hasOwningApplication = true;  // false: the capture service reports no owning application
};

struct SimDisplaySpec {
  uint32_t id = 1;
  Rect frame{0, 0, 1920, 1080};  // global top-left; the main display's origin is (0, 0)
  std::optional<Rect> visibleFrame;  // global top-left; default: the frame less a 25 pt top panel
  std::string uuid;                  // default: a UUID made from the id
  std::string name = "Display";
  int desktops = 1;                  // normal desktops created with it
};

struct SimDesktopOptions {
  // The attached displays, in the service's order; the first is the main display.
  std::vector<SimDisplaySpec> displays = {SimDisplaySpec{}};
  int32_t ownPid = 1;  // this program's own process id as the workspace reports it
  bool accessibilityTrusted = true;
  bool screenRecordingGranted = true;
  bool separateSpaces = true;
  uint32_t firstWindowNumber = 1000;
  int64_t firstDesktopID = 1;
};

// One request to open an application by its bundle, as the workspace received it.
struct SimOpenRequest {
  std::string bundleURL;
  bool activates = false;
  bool operator==(const SimOpenRequest&) const = default;
};

// The window server's desktop calls, for failure injection and counters.
enum class SimDesktopCall { managedDisplaySpaces, windowsOnSpace, spacesForWindows, moveWindows, backgroundBlur };

class SimDesktop {
 public:
  explicit SimDesktop(Runtime& runtime, SimDesktopOptions options = {});
  ~SimDesktop();
  SimDesktop(const SimDesktop&) = delete;
  SimDesktop& operator=(const SimDesktop&) = delete;

  // The services, for the code under test. The desktop must outlive everything that uses them.
  PlatformServices services();
  WindowServer& windowServer();
  ShareableContent& shareableContent();
  Displays& displays();
  DesktopServer& desktopServer();
  Accessibility& accessibility();
  Workspace& workspace();
  InputIdle& inputIdle();
  Pointer& pointer();
  OwnApplication& ownApplication();
  // The picture service, with its test controls (pictures, failures, streams).
  SimScreenCapture& screenCapture();
  Runtime& runtime() { return runtime_; }

  // --- Applications -------------------------------------------------------------------------
  // Launches an application (posts did-launch; with `activate`, also did-activate). Launching a
  // pid that is running answers the running application's handle unchanged.
  SimApp& launchApp(SimAppSpec spec);
  // The handle of an application launched earlier (also after it quit). Aborts on an unknown pid.
  SimApp& app(int32_t pid);
  // Quits: closes its windows, drops its Accessibility tree, posts did-terminate; when it was in
  // front, the owner of the front-most remaining on-screen window comes forward.
  bool quitApp(int32_t pid);
  // Brings the application forward (unhiding it): all its windows with `allWindows`, else its
  // focused window. Posts did-activate when the front application changed.
  bool activateApp(int32_t pid, bool allWindows = false);
  bool hideApp(int32_t pid);
  bool unhideApp(int32_t pid);
  void setActivationPolicy(int32_t pid, ActivationPolicy policy);
  std::optional<int32_t> frontApp() const;
  bool isRunning(int32_t pid) const;
  bool isHidden(int32_t pid) const;

  // --- Windows ------------------------------------------------------------------------------
  // Opens a window; it becomes its application's focused window when it opens in front (or the
  // application had none). Aborts when the application is not running or the number is taken.
  SimWindow& openWindow(int32_t pid, SimWindowSpec spec = {});
  // The handle of a window opened earlier (also after it closed). Aborts on an unknown number.
  SimWindow& window(uint32_t number);
  bool closeWindow(uint32_t number);
  // What a click on the window does: un-minimizes it, shows its desktop, raises it, activates its
  // application and makes it the application's focused window.
  bool focusWindow(uint32_t number);
  // Moves the window to the front of the stacking order and makes it its application's focused
  // window, without activating the application (what "AXRaise" does).
  bool raiseWindow(uint32_t number);
  bool minimizeWindow(uint32_t number, bool minimized = true);
  bool setWindowTitle(uint32_t number, std::optional<std::string> title);
  bool setWindowFrame(uint32_t number, Rect frame);
  bool setWindowSubrole(uint32_t number, std::string subrole);
  bool setWindowListedByAX(uint32_t number, std::optional<bool> listed);
  // Puts the window on exactly this desktop (not sticky any more).
  bool moveWindowToDesktop(uint32_t number, int64_t spaceID);
  bool setSticky(uint32_t number, bool sticky);

  bool windowExists(uint32_t number) const;
  bool isOnScreen(uint32_t number) const;
  bool isMinimized(uint32_t number) const;
  std::optional<Rect> windowFrame(uint32_t number) const;
  std::vector<int64_t> desktopsOf(uint32_t number) const;  // every desktop for a sticky window
  std::vector<uint32_t> stackingOrder() const;  // every open window, front to back
  std::vector<uint32_t> onScreenOrder() const;  // on-screen windows, front to back
  std::vector<uint32_t> windowsOf(int32_t pid) const;  // front to back
  std::optional<uint32_t> focusedWindow(int32_t pid) const;
  std::optional<uint32_t> focusedWindow() const;  // of the front application

  // --- Displays and desktops ----------------------------------------------------------------
  void addDisplay(SimDisplaySpec spec);
  // Detaches a display; its desktops go, their windows move to the main display's current desktop.
  bool removeDisplay(uint32_t displayID);
  bool setMainDisplay(uint32_t displayID);
  void setSeparateSpaces(bool separate);
  std::vector<uint32_t> displayIDs() const;
  std::vector<int64_t> desktops(uint32_t displayID) const;  // in the window server's order
  std::optional<int64_t> currentDesktop(uint32_t displayID) const;
  std::optional<uint32_t> displayOfDesktop(int64_t spaceID) const;
  int64_t addDesktop(uint32_t displayID);
  // A full-screen desktop holding `window` (given the display's frame), placed after the display's
  // current desktop, which it becomes.
  int64_t addFullScreenDesktop(uint32_t displayID, uint32_t window);
  bool removeDesktop(int64_t spaceID);
  // Shows the desktop on its display; which windows are on screen changes with it.
  bool switchDesktop(int64_t spaceID);

  // --- Accessibility trees ------------------------------------------------------------------
  SimElementId applicationElement(int32_t pid) const;  // none when not running
  SimElementId windowElement(uint32_t number) const;   // none when closed
  // Adds a subtree under `parent` (an application, a window or a built node); answers its root.
  SimElementId addElement(SimElementId parent, SimElementSpec spec);
  // Replaces every built child of `parent` with new elements (the old ones become invalid).
  std::vector<SimElementId> replaceChildren(SimElementId parent, std::vector<SimElementSpec> specs);
  bool removeElement(SimElementId element);  // a built node and its subtree
  std::vector<SimElementId> children(SimElementId element) const;  // built children only
  SimElementId parent(SimElementId element) const;
  bool elementExists(SimElementId element) const;
  // Changes an attribute as the application itself would (no hook, not counted).
  bool setAttribute(SimElementId element, const std::string& attribute, AXValue value);
  // Reads an attribute as a client would, but without counting or injected failures.
  AXAttributeResult attribute(SimElementId element, const std::string& attribute) const;
  void setAction(SimElementId element, const std::string& action, SimActionHandler handler);
  void onAttributeSet(SimElementId element, const std::string& attribute, SimSetHook hook);
  // Whether clients may write the attribute (isAttributeSettable; a write is still carried out).
  void setSettable(SimElementId element, const std::string& attribute, bool settable);
  // The window stays where it is when asked to move to another desktop (the request still
  // succeeds), as a window manager that ignores the request does.
  void setIgnoresDesktopMoves(uint32_t number, bool ignores = true);
  // A new reference to the element, as the Accessibility service would hand it out.
  AXElementRef ref(SimElementId element) const;
  // The element a reference denotes (none for references of other services).
  SimElementId idOf(const AXElementRef& element) const;
  // An action handler that makes the element the one selected child of its parent ("AXSelected"
  // true on it, false on its siblings), as a tab strip's press does.
  SimActionHandler selectsAmongSiblings();
  // Delivers an Accessibility notification about `element` to the observers registered for it
  // (or for its application's element).
  void postNotification(SimElementId element, const std::string& notification);
  // How often clients performed the action on the element (successful or not).
  int actionCount(SimElementId element, const std::string& action) const;
  // The messaging time-out a client set on the element (0 when never set).
  float messagingTimeout(SimElementId element) const;

  // --- Permissions and input ----------------------------------------------------------------
  void setAccessibilityTrusted(bool trusted);
  void setScreenRecordingGranted(bool granted);
  int accessibilityPrompts() const;     // trust checks made with the prompt
  int screenRecordingRequests() const;  // requests that may prompt
  // Seconds since the last input of the source, growing with the clock; none: unavailable.
  void setIdleSeconds(InputIdle::Source source, std::optional<double> seconds);
  void setIdleSeconds(std::optional<double> seconds);  // both sources

  // --- Failures and slowness ----------------------------------------------------------------
  // Reads of the attribute answer `error` (`times` reads, or always with -1). A failure armed
  // while others are still armed for the same name follows them; `times` 0 disarms them all.
  void failAttribute(SimElementId element, const std::string& attribute, AXError error, int times = -1);
  void failSetAttribute(SimElementId element, const std::string& attribute, AXError error, int times = -1);
  // Performing the action answers `error` without running its handler (`times`, or always: -1);
  // queued and disarmed as for failAttribute.
  void refuseAction(SimElementId element, const std::string& action, AXError error = AXError::cannotComplete,
                    int times = 1);
  // Every Accessibility call on the application's elements answers "cannot complete" after the
  // element's messaging time-out (6 s when none was set) has passed on the virtual clock: the clock
  // moves as if the call had blocked (timers that fell due meanwhile run at the loop's next
  // advance). With a clock that is not virtual the time is only counted (axTimeSpent).
  void setUnresponsive(int32_t pid, bool unresponsive = true);
  // Every Accessibility call on the application's elements takes this long on the virtual clock.
  void setAXLatency(int32_t pid, Duration latency);
  // Observer creation or notification registration for the application answers `error`
  // (AXError::success clears it).
  void failObserverCreation(int32_t pid, AXError error);
  void failNotificationRegistration(int32_t pid, AXError error);
  void setDesktopGroupAvailable(DesktopServer::Group group, bool available);
  // The call answers none (or false, or -1 for the blur) while failing.
  void failDesktopCall(SimDesktopCall call, bool fail = true);
  // Shareable-content requests fail with `error` (`times` requests, or always: -1); none clears.
  void failShareableContent(std::optional<std::string> error, int times = -1);
  // Shareable-content answers arrive this long after the request (on the runtime's pool); the
  // answer describes the world as it is when it arrives.
  void setShareableContentDelay(Duration delay);
  void setWindowListAvailable(bool available);
  void setActiveDisplaysAvailable(bool available);
  // Rewrites what a service answers, for malformed answers the world cannot produce (an entry
  // without a number, a screen without its number, a desktop list naming an unknown display).
  // Each runs outside the lock on the answer about to be returned; an empty function removes it.
  void transformWindowList(std::function<void(std::vector<WindowListEntry>&)> transform);
  void transformScreens(std::function<void(std::vector<ScreenInfo>&)> transform);
  // Makes the window server report the focus apart from its window list, as an X window manager's
  // active window does (WindowServer::focus), with the front windows of applications; none (the
  // default) reports nothing, and the front of the window list is the focus.
  void reportFocus(std::optional<WindowFocus> focus, std::map<int32_t, uint32_t> frontWindows = {});
  void transformManagedDisplaySpaces(std::function<void(std::vector<ManagedDisplaySpaces>&)> transform);

  // --- Pointer and the program's own application --------------------------------------------
  // The buttons the user holds down (Pointer's bits).
  void setPressedButtons(uint32_t buttons);
  void setPointerLocation(Point location);
  Point pointerLocation() const;
  int pointerWarps() const;
  bool pointerAssociated() const;  // false between a warp and the re-association
  // Every request to open an application by its bundle, in order.
  std::vector<SimOpenRequest> openRequests() const;
  int ownActivations() const;        // activations of the program ignoring other applications
  int ownKeyWindowRequests() const;  // own windows made key and put in front

  // --- Counters -----------------------------------------------------------------------------
  int axCalls(int32_t pid) const;  // attribute reads and writes, actions, window-number lookups
  int axCallsTotal() const;
  Duration axTimeSpent(int32_t pid) const;  // virtual time the application's calls took
  int shareableContentRequests() const;
  int windowListCalls() const;
  int desktopCalls(SimDesktopCall call) const;
  void resetCounters();
  // The last background blur set on a window, if any.
  std::optional<int32_t> blurRadius(uint32_t window) const;

 private:
  Runtime& runtime_;
  std::shared_ptr<SimWorld> world_;
  std::unique_ptr<SimWindowServer> windowServer_;
  std::unique_ptr<SimShareableContent> shareableContent_;
  std::unique_ptr<SimScreenCapture> screenCapture_;
  std::unique_ptr<SimDisplays> displays_;
  std::unique_ptr<SimDesktopServer> desktopServer_;
  std::unique_ptr<SimAccessibility> accessibility_;
  std::unique_ptr<SimWorkspace> workspace_;
  std::unique_ptr<SimInputIdle> inputIdle_;
  std::unique_ptr<SimPointer> pointer_;
  std::unique_ptr<SimOwnApplication> ownApplication_;
  mutable std::mutex handlesMutex_;
  std::map<int32_t, std::unique_ptr<SimApp>> apps_;
  std::map<uint32_t, std::unique_ptr<SimWindow>> windows_;
};

}  // namespace quorvel
