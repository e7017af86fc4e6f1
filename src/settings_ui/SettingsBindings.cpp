#include "settings_ui/SettingsBindings.h"

#include <atomic>

#include "settings/SettingsSchema.h"

namespace quorvel {

SettingsBindings::SettingsBindings(AppSettings& settings, Executor& main) : settings_(settings), main_(main) {}

SettingsBindings::~SettingsBindings() { flush(); }

SettingsBindings::Value SettingsBindings::value(const std::string& key) const {
  if (auto held = held_.find(key); held != held_.end()) return held->second;
  if (std::optional<Value> v = settings_.store().object(key)) return *v;
  // Nobody registered the key: its base default.
  for (const SettingsSchema::Entry& entry : SettingsSchema::entries()) {
    if (entry.key == key) return entry.value;
  }
  return Value();
}

bool SettingsBindings::flag(const std::string& key) const {
  if (holds(key) || !settings_.store().object(key)) {
    const Value v = value(key);
    return v.is_boolean() ? v.get<bool>() : (v.is_number() && v.get<double>() != 0);
  }
  return settings_.store().boolValue(key);
}

double SettingsBindings::number(const std::string& key) const {
  if (holds(key) || !settings_.store().object(key)) {
    const Value v = value(key);
    return v.is_number() ? v.get<double>() : 0.0;
  }
  return settings_.store().doubleValue(key);
}

std::string SettingsBindings::text(const std::string& key) const {
  if (holds(key) || !settings_.store().object(key)) {
    const Value v = value(key);
    return v.is_string() ? v.get<std::string>() : std::string();
  }
  return settings_.store().string(key).value_or(std::string());
}

void SettingsBindings::write(const std::string& key, Value value) {
  held_.erase(key);
  if (held_.empty() && timer_) {
    main_.cancel(*timer_);
    timer_.reset();
  }
  DefaultsStore& store = settings_.store();
  if (std::optional<Value> current = store.object(key); current && *current == value) return;
  store.set(key, std::move(value));
}

void SettingsBindings::writeSoon(const std::string& key, Value value) {
  held_[key] = std::move(value);
  // Each change starts the pause again: the value goes to the store once the changes stop.
  if (timer_) main_.cancel(*timer_);
  timer_ = main_.postAfter(writePause, [this] {
    timer_.reset();
    flush();
  });
}

void SettingsBindings::flush() {
  if (timer_) {
    main_.cancel(*timer_);
    timer_.reset();
  }
  std::map<std::string, Value> held = std::move(held_);
  held_.clear();
  DefaultsStore& store = settings_.store();
  std::map<std::string, Value> changed;
  for (auto& [key, value] : held) {
    if (std::optional<Value> current = store.object(key); current && *current == value) continue;
    changed.emplace(key, std::move(value));
  }
  if (changed.size() == 1) {
    store.set(changed.begin()->first, std::move(changed.begin()->second));
  } else if (!changed.empty()) {
    store.setMany(changed);
  }
}

Subscription SettingsBindings::observe(std::function<void()> observer) {
  auto live = std::make_shared<std::atomic<bool>>(true);
  Executor* main = &main_;
  auto registration = std::make_shared<Subscription>(settings_.store().addObserver([main, live, observer] {
    if (main->isCurrent()) {
      if (*live) observer();
      return;
    }
    main->post([live, observer] {
      if (*live) observer();
    });
  }));
  return Subscription([live, registration] {
    *live = false;
    registration->cancel();
  });
}

std::optional<std::string> SettingsBindings::fileProblem() const {
  const DefaultsStore& store = settings_.store();
  if (store.fileUnreadable()) {
    return "Quorvel could not read its settings file, so it saves nothing over it: your changes hold until "
           "Quorvel quits, and are saved as soon as the file can be read. Check that you may read the file "
           "defaults.json in Quorvel's settings folder (usually ~/.config/quorvel).";
  }
  if (store.lastWriteOutcome() == DefaultsStore::WriteOutcome::waiting) {
    return "Another program is writing Quorvel's settings file: your last change holds, and is saved as soon as "
           "that program has finished.";
  }
  if (!store.lastWriteSucceeded()) {
    return "Quorvel could not save your last change to its settings file. The change holds until Quorvel quits. "
           "Check that the disk has room and that you may write to Quorvel's settings folder (usually "
           "~/.config/quorvel).";
  }
  return std::nullopt;
}

}  // namespace quorvel
