#include "settings_ui/BoundControls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QSignalBlocker>
#include <QSlider>

#include <cmath>

#include "settings/SettingsSchema.h"
#include "settings_ui/SettingsBindings.h"
#include "settings_ui/WheelSafe.h"

namespace quorvel {

BoundControls::BoundControls(SettingsBindings& bindings, QObject* parent) : QObject(parent), bindings_(bindings) {
  subscription_ = bindings_.observe([this] { refresh(); });
}

BoundControls::~BoundControls() = default;

QCheckBox* BoundControls::toggle(const std::string& key, const QString& label) {
  auto* box = new QCheckBox(label);
  box->setObjectName(QString::fromStdString(key));
  readers_.push_back([this, box, key] {
    const QSignalBlocker quiet(box);
    box->setChecked(bindings_.flag(key));
  });
  readers_.back()();
  QObject::connect(box, &QCheckBox::toggled, this, [this, key](bool on) { bindings_.write(key, on); });
  return box;
}

QComboBox* BoundControls::picker(const std::string& key, const std::vector<QString>& labels) {
  auto* combo = new WheelSafe<QComboBox>;
  combo->setObjectName(QString::fromStdString(key));
  const std::optional<SettingsSchema::Entry> entry = SettingsSchema::find(key);
  if (entry) {
    for (size_t i = 0; i < entry->cases.size(); ++i) {
      const QString raw = QString::fromUtf8(entry->cases[i].data(), static_cast<qsizetype>(entry->cases[i].size()));
      combo->addItem(i < labels.size() ? labels[i] : raw, raw);
    }
  }
  readers_.push_back([this, combo, key] {
    const QSignalBlocker quiet(combo);
    combo->setCurrentIndex(combo->findData(QString::fromStdString(bindings_.text(key))));
  });
  readers_.back()();
  QObject::connect(combo, &QComboBox::activated, this, [this, combo, key](int index) {
    if (index >= 0) bindings_.write(key, combo->itemData(index).toString().toStdString());
  });
  return combo;
}

QSlider* BoundControls::slider(const std::string& key, double least, double greatest, int steps) {
  auto* slider = new WheelSafe<QSlider>(Qt::Horizontal);
  slider->setObjectName(QString::fromStdString(key));
  slider->setRange(0, steps);
  const double span = greatest - least;
  readers_.push_back([this, slider, key, least, span, steps] {
    if (slider->isSliderDown()) return;  // the user's hand wins until it lets go
    const QSignalBlocker quiet(slider);
    const double v = bindings_.number(key);
    slider->setValue(span > 0 ? static_cast<int>(std::lround((v - least) / span * steps)) : 0);
  });
  readers_.back()();
  QObject::connect(slider, &QSlider::valueChanged, this, [this, key, least, span, steps](int position) {
    bindings_.writeSoon(key, least + span * position / steps);
  });
  QObject::connect(slider, &QSlider::sliderReleased, this, [this] { bindings_.flush(); });
  return slider;
}

void BoundControls::refresh() {
  for (const auto& read : readers_) read();
  for (const auto& hook : hooks_) hook();
}

}  // namespace quorvel
