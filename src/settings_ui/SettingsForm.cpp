#include "settings_ui/SettingsForm.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace quorvel {

SettingsForm::SettingsForm(QWidget* parent) : QWidget(parent), layout_(new QVBoxLayout(this)) {
  setFixedWidth(kWidth);
  layout_->setContentsMargins(0, 12, 0, 12);
  layout_->setSpacing(6);
}

QLabel* SettingsForm::heading(const QString& text) {
  auto* label = new QLabel(text);
  QFont font = label->font();
  font.setPointSizeF(font.pointSizeF() * 1.4);
  font.setBold(true);
  label->setFont(font);
  layout_->addWidget(label);
  return label;
}

QFormLayout* SettingsForm::section(const QString& header) {
  auto* box = new QGroupBox(header);
  auto* rows = new QFormLayout(box);
  rows->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
  rows->setRowWrapPolicy(QFormLayout::DontWrapRows);
  layout_->addSpacing(header.isEmpty() ? 0 : 6);
  layout_->addWidget(box);
  return rows;
}

QLabel* SettingsForm::explainer(const QString& text) {
  auto* label = new QLabel(text);
  label->setWordWrap(true);
  label->setTextFormat(Qt::PlainText);
  label->setForegroundRole(QPalette::PlaceholderText);
  return label;
}

QLabel* SettingsForm::footnote(const QString& text) {
  QLabel* label = explainer(text);
  label->setContentsMargins(8, 0, 8, 4);
  layout_->addWidget(label);
  return label;
}

QWidget* SettingsForm::footnoteContent(QWidget* content) {
  auto* holder = new QWidget;
  auto* column = new QVBoxLayout(holder);
  column->setContentsMargins(8, 0, 8, 4);
  column->addWidget(content);
  layout_->addWidget(holder);
  return holder;
}

QPushButton* SettingsForm::drillRow(const QString& title, const QString& value) {
  auto* row = new QPushButton;
  row->setFlat(true);
  row->setAccessibleName(title);
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(4, 2, 4, 2);
  layout->addWidget(new QLabel(title));
  layout->addStretch(1);
  auto* shown = new QLabel(value);
  shown->setObjectName("value");
  shown->setForegroundRole(QPalette::PlaceholderText);
  layout->addWidget(shown);
  layout->addWidget(new QLabel(QString::fromUtf8("\u203a")));
  row->setMinimumHeight(layout->sizeHint().height() + 4);
  return row;
}

void SettingsForm::setDrillValue(QPushButton* row, const QString& value) {
  if (auto* shown = row->findChild<QLabel*>("value")) shown->setText(value);
}

QString SettingsForm::countText(size_t count, const QString& empty) {
  return count == 0 ? empty : QString::number(count);
}

void SettingsForm::finish() { layout_->addStretch(1); }

}  // namespace quorvel
