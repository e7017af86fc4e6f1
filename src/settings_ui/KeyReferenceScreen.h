#pragma once

#include <QString>
#include <QWidget>

#include <optional>
#include <string>
#include <vector>

#include "base/Subscription.h"
#include "settings/HotkeyBinding.h"

namespace quorvel {

class KeyNames;
class SettingsBindings;
class SettingsForm;

// The keys that work while the switcher is open, grouped by what they do, read-only. Rows of
// optional features show while the feature is on; the extra close key shows under its own name.
// Follows the store while shown.
class KeyReferenceScreen final : public QWidget {
 public:
  struct Line {
    std::string section;
    std::string key;
    std::string action;
    bool operator==(const Line&) const = default;
  };

  KeyReferenceScreen(SettingsBindings& bindings, const KeyNames& names, QWidget* parent = nullptr);
  ~KeyReferenceScreen() override;

  // The table for these settings, in order.
  static std::vector<Line> lines(bool vimKeys, bool searchEnabled, bool windowActionsEnabled,
                                 const std::optional<std::string>& cancelKeyText);
  const std::vector<Line>& shown() const { return shown_; }

 private:
  void reload();

  SettingsBindings& bindings_;
  const KeyNames& names_;
  SettingsForm* form_ = nullptr;
  std::vector<Line> shown_;
  Subscription subscription_;
};

}  // namespace quorvel
