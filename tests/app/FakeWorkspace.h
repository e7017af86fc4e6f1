#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "base/ObserverList.h"
#include "platform/Workspace.h"

namespace quorvel {

// A workspace with one settable front application; activating calls the observers at once (tests
// call it on the main queue's thread, where the real workspaces deliver).
class FakeWorkspace final : public Workspace {
 public:
  void activateApp(std::optional<std::string> bundleIdentifier) {
    RunningApplication app;
    app.pid = ++nextPid_;
    app.bundleIdentifier = std::move(bundleIdentifier);
    app.isActive = true;
    front_ = app;
    observers_[static_cast<size_t>(Event::didActivateApplication)].notify(Event::didActivateApplication, app);
  }
  size_t observerCount() const {
    size_t count = 0;
    for (const auto& list : observers_) count += list.size();
    return count;
  }

  std::vector<RunningApplication> runningApplications() override {
    return front_ ? std::vector<RunningApplication>{*front_} : std::vector<RunningApplication>{};
  }
  std::optional<RunningApplication> frontmostApplication() override { return front_; }
  Subscription addObserver(Event event, Observer observer) override {
    return observers_[static_cast<size_t>(event)].add(std::move(observer));
  }
  bool activate(int32_t, bool) override { return true; }
  bool unhide(int32_t) override { return true; }
  bool openApplication(const std::string&, bool) override { return true; }
  int32_t ownPid() override { return 1; }

 private:
  std::optional<RunningApplication> front_;
  std::array<ObserverList<Event, const RunningApplication&>, kEventCount> observers_;
  int32_t nextPid_ = 100;
};

}  // namespace quorvel
