#include "feedback/qt/FeedbackView.h"

#include <QCheckBox>
#include <QFontDatabase>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>
#include <QToolButton>
#include <QVBoxLayout>

namespace quorvel {

namespace {

constexpr int kWidth = 420;

QLabel* secondaryText(const char* text, QWidget* parent) {
  auto* label = new QLabel(QString::fromUtf8(text), parent);
  label->setWordWrap(true);
  label->setForegroundRole(QPalette::PlaceholderText);
  return label;
}

bool blank(const QString& text) { return trimmedFeedbackText(text.toStdString()).empty(); }

}  // namespace

FeedbackView::FeedbackView(Services services, QWidget* parent) : QDialog(parent), services_(std::move(services)) {
  setWindowTitle("Send Feedback");
  // Titled and closable only: no minimize or maximize button, and the size follows the form.
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  auto* layout = new QVBoxLayout(this);
  layout->setSpacing(12);
  layout->setContentsMargins(20, 20, 20, 20);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  auto* intro = secondaryText("Tell us what is on your mind. It goes straight to the people who make Quorvel.", this);
  intro->setFixedWidth(kWidth - 40);
  layout->addWidget(intro);

  message_ = new QPlainTextEdit(this);
  message_->setPlaceholderText("What happened? What did you expect?");
  message_->setFixedHeight(140);
  message_->setTabChangesFocus(true);
  layout->addWidget(message_);

  email_ = new QLineEdit(this);
  email_->setPlaceholderText("Your email, if you would like an answer");
  layout->addWidget(email_);

  // The promise keeps its place while it is transparent, so the form never jumps.
  promise_ = secondaryText("We will get back to you within 2 days, guaranteed.", this);
  promiseOpacity_ = new QGraphicsOpacityEffect(promise_);
  promiseOpacity_->setOpacity(0);
  promise_->setAccessibleName(QStringLiteral(" "));  // unread while it is transparent
  promise_->setGraphicsEffect(promiseOpacity_);
  promiseFade_ = new QPropertyAnimation(promiseOpacity_, "opacity", this);
  promiseFade_->setDuration(200);
  promiseFade_->setEasingCurve(QEasingCurve::InOutQuad);
  layout->addWidget(promise_);

  auto* systemInfo = new QVBoxLayout();
  systemInfo->setSpacing(6);
  includeSystemInfo_ = new QCheckBox("Include app and system info", this);
  includeSystemInfo_->setChecked(true);
  systemInfo->addWidget(includeSystemInfo_);
  disclosure_ = new QToolButton(this);
  disclosure_->setText("Show exactly what that is");
  disclosure_->setCheckable(true);
  disclosure_->setAutoRaise(true);
  disclosure_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  disclosure_->setArrowType(Qt::RightArrow);
  systemInfo->addWidget(disclosure_);

  details_ = new QWidget(this);
  auto* detailsLayout = new QVBoxLayout(details_);
  detailsLayout->setContentsMargins(0, 4, 0, 0);
  detailsLayout->setSpacing(6);
  auto* explanation = secondaryText(
      "Your version and build, your system's name and version, your computer's model name, and your settings. "
      "Never your window titles, never a picture of your screen, and nothing from your other apps: the lists of "
      "apps in the settings, and the words you typed to hide certain windows, are counted rather than named.",
      details_);
  explanation->setFixedWidth(kWidth - 40);
  detailsLayout->addWidget(explanation);
  auto* scroll = new QScrollArea(details_);
  scroll->setFixedHeight(120);
  scroll->setWidgetResizable(true);
  scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  auto* lines = new QWidget(scroll);
  detailsList_ = new QVBoxLayout(lines);
  detailsList_->setSpacing(2);
  detailsList_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
  scroll->setWidget(lines);
  detailsLayout->addWidget(scroll);
  details_->hide();
  systemInfo->addWidget(details_);
  layout->addLayout(systemInfo);

  failure_ = secondaryText("", this);
  failure_->setFixedWidth(kWidth - 40);
  failure_->hide();
  layout->addWidget(failure_);

  auto* buttons = new QHBoxLayout();
  buttons->addStretch(1);
  cancel_ = new QPushButton("Cancel", this);
  cancel_->setAutoDefault(false);
  send_ = new QPushButton("Send", this);
  send_->setDefault(true);
  buttons->addWidget(cancel_);
  buttons->addWidget(send_);
  layout->addLayout(buttons);

  // Escape (the dialog's reject), Cancel and Ctrl+W (the Window menu's Close) close the window.
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
  connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_W), this), &QShortcut::activated, this, &QDialog::reject);
  connect(send_, &QPushButton::clicked, this, [this] { sendNow(); });
  connect(message_, &QPlainTextEdit::textChanged, this, [this] { updateSendButton(); });
  connect(email_, &QLineEdit::textChanged, this, [this] { updateReplyPromise(true); });
  connect(disclosure_, &QToolButton::toggled, this, [this](bool open) { toggleDetails(open); });
  updateSendButton();
  message_->setFocus();
}

