#include "platform/sim/SimAccessibility.h"

#include <set>

#include "platform/sim/SimElement.h"
#include "platform/sim/SimObserver.h"
#include "platform/sim/SimWorld.h"

namespace quorvel {

namespace {

AXAttributeResult readOne(SimWorld& world, SimNode& node, const std::string& attribute) {
  if (auto injected = SimWorld::takeInjected(node.readFailures, attribute)) return AXAttributeResult{*injected, {}};
  return world.readAttribute(node, attribute);
}

}  // namespace

bool SimAccessibility::isProcessTrusted() {
  return world_->read([&] { return world_->trusted; });
}

bool SimAccessibility::isProcessTrustedWithPrompt(bool prompt) {
  return world_->change([&](SimEffects&) {
    if (prompt) ++world_->accessibilityPrompts;
    return world_->trusted;
  });
}

AXElementRef SimAccessibility::applicationElement(int32_t pid) {
  return world_->read([&] {
    const SimAppState* app = world_->runningApp(pid);
    return AXElementRef(std::make_shared<SimElement>(app ? app->element : SimElementId::none, pid));
  });
}

AXAttributeResult SimAccessibility::copyAttributeValue(const AXElementRef& element, const std::string& attribute) {
  return world_->change([&](SimEffects&) {
    SimNode* node = nullptr;
    const AXError entered = world_->enterCall(element, node);
    if (entered != AXError::success) return AXAttributeResult{entered, {}};
    return readOne(*world_, *node, attribute);
  });
}

std::vector<AXAttributeResult> SimAccessibility::copyMultipleAttributeValues(const AXElementRef& element,
                                                                             const std::vector<std::string>& attributes) {
  return world_->change([&](SimEffects&) {
    std::vector<AXAttributeResult> results;
    SimNode* node = nullptr;
    const AXError entered = world_->enterCall(element, node);
    for (const auto& attribute : attributes) {
      results.push_back(entered == AXError::success ? readOne(*world_, *node, attribute)
                                                    : AXAttributeResult{entered, {}});
    }
    return results;
  });
}

AXError SimAccessibility::copyAttributeNames(const AXElementRef& element, std::vector<std::string>& names) {
  return world_->change([&](SimEffects&) {
    SimNode* node = nullptr;
    const AXError entered = world_->enterCall(element, node);
    if (entered != AXError::success) return entered;
    names = world_->attributeNames(*node);
    return AXError::success;
  });
}

AXError SimAccessibility::setAttributeValue(const AXElementRef& element, const std::string& attribute,
                                            const AXValue& value) {
  return world_->change([&](SimEffects& fx) {
    SimNode* node = nullptr;
    const AXError entered = world_->enterCall(element, node);
    if (entered != AXError::success) return entered;
    if (auto injected = SimWorld::takeInjected(node->writeFailures, attribute)) return *injected;
    return world_->writeAttribute(*node, attribute, value, fx);
  });
}

AXError SimAccessibility::isAttributeSettable(const AXElementRef& element, const std::string& attribute,
                                              bool& settable) {
  return world_->change([&](SimEffects&) {
    settable = false;
    SimNode* node = nullptr;
    const AXError entered = world_->enterCall(element, node);
    if (entered != AXError::success) return entered;
    static const std::set<std::string> kWindowSettable = {"AXPosition", "AXSize", "AXMinimized",
                                                          "AXMain",     "AXFocused", "AXFullScreen"};
    settable = node->kind == SimNode::Kind::window && kWindowSettable.contains(attribute) &&
               !node->unsettable.contains(attribute);
    return AXError::success;
  });
}

AXError SimAccessibility::performAction(const AXElementRef& element, const std::string& action) {
  SimActionHandler handler;
  SimElementId id = SimElementId::none;
  const AXError outcome = world_->change([&](SimEffects& fx) {
    SimNode* node = nullptr;
    const AXError entered = world_->enterCall(element, node);
    if (entered != AXError::success) return entered;
    ++node->actionCounts[action];
    if (auto injected = SimWorld::takeInjected(node->actionRefusals, action)) return *injected;
    id = node->id;
    auto it = node->actions.find(action);
    if (it != node->actions.end()) {
      handler = it->second;
      if (!handler) id = SimElementId::none;  // accepted, nothing to run
      return AXError::success;
    }
    if (node->kind == SimNode::Kind::window && action == "AXRaise") {
      world_->raise(node->window, fx);
      id = SimElementId::none;
      return AXError::success;
    }
    id = SimElementId::none;
    return AXError::actionUnsupported;
  });
  if (outcome != AXError::success || !handler) return outcome;
  return handler(id);
}

AXError SimAccessibility::setMessagingTimeout(const AXElementRef& element, float seconds) {
  const auto* sim = dynamic_cast<const SimElement*>(element.get());
  if (!sim || seconds < 0) return AXError::illegalArgument;
  return world_->change([&](SimEffects&) {
    SimNode* node = world_->node(sim->id());
    if (!node) return AXError::invalidElement;
    node->messagingTimeout = seconds;
    return AXError::success;
  });
}

std::optional<int32_t> SimAccessibility::pid(const AXElementRef& element) {
  const auto* sim = dynamic_cast<const SimElement*>(element.get());
  if (!sim) return std::nullopt;
  return sim->pid();
}

std::optional<uint32_t> SimAccessibility::windowNumber(const AXElementRef& element) {
  return world_->change([&](SimEffects&) -> std::optional<uint32_t> {
    SimNode* node = nullptr;
    if (world_->enterCall(element, node) != AXError::success) return std::nullopt;
    if (node->kind != SimNode::Kind::window) return std::nullopt;
    return node->window;
  });
}

std::pair<AXError, std::shared_ptr<AXObserver>> SimAccessibility::createObserver(int32_t pid,
                                                                                 AXObserver::Callback callback) {
  const AXError refused = world_->read([&] {
    if (!world_->trusted) return AXError::apiDisabled;
    const SimAppState* app = world_->app(pid);
    return app ? app->observerError : AXError::success;
  });
  if (refused != AXError::success) return {refused, nullptr};
  auto observer = std::make_shared<SimObserver>(world_, pid, std::move(callback));
  world_->change([&](SimEffects&) { world_->axObservers[pid].push_back(observer); });
  return {AXError::success, observer};
}

}  // namespace quorvel

