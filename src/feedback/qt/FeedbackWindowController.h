#pragma once

#include <QPointer>

#include <cstdint>
#include <memory>
#include <optional>

#include "feedback/qt/FeedbackView.h"
#include "windows/ChromeWindowCensus.h"

namespace quorvel {

class DefaultsStore;
class Executor;
class FeedbackClient;

// Opens the feedback form: the first opening makes its window, a later one while it is open brings
// that same window (with what it holds) forward. Closing the window in any way (its close button,
// Cancel or Escape, a successful send) deletes it with the form's state, so the next opening starts
// empty with the switch on. The window counts among the program's own windows while it is open.
//
// Threads: main thread only; sends run on `network` and answer on `main`.
class FeedbackWindowController {
 public:
  FeedbackWindowController(ChromeWindowCensus& census, FeedbackView::Services services);
  ~FeedbackWindowController();
  FeedbackWindowController(const FeedbackWindowController&) = delete;
  FeedbackWindowController& operator=(const FeedbackWindowController&) = delete;

  // The services of the program: the facts from `store` and this build, each send made by `client`
  // on `network`, its answer delivered on `main`.
  static FeedbackView::Services programServices(const DefaultsStore& store, std::shared_ptr<const FeedbackClient> client,
                                                std::shared_ptr<Executor> network, Executor& main);

  void show();
  // The open window; none while closed.
  FeedbackView* window() const { return window_; }

 private:
  ChromeWindowCensus& census_;
  FeedbackView::Services services_;
  QPointer<FeedbackView> window_;
  CountedWindow countedWindow_{census_};
};

}  // namespace quorvel
