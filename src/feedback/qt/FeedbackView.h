#pragma once

#include <QDialog>
#include <QPointer>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "feedback/FeedbackClient.h"
#include "feedback/FeedbackEnvironment.h"
#include "feedback/FeedbackReport.h"
#include "feedback/HttpsPoster.h"

class QCheckBox;
class QGraphicsOpacityEffect;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPropertyAnimation;
class QPushButton;
class QToolButton;
class QVBoxLayout;
class QWidget;

namespace quorvel {

// The feedback form, in a window of its own titled "Send Feedback": the message, an optional
// reply address, the switch that adds the app and system facts, a disclosure that shows exactly
// those facts, the last failure's sentence, Cancel and Send. Its state lives as long as the window:
// a window opened again starts empty.
//
// Send is offered while the message holds something besides white space and no send is under way.
// A send goes out through `Services::send`, which calls its answer back on the main thread; a
// success closes the window, a failure shows its sentence and leaves every field as typed. Closing
// the window (Cancel, Escape, its close button, or the program quitting) ends a send still under way
// at once, so it is not delivered later behind the user's back; an answer that comes after the
// window closed changes nothing. Main thread only.
class FeedbackView final : public QDialog {
 public:
  using Answer = std::function<void(std::optional<FeedbackClient::Failure>)>;
  struct Services {
    // The facts as they are now (for the details, and for a report that includes them).
    std::function<FeedbackEnvironment()> environment;
    // Starts sending `report`; `answer` is called once, later, on the main thread. The send ends as
    // soon as `cancel` is cancelled.
    std::function<void(FeedbackReport report, std::shared_ptr<PostCancellation> cancel, Answer answer)> send;
  };

  explicit FeedbackView(Services services, QWidget* parent = nullptr);
  ~FeedbackView() override;

  // ---- What the form shows, for tests ----
  QPlainTextEdit* messageEditor() const { return message_; }
  QLineEdit* emailField() const { return email_; }
  QCheckBox* systemInfoSwitch() const { return includeSystemInfo_; }
  QToolButton* detailsDisclosure() const { return disclosure_; }
  QPushButton* sendButton() const { return send_; }
  QPushButton* cancelButton() const { return cancel_; }
  // The reply promise's opacity target: 1 while the trimmed address is not empty, else 0.
  double replyPromiseOpacity() const;
  QWidget* replyPromise() const;
  std::vector<std::string> detailsLines() const { return detailsLines_; }
  bool detailsShown() const;
  bool isSending() const { return sending_; }
  // The sentence of the last failed send; empty when there is none.
  std::string failureText() const;

  // Presses Send (when it is enabled).
  void sendNow();

 protected:
  void done(int result) override;

 private:
  void cancelSend();
  void updateSendButton();
  void updateReplyPromise(bool animated);
  void toggleDetails(bool open);
  void showFailure(std::optional<std::string> sentence);

  Services services_;
  QPlainTextEdit* message_ = nullptr;
  QLineEdit* email_ = nullptr;
  QLabel* promise_ = nullptr;
  QGraphicsOpacityEffect* promiseOpacity_ = nullptr;
  QPropertyAnimation* promiseFade_ = nullptr;
  double promiseTarget_ = 0;
  QCheckBox* includeSystemInfo_ = nullptr;
  QToolButton* disclosure_ = nullptr;
  QWidget* details_ = nullptr;
  QVBoxLayout* detailsList_ = nullptr;
  QLabel* failure_ = nullptr;
  QPushButton* cancel_ = nullptr;
  QPushButton* send_ = nullptr;
  std::vector<std::string> detailsLines_;
  bool sending_ = false;
  std::shared_ptr<PostCancellation> inFlight_;
};

}  // namespace quorvel
