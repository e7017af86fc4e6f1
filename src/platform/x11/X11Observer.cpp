#include "platform/x11/X11Observer.h"

#include "platform/x11/X11Element.h"

namespace quorvel {

X11Observer::X11Observer(int32_t pid, Callback callback) : ScheduledObserver(pid, std::move(callback)) {}

X11Observer::ElementKey X11Observer::keyOf(const X11Element& element) {
  return (ElementKey{static_cast<uint32_t>(element.kind())} << 32) | element.window();
}

std::optional<X11Observer::ElementKey> X11Observer::keyOf(const AXElementRef& element, AXError& error) const {
  const auto* x = dynamic_cast<const X11Element*>(element.get());
  if (!x || x->pid() != pid()) {
    error = AXError::illegalArgument;
    return std::nullopt;
  }
  error = AXError::success;
  return keyOf(*x);
}

AXError X11Observer::addNotification(const AXElementRef& element, const std::string& notification, void* context) {
  AXError error = AXError::success;
  const std::optional<ElementKey> key = keyOf(element, error);
  if (!key) return error;
  const auto* x = static_cast<const X11Element*>(element.get());
  if (notification != kFocusedWindowChanged || x->kind() != X11Element::Kind::application) {
    return AXError::notificationUnsupported;
  }
  return registerNotification(*key, notification, context);
}

AXError X11Observer::removeNotification(const AXElementRef& element, const std::string& notification) {
  AXError error = AXError::success;
  const std::optional<ElementKey> key = keyOf(element, error);
  if (!key) return error;
  return unregisterNotification(*key, notification);
}

void X11Observer::focusedWindowChanged(const AXElementRef& window) {
  const X11Element application(X11Element::Kind::application, pid(), 0);
  deliver({keyOf(application)}, kFocusedWindowChanged, window);
}

}  // namespace quorvel