FeedbackView::~FeedbackView() { cancelSend(); }

void FeedbackView::cancelSend() {
  if (inFlight_) inFlight_->cancel();
  inFlight_.reset();
}

void FeedbackView::done(int result) {
  cancelSend();
  QDialog::done(result);
}

void FeedbackView::updateSendButton() { send_->setEnabled(!sending_ && !blank(message_->toPlainText())); }

void FeedbackView::updateReplyPromise(bool animated) {
  const double target = blank(email_->text()) ? 0 : 1;
  if (target == promiseTarget_) return;
  promiseTarget_ = target;
  promise_->setAccessibleName(target > 0 ? promise_->text() : QString(" "));
  promiseFade_->stop();
  if (!animated) {
    promiseOpacity_->setOpacity(target);
    return;
  }
  promiseFade_->setStartValue(promiseOpacity_->opacity());
  promiseFade_->setEndValue(target);
  promiseFade_->start();
}

double FeedbackView::replyPromiseOpacity() const { return promiseTarget_; }
QWidget* FeedbackView::replyPromise() const { return promise_; }
bool FeedbackView::detailsShown() const { return !details_->isHidden(); }
std::string FeedbackView::failureText() const { return failure_->isHidden() ? "" : failure_->text().toStdString(); }

void FeedbackView::toggleDetails(bool open) {
  disclosure_->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
  details_->setVisible(open);
  if (!open) return;  // the lines stay until the next opening replaces them
  detailsLines_ = services_.environment ? services_.environment().detailsText() : std::vector<std::string>{};
  while (QLayoutItem* item = detailsList_->takeAt(0)) {
    delete item->widget();
    delete item;
  }
  QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  mono.setPointSize(10);
  for (const auto& line : detailsLines_) {
    auto* label = new QLabel(QString::fromStdString(line));
    label->setFont(mono);
    label->setForegroundRole(QPalette::PlaceholderText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    detailsList_->addWidget(label);
  }
}

void FeedbackView::showFailure(std::optional<std::string> sentence) {
  failure_->setText(QString::fromStdString(sentence.value_or("")));
  failure_->setVisible(sentence.has_value());
}

void FeedbackView::sendNow() {
  if (!send_->isEnabled()) return;
  // The facts are gathered now, not taken from the details shown.
  FeedbackReport report = FeedbackReport::make(
      message_->toPlainText().toStdString(), email_->text().toStdString(), includeSystemInfo_->isChecked(),
      [this] { return services_.environment ? services_.environment() : FeedbackEnvironment{}; });
  sending_ = true;
  send_->setText("Sending…");
  showFailure(std::nullopt);
  updateSendButton();
  if (!services_.send) {
    sending_ = false;
    send_->setText("Send");
    showFailure(FeedbackClient::sentence(FeedbackClient::Failure::couldNotSend));
    updateSendButton();
    return;
  }
  QPointer<FeedbackView> self(this);
  auto cancel = std::make_shared<PostCancellation>();
  inFlight_ = cancel;
  services_.send(std::move(report), cancel, [self, cancel](std::optional<FeedbackClient::Failure> failure) {
    if (!self || self->inFlight_ != cancel) return;  // the window closed meanwhile: nothing to show
    self->inFlight_.reset();
    if (!failure) {
      self->accept();
      return;
    }
    self->sending_ = false;
    self->send_->setText("Send");
    self->showFailure(FeedbackClient::sentence(*failure));
    self->updateSendButton();
  });
}

}  // namespace quorvel
