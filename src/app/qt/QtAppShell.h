#pragma once

#include <filesystem>
#include <functional>
#include <memory>

#include "app/AppShell.h"
#include "settings_ui/SettingsWindowController.h"

namespace quorvel {

class QtStatusItem;

// The desktop around the program on Qt Widgets under X11: the tray item, the main menu (in the
// program's own windows), the settings window, and the end of the event loop. X11 asks no
// permission for pictures of windows or for the keyboard, so the permission questions answer
// "granted" and prompt nothing. The first-run tour and the watcher of the shortcut are opened
// through the closures the program sets (nothing until they are set). Main thread only.
class QtAppShell final : public AppShell {
 public:
  explicit QtAppShell(SettingsWindowServices settings);
  ~QtAppShell() override;

  bool screenCaptureGranted() override { return true; }
  void promptForAccessibility() override {}
  void requestScreenCapture() override {}
  void installMainMenu(const std::vector<Menu>& menus, MenuHandler handler) override;
  void showStatusItem(const Menu& menu, MenuHandler handler, std::function<void()> willOpen) override;
  void removeStatusItem() override;
  // Shows a short message beside the tray item (nothing when there is none).
  void showStatusMessage(const std::string& title, const std::string& text);
  // Takes that message away if it still shows.
  void withdrawStatusMessage();
  void showSettings(std::optional<SettingsPane> pane) override;
  // Opens the feedback form through `opener` (set by the program when the build has a feedback
  // host); until it is set, feedback is not offered.
  void setFeedbackOpener(std::function<void()> opener) { feedbackOpener_ = std::move(opener); }
  bool offersFeedback() const override { return static_cast<bool>(feedbackOpener_); }
  void showFeedback() override {
    if (feedbackOpener_) feedbackOpener_();
  }
  void setTourHooks(std::function<void()> showTourIfNeeded, std::function<void()> startWatcher) {
    tourIfNeeded_ = std::move(showTourIfNeeded);
    startWatcher_ = std::move(startWatcher);
  }
  void showTourIfNeeded() override {
    if (tourIfNeeded_) tourIfNeeded_();
  }
  void startPermissionWatcher() override {
    if (startWatcher_) startWatcher_();
  }
  void sendToFocusedWindow(MenuAction action) override;
  void quit() override;

  QtStatusItem* statusItem() const { return statusItem_.get(); }
  SettingsWindowController& settingsWindow() { return settings_; }

 private:
  SettingsWindowController settings_;
  std::unique_ptr<QtStatusItem> statusItem_;
  std::function<void()> feedbackOpener_;
  std::function<void()> tourIfNeeded_;
  std::function<void()> startWatcher_;
};

}  // namespace quorvel
