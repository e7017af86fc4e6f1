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
constexpr int kCommandMargin = 8;   // left and right of a command's lines
constexpr int kRuleWidth = 3;       // the rule beside a file's lines

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

QFont fixedWidth(const QFont& font) {
  QFont mono = font;
  mono.setFamilies({QFontDatabase::systemFont(QFontDatabase::FixedFont).family()});
  mono.setStyleHint(QFont::Monospace);
  return mono;
}

// Text to take as it stands: one paragraph per line, in a fixed-width font on the ground of a text
// field, wrapped softly where it is wider than the view, so that what is selected and copied is the
// text as it stands.
QLabel* verbatim(const QString& text, const QFont& mono, const char* objectName, QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setObjectName(objectName);
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
  const QFontMetrics metrics(mono);
  int longestWord = 0;
  for (const QString& line : text.split('\n')) {
    for (const QString& word : line.split(' ')) longestWord = std::max(longestWord, metrics.horizontalAdvance(word));
  }
  label->setMinimumWidth(longestWord + 2 * kCommandMargin);
  label->setText(text);
  return label;
}

// A command with its Copy button, which says for a moment that it copied.
class CommandRow final : public QWidget {
 public:
  CommandRow(const QString& command, const QFont& mono, Executor& main, QWidget* parent)
      : QWidget(parent), copy_(new QPushButton(CopyFeedback::copiedWord, this)) {
    setObjectName("commandRow");
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(kButtonSpacing);
    label_ = verbatim(command, mono, "command", this);
    copy_->setObjectName("copyCommand");
    copy_->setToolTip("Copy this command");
    copy_->setFocusPolicy(Qt::TabFocus);
    // As wide for "Copied" as for "Copy", so that nothing beside it moves.
    copy_->setMinimumWidth(copy_->sizeHint().width());
    copy_->setText(CopyFeedback::copyWord);
    feedback_ = std::make_unique<CopyFeedback>(main, [button = copy_](const std::string& word) {
      button->setText(QString::fromStdString(word));
    });
    QObject::connect(copy_, &QPushButton::clicked, copy_, [this, command] {
      QGuiApplication::clipboard()->setText(command);
      feedback_->copied();
    });
    row->addWidget(label_, 1, Qt::AlignTop);
    row->addWidget(copy_, 0, Qt::AlignTop);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
  }

  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override {
    const int button = std::max(copy_->minimumWidth(), copy_->sizeHint().width());
    const int labelWidth = std::max(label_->minimumWidth(), width - kButtonSpacing - button);
    return std::max(label_->heightForWidth(labelWidth), copy_->sizeHint().height());
  }

 private:
  QLabel* label_;
  QPushButton* copy_;
  std::unique_ptr<CopyFeedback> feedback_;
};

// Lines of a file, marked by a rule at their side.
class FileLines final : public QWidget {
 public:
  FileLines(const QString& lines, const QFont& mono, QWidget* parent) : QWidget(parent) {
    setObjectName("fileRow");
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    auto* rule = new QWidget(this);
    rule->setObjectName("fileRule");
    rule->setFixedWidth(kRuleWidth);
    rule->setAutoFillBackground(true);
    rule->setBackgroundRole(QPalette::Mid);
    row->addWidget(rule);
    label_ = verbatim(lines, mono, "fileLines", this);
    row->addWidget(label_, 1);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
  }

  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override {
    return label_->heightForWidth(std::max(label_->minimumWidth(), width - kRuleWidth));
  }

 private:
  QLabel* label_;
};

}  // namespace

AdviceView::AdviceView(Executor& main, QWidget* parent) : QWidget(parent), main_(main), layout_(new QVBoxLayout(this)) {
  layout_->setContentsMargins(0, 0, 0, 0);
  layout_->setSpacing(6);
  QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
  policy.setHeightForWidth(true);
  setSizePolicy(policy);
}

AdviceView::~AdviceView() = default;

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

std::vector<QLabel*> AdviceView::fileLabels() const {
  std::vector<QLabel*> labels;
  for (QLabel* label : findChildren<QLabel*>("fileLines")) labels.push_back(label);
  return labels;
}

QWidget* AdviceView::commandRow(const QString& command, const QFont& font, Executor& main, QWidget* parent) {
  auto* row = new CommandRow(command, fixedWidth(font), main, parent);
  row->setFont(font);  // its Copy button's, as in the advice
  return row;
}

void AdviceView::rebuild() {
  while (QLayoutItem* item = layout_->takeAt(0)) {
    delete item->widget();
    delete item;
  }
  const QFont mono = fixedWidth(font());
  for (const AdviceText::Part& part : advice_.parts) {
    const QString text = QString::fromStdString(part.text);
    switch (part.kind) {
      case AdviceText::Part::Kind::command: layout_->addWidget(new CommandRow(text, mono, main_, this)); break;
      case AdviceText::Part::Kind::fileLines: layout_->addWidget(new FileLines(text, mono, this)); break;
      case AdviceText::Part::Kind::prose: {
        auto* label = new QLabel(this);
        label->setTextFormat(Qt::PlainText);
        label->setText(keptWhole(text));
        label->setObjectName("prose");
        label->setWordWrap(true);
        label->setForegroundRole(proseRole_);
        layout_->addWidget(label);
        break;
      }
    }
  }
  fitHeight();
}

int AdviceView::heightForWidth(int width) const {
  int height = 0;
  for (int i = 0; i < layout_->count(); ++i) {
    if (i > 0) height += layout_->spacing();
    height += layout_->itemAt(i)->widget()->heightForWidth(width);
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
