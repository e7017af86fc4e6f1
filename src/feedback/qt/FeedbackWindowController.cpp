#include "feedback/qt/FeedbackWindowController.h"

#include "base/DefaultsStore.h"
#include "base/Executor.h"
#include "feedback/FeedbackClient.h"

namespace quorvel {

FeedbackWindowController::FeedbackWindowController(ChromeWindowCensus& census, FeedbackView::Services services)
    : census_(census), services_(std::move(services)) {}

FeedbackWindowController::~FeedbackWindowController() {
  delete window_.data();  // its end takes it off the census
}

FeedbackView::Services FeedbackWindowController::programServices(const DefaultsStore& store,
                                                                 std::shared_ptr<const FeedbackClient> client,
                                                                 std::shared_ptr<Executor> network, Executor& main) {
  FeedbackView::Services services;
  services.environment = [&store] { return FeedbackEnvironment::current(store); };
  services.send = [client, network, &main](FeedbackReport report, std::shared_ptr<PostCancellation> cancel,
                                           FeedbackView::Answer answer) {
    network->post([client, report = std::move(report), cancel = std::move(cancel), answer = std::move(answer),
                   &main]() mutable {
      const auto failure = client->send(report, cancel.get());
      main.post([answer = std::move(answer), failure] { answer(failure); });
    });
  };
  return services;
}

void FeedbackWindowController::show() {
  if (!window_) {
    auto* window = new FeedbackView(services_);
    window->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(window, &QDialog::finished, window, [window] { window->close(); });
    QObject::connect(window, &QObject::destroyed, [this] {
      countedWindow_.gone();
    });
    window_ = window;
  }
  window_->show();
  window_->raise();
  window_->activateWindow();
  countedWindow_.shown(static_cast<uint32_t>(window_->winId()));
}

}  // namespace quorvel
