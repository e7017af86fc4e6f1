#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>

#include <memory>

#include "base/DefaultsStore.h"
#include "base/ThreadRuntime.h"
#include "feedback/LoopbackHttpsServer.h"
#include "feedback/curl/CurlHttpsPoster.h"
#include "feedback/qt/FeedbackWindowController.h"
#include "windows/ChromeWindowCensus.h"

namespace quorvel {
namespace {

using Failure = FeedbackClient::Failure;

class QtWidgetsEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "test_feedback";
    static char* argv[] = {name, nullptr};
    app_ = std::make_unique<QApplication>(argc, argv);
  }
  void TearDown() override { app_.reset(); }

 private:
  std::unique_ptr<QApplication> app_;
};
const auto* const environment = ::testing::AddGlobalTestEnvironment(new QtWidgetsEnvironment);

// A form whose sends wait until the test answers them.
class FeedbackFormTest : public ::testing::Test {
 protected:
  FeedbackView::Services services() {
    FeedbackView::Services s;
    s.environment = [this] {
      ++gathered;
      return FeedbackEnvironment{"1.0", "7", "Debian 12.0.0", "Box", {{"switcherStyle", style}}};
    };
    s.send = [this](FeedbackReport report, std::shared_ptr<PostCancellation> cancel, FeedbackView::Answer answer) {
      sent.push_back(std::move(report));
      cancels.push_back(std::move(cancel));
      answers.push_back(std::move(answer));
    };
    return s;
  }
  static void settle() {
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  ChromeWindowCensus census;
  int gathered = 0;
  std::string style = "coverArc";
  std::vector<FeedbackReport> sent;
  std::vector<std::shared_ptr<PostCancellation>> cancels;
  std::vector<FeedbackView::Answer> answers;
};

TEST_F(FeedbackFormTest, SendIsOfferedForAVisibleMessageAndThePromiseFollowsTheAddress) {
  FeedbackView form(services());
  const struct {
    const char* message;
    bool enabled;
  } messages[] = {{"", false}, {" \n\t ", false}, {" x ", true}, {"\n", false}};
  for (const auto& m : messages) {
    form.messageEditor()->setPlainText(m.message);
    EXPECT_EQ(form.sendButton()->isEnabled(), m.enabled) << '"' << m.message << '"';
  }
  const struct {
    const char* address;
    double opacity;
  } addresses[] = {{"me@example.org", 1}, {"   ", 0}, {" a", 1}, {"", 0}};
  for (const auto& a : addresses) {
    form.emailField()->setText(a.address);
    EXPECT_EQ(form.replyPromiseOpacity(), a.opacity) << '"' << a.address << '"';
    EXPECT_FALSE(form.replyPromise()->isHidden()) << "its space stays reserved";
  }

  // The details are gathered on each opening, so a changed setting shows the second time.
  EXPECT_EQ(gathered, 0);
  form.detailsDisclosure()->setChecked(true);
  EXPECT_TRUE(form.detailsShown());
  EXPECT_EQ(form.detailsLines().back(), "switcherStyle: coverArc");
  form.detailsDisclosure()->setChecked(false);
  style = "row";
  form.detailsDisclosure()->setChecked(true);
  EXPECT_EQ(form.detailsLines().back(), "switcherStyle: row");
  EXPECT_EQ(form.detailsLines().front(), "appVersion: 1.0");
  EXPECT_EQ(gathered, 2);
}

TEST_F(FeedbackFormTest, AFailedSendKeepsEverythingAndShowsItsSentenceAndASuccessCloses) {
  FeedbackWindowController controller(census, services());
  controller.show();
  FeedbackView* form = controller.window();
  ASSERT_TRUE(form);
  EXPECT_EQ(census.openWindowNumbers().size(), 1u);
  form->messageEditor()->setPlainText("\n It froze \n");
  form->emailField()->setText(" me@example.org ");
  form->systemInfoSwitch()->setChecked(false);

  const Failure failures[] = {Failure::couldNotSend, Failure::tooLarge};
  for (const Failure failure : failures) {
    form->sendNow();
    EXPECT_TRUE(form->isSending());
    EXPECT_FALSE(form->sendButton()->isEnabled());
    EXPECT_EQ(form->sendButton()->text().toStdString(), "Sending…");
    EXPECT_EQ(form->failureText(), "") << "a new send clears the old sentence";
    answers.back()(failure);
    EXPECT_FALSE(form->isSending());
    EXPECT_TRUE(form->sendButton()->isEnabled());
    EXPECT_EQ(form->failureText(), FeedbackClient::sentence(failure));
    EXPECT_EQ(form->messageEditor()->toPlainText().toStdString(), "\n It froze \n");
    EXPECT_EQ(form->emailField()->text().toStdString(), " me@example.org ");
    EXPECT_FALSE(form->systemInfoSwitch()->isChecked());
  }
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].encoded(), R"({"email":"me@example.org","message":"It froze","schemaVersion":1})");
  EXPECT_EQ(gathered, 0) << "no facts are gathered with the switch off";

  form->sendNow();
  answers.back()(std::nullopt);
  settle();
  EXPECT_FALSE(controller.window()) << "a sent report closes the window";
  EXPECT_TRUE(census.openWindowNumbers().empty());
}

