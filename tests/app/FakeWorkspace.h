#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

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
    auto observers = observers_;
    for (auto& [token, entry] : observers) {
      if (entry.first == Event::didActivateApplication) entry.second(Event::didActivateApplication, app);
    }
  }
  size_t observerCount() const { return observers_.size(); }

  std::vector<RunningApplication> runningApplications() override {
    return front_ ? std::vector<RunningApplication>{*front_} : std::vector<RunningApplication>{};
  }
  std::optional<RunningApplication> frontmostApplication() override { return front_; }
  uint64_t addObserver(Event event, Observer observer) override {
    observers_[++nextToken_] = {event, std::move(observer)};
    return nextToken_;
  }
  void removeObserver(uint64_t token) override { observers_.erase(token); }
  bool activate(int32_t, bool) override { return true; }
  bool unhide(int32_t) override { return true; }
  bool openApplication(const std::string&, bool) override { return true; }
  int32_t ownPid() override { return 1; }

 private:
  std::optional<RunningApplication> front_;
  std::map<uint64_t, std::pair<Event, Observer>> observers_;
  uint64_t nextToken_ = 0;
  int32_t nextPid_ = 100;
};

}  // namespace quorvel
