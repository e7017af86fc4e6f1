#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Executor.h"
#include "base/Logger.h"
#include "base/Subscription.h"
#include "onboarding/OnboardingServices.h"
#include "settings/AppSettings.h"

namespace quorvel {

// The first-run tour's steps and state, without a window: which page is shown, what its footer
// offers, the standings of the shortcut, the window pictures and the browser tabs (looked at again
// every second while one of the two check pages is shown, and on the page after them while the
// shortcut does not work), the chosen arrangement, the shortcut's key caps, the summon notice of the
// keys page, launch at login and the swipe. The pages that say who holds the keys follow them
// changing hands as the shortcut manager reports it.
//
// The step is stored under "onboarding.step" on every change (so a tour closed half-way opens again
// there); "Finish" stores "hasCompletedWelcome" and removes the step. Reaching the last page turns
// launch at login on once per tour.
//
// Threads: main executor only; the polls are delayed jobs on it, read from its clock.
class OnboardingFlow {
 public:
  enum class Step { welcome, permissionsIntro, windowPictures, shortcut, permissionsDone, style, search, settings, keys, close };
  static constexpr int stepCount = 10;
  static constexpr Duration pollInterval = std::chrono::seconds(1);
  static constexpr const char* completedKey = "hasCompletedWelcome";
  static constexpr const char* stepKey = "onboarding.step";

  // The stored names of the steps, in tour order.
  static std::string_view rawValue(Step step);
  static std::optional<Step> stepFromRaw(std::string_view raw);
  static int index(Step step) { return static_cast<int>(step); }

  // A button of the footer.
  struct Action {
    enum class Look { primary, ghost, glow };
    enum class Command { goBack, advance, quit, chooseShortcut };
    std::string title;
    Look look = Look::primary;
    bool enabled = true;
    bool isDefault = false;
    Command command = Command::advance;
    bool operator==(const Action&) const = default;
  };

  // Whether the tour opens at start-up: until it has been completed.
  static bool shouldShowAtLaunch(const DefaultsStore& store);

  // `changed` runs after every change the page must show (never during a call into the flow that
  // the page made, except after it returns its effects).
  OnboardingFlow(OnboardingServices& services, std::function<void()> onFinish, std::function<void()> changed);
  ~OnboardingFlow();
  OnboardingFlow(const OnboardingFlow&) = delete;
  OnboardingFlow& operator=(const OnboardingFlow&) = delete;

  // The page is on screen: stores the step and starts the polls of a check page.
  void shown();

  Step step() const { return step_; }
  std::vector<Action> footer() const;
  void perform(Action::Command command);
  void advance();
  void goBack();

  // ---- The check pages ----
  ReadinessStanding shortcutStanding() const { return shortcutFree_ ? ReadinessStanding::allowed : ReadinessStanding::waiting; }
  ReadinessStanding picturesStanding() const { return pictures_ ? ReadinessStanding::allowed : ReadinessStanding::waiting; }
  ReadinessStanding tabsStanding() const { return tabs_ ? ReadinessStanding::allowed : ReadinessStanding::waiting; }
  // Reads the three standings now (the polls do this every second on the check pages).
  void pollReadiness();
  // Whether pressing the summon shortcut reaches the switcher: there is one and its keys are free.
  bool shortcutWorks() const { return shortcut_.has_value() && shortcutFree_; }
  // "Alt+Tab", or none without a summon shortcut.
  std::optional<std::string> shortcutText() const;
  // What to do in this window manager when another program holds the shortcut.
  AdviceText freeingAdvice() const;
  static AdviceText freeingAdvice(const std::string& windowManager, const std::string& shortcut);
  // A shortcut recorded on the shortcut page.
  void chooseShortcut(const HotkeyBinding& binding);
  std::optional<HotkeyBinding> shortcut() const { return shortcut_; }

  // ---- The look page ----
  AppSettings::SwitcherStyle style() const;
  void setStyle(AppSettings::SwitcherStyle style);

  // ---- The settings page ----
  bool showsMenuBarIcon() const;

  // ---- The keys page ----
  // One label per key of the summon shortcut: its modifiers, then its key ("Ctrl", "Alt", "Tab");
  // "No shortcut" alone without one.
  static std::vector<std::string> keyCaps(const std::optional<HotkeyBinding>& binding, const KeyNames& names);
  std::vector<std::string> keyCaps() const;
  bool didSummon() const { return didSummon_; }
  void noteSummon();
  // A key of a shortcut changed hands: the pages that say who holds them follow.
  void ownersChanged();

  // ---- The last page ----
  bool opensAtLogin() const { return opensAtLogin_; }
  const std::optional<std::string>& launchAtLoginMessage() const { return launchAtLoginMessage_; }
  // The user turned the login checkbox to `wanted`; the same state as now asks nothing.
  void setOpensAtLogin(bool wanted);
  // Whether the machine has a touchpad (asked each time: one may be plugged in meanwhile).
  bool hasTouchpad() const { return services_.touchpadPresent && services_.touchpadPresent(); }
  bool swipeToSummon() const;
  void setSwipeToSummon(bool on);
  bool systemAnswersTheSameSwipe() const { return systemAnswersTheSameSwipe_; }
  void refreshSwipeConflict();

 private:
  void setStep(Step step);
  void persistStep();
  void applyLoginDefault();
  void reloadShortcut();
  void schedulePoll();
  // The pages whose standings are looked at every second now.
  bool polls() const;
  void notify();

  OnboardingServices& services_;
  DefaultsStore& store_;
  std::function<void()> onFinish_;
  std::function<void()> changed_;
  const Logger logger_{"Onboarding"};

  Step step_ = Step::welcome;
  bool shortcutFree_ = true;
  bool pictures_ = true;
  bool tabs_ = false;
  std::optional<HotkeyBinding> shortcut_;
  bool opensAtLogin_ = false;
  std::optional<std::string> launchAtLoginMessage_;
  bool didApplyLoginDefault_ = false;
  bool didSummon_ = false;
  bool systemAnswersTheSameSwipe_ = false;
  std::optional<TimerId> poll_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  Subscription defaultsObserver_;
  Subscription summonObserver_;
  Subscription ownersObserver_;
};

}  // namespace quorvel
