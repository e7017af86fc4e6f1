#include "onboarding/PermissionLostWindow.h"

#include <QPainter>
#include <QVBoxLayout>

#include "base/Logger.h"
#include "onboarding/Brand.h"
#include "onboarding/OnboardingChrome.h"
#include "onboarding/OnboardingFlow.h"
#include "onboarding/OnboardingScreens.h"
#include "onboarding/OnboardingWindow.h"

namespace quorvel {

PermissionLostView::PermissionLostView(OnboardingServices& services, std::function<void()> onFixed, bool lost,
                                       QWidget* parent)
    : QWidget(parent), services_(services), onFixed_(std::move(onFixed)), lost_(lost) {
  setWindowTitle("Shortcut needed");
  setObjectName("shortcutNeeded");
  setFixedSize(720, 600);
  applyBrandPalette(*this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  build();
  scheduleRecheck();
}

PermissionLostView::~PermissionLostView() {
  alive_.reset();
  if (recheck_) services_.main.cancel(*recheck_);
}

void PermissionLostView::build() {
  shown_ = services_.settings.hotkeyBinding(HotkeySlot::first);
  OnboardingScreens::ShortcutPage values;
  values.recovery = true;
  values.standing = ReadinessStanding::waiting;
  values.binding = shown_;
  if (shown_) values.shortcutText = shown_->displayString(services_.keyNames);
  std::optional<AdviceText> taken = shown_ && services_.shortcutTaken ? services_.shortcutTaken(*shown_) : std::nullopt;
  values.advice = taken ? taken->say("Or choose another shortcut here.")
                        : OnboardingFlow::freeingAdvice(services_.windowManagerName ? services_.windowManagerName() : "",
                                                        values.shortcutText.value_or("The shortcut"));
  std::weak_ptr<bool> alive = alive_;
  values.choose = [this, alive](const HotkeyBinding& binding) {
    services_.settings.setHotkeyBinding(binding, HotkeySlot::first);
    // The shortcut manager takes the new keys on the settings change; look once it has.
    services_.main.post([this, alive] {
      if (alive.lock()) recheck();
    });
  };
  using Action = OnboardingFlow::Action;
  // The way on is the default button: the Shortcuts settings, where the shortcuts are chosen and
  // their advice stands. Quitting stays possible.
  std::vector<Action> actions = {{"Quit", Action::Look::ghost, true, false, Action::Command::quit}};
  if (services_.showShortcutSettings) {
    actions.push_back({"Open the setting for me", Action::Look::primary, true, true, Action::Command::chooseShortcut});
  }
  auto* footer = new BrandFooter(0, 0, actions, [this](Action::Command command) {
    if (command == Action::Command::quit) {
      Logger("Onboarding").notice("Quorvel ends: Quit was chosen in the \"Shortcut needed\" window");
      if (services_.quit) services_.quit();
      return;
    }
    // The settings say it from now on, and the watcher again once they close.
    std::function<void()> open = services_.showShortcutSettings;
    if (onFixed_) onFixed_();
    if (open) open();
  });
  BrandScreen::Art art{BrandArt::Scene::shortcut};
  for (const auto& cap : OnboardingFlow::keyCaps(shown_, services_.keyNames)) art.keys << QString::fromStdString(cap);
  QWidget* next = new BrandScreen(OnboardingScreens::shortcutTexts(true, values.shortcutText, lost_, values.advice), art,
                                  OnboardingScreens::shortcutContent(values, services_), footer);
  showPage(*this, page_, next);
}

void PermissionLostView::scheduleRecheck() {
  recheck_ = services_.main.postAfter(recheckInterval, [this, alive = std::weak_ptr<bool>(alive_)] {
    if (!alive.lock()) return;
    recheck_.reset();
    if (services_.askForShortcutAgain) services_.askForShortcutAgain();
    recheck();
    if (alive.lock()) scheduleRecheck();
  });
}

void PermissionLostView::recheck() {
  const bool held = services_.shortcutHeldElsewhere && services_.shortcutHeldElsewhere();
  if (!held) {
    if (onFixed_) onFixed_();
    return;
  }
  // A shortcut chosen elsewhere (in the settings) shows here too.
  if (services_.settings.hotkeyBinding(HotkeySlot::first) != shown_) build();
}

void PermissionLostView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  Brand::paintGround(painter, rect());
}

PermissionLostWindowController::PermissionLostWindowController(OnboardingServices services)
    : services_(std::move(services)) {}

PermissionLostWindowController::~PermissionLostWindowController() { delete window_.data(); }

void PermissionLostWindowController::show(bool lost) {
  // Whatever became of the last window (shown, hidden, minimized), it goes before the next.
  if (window_) {
    PermissionLostView* old = window_.data();
    window_.clear();
    old->close();
    delete old;  // takes it off the census
  }
  auto* window = new PermissionLostView(
      services_,
      [this] {
        if (window_) window_->close();
      },
      lost);
  window->setAttribute(Qt::WA_DeleteOnClose);
  shownWindow_ = window;
  QObject::connect(window, &QObject::destroyed, [this](QObject* gone) {
    // Only the window counted last is taken off the census here.
    if (gone == shownWindow_) {
      shownWindow_ = nullptr;
      countedWindow_.gone();
    }
  });
  window_ = window;
  bringForward(*window, countedWindow_, true);
}

}  // namespace quorvel
