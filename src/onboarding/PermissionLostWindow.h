#pragma once

#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <optional>

#include "base/Executor.h"
#include "onboarding/OnboardingServices.h"
#include "windows/ChromeWindowCensus.h"

namespace quorvel {

// "Shortcut needed": the shortcut page of the tour in its recovery words, for when another program
// holds the summon shortcut's keys while Quorvel runs (`lost`: they were Quorvel's earlier in the run;
// else they never were). It asks for the keys again and looks every second, and closes itself as
// soon as they are Quorvel's; on it the user can also choose another shortcut, open the Shortcuts
// settings (the default button), or quit.
class PermissionLostView final : public QWidget {
 public:
  static constexpr Duration recheckInterval = std::chrono::seconds(1);

  PermissionLostView(OnboardingServices& services, std::function<void()> onFixed, bool lost = true,
                     QWidget* parent = nullptr);
  ~PermissionLostView() override;
  // One look: closes the window (through onFixed) when the keys are free.
  void recheck();
  QWidget* page() const { return page_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void build();
  void scheduleRecheck();

  OnboardingServices& services_;
  std::function<void()> onFixed_;
  bool lost_;
  QWidget* page_ = nullptr;
  std::optional<HotkeyBinding> shown_;
  std::optional<TimerId> recheck_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// The one "Shortcut needed" window of the program. Each show() closes the window shown before (open,
// hidden or minimized alike) and shows a fresh one in the middle of the screen, so there is never
// more than one.
//
// Threads: main thread only.
class PermissionLostWindowController {
 public:
  explicit PermissionLostWindowController(OnboardingServices services);
  ~PermissionLostWindowController();
  PermissionLostWindowController(const PermissionLostWindowController&) = delete;
  PermissionLostWindowController& operator=(const PermissionLostWindowController&) = delete;

  void show(bool lost = true);
  PermissionLostView* window() const { return window_.data(); }

 private:
  OnboardingServices services_;
  QPointer<PermissionLostView> window_;
  const QObject* shownWindow_ = nullptr;  // compared only, never used
  CountedWindow countedWindow_{services_.census};
};

}  // namespace quorvel
