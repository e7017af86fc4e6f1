#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "base/Executor.h"
#include "base/Subscription.h"
#include "settings/AppSettings.h"

namespace quorvel {

// The settings window's hold on the defaults store: every control reads its key through here and
// writes it back through here, and learns here when the store changed (whoever changed it).
//
// A read gives the stored value, else the registered default, else the key's base default (the
// fallback for a key nobody registered). A write of the value the key already reads as is skipped,
// so a control set from the store never writes it back. Controls that change many times a second
// (sliders, text fields) write through writeSoon: the value is held and written once the changes
// pause for `writePause` or when flush() is called (the slider let go of, the field left), because
// every store write rewrites the settings file. A held value is what reads give meanwhile.
//
// Threads: main executor only. Store changes made on other threads reach the observers through a
// hop to the main executor; changes made on it reach them at once.
class SettingsBindings {
 public:
  using Value = nlohmann::json;
  static constexpr Duration writePause = std::chrono::milliseconds(400);

  SettingsBindings(AppSettings& settings, Executor& main);
  // Writes what is still held.
  ~SettingsBindings();
  SettingsBindings(const SettingsBindings&) = delete;
  SettingsBindings& operator=(const SettingsBindings&) = delete;

  AppSettings& settings() const { return settings_; }
  Executor& main() const { return main_; }

  Value value(const std::string& key) const;
  bool flag(const std::string& key) const;
  double number(const std::string& key) const;
  std::string text(const std::string& key) const;

  // Writes at once (and drops a held value of the key).
  void write(const std::string& key, Value value);
  // Holds the value and writes it after a pause in the changes.
  void writeSoon(const std::string& key, Value value);
  // Writes every held value now.
  void flush();
  bool holds(const std::string& key) const { return held_.contains(key); }

  // `observer` runs on the main executor after each change of the store, while the subscription lives.
  Subscription observe(std::function<void()> observer);

  // A sentence for the user when the settings file could not be read at start or the last write
  // could not reach it; none while all is well.
  std::optional<std::string> fileProblem() const;

 private:
  AppSettings& settings_;
  Executor& main_;
  std::map<std::string, Value> held_;
  std::optional<TimerId> timer_;
};

}  // namespace quorvel
