#include "settings_ui/BackdropPane.h"

#include <QColorDialog>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QPointer>
#include <QVBoxLayout>

#include <cstdio>

#include "settings/AppSettings.h"
#include "settings_ui/BackdropPreview.h"
#include "settings_ui/BoundControls.h"
#include "settings_ui/PaneKit.h"
#include "settings_ui/SettingsBindings.h"
#include "settings_ui/SettingsForm.h"

namespace quorvel {

namespace {

using K = AppSettings::Key;

// A flat patch of the chosen colour in the preview's rounded frame.
class ColorSwatch final : public QWidget {
 public:
  ColorSwatch() {
    setObjectName("colorPreview");
    setFixedHeight(BackdropPreview::kHeight);
    setAccessibleName("Preview of the chosen backdrop color");
  }
  void setColor(const QColor& color) {
    color_ = color;
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(color_);
    QColor edge = palette().color(QPalette::WindowText);
    edge.setAlphaF(0.12f);
    p.setPen(QPen(edge, 1));
    p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
  }

 private:
  QColor color_ = Qt::black;
};

// One preset: a 26-pixel disc of its colour, ringed while it is the chosen one.
class PresetButton final : public QPushButton {
 public:
  PresetButton(const QString& name, const QString& hex) : hex_(hex) {
    setObjectName("preset:" + hex);
    setFixedSize(34, 34);
    setFlat(true);
    setToolTip(name);
    setAccessibleName(name);
  }
  void setSelected(bool on) {
    selected_ = on;
    update();
  }
  bool selected() const { return selected_; }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF disc(4, 4, 26, 26);
    QColor edge = palette().color(QPalette::WindowText);
    edge.setAlphaF(0.15f);
    p.setPen(QPen(edge, 1));
    p.setBrush(BackdropPane::colorOf(hex_.toStdString()));
    p.drawEllipse(disc.adjusted(0.5, 0.5, -0.5, -0.5));
    if (selected_) {
      p.setPen(QPen(palette().color(QPalette::Highlight), 2));
      p.setBrush(Qt::NoBrush);
      p.drawEllipse(disc.adjusted(-2, -2, 2, 2));
    }
  }

 private:
  QString hex_;
  bool selected_ = false;
};

QImage imageOf(const DesktopStill& still) {
  if (still.width <= 0 || still.height <= 0 ||
      still.pixels.size() != static_cast<size_t>(still.width) * static_cast<size_t>(still.height)) {
    return {};
  }
  QImage image(still.width, still.height, QImage::Format_RGB32);
  for (int y = 0; y < still.height; ++y) {
    std::copy_n(still.pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(still.width), still.width,
                reinterpret_cast<uint32_t*>(image.scanLine(y)));
  }
  return image;
}

// A section's group box and the footnote under it, shown or hidden together.
void showSection(QFormLayout* rows, QLabel* footnote, bool on) {
  rows->parentWidget()->setVisible(on);
  footnote->setVisible(on);
}

}  // namespace

QColor BackdropPane::colorOf(const std::string& stored) {
  const std::optional<AppSettings::Rgb> rgb = AppSettings::rgbFromHex(stored);
  if (!rgb) return QColor(Qt::black);
  return QColor::fromRgbF(static_cast<float>(rgb->red), static_cast<float>(rgb->green), static_cast<float>(rgb->blue));
}

std::string BackdropPane::hexOf(const QColor& picked) {
  const QColor c = picked.isValid() ? picked.toRgb() : QColor(Qt::black);
  char text[8];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", AppSettings::colorByte(c.redF()), AppSettings::colorByte(c.greenF()),
                AppSettings::colorByte(c.blueF()));
  return text;
}

