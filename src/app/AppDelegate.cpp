#include "app/AppDelegate.h"

#include <mutex>

#include "app/AppMenus.h"
#include "app/AppServices.h"
#include "app/HotkeyManager.h"
#include "app/SwitcherOverlay.h"
#include "app/TrackpadGestureMonitor.h"
#include "base/Executor.h"
#include "base/ThreadCheck.h"
#include "settings/SettingsMigrations.h"

namespace quorvel {

namespace {

std::mutex screenCaptureMutex;
std::optional<bool> screenCaptureSample;

}  // namespace

std::shared_ptr<AppDelegate> AppDelegate::create(std::unique_ptr<AppServices> services, AppShell& shell,
                                                 AppSettings& settings, Executor& main, Launch launch) {
  return std::shared_ptr<AppDelegate>(new AppDelegate(std::move(services), shell, settings, main, launch));
}

AppDelegate::AppDelegate(std::unique_ptr<AppServices> services, AppShell& shell, AppSettings& settings,
                         Executor& main, Launch launch)
    : services_(std::move(services)), shell_(shell), settings_(settings), main_(main), launch_(launch) {}

AppDelegate::~AppDelegate() = default;

std::optional<bool> AppDelegate::screenCaptureGrantedAtLaunch() {
  std::lock_guard lock(screenCaptureMutex);
  return screenCaptureSample;
}

void AppDelegate::resetScreenCaptureSampleForTesting() {
  std::lock_guard lock(screenCaptureMutex);
  screenCaptureSample.reset();
}

void AppDelegate::applicationDidFinishLaunching() {
  QUORVEL_REQUIRE_EXECUTOR(main_, "AppDelegate::applicationDidFinishLaunching");
  if (launched_) return;
  launched_ = true;

  SettingsMigrations(settings_.store()).runAll();
  settings_.registerDefaults();
  if (launch_ == Launch::underTest) return;

  // Sampled once per process: a permission granted later in the run does not change it.
  if (!screenCaptureGrantedAtLaunch()) {
    const bool granted = shell_.screenCaptureGranted();
    std::lock_guard lock(screenCaptureMutex);
    if (!screenCaptureSample) screenCaptureSample = granted;
  }
  shell_.promptForAccessibility();
  shell_.requestScreenCapture();

  services_->startRegistry();
  services_->prewarmIcons();
  services_->removeSiteIconCopies();
  services_->prewarmStatusBadges();
  services_->prewarmActionBadges();

  std::shared_ptr<SwitcherOverlay> overlay = services_->overlay();
  overlay->start();

  std::weak_ptr<SwitcherOverlay> weakOverlay = overlay;
  std::shared_ptr<HotkeyManager> hotkey = services_->hotkey();
  // The shortcut's stream and the overlay's windows reach the program on different connections:
  // each key the stream carries acts only after the overlay has taken in the keys typed before it
  // (Escape, then at once the release of Alt, must cancel).
  hotkey->onSummon = [weakOverlay](int direction, HotkeyPress press, AppSettings::HotkeyScope scope) {
    if (auto target = weakOverlay.lock()) {
      target->catchUpInput();
      handleSummon(*target, direction, press, scope);
    }
  };
  hotkey->onModifierRelease = [weakOverlay] {
    if (auto target = weakOverlay.lock()) {
      target->catchUpInput();
      target->onHotkeyRelease();
    }
  };
  hotkey->onPrewarm = [weakOverlay] {
    if (auto target = weakOverlay.lock()) target->prewarmIfAllowed();
  };
  hotkey->onDismissKey = [weakOverlay](DismissKeyRoute route) {
    if (auto target = weakOverlay.lock()) {
      target->catchUpInput();
      target->handleTapKey(route);
    }
  };
  std::weak_ptr<HotkeyManager> weakHotkey = hotkey;
  overlay->setKeyboardReporter([weakHotkey](const std::optional<OverlayKeyboardState>& state) {
    // The manager ignores a state equal to the last one, so the tap's lock is taken once per change.
    if (auto target = weakHotkey.lock()) target->reportKeyboardState(state);
  });
  services_->startHotkey();

  services_->gestures()->onSwipe = [weakOverlay](SwipeMotion motion) {
    if (auto target = weakOverlay.lock()) handleSwipe(*target, motion);
  };
  services_->startGestures();

  updater_.start();
  buildMainMenu();
  installStatusItem();
  shell_.showTourIfNeeded();
  shell_.startPermissionWatcher();
}

bool AppDelegate::applicationShouldHandleReopen() {
  shell_.showSettings(std::nullopt);
  return true;
}

void AppDelegate::handleSummon(SwitcherOverlay& overlay, int direction, HotkeyPress press,
                               AppSettings::HotkeyScope scope) {
  if (!overlay.isVisible()) {
    if (press == HotkeyPress::backward) {
      overlay.quickFlip(scope);
    } else {
      overlay.present(true, scope);
    }
    return;
  }
  overlay.stepByPress(direction);
}

void AppDelegate::handleSwipe(SwitcherOverlay& overlay, SwipeMotion motion) {
  const bool visible = overlay.isVisible();
  switch (motion) {
    case SwipeMotion::up:
      if (!visible) overlay.present(false, AppSettings::HotkeyScope::allWindows);
      break;
    case SwipeMotion::down:
      if (visible) overlay.cancel();
      break;
    case SwipeMotion::sideways:
      if (visible) {
        overlay.cancel();
      } else {
        overlay.present(false, AppSettings::HotkeyScope::allWindows);
      }
      break;
  }
}

void AppDelegate::perform(MenuAction action) {
  switch (action) {
    case MenuAction::none:
      break;
    case MenuAction::showSwitcher: {
      std::shared_ptr<SwitcherOverlay> overlay = services_->overlay();
      if (!overlay) break;
      if (!overlay->isVisible()) {
        overlay->presentFromMenu();
      } else {
        overlay->cancel();
      }
      break;
    }
    case MenuAction::openSettings:
      shell_.showSettings(std::nullopt);
      break;
    case MenuAction::openAbout:
      shell_.showSettings(SettingsPane::about);
      break;
    case MenuAction::openFeedback:
      if (shell_.offersFeedback()) shell_.showFeedback();
      break;
    case MenuAction::checkForUpdates:
      if (updater_.hasUpdater()) updater_.checkForUpdates();
      break;
    case MenuAction::quit:
      Logger("AppDelegate").notice("Quorvel ends: Quit was chosen from its menu");
      shell_.quit();
      break;
    case MenuAction::undo:
    case MenuAction::redo:
    case MenuAction::cut:
    case MenuAction::copy:
    case MenuAction::paste:
    case MenuAction::deleteSelection:
    case MenuAction::selectAll:
    case MenuAction::performClose:
    case MenuAction::performMiniaturize:
      shell_.sendToFocusedWindow(action);
      break;
  }
}

AppShell::MenuHandler AppDelegate::menuHandler() {
  std::weak_ptr<AppDelegate> weak = weak_from_this();
  return [weak](MenuAction action) {
    if (auto self = weak.lock()) self->perform(action);
  };
}

void AppDelegate::buildMainMenu() { shell_.installMainMenu(AppMenus::mainMenu(shell_.offersFeedback()), menuHandler()); }

void AppDelegate::installStatusItem() {
  applyStatusItemSetting();
  std::weak_ptr<AppDelegate> weak = weak_from_this();
  Executor* main = &main_;
  // The store tells its observers on the writer's thread; the item is changed on the main queue.
  defaultsObserver_ = settings_.store().addObserver([weak, main] {
    main->post([weak] {
      if (auto self = weak.lock()) self->applyStatusItemSetting();
    });
  });
}

void AppDelegate::applyStatusItemSetting() {
  QUORVEL_REQUIRE_EXECUTOR(main_, "AppDelegate::applyStatusItemSetting");
  const bool wanted = settings_.boolValue(AppSettings::Key::showMenuBarIcon);
  if (wanted && !hasStatusItem_) {
    makeStatusItem();
  } else if (!wanted && hasStatusItem_) {
    shell_.removeStatusItem();
    hasStatusItem_ = false;
  }
}

void AppDelegate::makeStatusItem() {
  std::weak_ptr<AppDelegate> weak = weak_from_this();
  shell_.showStatusItem(AppMenus::statusMenu(updater_.hasUpdater(), shell_.offersFeedback()), menuHandler(), [weak] {
    auto self = weak.lock();
    if (!self) return;
    if (std::shared_ptr<SwitcherOverlay> overlay = self->services_->overlay()) overlay->noteMenuOpening();
  });
  hasStatusItem_ = true;
}

}  // namespace quorvel
