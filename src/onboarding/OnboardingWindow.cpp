#include "onboarding/OnboardingWindow.h"

#include <QApplication>
#include <QPainter>
#include <QVBoxLayout>

#include "base/DefaultsStore.h"
#include "onboarding/Brand.h"
#include "onboarding/OnboardingChrome.h"
#include "onboarding/OnboardingScreens.h"

namespace quorvel {

void applyBrandPalette(QWidget& window) {
  QPalette palette = window.palette();
  palette.setColor(QPalette::Window, Brand::ground());
  palette.setColor(QPalette::WindowText, Brand::ink());
  palette.setColor(QPalette::Base, Brand::surface());
  palette.setColor(QPalette::AlternateBase, Brand::surfaceRaised());
  palette.setColor(QPalette::Text, Brand::ink());
  palette.setColor(QPalette::Button, Brand::surface());
  palette.setColor(QPalette::ButtonText, Brand::ink());
  palette.setColor(QPalette::Highlight, Brand::accent());
  palette.setColor(QPalette::HighlightedText, Brand::onAccent());
  palette.setColor(QPalette::PlaceholderText, Brand::inkFaint());
  palette.setColor(QPalette::Light, Brand::surfaceRaised());
  palette.setColor(QPalette::Midlight, Brand::surfaceRaised());
  palette.setColor(QPalette::Mid, Brand::line());
  palette.setColor(QPalette::Dark, Brand::ground());
  palette.setColor(QPalette::Shadow, Qt::black);
  palette.setColor(QPalette::Disabled, QPalette::WindowText, Brand::inkFaint());
  palette.setColor(QPalette::Disabled, QPalette::ButtonText, Brand::inkFaint());
  palette.setColor(QPalette::Disabled, QPalette::Text, Brand::inkFaint());
  window.setPalette(palette);
}

OnboardingWindow::OnboardingWindow(OnboardingServices& services, std::function<void()> onFinish, QWidget* parent)
    : QWidget(parent), services_(services) {
  setWindowTitle("Welcome");
  setObjectName("onboarding");
  setFixedSize(720, 600);
  applyBrandPalette(*this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  flow_ = std::make_unique<OnboardingFlow>(services_, std::move(onFinish), [this] { scheduleRebuild(); });
  rebuild();
}

OnboardingWindow::~OnboardingWindow() = default;

void OnboardingWindow::scheduleRebuild() {
  if (rebuildPending_) return;
  rebuildPending_ = true;
  // A button's own click may have caused the change: the page goes once that call has returned.
  QMetaObject::invokeMethod(
      this,
      [this] {
        if (rebuildPending_) rebuild();
      },
      Qt::QueuedConnection);
}

void OnboardingWindow::rebuild() {
  rebuildPending_ = false;
  // The keyboard stays on the control it was on when the same page comes back (a tile just chosen).
  QString focused;
  const QString lastPage = page_ ? page_->objectName() : QString();
  if (QWidget* focus = QApplication::focusWidget(); focus && page_ && page_->isAncestorOf(focus)) {
    focused = focus->objectName();
  }
  QWidget* next = OnboardingScreens::page(*flow_, services_);
  showPage(*this, page_, next);
  if (!focused.isEmpty() && page_->objectName() == lastPage) {
    if (auto* same = page_->findChild<QWidget*>(focused)) {
      same->setFocus();
      return;
    }
  }
  if (BrandFooter* footer = static_cast<BrandScreen*>(page_)->footer()) {
    for (auto* button : footer->buttons()) {
      if (button->isDefault()) button->setFocus();
    }
  }
}

void OnboardingWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (shownOnce_) return;
  shownOnce_ = true;
  flow_->shown();
}

void OnboardingWindow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  Brand::paintGround(painter, rect());
}

OnboardingWindowController::OnboardingWindowController(OnboardingServices services) : services_(std::move(services)) {}

OnboardingWindowController::~OnboardingWindowController() {
  delete window_.data();  // its end takes it off the census
}

void OnboardingWindowController::showIfNeeded() {
  if (!OnboardingFlow::shouldShowAtLaunch(services_.settings.store())) return;
  show();
}

void OnboardingWindowController::showTour() {
  services_.settings.store().remove(OnboardingFlow::stepKey);
  show();
}

void OnboardingWindowController::show() {
  if (!window_) {
    auto* window = new OnboardingWindow(services_, [this] { finish(); });
    window->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(window, &QObject::destroyed, [this] {
      countedWindow_.gone();
      if (services_.tourClosed) services_.tourClosed();
    });
    window_ = window;
    bringForward(*window_, countedWindow_, true);
    return;
  }
  bringForward(*window_, countedWindow_, false);
}

void OnboardingWindowController::finish() {
  if (window_) window_->close();
}

}  // namespace quorvel