BackdropPane::BackdropPane(SettingsBindings& bindings, const SettingsWindowServices& services, QWidget* parent)
    : QWidget(parent), bindings_(bindings), controls_(new BoundControls(bindings, this)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* form = new SettingsForm;
  layout->addWidget(form);

  QFormLayout* preview = form->section("Preview");
  preview_ = new BackdropPreview;
  swatch_ = new ColorSwatch;
  preview->addRow(preview_);
  preview->addRow(swatch_);
  previewNote_ = form->footnote({});

  QFormLayout* kind = form->section("Behind the windows");
  kind->addRow("Behind the windows", controls_->picker(K::backdropStyle, {"Your desktop", "A single color"}));
  kindNote_ = form->footnote({});

  QFormLayout* desktop = form->section("Blur and darkening");
  blur_ = PaneKit::withEnds(controls_->slider(K::blurAmount, 0, 1, 100), "Clear", "Frosted");
  blur_->setObjectName("blurRow");
  blur_->setEnabled(services.blurAdjustable);
  desktop->addRow("Blur amount", blur_);
  desktop->addRow("Darken", PaneKit::withEnds(controls_->slider(K::backdropDim, 0, 0.6, 60), "Light", "Dark"));
  QLabel* desktopNote = form->footnote(
      services.blurAdjustable
          ? "The switcher blurs a still of your desktop taken as it opens. Darkening sits on top of it."
          : "Blur strength cannot be adjusted on this desktop: the switcher uses the compositor's own blur where it "
            "offers one, and a plain tint where it does not. Darkening sits on top of it.");
  desktopBox_ = desktop->parentWidget();

  QFormLayout* colour = form->section("Color");
  auto* wellRow = new QWidget;
  auto* wellLine = new QHBoxLayout(wellRow);
  wellLine->setContentsMargins(0, 0, 0, 0);
  well_ = new QPushButton;
  well_->setObjectName("colorWell");
  well_->setFixedSize(44, 24);
  well_->setAccessibleName("Color");
  QObject::connect(well_, &QPushButton::clicked, this, [this] {
    const QColor picked =
        QColorDialog::getColor(colorOf(bindings_.text(K::backdropColor)), this, "Color", QColorDialog::DontUseNativeDialog);
    if (picked.isValid()) pickColor(picked);
  });
  hex_ = new QLineEdit;
  hex_->setObjectName("colorHex");
  hex_->setMaxLength(16);
  hex_->setFixedWidth(90);
  hex_->setAccessibleName("Color as hexadecimal digits");
  QObject::connect(hex_, &QLineEdit::editingFinished, this, [this] { enterHex(hex_->text()); });
  wellLine->addWidget(well_);
  wellLine->addWidget(hex_);
  wellLine->addStretch(1);
  colour->addRow("Color", wellRow);
  auto* presetRow = new QWidget;
  auto* presetLine = new QHBoxLayout(presetRow);
  presetLine->setContentsMargins(0, 4, 0, 4);
  presetLine->setSpacing(10);
  for (const AppSettings::BackdropPreset& preset : AppSettings::backdropPresets()) {
    const QString hex = QString::fromUtf8(preset.hex.data(), static_cast<qsizetype>(preset.hex.size()));
    auto* button = new PresetButton(QString::fromUtf8(preset.name.data(), static_cast<qsizetype>(preset.name.size())), hex);
    QObject::connect(button, &QPushButton::clicked, this,
                     [this, hex] { bindings_.write(K::backdropColor, hex.toStdString()); });
    presets_.push_back(button);
    presetLine->addWidget(button);
  }
  presetLine->addStretch(1);
  colour->addRow(presetRow);
  QLabel* colourNote =
      form->footnote("Darker is usually easier on the eye, since your windows are what you are meant to be looking at.");
  colorBox_ = colour->parentWidget();
  form->finish();

  controls_->onRefresh([this, desktop, desktopNote, colour, colourNote] {
    const bool flat = isSolidColor(bindings_.text(K::backdropStyle));
    showSection(desktop, desktopNote, !flat);
    showSection(colour, colourNote, flat);
    followValues();
  });
  controls_->refresh();

  // The still arrives after the pane is up; a pane gone by then drops it.
  if (services.desktopStill) {
    services.desktopStill([pane = QPointer<BackdropPane>(this)](std::optional<DesktopStill> still) {
      if (pane) pane->takeStill(still);
    });
  }
}

BackdropPane::~BackdropPane() { QObject::disconnect(hex_, nullptr, this, nullptr); }

void BackdropPane::takeStill(const std::optional<DesktopStill>& still) {
  if (still) preview_->setDesktop(imageOf(*still));
}

void BackdropPane::pickColor(const QColor& color) { bindings_.write(K::backdropColor, hexOf(color)); }

void BackdropPane::enterHex(const QString& text) {
  const std::string typed = text.toStdString();
  if (AppSettings::rgbFromHex(typed)) {
    bindings_.write(K::backdropColor, hexOf(colorOf(typed)));
  }
  followValues();
  // The field still has the keyboard after Return: what it shows now is the stored colour, in its
  // one form, also when the text was no colour at all.
  hex_->setText(QString::fromStdString(bindings_.text(K::backdropColor)));
}

void BackdropPane::followValues() {
  const bool flat = isSolidColor(bindings_.text(K::backdropStyle));
  const std::string stored = bindings_.text(K::backdropColor);
  const QColor colour = colorOf(stored);
  preview_->setVisible(!flat);
  swatch_->setVisible(flat);
  static_cast<ColorSwatch*>(swatch_)->setColor(colour);
  preview_->setValues(bindings_.number(K::blurAmount), bindings_.number(K::backdropDim));
  previewNote_->setText(flat ? "Exactly what you will see behind your windows. No desktop, no blur."
                             : "A still of your desktop, softened by the settings below, as the switcher shows it "
                               "behind your windows.");
  kindNote_->setText(flat ? "The switcher sits on a flat color instead, so nothing behind it shows through and your "
                            "windows are the only thing to look at."
                          : "The switcher sits over a still of your desktop taken as it opens, softened and darkened "
                            "by the two settings below.");
  well_->setStyleSheet(QString("QPushButton { background: %1; border: 1px solid palette(mid); border-radius: 4px; }")
                           .arg(colour.name()));
  if (!hex_->hasFocus()) hex_->setText(QString::fromStdString(stored));
  const QString lower = QString::fromStdString(stored).toLower();
  for (QPushButton* button : presets_) {
    static_cast<PresetButton*>(button)->setSelected(button->objectName() == "preset:" + lower);
  }
}

}  // namespace quorvel
