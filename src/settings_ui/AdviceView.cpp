#include "settings_ui/AdviceView.h"

#include <QEvent>
#include <QFontDatabase>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>

namespace quorvel {

namespace {

constexpr int kCommandPadding = 4;  // above and below a command's lines
constexpr int kTextFlags = Qt::AlignLeft | Qt::TextExpandTabs;

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
  for (QLabel* label : findChildren<QLabel*>("command", Qt::FindDirectChildrenOnly)) labels.push_back(label);
  return labels;
}

QFont AdviceView::commandFont() const {
  QFont mono = font();
  mono.setFamilies({QFontDatabase::systemFont(QFontDatabase::FixedFont).family()});
  mono.setStyleHint(QFont::Monospace);
  return mono;
}

QString AdviceView::folded(const QString& command, const QFontMetrics& metrics, int width) {
  auto fits = [&](const QString& line) { return metrics.horizontalAdvance(line) <= width; };
  if (fits(command)) return command;
  // The words, with a quoted stretch kept whole.
  QStringList words;
  QString word;
  QChar quote;
  for (const QChar c : command) {
    if (quote.isNull() && c == ' ') {
      if (!word.isEmpty()) words << word;
      word.clear();
      continue;
    }
    if (quote.isNull() && (c == '"' || c == '\'')) quote = c;
    else if (c == quote) quote = QChar();
    word += c;
  }
  if (!word.isEmpty()) words << word;
  QStringList lines;
  QString line;
  for (const QString& next : words) {
    if (line.isEmpty()) {
      line = lines.isEmpty() ? next : "  " + next;
    } else if (fits(line + " " + next + " \\")) {
      line += " " + next;
    } else {
      lines << line + " \\";
      line = "  " + next;
    }
  }
  lines << line;
  return lines.join('\n');
}

int AdviceView::commandHeight(const QString& command, int width) const {
  const QFontMetrics metrics(commandFont());
  const QString text = folded(command, metrics, commandWidth(width));
  return metrics.boundingRect(0, 0, 4000, 4000, kTextFlags, text).height() + 2 * kCommandPadding;
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
    auto* label = new QLabel(this);
    label->setTextFormat(Qt::PlainText);
    if (part.command) {
      // Apart on its own lines, to be selected and copied as it stands.
      label->setObjectName("command");
      label->setFont(mono);
      label->setWordWrap(false);
      label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
      label->setCursor(Qt::IBeamCursor);
      label->setAutoFillBackground(true);
      label->setBackgroundRole(QPalette::Base);
      label->setForegroundRole(QPalette::Text);
      label->setContentsMargins(kCommandMargin, kCommandPadding, kCommandMargin, kCommandPadding);
      // As wide as the view: folded to fit it, never wider than its longest word.
      label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
      int longestWord = 0;
      for (const QString& line : folded(text, metrics, 0).split('\n')) {
        longestWord = std::max(longestWord, metrics.horizontalAdvance(line));
      }
      label->setMinimumWidth(longestWord + 2 * kCommandMargin);
      label->setText(width() > 0 ? folded(text, metrics, commandWidth(width())) : text);
      label->setFixedHeight(commandHeight(text, width() > 0 ? width() : 1 << 20));
      layout_->addWidget(label);
    } else {
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
  for (int i = 0; i < layout_->count() && i < int(advice_.parts.size()); ++i) {
    if (i > 0) height += layout_->spacing();
    const AdviceText::Part& part = advice_.parts[size_t(i)];
    height += part.command ? commandHeight(QString::fromStdString(part.text), width)
                           : layout_->itemAt(i)->widget()->heightForWidth(width);
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
  const QFontMetrics metrics(commandFont());
  const std::vector<QLabel*> commands = commandLabels();
  size_t command = 0;
  for (const AdviceText::Part& part : advice_.parts) {
    if (!part.command || command >= commands.size()) continue;
    const QString text = QString::fromStdString(part.text);
    commands[command]->setText(folded(text, metrics, commandWidth(width())));
    commands[command]->setFixedHeight(commandHeight(text, width()));
    ++command;
  }
  fitHeight();
}

void AdviceView::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::FontChange) rebuild();
}

}  // namespace quorvel