TEST_F(FeedbackFormTest, OpeningAgainBringsTheSameFormAndAClosedOneStartsEmpty) {
  FeedbackWindowController controller(census, services());
  controller.show();
  FeedbackView* first = controller.window();
  first->messageEditor()->setPlainText("draft");
  first->systemInfoSwitch()->setChecked(false);
  controller.show();
  EXPECT_EQ(controller.window(), first);
  EXPECT_EQ(first->messageEditor()->toPlainText().toStdString(), "draft");

  // Cancel while a send is under way: the window goes, and the late answer changes nothing.
  first->sendNow();
  first->cancelButton()->click();
  settle();
  EXPECT_FALSE(controller.window());
  EXPECT_TRUE(cancels.back()->cancelled()) << "Cancel ends the send in flight";
  answers.back()(Failure::couldNotSend);
  settle();

  controller.show();
  ASSERT_TRUE(controller.window());
  EXPECT_TRUE(controller.window()->messageEditor()->toPlainText().isEmpty());
  EXPECT_TRUE(controller.window()->systemInfoSwitch()->isChecked());
  EXPECT_EQ(controller.window()->failureText(), "");
  EXPECT_EQ(census.openWindowNumbers().size(), 1u);
}

// The program's own sending, against a server that takes the report and never answers: Cancel,
// and quitting (the controller going), each end the send under way, so the feedback queue is free
// for the next send or for the program's end, and each report reaches the server once. The
// transfer's own time-out is an hour away, so only the cancel can have freed the queue.
using FeedbackReplyForm = FeedbackFormTest;
TEST_F(FeedbackReplyForm, CancelAndQuitEndTheSendInFlightAtOnce) {
  using namespace std::chrono_literals;
  LoopbackHttpsServer silent(0);
  ThreadRuntime runtime;
  DefaultsStore store;
  std::shared_ptr<Executor> network = runtime.makeSerialQueue("Feedback", QueueQos::utility);
  auto client = std::make_shared<FeedbackClient>(std::make_shared<CurlHttpsPoster>(silent.caFile()), silent.host(),
                                                 std::chrono::hours(1));
  auto controller = std::make_unique<FeedbackWindowController>(
      census, FeedbackWindowController::programServices(store, client, network, runtime.main()));
  // Runs the main queue in short slices until `done` holds (other threads change what it reads);
  // the bound only keeps a broken build from hanging, far below the transfer's time-out.
  const auto runUntil = [&](const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + 60s;
    while (!done() && std::chrono::steady_clock::now() < end) runtime.runMainUntil(done, 5ms);
    return done();
  };
  for (const bool quit : {false, true}) {
    controller->show();
    controller->window()->messageEditor()->setPlainText(quit ? "second" : "first");
    controller->window()->sendNow();
    const size_t expected = quit ? 2 : 1;
    EXPECT_TRUE(runUntil([&] { return silent.requests().size() == expected; }));
    if (quit) {
      controller.reset();
    } else {
      controller->window()->cancelButton()->click();
    }
    // The queue runs this once the send has returned.
    std::atomic<bool> free{false};
    network->post([&free] { free = true; });
    EXPECT_TRUE(runUntil([&] { return free.load(); })) << (quit ? "quit" : "Cancel") << " left the send waiting";
    settle();
  }
  ASSERT_EQ(silent.requests().size(), 2u);
  EXPECT_NE(silent.requests()[0].body.find("first"), std::string::npos);
  EXPECT_NE(silent.requests()[1].body.find("second"), std::string::npos);
}

}  // namespace
}  // namespace quorvel
