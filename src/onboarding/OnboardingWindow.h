#pragma once

#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <optional>

#include "onboarding/OnboardingFlow.h"
#include "onboarding/OnboardingServices.h"
#include "windows/ChromeWindowCensus.h"

namespace quorvel {

// The tour's window, "Welcome": 720 × 600, dark, one page at a time, built again whenever the flow
// says something on it changed (after the call that changed it has returned).
class OnboardingWindow final : public QWidget {
 public:
  OnboardingWindow(OnboardingServices& services, std::function<void()> onFinish, QWidget* parent = nullptr);
  ~OnboardingWindow() override;

  OnboardingFlow& flow() { return *flow_; }
  // The page on screen now.
  QWidget* page() const { return page_; }
  // Builds the page again at once (the window does this by itself on the next turn of the loop).
  void rebuild();

 protected:
  void showEvent(QShowEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void scheduleRebuild();

  OnboardingServices& services_;
  std::unique_ptr<OnboardingFlow> flow_;
  QWidget* page_ = nullptr;
  bool rebuildPending_ = false;
  bool shownOnce_ = false;
};

// The one tour window of the program: opened at start-up while the tour has not been completed,
// and from the About pane. A closed window is not reused: the next request makes a new one, whose
// flow starts again from the store.
//
// Threads: main thread only.
class OnboardingWindowController {
 public:
  explicit OnboardingWindowController(OnboardingServices services);
  ~OnboardingWindowController();
  OnboardingWindowController(const OnboardingWindowController&) = delete;
  OnboardingWindowController& operator=(const OnboardingWindowController&) = delete;

  // Shows the tour when it has not been completed.
  void showIfNeeded();
  // The About pane's "Show the welcome tour": forgets the saved step, then shows the tour (an open
  // tour keeps its page).
  void showTour();
  void show();
  // "Finish": the tour is completed and its window closes.
  void finish();

  OnboardingWindow* window() const { return window_.data(); }
  OnboardingServices& services() { return services_; }

 private:
  OnboardingServices services_;
  QPointer<OnboardingWindow> window_;
  CountedWindow countedWindow_{services_.census};
};

// The dark palette of the tour's windows, so that the toolkit's own controls on them fit.
void applyBrandPalette(QWidget& window);

}  // namespace quorvel
