#pragma once

#include <QColor>
#include <QWidget>

#include <optional>
#include <string>

#include "settings_ui/SettingsWindowServices.h"

class QFormLayout;
class QLabel;
class QLineEdit;
class QPushButton;

namespace quorvel {

class BackdropPreview;
class BoundControls;
class SettingsBindings;

// The Backdrop pane: what the switcher shows behind the cards, the live desktop (blurred and
// darkened) or one flat colour, with a preview of it on top. Only the stored text "solidColor"
// means a flat colour; anything else (misspelt, another letter case, missing) is the live desktop.
// The colour is stored as "#rrggbb" in lower case; a stored text that is no colour reads as black
// and stays as it is until the user picks a colour, a preset or types a good one.
class BackdropPane final : public QWidget {
 public:
  BackdropPane(SettingsBindings& bindings, const SettingsWindowServices& services, QWidget* parent = nullptr);
  // Lets go of the colour field first: a field that has the keyboard reports its editing finished
  // as it goes, when this pane is no longer whole.
  ~BackdropPane() override;

  static bool isSolidColor(const std::string& stored) { return stored == "solidColor"; }
  // The colour a stored text means (black when it means none).
  static QColor colorOf(const std::string& stored);
  // "#rrggbb" of a picked colour, each part a byte rounded half away from zero, clamped.
  static std::string hexOf(const QColor& color);

  // A colour picked in the well.
  void pickColor(const QColor& color);
  // A colour typed as text: stored when it is one, else the field shows the stored colour again.
  void enterHex(const QString& text);
  // The desktop's still, once it has come.
  void takeStill(const std::optional<DesktopStill>& still);

  BackdropPreview* preview() const { return preview_; }
  QWidget* swatch() const { return swatch_; }
  QLineEdit* hexField() const { return hex_; }
  QWidget* blurSlider() const { return blur_; }

 private:
  void followValues();

  SettingsBindings& bindings_;
  BoundControls* controls_;
  BackdropPreview* preview_ = nullptr;
  QWidget* swatch_ = nullptr;
  QLabel* previewNote_ = nullptr;
  QLabel* kindNote_ = nullptr;
  QWidget* desktopBox_ = nullptr;
  QWidget* colorBox_ = nullptr;
  QWidget* blur_ = nullptr;
  QPushButton* well_ = nullptr;
  QLineEdit* hex_ = nullptr;
  std::vector<QPushButton*> presets_;
};

}  // namespace quorvel
