#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "FakeWorkspace.h"
#include "app/AppServices.h"
#include "app/AppShell.h"
#include "app/HotkeyManager.h"
#include "app/SwitcherOverlay.h"
#include "app/TrackpadGestureMonitor.h"
#include "base/ManualLoop.h"
#include "platform/sim/SimContactSource.h"
#include "platform/sim/SimKeyEventSource.h"

namespace quorvel {

// Every call the fakes below receive, in one order.
using CallLog = std::vector<std::string>;

class RecordingShell final : public AppShell {
 public:
  explicit RecordingShell(CallLog& log) : log_(log) {}

  bool screenCaptureGranted() override {
    log_.push_back("shell.screenCaptureGranted");
    return captureGranted;
  }
  void promptForAccessibility() override { log_.push_back("shell.promptForAccessibility"); }
  void requestScreenCapture() override { log_.push_back("shell.requestScreenCapture"); }
  void installMainMenu(const std::vector<Menu>& menus, MenuHandler) override {
    log_.push_back("shell.installMainMenu");
    mainMenu = menus;
  }
  void showStatusItem(const Menu& menu, MenuHandler handler, std::function<void()> willOpen) override {
    log_.push_back("shell.showStatusItem");
    statusMenu = menu;
    statusHandler = std::move(handler);
    statusWillOpen = std::move(willOpen);
  }
  void removeStatusItem() override {
    log_.push_back("shell.removeStatusItem");
    statusMenu.reset();
    statusHandler = nullptr;
  }
  bool offersFeedback() const override { return feedback; }
  void showFeedback() override { log_.push_back("shell.showFeedback"); }
  void showSettings(std::optional<SettingsPane> pane) override {
    log_.push_back(pane == SettingsPane::about ? "shell.showSettings about" : "shell.showSettings");
  }
  void showTourIfNeeded() override { log_.push_back("shell.showTourIfNeeded"); }
  void startPermissionWatcher() override { log_.push_back("shell.startPermissionWatcher"); }
  void sendToFocusedWindow(MenuAction) override { log_.push_back("shell.sendToFocusedWindow"); }
  void quit() override { log_.push_back("shell.quit"); }

  bool captureGranted = true;
  bool feedback = true;
  std::vector<Menu> mainMenu;
  std::optional<Menu> statusMenu;
  MenuHandler statusHandler;
  std::function<void()> statusWillOpen;

 private:
  CallLog& log_;
};

class RecordingOverlay final : public SwitcherOverlay {
 public:
  explicit RecordingOverlay(CallLog& log) : log_(log) {}

  void start() override { log_.push_back("overlay.start"); }
  bool isVisible() const override { return visible; }
  void present(bool byHotkey, AppSettings::HotkeyScope scope) override {
    log_.push_back(std::string("overlay.present ") + (byHotkey ? "hotkey " : "other ") +
                   std::string(AppSettings::rawValue(scope)));
  }
  void noteMenuOpening() override { log_.push_back("overlay.noteMenuOpening"); }
  void presentFromMenu() override { log_.push_back("overlay.presentFromMenu"); }
  void quickFlip(AppSettings::HotkeyScope scope) override {
    log_.push_back("overlay.quickFlip " + std::string(AppSettings::rawValue(scope)));
  }
  void stepByPress(int direction) override { log_.push_back("overlay.step " + std::to_string(direction)); }
  void onHotkeyRelease() override { log_.push_back("overlay.release"); }
  void catchUpInput() override { log_.push_back("overlay.catchUp"); }
  void prewarmIfAllowed() override { log_.push_back("overlay.prewarm"); }
  void handleTapKey(DismissKeyRoute route) override {
    log_.push_back("overlay.tapKey " + std::to_string(static_cast<int>(route)));
  }
  void cancel() override { log_.push_back("overlay.cancel"); }
  void setKeyboardReporter(KeyboardReporter reporter) override {
    log_.push_back("overlay.setKeyboardReporter");
    this->reporter = std::move(reporter);
  }

  bool visible = false;
  KeyboardReporter reporter;

 private:
  CallLog& log_;
};

// The services of the program as the delegate sees them: the real shortcut manager and trackpad
// monitor on simulated input, a recording overlay, and every other start-up step recorded.
class RecordingServices final : public AppServices {
 public:
  RecordingServices(CallLog& log, AppSettings& settings, ManualLoop& loop)
      : log_(log),
        hotkey_(HotkeyManager::create(settings, workspace, keys, loop.main())),
        gestures_(TrackpadGestureMonitor::create(settings, contacts, loop.main(), loop.pool())),
        overlay_(std::make_shared<RecordingOverlay>(log)) {}

  std::shared_ptr<HotkeyManager> hotkey() override { return hotkey_; }
  std::shared_ptr<TrackpadGestureMonitor> gestures() override { return gestures_; }
  std::shared_ptr<SwitcherOverlay> overlay() override { return overlay_; }

  void startRegistry() override { log_.push_back("services.startRegistry"); }
  void prewarmIcons() override { log_.push_back("services.prewarmIcons"); }
  void removeSiteIconCopies() override { log_.push_back("services.removeSiteIconCopies"); }
  void prewarmStatusBadges() override { log_.push_back("services.prewarmStatusBadges"); }
  void prewarmActionBadges() override { log_.push_back("services.prewarmActionBadges"); }
  void startHotkey() override {
    // The four closures must be in place before the tap can deliver anything.
    const bool wired = hotkey_->onSummon && hotkey_->onModifierRelease && hotkey_->onPrewarm && hotkey_->onDismissKey;
    log_.push_back(wired ? "services.startHotkey" : "services.startHotkey (closures missing)");
    hotkey_->start();
  }
  void startGestures() override {
    log_.push_back(gestures_->onSwipe ? "services.startGestures" : "services.startGestures (closure missing)");
    gestures_->start();
  }

  RecordingOverlay& recordingOverlay() { return *overlay_; }
  void dropOverlay() { overlay_.reset(); }

  FakeWorkspace workspace;
  SimKeyEventSource keys;
  SimContactSource contacts;

 private:
  CallLog& log_;
  std::shared_ptr<HotkeyManager> hotkey_;
  std::shared_ptr<TrackpadGestureMonitor> gestures_;
  std::shared_ptr<RecordingOverlay> overlay_;
};

}  // namespace quorvel
