#include "platform/sim/SimShareableContent.h"

#include "platform/sim/SimWorld.h"

namespace quorvel {

namespace {

ShareableContentResult describe(const SimWorld& world, bool excludeDesktopWindows, bool onScreenWindowsOnly) {
  ShareableContentResult result;
  for (uint32_t number : world.stack) {
    const SimWindowState& w = world.windows.at(number);
    const bool onScreen = world.isOnScreen(w);
    if (onScreenWindowsOnly && !onScreen) continue;
    if (excludeDesktopWindows && w.layer < 0) continue;
    ShareableWindow window{.windowID = w.number, .title = w.title, .frame = w.frame, .windowLayer = w.layer,
                           .isOnScreen = onScreen};
    const SimAppState* app = world.app(w.pid);
    if (w.hasOwningApplication && app) {
      window.owningApplication = ShareableApplication{.processID = app->pid,
                                                      .applicationName = app->name.value_or(""),
                                                      .bundleIdentifier = app->bundleID.value_or("")};
    }
    result.windows.push_back(std::move(window));
  }
  for (const auto* d : world.orderedDisplays()) result.displays.push_back({d->spec.id, d->spec.frame});
  return result;
}

}  // namespace

void SimShareableContent::getShareableContent(bool excludeDesktopWindows, bool onScreenWindowsOnly,
                                              std::function<void(ShareableContentResult)> completion) {
  std::optional<std::string> error;
  Duration delay{0};
  world_->change([&](SimEffects&) {
    ++world_->shareableRequests;
    delay = world_->shareableDelay;
    if (world_->shareableFailure && world_->shareableFailure->remaining != 0) {
      error = world_->shareableError.value_or("The operation could not be completed");
      if (world_->shareableFailure->remaining > 0 && --world_->shareableFailure->remaining == 0) {
        world_->shareableFailure.reset();
      }
    }
  });
  std::weak_ptr<SimWorld> weak = world_;
  Job answer = [weak, error, excludeDesktopWindows, onScreenWindowsOnly, completion = std::move(completion)] {
    ShareableContentResult result;
    if (error) {
      result.error = error;
    } else if (auto world = weak.lock()) {
      result = world->read([&] { return describe(*world, excludeDesktopWindows, onScreenWindowsOnly); });
    } else {
      result.error = "The capture service went away";
    }
    completion(std::move(result));
  };
  Executor& pool = world_->runtime.pool();
  if (delay > Duration::zero()) {
    pool.postAfter(delay, std::move(answer));
  } else {
    pool.post(std::move(answer));
  }
}

}  // namespace quorvel
