#include "platform/x11/X11Accessibility.h"

#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <utility>

#include "platform/AXNames.h"
#include "platform/atspi/AtspiAccessibility.h"
#include "platform/x11/X11Backend.h"
#include "platform/x11/X11Element.h"
#include "platform/x11/X11Observer.h"

namespace quorvel {

namespace {

bool processAlive(int32_t pid) {
  // kill() with 0 or a negative pid would address process groups, not one process.
  if (pid <= 0) return false;
  return ::kill(pid, 0) == 0 || errno == EPERM;
}

std::string subroleOf(const X11Window& w) {
  switch (w.type) {
    case X11Window::Type::normal: return w.modal ? "AXDialog" : "AXStandardWindow";
    case X11Window::Type::dialog: return "AXDialog";
    case X11Window::Type::utility:
    case X11Window::Type::toolbar: return "AXFloatingWindow";
    default: return "AXUnknown";
  }
}

// What one call on an element stands on: the element, and what the X server says of it now.
struct Subject {
  const X11Element* element = nullptr;
  AXError error = AXError::success;
  std::optional<X11Window> window;  // window and close-button elements
  std::vector<X11Window> windows;   // application elements: the process's windows, front to back
  std::optional<std::optional<uint32_t>> active;  // read on first use
};

Subject resolve(X11Backend& backend, const AXElementRef& ref) {
  Subject s;
  s.element = dynamic_cast<const X11Element*>(ref.get());
  if (!s.element) {
    s.error = AXError::illegalArgument;
    return s;
  }
  const int32_t pid = s.element->pid();
  if (s.element->kind() == X11Element::Kind::application) {
    std::vector<X11Window> all = backend.windowsFrontToBack();
    if (backend.isBroken()) {
      s.error = AXError::cannotComplete;
      return s;
    }
    for (X11Window& w : all) {
      if (w.pid == pid) s.windows.push_back(std::move(w));
    }
    if (s.windows.empty() && !processAlive(pid)) s.error = AXError::invalidElement;
    return s;
  }
  s.window = backend.managedWindow(s.element->window());
  if (!s.window || s.window->pid != pid) {
    s.window.reset();
    s.error = backend.isBroken() ? AXError::cannotComplete : AXError::invalidElement;
  }
  return s;
}

std::optional<uint32_t> activeWindow(X11Backend& backend, Subject& s) {
  if (!s.active) s.active = backend.activeWindow();
  return *s.active;
}

AXAttributeResult answer(AXValue value) { return AXAttributeResult{AXError::success, std::move(value)}; }
AXAttributeResult failure(AXError error) { return AXAttributeResult{error, {}}; }

AXAttributeResult readApplication(X11Backend& backend, Subject& s, const std::string& attribute) {
  const int32_t pid = s.element->pid();
  const auto isActive = [&](const X11Window& w) { return activeWindow(backend, s) == w.id; };
  if (attribute == "AXRole") return answer("AXApplication");
  if (attribute == "AXTitle") {
    if (s.windows.empty()) return failure(AXError::noValue);
    std::string name = backend.applicationName(s.windows.front());
    if (name.empty()) return failure(AXError::noValue);
    return answer(std::move(name));
  }
  if (attribute == "AXWindows") {
    AXValue::Elements elements;
    elements.reserve(s.windows.size());
    for (const X11Window& w : s.windows) elements.push_back(X11Element::window(pid, w.id));
    return answer(std::move(elements));
  }
  if (attribute == "AXFocusedWindow") {
    // The active window; else the one of the process last active or activated (the stacking need
    // not follow the focus); else its front-most window on screen.
    auto focused = std::find_if(s.windows.begin(), s.windows.end(), isActive);
    const std::optional<uint32_t> recent = focused == s.windows.end() ? backend.recentWindow(pid) : std::nullopt;
    if (recent) {
      focused = std::find_if(s.windows.begin(), s.windows.end(),
                             [&](const X11Window& w) { return w.id == *recent && w.isViewable && !w.minimized; });
    }
    if (focused == s.windows.end()) {
      focused = std::find_if(s.windows.begin(), s.windows.end(),
                             [](const X11Window& w) { return w.isViewable && !w.minimized; });
    }
    if (focused == s.windows.end()) return failure(AXError::noValue);
    return answer(X11Element::window(pid, focused->id));
  }
  if (attribute == "AXFrontmost") return answer(std::any_of(s.windows.begin(), s.windows.end(), isActive));
  return failure(AXError::attributeUnsupported);
}

AXAttributeResult readWindow(X11Backend& backend, Subject& s, const std::string& attribute) {
  const X11Window& w = *s.window;
  if (attribute == "AXRole") return answer("AXWindow");
  if (attribute == "AXSubrole") return answer(subroleOf(w));
  if (attribute == "AXTitle") return answer(w.title);
  if (attribute == "AXMinimized") return answer(w.minimized);
  if (attribute == "AXPosition") return answer(Point{double(w.frame.x), double(w.frame.y)});
  if (attribute == "AXSize") return answer(Size{double(w.frame.width), double(w.frame.height)});
  if (attribute == "AXMain" || attribute == "AXFocused") return answer(activeWindow(backend, s) == w.id);
  if (attribute == "AXFullScreen") return answer(w.fullscreen);
  if (attribute == "AXCloseButton") return answer(X11Element::closeButton(s.element->pid(), w.id));
  return failure(AXError::attributeUnsupported);
}

AXAttributeResult readCloseButton(const std::string& attribute) {
  if (attribute == "AXRole") return answer("AXButton");
  if (attribute == "AXSubrole") return answer("AXCloseButton");
  return failure(AXError::attributeUnsupported);
}

AXAttributeResult read(X11Backend& backend, Subject& s, const std::string& attribute) {
  if (s.error != AXError::success) return failure(s.error);
  switch (s.element->kind()) {
    case X11Element::Kind::application: return readApplication(backend, s, attribute);
    case X11Element::Kind::window: return readWindow(backend, s, attribute);
    case X11Element::Kind::closeButton: return readCloseButton(attribute);
  }
  return failure(AXError::attributeUnsupported);
}

// The outcome of a request to the window manager: sent, or why not.
AXError requested(X11Backend& backend, bool sent) {
  if (sent) return AXError::success;
  return backend.isBroken() ? AXError::cannotComplete : AXError::invalidElement;
}

// Raises and focuses a window, and remembers it as its process's most recent window, so that
// activating the application right after goes through this window.
AXError activate(X11Backend& backend, const X11Window& w) {
  const std::optional<uint32_t> sent = backend.actions().activateStamped(w.id);
  if (sent && w.pid) backend.noteRecentWindow(*w.pid, w.id, *sent);
  return requested(backend, sent.has_value());
}

bool isAtspi(const AXElementRef& ref) { return dynamic_cast<const AtspiElement*>(ref.get()) != nullptr; }

// The tree switches of an application element: the session's assistive technology switch.
bool isSwitch(const std::string& attribute) {
  return attribute == AXNames::kManualAccessibility || attribute == AXNames::kEnhancedUserInterface;
}

// Attributes of an application element that the accessibility bus answers.
bool isTreeAttributeOfApplication(const std::string& attribute) {
  return attribute == AXNames::kManualAccessibility || attribute == AXNames::kEnhancedUserInterface ||
         attribute == AXNames::kMenuBar;
}

// The bus side's object for a window: matched by process, title and frame.
AXElementRef treeWindow(X11Backend& backend, AtspiAccessibility& tree, const X11Window& w) {
  if (!w.pid) return nullptr;
  size_t windowsOfProcess = 0;
  for (const X11Window& other : backend.windowsFrontToBack()) {
    if (other.pid == w.pid) ++windowsOfProcess;
  }
  const Rect frame{double(w.frame.x), double(w.frame.y), double(w.frame.width), double(w.frame.height)};
  return tree.matchWindow(*w.pid, w.title, frame, windowsOfProcess == 1);
}

// Reads an attribute of an X11 element, from the bus side where it answers it.
AXAttributeResult readWithTree(X11Backend& backend, AtspiAccessibility* tree, Subject& s,
                               const std::string& attribute) {
  if (s.error != AXError::success || !tree) return read(backend, s, attribute);
  if (s.element->kind() == X11Element::Kind::window && attribute == AXNames::kChildren) {
    const AXElementRef top = treeWindow(backend, *tree, *s.window);
    if (!top) return failure(AXError::noValue);
    return tree->copyAttributeValue(top, attribute);
  }
  if (s.element->kind() == X11Element::Kind::window && attribute == AXNames::kTitle) {
    // The application's own title for the window, where it publishes one: browsers mark private
    // windows there and not always in the window's title.
    if (const AXElementRef top = treeWindow(backend, *tree, *s.window)) {
      std::optional<std::string> title = tree->stringAttribute(top, AXNames::kTitle);
      if (title && !title->empty()) return answer(std::move(*title));
    }
  }
  if (s.element->kind() == X11Element::Kind::application && isSwitch(attribute)) return tree->assistiveTechnology();
  if (s.element->kind() == X11Element::Kind::application && isTreeAttributeOfApplication(attribute)) {
    const AXElementRef app = tree->applicationElement(s.element->pid());
    if (!app) return failure(AXError::noValue);
    return tree->copyAttributeValue(app, attribute);
  }
  return read(backend, s, attribute);
}

bool isSettableOfWindow(const std::string& attribute) {
  return attribute == "AXMinimized" || attribute == "AXMain" || attribute == "AXFocused" ||
         attribute == "AXFullScreen" || attribute == "AXPosition" || attribute == "AXSize";
}

// Whole pixels of a point or size value; none for a value of another type or out of range.
std::optional<std::pair<int32_t, int32_t>> pixels(double a, double b) {
  constexpr double kLimit = 1 << 24;
  if (!(std::fabs(a) < kLimit) || !(std::fabs(b) < kLimit)) return std::nullopt;
  return std::pair<int32_t, int32_t>{static_cast<int32_t>(std::lround(a)), static_cast<int32_t>(std::lround(b))};
}

AXError setFrame(X11Backend& backend, const X11Window& w, const std::string& attribute, const AXValue& value) {
  std::optional<std::pair<int32_t, int32_t>> origin, size;
  if (attribute == "AXPosition") {
    const Point* p = value.get<Point>();
    if (!p || !(origin = pixels(p->x, p->y))) return AXError::illegalArgument;
  } else {
    const Size* z = value.get<Size>();
    if (!z || !(size = pixels(z->width, z->height)) || size->first <= 0 || size->second <= 0) {
      return AXError::illegalArgument;
    }
  }
  // The request is in root coordinates; the element's frame is global.
  const auto [dx, dy] = backend.globalOrigin();
  if (origin) *origin = {origin->first + dx, origin->second + dy};
  return requested(backend, backend.actions().setFrame(w.id, w.frame.offsetBy(dx, dy), origin, size));
}

}  // namespace

X11Accessibility::X11Accessibility(std::shared_ptr<X11Backend> backend, std::shared_ptr<AtspiAccessibility> tree)
    : backend_(std::move(backend)), tree_(std::move(tree)) {}

std::optional<std::vector<AXWindowFacts>> X11Accessibility::applicationWindows(int32_t pid,
                                                                               AXWindowFacts::Wanted wanted) {
  const X11WindowModel::Snapshot state = backend_->model().current();
  if (backend_->isBroken()) return std::nullopt;
  std::vector<AXWindowFacts> windows;
  for (uint32_t i : state->frontToBack) {
    const X11Window& w = state->clients[i];
    if (w.pid != pid || w.id == 0) continue;
    AXWindowFacts facts;
    facts.element = X11Element::window(pid, w.id);
    facts.number = w.id;
    facts.isMinimized = w.minimized;
    facts.subrole = AXSubroles::parse(subroleOf(w));
    if (wanted.frame && !w.frame.isEmpty()) facts.frame = w.frame.toRect();
    if (wanted.title) {
      // As the "AXTitle" read: the application's own title for the window where it publishes one.
      const AXElementRef top = tree_ ? treeWindow(*backend_, *tree_, w) : nullptr;
      std::optional<std::string> title = top ? tree_->stringAttribute(top, AXNames::kTitle) : std::nullopt;
      facts.title = title && !title->empty() ? std::move(*title) : w.title;
    }
    windows.push_back(std::move(facts));
  }
  // An application without windows stands while its process lives.
  if (windows.empty() && !processAlive(pid)) return std::nullopt;
  return windows;
}

bool X11Accessibility::elementTreesReadable(std::chrono::milliseconds timeout) {
  if (!tree_) return false;
  return tree_->assistiveTechnologyOn(timeout).value_or(false);
}

bool X11Accessibility::isProcessTrusted() { return true; }

bool X11Accessibility::isProcessTrustedWithPrompt(bool) { return true; }

AXElementRef X11Accessibility::applicationElement(int32_t pid) { return X11Element::application(pid); }

AXAttributeResult X11Accessibility::copyAttributeValue(const AXElementRef& element, const std::string& attribute) {
  if (tree_ && isAtspi(element)) return tree_->copyAttributeValue(element, attribute);
  Subject s = resolve(*backend_, element);
  return readWithTree(*backend_, tree_.get(), s, attribute);
}

std::vector<AXAttributeResult> X11Accessibility::copyMultipleAttributeValues(
    const AXElementRef& element, const std::vector<std::string>& attributes) {
  if (tree_ && isAtspi(element)) return tree_->copyMultipleAttributeValues(element, attributes);
  Subject s = resolve(*backend_, element);
  std::vector<AXAttributeResult> results;
  results.reserve(attributes.size());
  for (const std::string& attribute : attributes) results.push_back(readWithTree(*backend_, tree_.get(), s, attribute));
  return results;
}

AXElementList X11Accessibility::copyElements(const AXElementRef& element, const std::string& attribute,
                                             size_t maxCount) {
  if (tree_ && isAtspi(element)) return tree_->copyElements(element, attribute, maxCount);
  return Accessibility::copyElements(element, attribute, maxCount);
}

AXError X11Accessibility::copyAttributeNames(const AXElementRef& element, std::vector<std::string>& names) {
  if (tree_ && isAtspi(element)) return tree_->copyAttributeNames(element, names);
  Subject s = resolve(*backend_, element);
  if (s.error != AXError::success) return s.error;
  switch (s.element->kind()) {
    case X11Element::Kind::application:
      names = {"AXRole", "AXTitle", "AXWindows", "AXFocusedWindow", "AXFrontmost"};
      break;
    case X11Element::Kind::window:
      names = {"AXRole", "AXSubrole", "AXTitle", "AXMinimized", "AXPosition", "AXSize",
               "AXMain", "AXFocused", "AXFullScreen", "AXCloseButton"};
      break;
    case X11Element::Kind::closeButton:
      names = {"AXRole", "AXSubrole"};
      break;
  }
  return AXError::success;
}

AXError X11Accessibility::setAttributeValue(const AXElementRef& element, const std::string& attribute,
                                            const AXValue& value) {
  if (tree_ && isAtspi(element)) return tree_->setAttributeValue(element, attribute, value);
  Subject s = resolve(*backend_, element);
  if (s.error != AXError::success) return s.error;
  // The switch is the session's: an application that has not come onto the bus yet is the one
  // the nudge is for.
  if (tree_ && s.element->kind() == X11Element::Kind::application && isSwitch(attribute)) {
    return tree_->setAssistiveTechnology(value);
  }
  if (s.element->kind() != X11Element::Kind::window) return AXError::attributeUnsupported;
  if (attribute == "AXPosition" || attribute == "AXSize") return setFrame(*backend_, *s.window, attribute, value);
  if (!isSettableOfWindow(attribute)) return AXError::attributeUnsupported;
  const bool* flag = value.get<bool>();
  if (!flag) return AXError::illegalArgument;
  X11WindowActions& actions = backend_->actions();
  const X11Window& w = *s.window;
  if (attribute == "AXMinimized") {
    if (*flag == w.minimized) return AXError::success;
    return requested(*backend_, *flag ? actions.minimize(w.id) : actions.unminimize(w.id));
  }
  if (attribute == "AXFullScreen") {
    if (*flag == w.fullscreen) return AXError::success;
    return requested(*backend_, actions.setFullScreen(w.id, *flag));
  }
  // Giving up main or focus has no request of its own: another window has to take it.
  if (!*flag) return AXError::success;
  return activate(*backend_, w);
}

AXError X11Accessibility::performAction(const AXElementRef& element, const std::string& action) {
  if (tree_ && isAtspi(element)) return tree_->performAction(element, action);
  Subject s = resolve(*backend_, element);
  if (s.error != AXError::success) return s.error;
  X11WindowActions& actions = backend_->actions();
  switch (s.element->kind()) {
    case X11Element::Kind::window:
      if (action == "AXRaise") return activate(*backend_, *s.window);
      if (action == kCloseAction) return requested(*backend_, actions.close(s.window->id));
      break;
    case X11Element::Kind::closeButton:
      if (action == "AXPress") return requested(*backend_, actions.close(s.window->id));
      break;
    case X11Element::Kind::application:
      break;
  }
  return AXError::actionUnsupported;
}

AXError X11Accessibility::isAttributeSettable(const AXElementRef& element, const std::string& attribute,
                                              bool& settable) {
  settable = false;
  if (tree_ && isAtspi(element)) return AXError::attributeUnsupported;
  Subject s = resolve(*backend_, element);
  if (s.error != AXError::success) return s.error;
  settable = s.element->kind() == X11Element::Kind::window && isSettableOfWindow(attribute);
  return AXError::success;
}

AXError X11Accessibility::setMessagingTimeout(const AXElementRef& element, float seconds) {
  if (tree_ && isAtspi(element)) return tree_->setMessagingTimeout(element, seconds);
  if (!dynamic_cast<const X11Element*>(element.get()) || seconds < 0) return AXError::illegalArgument;
  return AXError::success;
}

std::optional<int32_t> X11Accessibility::pid(const AXElementRef& element) {
  if (tree_ && isAtspi(element)) return tree_->pid(element);
  const auto* x = dynamic_cast<const X11Element*>(element.get());
  if (!x) return std::nullopt;
  return x->pid();
}

std::optional<uint32_t> X11Accessibility::windowNumber(const AXElementRef& element) {
  const auto* x = dynamic_cast<const X11Element*>(element.get());
  if (!x || x->kind() != X11Element::Kind::window || x->window() == 0) return std::nullopt;
  return x->window();
}

std::pair<AXError, std::shared_ptr<AXObserver>> X11Accessibility::createObserver(int32_t pid,
                                                                               AXObserver::Callback callback) {
  if (pid <= 0 || !callback) return {AXError::illegalArgument, nullptr};
  // Without a connection no focus change will ever come to tell.
  if (backend_->isBroken()) return {AXError::cannotComplete, nullptr};
  auto observer = std::make_shared<X11Observer>(pid, std::move(callback));
  std::lock_guard lock(mutex_);
  std::erase_if(observers_, [](const std::weak_ptr<X11Observer>& o) { return o.expired(); });
  observers_.push_back(observer);
  return {AXError::success, observer};
}

void X11Accessibility::activeWindowChanged(int32_t pid, uint32_t window) {
  std::vector<std::shared_ptr<X11Observer>> interested;
  {
    std::lock_guard lock(mutex_);
    for (const std::weak_ptr<X11Observer>& weak : observers_) {
      if (auto observer = weak.lock(); observer && observer->pid() == pid) interested.push_back(std::move(observer));
    }
  }
  if (interested.empty()) return;
  const AXElementRef element = X11Element::window(pid, window);
  for (const auto& observer : interested) observer->focusedWindowChanged(element);
}

}  // namespace quorvel
