#include "settings_ui/SettingsNavigator.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace quorvel {

namespace {
constexpr const char* kContentProperty = "quorvelContent";
}

SettingsNavigator::SettingsNavigator(QWidget* parent) : QWidget(parent), stack_(new QStackedWidget(this)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(stack_);
}

QWidget* SettingsNavigator::wrap(QWidget* content, const QString& title, bool withBack) {
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(0, 0, 0, 0);
  if (withBack) {
    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(12, 8, 12, 0);
    auto* back = new QPushButton(QString::fromUtf8("\u2039 Back"));
    back->setObjectName("back");
    back->setFlat(true);
    QObject::connect(back, &QPushButton::clicked, this, [this] { pop(); });
    bar->addWidget(back);
    auto* heading = new QLabel(title);
    QFont font = heading->font();
    font.setBold(true);
    heading->setFont(font);
    bar->addWidget(heading, 1, Qt::AlignCenter);
    bar->addSpacing(back->sizeHint().width());
    layout->addLayout(bar);
  }
  auto* scroll = new QScrollArea;
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setWidgetResizable(true);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  auto* holder = new QWidget;
  auto* centre = new QHBoxLayout(holder);
  centre->addStretch(1);
  centre->addWidget(content, 0, Qt::AlignTop);
  centre->addStretch(1);
  scroll->setWidget(holder);
  layout->addWidget(scroll);
  page->setProperty(kContentProperty, QVariant::fromValue(static_cast<QObject*>(content)));
  return page;
}

void SettingsNavigator::setRoot(QWidget* root) {
  while (stack_->count() > 0) {
    QWidget* page = stack_->widget(stack_->count() - 1);
    stack_->removeWidget(page);
    page->deleteLater();
  }
  stack_->addWidget(wrap(root, QString(), false));
  stack_->setCurrentIndex(0);
}

void SettingsNavigator::push(QWidget* screen, const QString& title) {
  stack_->addWidget(wrap(screen, title, true));
  stack_->setCurrentIndex(stack_->count() - 1);
}

void SettingsNavigator::pop() {
  if (stack_->count() <= 1) return;
  QWidget* page = stack_->widget(stack_->count() - 1);
  stack_->removeWidget(page);
  page->deleteLater();
  stack_->setCurrentIndex(stack_->count() - 1);
  if (onReturn_) onReturn_(top());
}

int SettingsNavigator::depth() const { return stack_->count(); }

QWidget* SettingsNavigator::top() const {
  QWidget* page = stack_->currentWidget();
  return page ? qobject_cast<QWidget*>(page->property(kContentProperty).value<QObject*>()) : nullptr;
}

QWidget* SettingsNavigator::root() const {
  QWidget* page = stack_->count() > 0 ? stack_->widget(0) : nullptr;
  return page ? qobject_cast<QWidget*>(page->property(kContentProperty).value<QObject*>()) : nullptr;
}

}  // namespace quorvel
