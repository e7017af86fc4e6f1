#include "settings_ui/PaneKit.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

#include "settings_ui/SettingsForm.h"

namespace quorvel {

QWidget* PaneKit::withEnds(QWidget* control, const QString& least, const QString& greatest) {
  auto* row = new QWidget;
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(new QLabel(least));
  layout->addWidget(control, 1);
  layout->addWidget(new QLabel(greatest));
  return row;
}

QWidget* PaneKit::disclosure(const QString& title, const QString& text) {
  auto* box = new QWidget;
  auto* layout = new QVBoxLayout(box);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(4);
  auto* toggle = new QToolButton;
  toggle->setObjectName("disclosure");
  toggle->setText(title);
  toggle->setCheckable(true);
  toggle->setAutoRaise(true);
  toggle->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  toggle->setArrowType(Qt::RightArrow);
  QLabel* body = SettingsForm::explainer(text);
  body->hide();
  QObject::connect(toggle, &QToolButton::toggled, box, [toggle, body](bool open) {
    toggle->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
    body->setVisible(open);
  });
  layout->addWidget(toggle);
  layout->addWidget(body);
  return box;
}

}  // namespace quorvel
