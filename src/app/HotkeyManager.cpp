#include "app/HotkeyManager.h"

#include <algorithm>
#include <cassert>

#include "app/ShortcutAdvice.h"
#include "platform/UsKeyboardLayout.h"
#include "settings/KeyNames.h"

namespace quorvel {

std::shared_ptr<HotkeyManager> HotkeyManager::create(AppSettings& settings, Workspace& workspace,
                                                     KeyEventSource& source, Executor& main) {
  return std::shared_ptr<HotkeyManager>(new HotkeyManager(settings, workspace, source, main));
}

HotkeyManager::HotkeyManager(AppSettings& settings, Workspace& workspace, KeyEventSource& source, Executor& main)
    : settings_(settings), workspace_(workspace), source_(source), main_(main) {}

HotkeyManager::~HotkeyManager() {
  if (askTimer_) main_.cancel(*askTimer_);
}

void HotkeyManager::start() {
  reloadSettings();
  std::weak_ptr<HotkeyManager> weak = weak_from_this();
  if (!defaultsObserver_.isActive()) {
    Executor& main = main_;
    // The store calls observers on the writer's thread; the reload runs on the main executor.
    defaultsObserver_ = settings_.store().addObserver([weak, &main] {
      main.post([weak] {
        if (auto self = weak.lock()) self->reloadSettings();
      });
    });
  }
  if (!activationObserver_.isActive()) {
    activationObserver_ = workspace_.addObserver(Workspace::Event::didActivateApplication,
                                                 [weak](Workspace::Event, const RunningApplication&) {
                                                   if (auto self = weak.lock()) self->updatePassThrough();
                                                 });
  }
  if (installed_) return;
  if (!installTap()) {
    logger_.notice("The shortcut could not be set up yet (the keyboard could not be read), retrying");
    scheduleRetry();
  }
}

std::vector<HotkeyMatchEntry> HotkeyManager::loadEntries() const {
  std::vector<HotkeyMatchEntry> entries;
  for (HotkeySlot slot : {HotkeySlot::first, HotkeySlot::second}) {
    const auto binding = settings_.hotkeyBinding(slot);
    if (!binding) continue;
    const char* scopeKey = slot == HotkeySlot::first ? AppSettings::Key::hotkeyScope1 : AppSettings::Key::hotkeyScope2;
    const auto scopeText = settings_.store().string(scopeKey);
    const auto scope = scopeText && *scopeText == "activeApp" ? AppSettings::HotkeyScope::activeApp
                                                              : AppSettings::HotkeyScope::allWindows;
    entries.push_back(HotkeyMatchEntry::from(*binding, scope));
  }
  return entries;
}

void HotkeyManager::reloadSettings() {
  const bool grave = settings_.boolValue(AppSettings::Key::graveCyclesBackward);
  auto entries = loadEntries();
  const bool entriesChanged = entries != activeEntries_;
  graveCyclesBackward_ = grave;
  activeEntries_ = std::move(entries);
  passThroughIDs_ = settings_.stringList(AppSettings::Key::passThroughBundleIDs).value_or(std::vector<std::string>{});
  updatePassThrough();
  changeMatchState([&](HotkeyMatchState& s) {
    s.graveCyclesBackward = graveCyclesBackward_;
    if (entriesChanged) {
      s.entries = activeEntries_;
      s.armedFlags.reset();
    }
  });
}

void HotkeyManager::updatePassThrough() {
  std::optional<std::string> front;
  if (auto app = workspace_.frontmostApplication()) front = app->bundleIdentifier;
  bool matched = false;
  if (front) {
    for (const auto& entry : passThroughIDs_) {
      const bool prefix = !entry.empty() && entry.back() == '.';
      if (prefix ? front->starts_with(entry) : *front == entry) {
        matched = true;
        break;
      }
    }
  }
  if (matched) {
    if (passThroughActive_) return;
    passThroughActive_ = true;
    logger_.notice("Shortcut passes through to %{public}s", *front);
    changeMatchState([](HotkeyMatchState& s) { s.passThroughActive = true; });
  } else if (passThroughActive_) {
    passThroughActive_ = false;
    changeMatchState([](HotkeyMatchState& s) { s.passThroughActive = false; });
  }
}

template <class F>
void HotkeyManager::changeMatchState(F&& change) {
  if (!tapContext_) return;
  auto keys = tapContext_->state().withLock([&](HotkeyMatchState& s) {
    change(s);
    return s.interest();
  });
  // A key that leaves the interest is forgotten by the source: asked for again later, it is a new
  // request, and one taken at once is not reported.
  const auto before = heldElsewhere_.size();
  std::erase_if(heldElsewhere_, [&](const KeyInterest& key) {
    return std::find(keys.begin(), keys.end(), key) == keys.end();
  });
  const bool forgot = heldElsewhere_.size() != before;
  source_.setInterest(std::move(keys));
  if (forgot) {
    scheduleReport();
    if (onOwnershipChange) onOwnershipChange();
  }
}

bool HotkeyManager::keysHeldElsewhere(HotkeySlot slot) const {
  const auto binding = settings_.hotkeyBinding(slot);
  if (!binding) return false;
  const KeyInterest key{binding->keyCode, static_cast<uint64_t>(binding->requiredFlags) & KeyFlags::shortcutModifiers};
  return std::find(heldElsewhere_.begin(), heldElsewhere_.end(), key) != heldElsewhere_.end();
}

void HotkeyManager::askForKeysAgain() {
  if (!heldElsewhere_.empty()) source_.askForRefusedKeys();
}

void HotkeyManager::reportKeyboardState(const std::optional<OverlayKeyboardState>& state) {
  if (state == overlayKeyboard_) return;
  overlayKeyboard_ = state;
  changeMatchState([&](HotkeyMatchState& s) { s.overlay = state; });
}

std::optional<TapKeyDecision> HotkeyManager::overlayShortcutPress(int64_t keyCode, uint64_t flags) {
  if (!tapContext_) return std::nullopt;
  const TapKeyDecision decision =
      tapContext_->state().withLock([&](HotkeyMatchState& s) { return s.matchKeyDown(keyCode, flags); });
  if (decision.kind != TapKeyDecision::Kind::press) return std::nullopt;
  return decision;
}

void HotkeyManager::setRecording(bool recording) {
  isRecording_ = recording;
  changeMatchState([recording](HotkeyMatchState& s) {
    s.isSuspended = recording;
    if (recording) s.armedFlags.reset();
  });
}

std::optional<uint32_t> HotkeyManager::keyEventTime() const {
  const std::optional<KeyStreamOrder::Stamp> running = keyOrder_->running();
  if (!running || running->time == 0) return std::nullopt;
  return running->time;
}

std::optional<HotkeyMatchState> HotkeyManager::matchState() const {
  if (!tapContext_) return std::nullopt;
  return tapContext_->state().withLock([](HotkeyMatchState& s) { return s; });
}

bool HotkeyManager::installTap() {
  HotkeyMatchState initial;
  initial.entries = activeEntries_;
  initial.graveCyclesBackward = graveCyclesBackward_;
  initial.isSuspended = isRecording_;
  initial.passThroughActive = passThroughActive_;
  initial.overlay = overlayKeyboard_;

  // Each hop posts to the main executor, which runs them in the order they were posted. The hops
  // that act on the overlay are noted in the key order as they are posted and while they run, so
  // that the overlay's own keys act in the order typed with them.
  std::weak_ptr<HotkeyManager> weak = weak_from_this();
  Executor* main = &main_;
  auto onMain = [weak, main](auto call) {
    main->post([weak, main, call] {
      assert(main->isCurrent());
      (void)main;
      if (auto self = weak.lock()) call(*self);
    });
  };
  std::shared_ptr<KeyStreamOrder> order = keyOrder_;
  auto onMainInOrder = [weak, main, order](KeyStreamOrder::Stamp stamp, auto call) {
    order->posted(stamp);
    main->post([weak, main, order, call] {
      assert(main->isCurrent());
      (void)main;
      order->beginRun();
      if (auto self = weak.lock()) call(*self);
      order->endRun();
    });
  };
  HotkeyTapContext::Hops hops;
  hops.summon = [onMainInOrder](int direction, HotkeyPress press, AppSettings::HotkeyScope scope,
                                KeyStreamOrder::Stamp stamp) {
    onMainInOrder(stamp, [=](HotkeyManager& m) {
      if (m.onSummon) m.onSummon(direction, press, scope);
    });
  };
  hops.modifierRelease = [onMainInOrder](KeyStreamOrder::Stamp stamp) {
    onMainInOrder(stamp, [](HotkeyManager& m) {
      if (m.onModifierRelease) m.onModifierRelease();
    });
  };
  hops.prewarm = [onMain] {
    onMain([](HotkeyManager& m) {
      if (m.onPrewarm) m.onPrewarm();
    });
  };
  hops.dismissKey = [onMainInOrder](DismissKeyRoute route, KeyStreamOrder::Stamp stamp) {
    onMainInOrder(stamp, [route](HotkeyManager& m) {
      if (m.onDismissKey) m.onDismissKey(route);
    });
  };

  source_.setOwnershipHandler([onMain](const KeyInterest& key, bool held) {
    onMain([key, held](HotkeyManager& m) { m.noteOwnership(key, held); });
  });
  auto context = std::make_shared<HotkeyTapContext>(initial, std::move(hops), main_.clock());
  context->port().withLock([this](KeyEventSource*& port) { port = &source_; });
  source_.setInterest(initial.interest());
  const bool installed = source_.install([context](const KeyEvent& event) { return context->handle(event); });
  if (!installed) return false;
  tapContext_ = std::move(context);
  installed_ = true;
  logger_.info("Shortcut event tap installed on its own thread");
  return true;
}

std::string HotkeyManager::shortcutText(const KeyInterest& key) {
  static const UsKeyboardLayout layout;
  std::string text;
  if (key.requiredFlags & KeyFlags::control) text += "Ctrl+";
  if (key.requiredFlags & KeyFlags::option) text += "Alt+";
  if (key.requiredFlags & KeyFlags::command) text += "Super+";
  return text + KeyNames(layout).name(key.keyCode);
}

void HotkeyManager::noteOwnership(const KeyInterest& key, bool held) {
  const auto known = std::find(heldElsewhere_.begin(), heldElsewhere_.end(), key);
  if (held && known != heldElsewhere_.end()) heldElsewhere_.erase(known);
  if (!held && known == heldElsewhere_.end()) heldElsewhere_.push_back(key);
  scheduleReport();
  scheduleAsk();
  if (onOwnershipChange) onOwnershipChange();
}

void HotkeyManager::scheduleReport() {
  if (reportPending_) return;
  reportPending_ = true;
  // The source reports the keys of one change one by one, each its own hop: the report runs after
  // all of them.
  std::weak_ptr<HotkeyManager> weak = weak_from_this();
  main_.post([weak] {
    if (auto self = weak.lock()) self->reportShortcuts();
  });
}

void HotkeyManager::reportShortcuts() {
  reportPending_ = false;
  auto heldElsewhere = [this](const KeyInterest& key) {
    return std::find(heldElsewhere_.begin(), heldElsewhere_.end(), key) != heldElsewhere_.end();
  };
  std::vector<KeyInterest> shortcuts;
  for (const auto& entry : activeEntries_) shortcuts.push_back({entry.keyCode, entry.requiredFlags});
  const bool wereTaken = !toldTaken_.empty();
  // A shortcut the user no longer has is forgotten without a word.
  for (auto* told : {&toldTaken_, &toldBackward_}) {
    std::erase_if(*told, [&](const KeyInterest& key) {
      return std::find(shortcuts.begin(), shortcuts.end(), key) == shortcuts.end();
    });
  }
  std::string manager;
  bool managerRead = false;
  for (const KeyInterest& shortcut : shortcuts) {
    const std::string name = shortcutText(shortcut);
    const auto told = std::find(toldTaken_.begin(), toldTaken_.end(), shortcut);
    if (heldElsewhere(shortcut) && told == toldTaken_.end()) {
      toldTaken_.push_back(shortcut);
      std::string sentence;
      if (shortcutAdvice) {
        sentence = shortcutAdvice(shortcut, name);
      } else {
        if (!managerRead && windowManagerName) manager = windowManagerName();
        managerRead = true;
        sentence = ShortcutAdvice::text(manager, name);
      }
      logger_.notice("%{public}s", sentence);
      if (std::find(toldUser_.begin(), toldUser_.end(), shortcut) == toldUser_.end()) {
        toldUser_.push_back(shortcut);
        if (onShortcutRefused) onShortcutRefused(sentence);
      }
    } else if (!heldElsewhere(shortcut) && told != toldTaken_.end()) {
      toldTaken_.erase(told);
      logger_.notice("%{public}s was let go of by the program that held it; the shortcut works now", name);
    }
    // The key above Tab stepping backward is part of a shortcut on Tab; inside the switcher it
    // steps all the same, so its loss is only logged.
    bool backwardTaken = false;
    if (shortcut.keyCode == HotkeyBinding::tabKeyCode) {
      for (int64_t code : AppSettings::backwardKeyCodes()) backwardTaken |= heldElsewhere({code, shortcut.requiredFlags});
    }
    const std::string backwardName = shortcutText({50, shortcut.requiredFlags});
    const auto toldBackward = std::find(toldBackward_.begin(), toldBackward_.end(), shortcut);
    if (backwardTaken && toldBackward == toldBackward_.end()) {
      toldBackward_.push_back(shortcut);
      logger_.notice("%{public}s is taken by another program, so the key above Tab steps backward only inside the "
                     "switcher",
                     backwardName);
    } else if (!backwardTaken && toldBackward != toldBackward_.end()) {
      toldBackward_.erase(toldBackward);
      logger_.notice("%{public}s was let go of by the program that held it; it steps backward again", backwardName);
    }
  }
  if (wereTaken && toldTaken_.empty() && onShortcutsFree) onShortcutsFree();
}

void HotkeyManager::scheduleAsk() {
  if (askTimer_ || heldElsewhere_.empty()) return;
  std::weak_ptr<HotkeyManager> weak = weak_from_this();
  askTimer_ = main_.postAfter(refusedAskInterval, [weak] {
    auto self = weak.lock();
    if (!self) return;
    self->askTimer_.reset();
    if (self->heldElsewhere_.empty()) return;
    // A key taken now comes back as a report (and stops the asks once none is held elsewhere).
    self->source_.askForRefusedKeys();
    self->scheduleAsk();
  });
}

void HotkeyManager::scheduleRetry() {
  if (isRetryScheduled_) return;
  isRetryScheduled_ = true;
  std::weak_ptr<HotkeyManager> weak = weak_from_this();
  main_.postAfter(retryInterval, [weak] {
    auto self = weak.lock();
    if (!self) return;
    self->isRetryScheduled_ = false;
    if (!self->installed_ && !self->installTap()) self->scheduleRetry();
  });
}

}  // namespace quorvel
