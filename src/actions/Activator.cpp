#include "actions/Activator.h"

#include <algorithm>
#include <utility>

#include "ax/AXFunnel.h"
#include "base/Executor.h"
#include "base/Task.h"
#include "platform/Pointer.h"
#include "platform/Workspace.h"
#include "settings/AppSettings.h"
#include "tabs/TabActivation.h"
#include "tabs/TabAdapter.h"
#include "windows/ActivatorHooks.h"

namespace quorvel {

namespace {

constexpr const char* kRaiseFormat = "Window raise for %{public}u: %{public}s (state=%{public}s)";
constexpr const char* kTabFormat = "Tab switch for %{public}u: %{public}s";

std::string stateName(WindowState state) { return std::string(windowStateName(state)); }

}  // namespace

// What the activator and its running routes share.
struct Activator::Shared {
  ActivatorServices services;
  WindowActions windowActions;

  explicit Shared(ActivatorServices s)
      : services(s), windowActions(s.platform.accessibility, s.axFunnel) {}

  Workspace& workspace() const { return services.platform.workspace; }

  // Activation always means this running application, with no options; none skips it.
  void activate(const std::optional<RunningApplication>& app) const {
    if (app) workspace().activate(app->pid, false);
  }

  std::optional<OwnWindow> ownWindow(const WindowCard& card) const {
    if (card.pid != workspace().ownPid()) return std::nullopt;
    for (const OwnWindow& window : services.platform.ownApplication.windows()) {
      if (window.number == card.id) return window;
    }
    return std::nullopt;
  }

  void warpPointerIfWanted(const Rect& frame) const {
    if (!services.settings.boolValue(AppSettings::Key::cursorFollowsFocus)) return;
    if (!(frame.width > 0) || !(frame.height > 0)) return;
    Pointer& pointer = services.platform.pointer;
    if (pointer.pressedButtons() != 0) return;
    pointer.warp(Point{frame.x + frame.width / 2, frame.y + frame.height / 2});
    pointer.associateMouseAndCursor(true);
  }

  // Accessibility work as one job on the serial queue; the route continues on the main queue.
  template <class F>
  auto onAXQueue(F&& fn) {
    return services.axFunnel.run(std::forward<F>(fn));
  }
};

// The routes run as tasks on the main queue; they are coroutines, so they take what they need by
// value. A pick starts its route at once, so that the route's first request (the raise, on the
// Accessibility queue) leaves before whatever else the main queue holds, the overlay's own
// dismissal included.
class ActivatorRoutes {
 public:
  static Task<void> ownWindow(std::shared_ptr<Activator::Shared> shared, WindowCard card) {
    const std::optional<OwnWindow> window = shared->ownWindow(card);
    if (!window) co_return;
    OwnApplication& application = shared->services.platform.ownApplication;
    if (window->isMinimized) application.unminimize(window->number);
    application.activateProgram();
    application.raiseAndFocus(window->number);
    shared->services.hooks.didRaiseWindow(card.id, card.pid);
    shared->warpPointerIfWanted(card.frame);
  }

  static Task<void> window(std::shared_ptr<Activator::Shared> shared, AXHandleRef handle, bool unminimize,
                           std::optional<RunningApplication> app, WindowCard card) {
    const WindowActions& actions = shared->windowActions;
    const bool ok = co_await shared->onAXQueue([&] { return actions.raise(handle, unminimize); });
    shared->activate(app);
    const std::string state = stateName(card.state);
    if (ok) {
      Activator::logger().notice(kRaiseFormat, card.id, "the window came forward", state);
      shared->services.hooks.didRaiseWindow(card.id, card.pid);
      shared->warpPointerIfWanted(card.frame);
      co_return;
    }
    // A sleep cut short by cancellation still goes on to the second try.
    co_await sleepFor(Activator::kRetryDelay);
    const bool again = co_await shared->onAXQueue([&] { return actions.raise(handle, unminimize); });
    Activator::logger().notice(kRaiseFormat, card.id,
                               again ? "recovered after activating the app"
                                     : "refused twice, so the app is in front with its own window",
                               state);
    if (!again) co_return;
    shared->services.hooks.didRaiseWindow(card.id, card.pid);
    shared->warpPointerIfWanted(card.frame);
  }

