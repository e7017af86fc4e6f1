// What the tests steer and read on the simulated desktop beyond its content: injected failures,
// slowness and outages of the platform's services, and the counters of the calls made.
#include "platform/sim/SimDesktop.h"

#include <utility>

#include "platform/sim/SimWorld.h"

namespace quorvel {

namespace {

void arm(SimInjectedTable& table, const std::string& name, AXError error, int times) {
  if (times == 0) {
    table.erase(name);
  } else {
    table[name].push_back(SimInjected{error, times < 0 ? -1 : times});
  }
}

}  // namespace

// --- Failures and slowness -------------------------------------------------------------------

void SimDesktop::failAttribute(SimElementId element, const std::string& attribute, AXError error, int times) {
  world_->change([&](SimEffects&) {
    if (SimNode* n = world_->node(element)) arm(n->readFailures, attribute, error, times);
  });
}

void SimDesktop::failSetAttribute(SimElementId element, const std::string& attribute, AXError error, int times) {
  world_->change([&](SimEffects&) {
    if (SimNode* n = world_->node(element)) arm(n->writeFailures, attribute, error, times);
  });
}

void SimDesktop::refuseAction(SimElementId element, const std::string& action, AXError error, int times) {
  world_->change([&](SimEffects&) {
    if (SimNode* n = world_->node(element)) arm(n->actionRefusals, action, error, times);
  });
}

void SimDesktop::setUnresponsive(int32_t pid, bool unresponsive) {
  world_->change([&](SimEffects&) {
    if (auto* a = world_->app(pid)) a->unresponsive = unresponsive;
  });
}

void SimDesktop::setAXLatency(int32_t pid, Duration latency) {
  world_->change([&](SimEffects&) {
    if (auto* a = world_->app(pid)) a->latency = latency;
  });
}

void SimDesktop::failObserverCreation(int32_t pid, AXError error) {
  world_->change([&](SimEffects&) {
    if (auto* a = world_->app(pid)) a->observerError = error;
  });
}

void SimDesktop::failNotificationRegistration(int32_t pid, AXError error) {
  world_->change([&](SimEffects&) {
    if (auto* a = world_->app(pid)) a->notificationError = error;
  });
}

void SimDesktop::setDesktopGroupAvailable(DesktopServer::Group group, bool available) {
  world_->change([&](SimEffects&) {
    if (available) {
      world_->unavailableGroups.erase(group);
    } else {
      world_->unavailableGroups.insert(group);
    }
  });
}

void SimDesktop::failDesktopCall(SimDesktopCall call, bool fail) {
  world_->change([&](SimEffects&) {
    if (fail) {
      world_->failingCalls.insert(call);
    } else {
      world_->failingCalls.erase(call);
    }
  });
}

void SimDesktop::failShareableContent(std::optional<std::string> error, int times) {
  world_->change([&](SimEffects&) {
    if (!error || times == 0) {
      world_->shareableFailure.reset();
      world_->shareableError.reset();
      return;
    }
    world_->shareableFailure = SimInjected{AXError::failure, times < 0 ? -1 : times};
    world_->shareableError = std::move(error);
  });
}

void SimDesktop::setShareableContentDelay(Duration delay) {
  world_->change([&](SimEffects&) { world_->shareableDelay = delay; });
}

void SimDesktop::setWindowListAvailable(bool available) {
  world_->change([&](SimEffects&) { world_->windowListAvailable = available; });
}

void SimDesktop::setActiveDisplaysAvailable(bool available) {
  world_->change([&](SimEffects&) { world_->activeDisplaysAvailable = available; });
}

void SimDesktop::transformWindowList(std::function<void(std::vector<WindowListEntry>&)> transform) {
  world_->change([&](SimEffects&) { world_->windowListTransform = std::move(transform); });
}

void SimDesktop::reportFocus(std::optional<WindowFocus> focus, std::map<int32_t, uint32_t> frontWindows) {
  world_->change([&](SimEffects&) {
    world_->reportedFocus = focus;
    world_->reportedFrontWindows = std::move(frontWindows);
  });
}

void SimDesktop::transformScreens(std::function<void(std::vector<ScreenInfo>&)> transform) {
  world_->change([&](SimEffects&) { world_->screensTransform = std::move(transform); });
}

void SimDesktop::transformManagedDisplaySpaces(std::function<void(std::vector<ManagedDisplaySpaces>&)> transform) {
  world_->change([&](SimEffects&) { world_->spacesTransform = std::move(transform); });
}

// --- Counters --------------------------------------------------------------------------------

int SimDesktop::axCalls(int32_t pid) const {
  return world_->read([&] {
    auto it = world_->axCallCounts.find(pid);
    return it == world_->axCallCounts.end() ? 0 : it->second;
  });
}

int SimDesktop::axCallsTotal() const {
  return world_->read([&] { return world_->axCallsTotal; });
}

Duration SimDesktop::axTimeSpent(int32_t pid) const {
  return world_->read([&] {
    auto it = world_->axTimes.find(pid);
    return it == world_->axTimes.end() ? Duration::zero() : it->second;
  });
}

int SimDesktop::shareableContentRequests() const {
  return world_->read([&] { return world_->shareableRequests; });
}

int SimDesktop::windowListCalls() const {
  return world_->read([&] { return world_->windowListCalls; });
}

int SimDesktop::desktopCalls(SimDesktopCall call) const {
  return world_->read([&] {
    auto it = world_->desktopCallCounts.find(call);
    return it == world_->desktopCallCounts.end() ? 0 : it->second;
  });
}

void SimDesktop::resetCounters() {
  world_->change([&](SimEffects&) {
    world_->axCallCounts.clear();
    world_->axTimes.clear();
    world_->axCallsTotal = 0;
    world_->shareableRequests = 0;
    world_->windowListCalls = 0;
    world_->desktopCallCounts.clear();
    world_->accessibilityPrompts = 0;
    world_->screenRecordingRequests = 0;
  });
}

std::optional<int32_t> SimDesktop::blurRadius(uint32_t window) const {
  return world_->read([&]() -> std::optional<int32_t> {
    auto it = world_->blurRadii.find(window);
    if (it == world_->blurRadii.end()) return std::nullopt;
    return it->second;
  });
}

}  // namespace quorvel
