#pragma once

#include <memory>
#include <optional>

#include "app/AppShell.h"
#include "app/HotkeyPress.h"
#include "app/SwipeMotion.h"
#include "app/UpdateController.h"
#include "base/Logger.h"
#include "base/Subscription.h"
#include "overlay/DismissKeyRoute.h"
#include "overlay/OverlayKeyboardState.h"
#include "settings/AppSettings.h"

namespace quorvel {

class AppServices;
class Executor;
class SwitcherOverlay;

// The root of the process: owns every long-lived service for the life of the process, runs the
// start-up sequence once launching has finished, and from then on only forwards: each input
// callback is a short trampoline into the overlay.
//
// Start-up, in this order: the settings migrations and the registration of the defaults; then,
// unless the delegate was made for a test, the screen-recording sample (once per process), the two
// permission requests, the registry's start, the icon pre-warm, the removal of old site-icon
// copies, the status-badge and action-badge pre-warms, the overlay's start, the four shortcut
// closures and the overlay's keyboard reporter, the shortcut tap's start, the swipe closure and the
// trackpad monitor's start, the updater, the main menu, the tray item (following
// "showMenuBarIcon"), the tour and the permission watcher.
//
// Every closure installed on a service holds its target (the overlay or the shortcut manager)
// weakly and does nothing once it is gone. Threads: main queue only.
class AppDelegate : public std::enable_shared_from_this<AppDelegate> {
 public:
  // `underTest`: launching runs the migrations and registers the defaults, and nothing more: no
  // service starts, no menu and no tray item are made.
  enum class Launch { full, underTest };

  static std::shared_ptr<AppDelegate> create(std::unique_ptr<AppServices> services, AppShell& shell,
                                             AppSettings& settings, Executor& main, Launch launch = Launch::full);
  ~AppDelegate();
  AppDelegate(const AppDelegate&) = delete;
  AppDelegate& operator=(const AppDelegate&) = delete;

  // Runs the start-up sequence (once; a second call does nothing).
  void applicationDidFinishLaunching();
  // The program was started again while it runs: opens the settings window; always true.
  bool applicationShouldHandleReopen();

  // The menus' actions.
  void perform(MenuAction action);

  // Reads "showMenuBarIcon": on and no item makes one with a fresh menu; off and an item removes
  // it; anything else changes nothing.
  void applyStatusItemSetting();
  bool hasStatusItem() const { return hasStatusItem_; }

  AppServices& services() { return *services_; }
  UpdateController& updater() { return updater_; }

  // ---- The trampolines (static, so that a closure can hold the overlay alone, weakly) ----
  // A matched shortcut press: hidden, a backward press flips and any other presents; shown, the
  // press steps the selection.
  static void handleSummon(SwitcherOverlay& overlay, int direction, HotkeyPress press,
                           AppSettings::HotkeyScope scope);
  // A recognised swipe: hidden, up or sideways presents; shown, down or sideways cancels.
  static void handleSwipe(SwitcherOverlay& overlay, SwipeMotion motion);

  // The screen-recording permission as sampled once at launch; none before the first full launch.
  static std::optional<bool> screenCaptureGrantedAtLaunch();
  // For tests: forgets the sample.
  static void resetScreenCaptureSampleForTesting();

 private:
  AppDelegate(std::unique_ptr<AppServices> services, AppShell& shell, AppSettings& settings, Executor& main,
              Launch launch);

  void buildMainMenu();
  void installStatusItem();
  void makeStatusItem();
  AppShell::MenuHandler menuHandler();

  std::unique_ptr<AppServices> services_;
  AppShell& shell_;
  AppSettings& settings_;
  Executor& main_;
  const Launch launch_;
  UpdateController updater_;
  bool launched_ = false;
  bool hasStatusItem_ = false;
  Subscription defaultsObserver_;
  const Logger logger_{"AppDelegate"};
};

}  // namespace quorvel
