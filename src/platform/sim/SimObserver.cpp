#include "platform/sim/SimObserver.h"

#include "platform/sim/SimElement.h"
#include "platform/sim/SimWorld.h"

namespace quorvel {

SimObserver::SimObserver(std::weak_ptr<SimWorld> world, int32_t pid, Callback callback)
    : ScheduledObserver(pid, std::move(callback)), world_(std::move(world)) {}

AXError SimObserver::addNotification(const AXElementRef& element, const std::string& notification, void* context) {
  auto world = world_.lock();
  if (!world) return AXError::invalidObserver;
  const auto* sim = dynamic_cast<const SimElement*>(element.get());
  if (!sim || sim->pid() != pid()) return AXError::illegalArgument;
  const AXError checked = world->change([&](SimEffects&) {
    SimNode* node = nullptr;
    const AXError entered = world->enterCall(element, node);
    if (entered != AXError::success) return entered;
    const SimAppState* app = world->runningApp(pid());
    if (app && app->notificationError != AXError::success) return app->notificationError;
    return AXError::success;
  });
  if (checked != AXError::success) return checked;
  return registerNotification(static_cast<ElementKey>(sim->id()), notification, context);
}

AXError SimObserver::removeNotification(const AXElementRef& element, const std::string& notification) {
  const auto* sim = dynamic_cast<const SimElement*>(element.get());
  if (!sim) return AXError::illegalArgument;
  return unregisterNotification(static_cast<ElementKey>(sim->id()), notification);
}

void SimObserver::deliver(const std::vector<SimElementId>& targets, const AXElementRef& subject,
                          const std::string& notification) {
  std::vector<ElementKey> elements;
  elements.reserve(targets.size());
  for (SimElementId target : targets) elements.push_back(static_cast<ElementKey>(target));
  ScheduledObserver::deliver(elements, notification, subject);
}

}  // namespace quorvel
