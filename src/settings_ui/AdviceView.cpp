#include "settings_ui/AdviceView.h"

#include <QClipboard>
#include <QEvent>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace quorvel {

namespace {

constexpr int kCommandPadding = 4;  // above and below a command's lines
constexpr int kButtonSpacing = 6;   // between a command and its Copy button

// The sentence with a word joiner after each hyphen and slash inside a word, so that a name the
// user looks for ("switch-applications", "~/.config/openbox/rc.xml") is never broken in two.
QString keptWhole(const QString& prose) {
  QString out;
  for (qsizetype i = 0; i < prose.size(); ++i) {
    out += prose[i];
    const bool joins = (prose[i] == '-' || prose[i] == '/') && i > 0 && i + 1 < prose.size() &&
                       !prose[i - 1].isSpace() && !prose[i + 1].isSpace();
    if (joins) out += QChar(0x2060);
  }
  return out;
}

}  // namespace

AdviceView::AdviceView(QWidget* parent) : QWidget(parent), layout_(new QVBoxLayout(this)) {
  layout_->setContentsMargins(0, 0, 0, 0);
  layout_->setSpacing(6);
  QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
  policy.setHeightForWidth(true);
  setSizePolicy(policy);
}

void AdviceView::setAdvice(const AdviceText& advice) {
  if (advice == advice_) return;
  advice_ = advice;
  rebuild();
}

void AdviceView::setProseRole(QPalette::ColorRole role) {
  if (role == proseRole_) return;
  proseRole_ = role;
  rebuild();
}

std::vector<QLabel*> AdviceView::commandLabels() const {
  std::vector<QLabel*> labels;
  for (QLabel* label : findChildren<QLabel*>("command")) labels.push_back(label);
  return labels;
}

std::vector<QPushButton*> AdviceView::copyButtons() const {
  std::vector<QPushButton*> buttons;
  for (QPushButton* button : findChildren<QPushButton*>("copyCommand")) buttons.push_back(button);
  return buttons;
}

QFont AdviceView::commandFont() const {
  QFont mono = font();
  mono.setFamilies({QFontDatabase::systemFont(QFontDatabase::FixedFont).family()});
  mono.setStyleHint(QFont::Monospace);
  return mono;
}

void AdviceView::rebuild() {
  while (QLayoutItem* item = layout_->takeAt(0)) {
    delete item->widget();
    delete item;
  }
  const QFont mono = commandFont();
  const QFontMetrics metrics(mono);
  for (const AdviceText::Part& part : advice_.parts) {
    const QString text = QString::fromStdString(part.text);
    if (part.command) {
      auto* row = new QWidget(this);
      row->setObjectName("commandRow");
      auto* rowLayout = new QHBoxLayout(row);
      rowLayout->setContentsMargins(0, 0, 0, 0);
      rowLayout->setSpacing(kButtonSpacing);
      // One paragraph, wrapped softly where it is wider than the view: what is selected and copied
      // is the command as it stands.
      auto* label = new QLabel(row);
      label->setObjectName("command");
      label->setTextFormat(Qt::PlainText);
      label->setFont(mono);
      label->setWordWrap(true);
      label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
      label->setCursor(Qt::IBeamCursor);
      label->setAutoFillBackground(true);
      label->setBackgroundRole(QPalette::Base);
      label->setForegroundRole(QPalette::Text);
      label->setContentsMargins(kCommandMargin, kCommandPadding, kCommandMargin, kCommandPadding);
      QSizePolicy policy(QSizePolicy::Ignored, QSizePolicy::Preferred);
      policy.setHeightForWidth(true);
      label->setSizePolicy(policy);
      // Never narrower than its longest word, which no soft wrap breaks.
      int longestWord = 0;
      for (const QString& word : text.split(' ')) longestWord = std::max(longestWord, metrics.horizontalAdvance(word));
      label->setMinimumWidth(longestWord + 2 * kCommandMargin);
      label->setText(text);
      auto* copy = new QPushButton("Copy", row);
      copy->setObjectName("copyCommand");
      copy->setToolTip("Copy this command");
      copy->setFocusPolicy(Qt::TabFocus);
      QObject::connect(copy, &QPushButton::clicked, copy, [text] { QGuiApplication::clipboard()->setText(text); });
      rowLayout->addWidget(label, 1, Qt::AlignTop);
      rowLayout->addWidget(copy, 0, Qt::AlignTop);
      layout_->addWidget(row);
    } else {
      auto* label = new QLabel(this);
      label->setTextFormat(Qt::PlainText);
      label->setText(keptWhole(text));
      label->setObjectName("prose");
      label->setWordWrap(true);
      label->setForegroundRole(proseRole_);
      layout_->addWidget(label);
    }
  }
  fitHeight();
}

int AdviceView::heightForWidth(int width) const {
  int height = 0;
  for (int i = 0; i < layout_->count(); ++i) {
    if (i > 0) height += layout_->spacing();
    QWidget* widget = layout_->itemAt(i)->widget();
    if (widget->objectName() == "commandRow") {
      auto* label = widget->findChild<QLabel*>("command");
      auto* copy = widget->findChild<QPushButton*>("copyCommand");
      const int labelWidth = std::max(label->minimumWidth(), width - kButtonSpacing - copy->sizeHint().width());
      height += std::max(label->heightForWidth(labelWidth), copy->sizeHint().height());
    } else {
      height += widget->heightForWidth(width);
    }
  }
  return height;
}

void AdviceView::fitHeight() {
  // Layouts that place this view do not all ask for the height at the width they give; the least
  // height it takes at its width says it to every one of them.
  const int height = advice_.parts.empty() ? 0 : heightForWidth(width() > 0 ? width() : sizeHint().width());
  if (height != minimumHeight()) setMinimumHeight(height);
}

void AdviceView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  fitHeight();
}

void AdviceView::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::FontChange) rebuild();
}

}  // namespace quorvel
