#include "actions/WindowActions.h"

#include "actions/Activator.h"
#include "ax/AXFunnel.h"
#include "platform/Accessibility.h"

namespace quorvel {

WindowActions::WindowActions(Accessibility& accessibility, AXFunnel& funnel)
    : accessibility_(accessibility), funnel_(funnel) {}

bool WindowActions::boolAttribute(const AXElementRef& element, const std::string& attribute) const {
  if (!element) return false;
  const AXAttributeResult result = accessibility_.copyAttributeValue(element, attribute);
  if (!result.ok()) return false;
  const bool* flag = result.value.get<bool>();
  return flag && *flag;
}

bool WindowActions::isFullScreen(const AXElementRef& element) const {
  return boolAttribute(element, kFullScreenAttribute);
}

AXElementRef WindowActions::closeButton(const AXElementRef& element) const {
  if (!element) return nullptr;
  const AXAttributeResult result = accessibility_.copyAttributeValue(element, "AXCloseButton");
  if (!result.ok()) return nullptr;
  const AXElementRef* button = result.value.get<AXElementRef>();
  return button ? *button : nullptr;
}

Task<void> WindowActions::close(AXHandleRef window) const { return closeWindow(*this, std::move(window)); }

Task<void> WindowActions::closeWindow(WindowActions self, AXHandleRef window) {
  Executor& home = co_await currentExecutor();
  co_await resumeOn(self.funnel_.queue());
  const AXElementRef element = window ? window->element() : nullptr;
  if (element) {
    Accessibility& accessibility = self.accessibility_;
    accessibility.setMessagingTimeout(element, kMessagingTimeout);
    if (self.isFullScreen(element)) {
      accessibility.setAttributeValue(element, kFullScreenAttribute, false);
      // A timer on this queue, not a blocking sleep: other Accessibility work runs meanwhile. A
      // wait cut short by cancellation goes on the same way.
      co_await sleepFor(kFullScreenExitWait);
      accessibility.setMessagingTimeout(element, kMessagingTimeout);
    }
    if (const AXElementRef button = self.closeButton(element)) {
      accessibility.performAction(button, "AXPress");
    }
  }
  co_await resumeOn(home);
}

bool WindowActions::raise(const AXHandleRef& window, bool unminimize) const {
  const AXElementRef element = window ? window->element() : nullptr;
  if (!element) {
    Activator::logger().notice("AX raise refused: raise %{public}d, main %{public}d",
                               axErrorCode(AXError::illegalArgument), axErrorCode(AXError::illegalArgument));
    return false;
  }
  accessibility_.setMessagingTimeout(element, kMessagingTimeout);
  if (unminimize) accessibility_.setAttributeValue(element, "AXMinimized", false);
  const AXError main = accessibility_.setAttributeValue(element, "AXMain", true);
  const AXError raised = accessibility_.performAction(element, "AXRaise");
  if (raised == AXError::success) return true;
  Activator::logger().notice("AX raise refused: raise %{public}d, main %{public}d", axErrorCode(raised),
                             axErrorCode(main));
  return false;
}

}  // namespace quorvel
