#pragma once

#include <QObject>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "base/Subscription.h"

class QCheckBox;
class QComboBox;
class QSlider;
class QWidget;

namespace quorvel {

class SettingsBindings;

// Controls bound to settings keys both ways: a control shows its key's value and writes the key when
// the user changes it, and every control follows the store when it changes from anywhere (another
// control, the overlay, an import, the file). A control set from the store does not write back.
//
// A picker's choices are the key's cases from the settings table, in case order, shown with the
// labels given; a stored text naming no case selects nothing. A slider writes after a pause or when
// it is let go of, not on every step.
//
// Threads: main thread only. Lives as long as its pane; its controls are children of the pane.
class BoundControls final : public QObject {
 public:
  BoundControls(SettingsBindings& bindings, QObject* parent);
  ~BoundControls() override;

  QCheckBox* toggle(const std::string& key, const QString& label);
  // `labels` in the order of the key's cases.
  QComboBox* picker(const std::string& key, const std::vector<QString>& labels);
  // A number from `least` to `greatest` in `steps` steps.
  QSlider* slider(const std::string& key, double least, double greatest, int steps);

  // Runs after every refresh from the store (rows that show or hide with a value).
  void onRefresh(std::function<void()> hook) { hooks_.push_back(std::move(hook)); }
  // Sets every control from the store without writing anything back, then runs the hooks.
  void refresh();

  SettingsBindings& bindings() const { return bindings_; }

 private:
  SettingsBindings& bindings_;
  std::vector<std::function<void()>> readers_;  // one per control: control <- store
  std::vector<std::function<void()>> hooks_;
  Subscription subscription_;
};

}  // namespace quorvel
