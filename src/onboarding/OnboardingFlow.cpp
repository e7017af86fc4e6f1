#include "onboarding/OnboardingFlow.h"

#include "app/ShortcutAdvice.h"
#include "base/DefaultsStore.h"
#include "base/Logger.h"
#include "settings/KeyNames.h"

namespace quorvel {

namespace {

// The pages that show a standing read it afresh when they come on screen.
bool readsStandings(OnboardingFlow::Step step) {
  using Step = OnboardingFlow::Step;
  return step == Step::windowPictures || step == Step::shortcut || step == Step::permissionsDone;
}

constexpr std::array<std::string_view, OnboardingFlow::stepCount> kStepNames = {
    "welcome", "permissionsIntro", "windowPictures", "shortcut", "permissionsDone",
    "style",   "search",           "settings",       "keys",     "close"};

}  // namespace

std::string_view OnboardingFlow::rawValue(Step step) { return kStepNames[static_cast<size_t>(step)]; }

std::optional<OnboardingFlow::Step> OnboardingFlow::stepFromRaw(std::string_view raw) {
  for (size_t i = 0; i < kStepNames.size(); ++i) {
    if (kStepNames[i] == raw) return static_cast<Step>(i);
  }
  return std::nullopt;
}

bool OnboardingFlow::shouldShowAtLaunch(const DefaultsStore& store) { return !store.boolValue(completedKey); }

OnboardingFlow::OnboardingFlow(OnboardingServices& services, std::function<void()> onFinish,
                               std::function<void()> changed)
    : services_(services),
      store_(services.settings.store()),
      onFinish_(std::move(onFinish)),
      changed_(std::move(changed)) {
  if (const auto saved = store_.string(stepKey)) step_ = stepFromRaw(*saved).value_or(Step::welcome);
  shortcut_ = services_.settings.hotkeyBinding(HotkeySlot::first);
  opensAtLogin_ = services_.loginItemEnabled && services_.loginItemEnabled();
  if (services_.swipeConflicts) {
    systemAnswersTheSameSwipe_ =
        services_.swipeConflicts(services_.settings.summonGesture(), services_.settings.summonSwipeDirection());
  }
  if (services_.windowPicturesAvailable) pictures_ = services_.windowPicturesAvailable();
  if (services_.shortcutHeldElsewhere) shortcutFree_ = !services_.shortcutHeldElsewhere();
  if (services_.browserTabsReadable) tabs_ = services_.browserTabsReadable();

  std::weak_ptr<bool> alive = alive_;
  Executor& main = services_.main;
  // The store tells its observers on the writer's thread; the flow answers on the main executor.
  defaultsObserver_ = store_.addObserver([alive, &main, this] {
    main.post([alive, this] {
      if (alive.lock()) reloadShortcut();
    });
  });
  if (services_.observeSummons) {
    summonObserver_ = services_.observeSummons([alive, this] {
      if (alive.lock()) noteSummon();
    });
  }
  if (services_.observeShortcutOwners) {
    ownersObserver_ = services_.observeShortcutOwners([alive, this] {
      if (alive.lock()) ownersChanged();
    });
  }
}

OnboardingFlow::~OnboardingFlow() {
  alive_.reset();
  if (poll_) services_.main.cancel(*poll_);
}

void OnboardingFlow::notify() {
  if (changed_) changed_();
}

void OnboardingFlow::shown() {
  persistStep();
  if (readsStandings(step_)) pollReadiness();
  schedulePoll();
}

std::vector<OnboardingFlow::Action> OnboardingFlow::footer() const {
  using Look = Action::Look;
  using Command = Action::Command;
  std::vector<Action> actions;
  if (index(step_) >= 1) actions.push_back({"Back", Look::ghost, true, false, Command::goBack});
  // A shortcut another program holds stops nothing: the tray's Show Switcher, the swipe and another
  // shortcut still summon, and the keys are taken as soon as they are freed. The page says how; once
  // the tour is finished the watcher reminds.
  actions.push_back({step_ == Step::close ? "Finish" : "Continue", Look::primary, true, true, Command::advance});
  return actions;
}

void OnboardingFlow::perform(Action::Command command) {
  switch (command) {
    case Action::Command::goBack: goBack(); break;
    case Action::Command::advance: advance(); break;
    case Action::Command::quit:
      Logger("Onboarding").notice("Quorvel ends: Quit was chosen in the tour");
      if (services_.quit) services_.quit();
      break;
    case Action::Command::chooseShortcut:
      if (services_.showShortcutSettings) services_.showShortcutSettings();
      break;
  }
}

void OnboardingFlow::advance() {
  if (step_ == Step::close) {
    store_.set(completedKey, DefaultsStore::Value(true));
    store_.remove(stepKey);
    if (onFinish_) onFinish_();
    return;
  }
  setStep(static_cast<Step>(index(step_) + 1));
}

void OnboardingFlow::goBack() {
  if (step_ == Step::welcome) return;
  setStep(static_cast<Step>(index(step_) - 1));
}

void OnboardingFlow::setStep(Step step) {
  if (step == step_) return;
  step_ = step;
  persistStep();
  if (poll_) {
    services_.main.cancel(*poll_);
    poll_.reset();
  }
  if (readsStandings(step_)) pollReadiness();
  schedulePoll();
  notify();
}

void OnboardingFlow::persistStep() {
  store_.set(stepKey, DefaultsStore::Value(std::string(rawValue(step_))));
  if (step_ == Step::close) applyLoginDefault();
}

void OnboardingFlow::applyLoginDefault() {
  if (didApplyLoginDefault_) return;
  didApplyLoginDefault_ = true;
  const bool enabled = services_.loginItemEnabled && services_.loginItemEnabled();
  if (enabled) {
    opensAtLogin_ = true;
    return;
  }
  if (!services_.setLoginItem) return;
  const LoginItem::Result result = services_.setLoginItem(true);
  opensAtLogin_ = result.enabled;
  launchAtLoginMessage_ = result.message;
}

void OnboardingFlow::setOpensAtLogin(bool wanted) {
  // A checkbox brought in line with the item's real state is no wish of the user's.
  if (wanted == opensAtLogin_ || !services_.setLoginItem) return;
  const LoginItem::Result result = services_.setLoginItem(wanted);
  opensAtLogin_ = result.enabled;
  launchAtLoginMessage_ = result.message;
  notify();
}

bool OnboardingFlow::polls() const {
  // The page after the checks says whether the shortcut works: it follows the keys until they are free.
  return step_ == Step::windowPictures || step_ == Step::shortcut || (step_ == Step::permissionsDone && !shortcutFree_);
}

void OnboardingFlow::schedulePoll() {
  if (!polls()) return;
  std::weak_ptr<bool> alive = alive_;
  poll_ = services_.main.postAfter(pollInterval, [alive, this] {
    if (!alive.lock()) return;
    poll_.reset();
    // A key freed in the window manager's settings is taken now, while the user waits for it.
    if (step_ != Step::windowPictures && !shortcutFree_ && services_.askForShortcutAgain) services_.askForShortcutAgain();
    pollReadiness();
    schedulePoll();
  });
}

void OnboardingFlow::pollReadiness() {
  const bool free = services_.shortcutHeldElsewhere ? !services_.shortcutHeldElsewhere() : true;
  const bool pictures = services_.windowPicturesAvailable ? services_.windowPicturesAvailable() : true;
  const bool tabs = services_.browserTabsReadable ? services_.browserTabsReadable() : false;
  if (free == shortcutFree_ && pictures == pictures_ && tabs == tabs_) return;
  shortcutFree_ = free;
  pictures_ = pictures;
  tabs_ = tabs;
  notify();
}

std::optional<std::string> OnboardingFlow::shortcutText() const {
  if (!shortcut_) return std::nullopt;
  return shortcut_->displayString(services_.keyNames);
}

AdviceText OnboardingFlow::freeingAdvice() const {
  // The program's own answer names the very settings that hold the keys, where it can read them.
  if (shortcut_ && services_.shortcutTaken) {
    if (std::optional<AdviceText> taken = services_.shortcutTaken(*shortcut_)) {
      return taken->say("Or choose another shortcut here.");
    }
  }
  return freeingAdvice(services_.windowManagerName ? services_.windowManagerName() : std::string(),
                       shortcutText().value_or("The shortcut"));
}

AdviceText OnboardingFlow::freeingAdvice(const std::string& windowManager, const std::string& shortcut) {
  return ShortcutAdvice::advice(windowManager, shortcut).say("Or choose another shortcut here.");
}

void OnboardingFlow::chooseShortcut(const HotkeyBinding& binding) {
  services_.settings.setHotkeyBinding(binding, HotkeySlot::first);
  reloadShortcut();
  // The shortcut manager takes the new keys on the settings change; the answer is read at once.
  services_.main.post([alive = std::weak_ptr<bool>(alive_), this] {
    if (alive.lock()) pollReadiness();
  });
}

void OnboardingFlow::reloadShortcut() {
  const auto stored = services_.settings.hotkeyBinding(HotkeySlot::first);
  if (stored == shortcut_) return;
  shortcut_ = stored;
  notify();
}

AppSettings::SwitcherStyle OnboardingFlow::style() const { return services_.settings.switcherStyle(); }

void OnboardingFlow::setStyle(AppSettings::SwitcherStyle style) {
  const std::string raw(SettingEnums::rawValue(style));
  if (store_.string(AppSettings::Key::switcherStyle) == raw) return;
  store_.set(AppSettings::Key::switcherStyle, DefaultsStore::Value(raw));
  notify();
}

bool OnboardingFlow::showsMenuBarIcon() const { return services_.settings.boolValue(AppSettings::Key::showMenuBarIcon); }

std::vector<std::string> OnboardingFlow::keyCaps(const std::optional<HotkeyBinding>& binding, const KeyNames& names) {
  if (!binding) return {"No shortcut"};
  std::vector<std::string> caps;
  if (binding->requiredFlags & HotkeyBinding::controlFlag) caps.emplace_back("Ctrl");
  if (binding->requiredFlags & HotkeyBinding::optionFlag) caps.emplace_back("Alt");
  if (binding->requiredFlags & HotkeyBinding::commandFlag) caps.emplace_back("Super");
  caps.push_back(names.name(binding->keyCode));
  return caps;
}

std::vector<std::string> OnboardingFlow::keyCaps() const { return keyCaps(shortcut_, services_.keyNames); }

void OnboardingFlow::noteSummon() {
  if (step_ != Step::keys || didSummon_) return;
  didSummon_ = true;
  notify();
}

void OnboardingFlow::ownersChanged() {
  pollReadiness();
  // The keys page asks the key source itself, for the shortcut and the key above Tab: it is built
  // again to say who holds them now.
  if (step_ == Step::keys) notify();
}

bool OnboardingFlow::swipeToSummon() const {
  return store_.string(AppSettings::Key::summonGesture).value_or("threeFingers") != "off";
}

void OnboardingFlow::setSwipeToSummon(bool on) {
  store_.set(AppSettings::Key::summonGesture, DefaultsStore::Value(std::string(on ? "threeFingers" : "off")));
  // The note about the desktop's own swipe follows the setting it is about.
  refreshSwipeConflict();
  notify();
}

void OnboardingFlow::refreshSwipeConflict() {
  if (!services_.swipeConflicts) return;
  systemAnswersTheSameSwipe_ =
      services_.swipeConflicts(services_.settings.summonGesture(), services_.settings.summonSwipeDirection());
}

}  // namespace quorvel