  static Task<void> tab(std::shared_ptr<Activator::Shared> shared, std::optional<RunningApplication> app,
                        WindowCard card) {
    TabActivation& tabs = shared->services.tabActivation;
    const WindowCard::TabFacts facts = *card.tab;
    const TabTarget tabTarget = *card.tabTarget();
    const TabPressOutcome outcome = co_await shared->onAXQueue([&] { return tabs.activate(tabTarget); });
    const bool pressed = outcome.kind == TabPressOutcome::Kind::pressed;
    if (pressed) shared->services.hooks.didPressTab(card.id, facts.hostWindowID);

    AXHandleRef target;
    const std::optional<TabAdapter> adapter = TabAdapter::adapter(card.bundleID);
    if (pressed && adapter && adapter->tabsAreWindows) {
      // The press may have brought another window (the tab's own) forward: raise the one that now
      // shows the tab.
      target = co_await shared->onAXQueue([&] { return tabs.mainWindow(tabTarget); });
      if (!target) {
        Activator::logger().notice(kTabFormat, card.id, "raising nothing, the press already put this tab in front");
        shared->activate(app);
        co_return;
      }
    } else {
      target = card.ax;
      if (!target) {
        Activator::logger().notice(kTabFormat, card.id, "no Accessibility handle, activating the app");
        shared->activate(app);
        co_return;
      }
    }
    const WindowActions& actions = shared->windowActions;
    const bool ok = co_await shared->onAXQueue([&] { return actions.raise(target, facts.deminimizeHost); });
    if (ok) shared->services.hooks.didRaiseWindow(facts.hostWindowID, card.pid);
    shared->activate(app);
    if (ok) shared->warpPointerIfWanted(card.frame);
  }
};

Activator::Activator(ActivatorServices services) : shared_(std::make_shared<Shared>(services)) {}

const Logger& Activator::logger() {
  // Never destroyed: threads still running as the process ends may log.
  static const Logger& instance = *new Logger("Activator");
  return instance;
}

const WindowActions& Activator::windowActions() const { return shared_->windowActions; }

std::optional<OwnWindow> Activator::ownWindow(const WindowCard& card) const { return shared_->ownWindow(card); }

void Activator::warpPointerIfWanted(const Rect& frame) const { shared_->warpPointerIfWanted(frame); }

std::string Activator::routeDescription(const WindowCard& card) const {
  if (card.pid == shared_->workspace().ownPid()) return "our own window, raised through the application object";
  if (card.state == WindowState::windowlessApp) return "an app with no window, opened again";
  if (!card.tab) return "routed window-raise: this card carries no tab";
  if (!card.tab->element) return "routed window-raise: this card's tab carries no element to press";
  return "routed tab-press: tab of window " + std::to_string(card.tab->hostWindowID);
}

void Activator::pick(const WindowCard& card) {
  Workspace& workspace = shared_->workspace();
  Executor& main = shared_->services.runtime.main();

  std::optional<RunningApplication> app;
  for (RunningApplication& running : workspace.runningApplications()) {
    if (running.pid == card.pid) {
      app = std::move(running);
      break;
    }
  }
  if (app && app->isHidden) workspace.unhide(app->pid);

  if (card.pid == workspace.ownPid()) {
    spawnNow(main, ActivatorRoutes::ownWindow(shared_, card));
    return;
  }

  if (card.state == WindowState::windowlessApp) {
    if (!app) return;
    if (app->bundleURL && !app->bundleURL->empty()) {
      workspace.openApplication(*app->bundleURL, true);
    } else {
      shared_->activate(app);
    }
    return;
  }

  logger().notice("Pick %{public}u: %{public}s", card.id, routeDescription(card));

  if (card.tab && card.tab->element) {
    spawnNow(main, ActivatorRoutes::tab(shared_, std::move(app), card));
    return;
  }

  if (!card.ax) {
    logger().notice("Window raise for %{public}u: %{public}s (%{public}s, state=%{public}s)", card.id,
                    "no Accessibility handle for this window, so only the app was activated", card.appName,
                    stateName(card.state));
    shared_->activate(app);
    return;
  }

  spawnNow(main, ActivatorRoutes::window(shared_, card.ax, card.state == WindowState::minimized, std::move(app), card));
}

}  // namespace quorvel
