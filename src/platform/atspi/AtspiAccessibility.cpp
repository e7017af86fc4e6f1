#include "platform/atspi/AtspiAccessibility.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <string_view>

#include "platform/AXNames.h"
#include "platform/atspi/AtspiRoles.h"

namespace quorvel {

namespace {

using Timeout = AtspiAccessibility::Timeout;

constexpr const char* kParent = "AXParent";
constexpr const char* kFocused = "AXFocused";
constexpr size_t kMenuBarDepth = 3;
constexpr size_t kMenuBarElements = 200;

// The action names, in order of preference, that bring an element forward when pressed.
constexpr std::array<std::string_view, 7> kPressActions = {"press",  "click", "switch",   "doDefault",
                                                          "activate", "jump", "select"};

AXAttributeResult answer(AXValue value) { return AXAttributeResult{AXError::success, std::move(value)}; }
AXElementList failedList(AXError error) { return AXElementList{error, {}, 0}; }
AXAttributeResult failure(AXError error) { return AXAttributeResult{error, {}}; }

template <class T>
AXAttributeResult failed(const AtspiAnswer<T>& a) {
  return failure(a.error);
}

const AtspiElement* asAtspi(const AXElementRef& ref) { return dynamic_cast<const AtspiElement*>(ref.get()); }

// Elements read from `from`: the same process and the same time-out.
AXValue::Elements elementsOf(const std::vector<AtspiNode>& nodes, const AtspiElement& from) {
  AXValue::Elements out;
  out.reserve(nodes.size());
  for (const AtspiNode& node : nodes) {
    if (!node.empty()) out.push_back(AtspiElement::make(node, from.pid(), from.timeout()));
  }
  return out;
}

bool isApplication(const AtspiElement& e) { return e.node().path == "/org/a11y/atspi/accessible/root"; }

// Seconds to a time-out; 0 (or less) is the default.
Timeout timeoutOf(float seconds) {
  if (!(seconds > 0)) return AtspiElement::kDefaultTimeout;
  const double ms = std::min<double>(double(seconds) * 1000.0, 3600.0 * 1000.0);
  return Timeout(std::max<int64_t>(1, static_cast<int64_t>(std::llround(ms))));
}

AXAttributeResult readSwitch(AtspiBus& bus, Timeout timeout) {
  auto on = bus.isEnabled(timeout);
  return on.ok() ? answer(on.value) : failed(on);
}

AXError writeSwitch(AtspiBus& bus, const AXValue& value, Timeout timeout) {
  const bool* flag = value.get<bool>();
  if (!flag) return AXError::illegalArgument;
  // Switching assistive technology off would take it from every other client: only on is asked.
  if (!*flag) return AXError::success;
  return bus.setEnabled(true, timeout);
}

class Reader {
 public:
  Reader(AtspiBus& bus, const AtspiElement& element) : bus_(bus), e_(element), t_(element.timeout()) {}

  AXAttributeResult read(const std::string& attribute) {
    if (isApplication(e_)) return readApplication(attribute);
    return readObject(attribute);
  }

  // "AXChildren" or "AXTabs" of an object other than an application: at most `maxCount` of them.
  // A tab strip's children are its tabs (strips also hold hidden placeholders and buttons): each
  // child is asked for its role until `maxCount` tabs are found; the children not asked count as
  // tabs in the total. A strip whose children stop answering is given up on after
  // kTimeoutsPerRead of them.
  AXElementList list(const std::string& attribute, size_t maxCount) {
    AXElementList out;
    auto r = bus_.role(e_.node(), t_);
    if (!r.ok()) return failedList(r.error);
    const bool strip = r.value == AtspiRoles::kPageTabList;
    if (attribute == AXNames::kTabs && !strip) return failedList(AXError::attributeUnsupported);
    auto c = bus_.children(e_.node(), t_);
    if (!c.ok()) return failedList(c.error);
    std::vector<AtspiNode> kept;
    size_t asked = 0;
    int timedOut = 0;
    for (const AtspiNode& child : c.value) {
      if (child.empty()) continue;
      if (kept.size() == maxCount) break;
      ++asked;
      if (!strip) {
        kept.push_back(child);
        continue;
      }
      auto role = bus_.role(child, t_);
      if (role.ok() && role.value == AtspiRoles::kPageTab) kept.push_back(child);
      if (!role.ok() && role.error == AXError::cannotComplete && ++timedOut == AtspiAccessibility::kTimeoutsPerRead) {
        return failedList(AXError::cannotComplete);
      }
    }
    size_t members = 0;
    for (const AtspiNode& child : c.value) members += child.empty() ? 0 : 1;
    out.total = kept.size() + (members - asked);
    for (const AtspiNode& node : kept) out.elements.push_back(AtspiElement::make(node, e_.pid(), e_.timeout()));
    return out;
  }

  AtspiAnswer<std::vector<AtspiNode>> windows() {
    auto children = bus_.children(e_.node(), t_);
    if (!children.ok()) return children;
    std::vector<AtspiNode> kept;
    for (const AtspiNode& child : children.value) {
      auto role = bus_.role(child, t_);
      if (role.ok() && AtspiRoles::isWindow(role.value)) kept.push_back(child);
      if (!role.ok() && role.error == AXError::cannotComplete) return {role.error, {}};
    }
    return {AXError::success, std::move(kept)};
  }

 private:
  AXAttributeResult readApplication(const std::string& attribute) {
    if (attribute == AXNames::kRole) return answer("AXApplication");
    if (attribute == AXNames::kTitle) {
      auto o = bus_.object(e_.node(), t_);
      return o.ok() ? answer(o.value.name) : failed(o);
    }
    if (attribute == AXNames::kChildren || attribute == AXNames::kWindows) {
      auto w = windows();
      return w.ok() ? answer(elementsOf(w.value, e_)) : failed(w);
    }
    if (attribute == AXNames::kMainWindow || attribute == AXNames::kFocusedWindow) {
      auto w = windows();
      if (!w.ok()) return failed(w);
      for (const AtspiNode& node : w.value) {
        auto states = bus_.states(node, t_);
        if (states.ok() && AtspiRoles::hasState(states.value, AtspiRoles::kStateActive)) {
          return answer(AXElementRef(AtspiElement::make(node, e_.pid(), e_.timeout())));
        }
      }
      return failure(AXError::noValue);
    }
    if (attribute == AXNames::kMenuBar) return menuBar();
    if (attribute == AXNames::kManualAccessibility || attribute == AXNames::kEnhancedUserInterface) {
      return readSwitch(bus_, t_);
    }
    return failure(AXError::attributeUnsupported);
  }

  AXAttributeResult menuBar() {
    auto w = windows();
    if (!w.ok()) return failed(w);
    std::vector<AtspiNode> level = w.value;
    size_t examined = 0;
    for (size_t depth = 0; depth < kMenuBarDepth && !level.empty(); ++depth) {
      std::vector<AtspiNode> next;
      for (const AtspiNode& node : level) {
        if (++examined > kMenuBarElements) return failure(AXError::noValue);
        auto role = bus_.role(node, t_);
        if (role.ok() && role.value == AtspiRoles::kMenuBar) {
          return answer(AXElementRef(AtspiElement::make(node, e_.pid(), e_.timeout())));
        }
        if (depth + 1 < kMenuBarDepth) {
          auto children = bus_.children(node, t_);
          if (children.ok()) next.insert(next.end(), children.value.begin(), children.value.end());
        }
      }
      level = std::move(next);
    }
    return failure(AXError::noValue);
  }

  AXAttributeResult readObject(const std::string& attribute) {
    if (attribute == AXNames::kRole) {
      auto r = bus_.role(e_.node(), t_);
      if (!r.ok()) return failed(r);
      uint64_t states = 0;
      if (r.value == AtspiRoles::kPageTabList) {
        auto s = bus_.states(e_.node(), t_);
        if (!s.ok()) return failed(s);
        states = s.value;
      }
      return answer(AtspiRoles::axRole(r.value, states));
    }
    if (attribute == AXNames::kSubrole) {
      auto r = bus_.role(e_.node(), t_);
      if (!r.ok()) return failed(r);
      auto subrole = AtspiRoles::axSubrole(r.value);
      return subrole ? answer(*subrole) : failure(AXError::noValue);
    }
    if (attribute == AXNames::kTitle || attribute == AXNames::kDescription) {
      auto o = bus_.object(e_.node(), t_);
      if (!o.ok()) return failed(o);
      return answer(attribute == AXNames::kTitle ? o.value.name : o.value.description);
    }
    if (attribute == AXNames::kIdentifier) {
      auto a = bus_.attributes(e_.node(), t_);
      if (!a.ok()) return failed(a);
      auto it = a.value.find("id");
      return it == a.value.end() ? failure(AXError::noValue) : answer(it->second);
    }
    if (attribute == AXNames::kChildren || attribute == AXNames::kTabs) {
      AXElementList found = list(attribute, std::numeric_limits<size_t>::max());
      if (!found.ok()) return failure(found.error);
      return answer(AXValue::Elements(std::move(found.elements)));
    }
    if (attribute == kParent) {
      auto p = bus_.parent(e_.node(), t_);
      if (!p.ok()) return failed(p);
      if (p.value.empty()) return failure(AXError::noValue);
      return answer(AXElementRef(AtspiElement::make(p.value, e_.pid(), e_.timeout())));
    }
    if (attribute == AXNames::kSelected || attribute == kFocused || attribute == AXNames::kMinimized) {
      auto s = bus_.states(e_.node(), t_);
      if (!s.ok()) return failed(s);
      const uint32_t state = attribute == AXNames::kSelected ? AtspiRoles::kStateSelected
                             : attribute == kFocused         ? AtspiRoles::kStateFocused
                                                             : AtspiRoles::kStateIconified;
      return answer(AtspiRoles::hasState(s.value, state));
    }
    if (attribute == AXNames::kPosition || attribute == AXNames::kSize) {
      auto x = bus_.extents(e_.node(), t_);
      if (!x.ok()) return failed(x);
      if (attribute == AXNames::kPosition) return answer(Point{x.value.x, x.value.y});
      return answer(Size{x.value.width, x.value.height});
    }
    return failure(AXError::attributeUnsupported);
  }

  AtspiBus& bus_;
  const AtspiElement& e_;
  Timeout t_;
};

// Selects the element through its parent's Selection interface.
AXError selectThroughParent(AtspiBus& bus, const AtspiElement& e) {
  const Timeout t = e.timeout();
  auto parent = bus.parent(e.node(), t);
  if (!parent.ok()) return parent.error;
  if (parent.value.empty()) return AXError::actionUnsupported;
  auto index = bus.indexInParent(e.node(), t);
  if (!index.ok()) return index.error;
  if (index.value < 0) return AXError::actionUnsupported;
  auto selected = bus.selectChild(parent.value, index.value, t);
  if (!selected.ok()) {
    return selected.error == AXError::attributeUnsupported ? AXError::actionUnsupported : selected.error;
  }
  return selected.value ? AXError::success : AXError::failure;
}

AXError press(AtspiBus& bus, const AtspiElement& e) {
  const Timeout t = e.timeout();
  auto names = bus.actions(e.node(), t);
  if (!names.ok() && names.error != AXError::attributeUnsupported) return names.error;
  if (names.ok()) {
    for (std::string_view wanted : kPressActions) {
      for (size_t i = 0; i < names.value.size(); ++i) {
        if (names.value[i] != wanted) continue;
        auto done = bus.doAction(e.node(), static_cast<int32_t>(i), t);
        if (!done.ok()) return done.error == AXError::attributeUnsupported ? AXError::actionUnsupported : done.error;
        return done.value ? AXError::success : AXError::failure;
      }
    }
  }
  return selectThroughParent(bus, e);
}

// How far an object's extents lie from a window frame, or none when their centre is outside it.
std::optional<double> distance(const Rect& extents, const Rect& frame) {
  const double cx = extents.x + extents.width / 2;
  const double cy = extents.y + extents.height / 2;
  if (cx < frame.x || cy < frame.y || cx > frame.x + frame.width || cy > frame.y + frame.height) return std::nullopt;
  return std::abs(extents.x - frame.x) + std::abs(extents.y - frame.y) + std::abs(extents.width - frame.width) +
         std::abs(extents.height - frame.height);
}

}  // namespace

AtspiAccessibility::AtspiAccessibility(std::shared_ptr<AtspiBus> bus) : bus_(std::move(bus)) {}

bool AtspiAccessibility::isProcessTrusted() { return true; }

std::optional<bool> AtspiAccessibility::assistiveTechnologyOn(Timeout timeout) {
  auto on = bus_->isEnabled(timeout);
  if (!on.ok()) return std::nullopt;
  return on.value;
}

bool AtspiAccessibility::isProcessTrustedWithPrompt(bool) { return true; }

std::optional<std::string> AtspiAccessibility::busOf(int32_t pid, Timeout timeout) {
  if (pid <= 0) return std::nullopt;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [bus, owner] : pidByBus_) {
      if (owner == pid) return bus;
    }
  }
  auto apps = bus_->applications(timeout);
  if (!apps.ok()) return std::nullopt;
  std::unordered_map<std::string, int32_t> known;
  {
    std::lock_guard lock(mutex_);
    known = pidByBus_;
  }
  std::unordered_map<std::string, int32_t> now;
  std::optional<std::string> found;
  for (const AtspiNode& app : apps.value) {
    int32_t owner = 0;
    if (auto it = known.find(app.bus); it != known.end()) {
      owner = it->second;
    } else {
      auto asked = bus_->processOf(app.bus, timeout);
      if (!asked.ok()) continue;
      owner = asked.value;
    }
    now[app.bus] = owner;
    if (owner == pid && !found) found = app.bus;
  }
  std::lock_guard lock(mutex_);
  pidByBus_ = std::move(now);  // applications that left the bus are forgotten
  return found;
}

void AtspiAccessibility::forgetBus(const std::string& bus) {
  std::lock_guard lock(mutex_);
  pidByBus_.erase(bus);
}

std::shared_ptr<const AtspiElement> AtspiAccessibility::application(int32_t pid, Timeout timeout) {
  std::optional<std::string> bus = busOf(pid, timeout);
  if (!bus) return nullptr;
  return AtspiElement::make(AtspiNode{*bus, "/org/a11y/atspi/accessible/root"}, pid, timeout);
}

AXElementRef AtspiAccessibility::applicationElement(int32_t pid) {
  return application(pid, AtspiElement::kDefaultTimeout);
}

AXAttributeResult AtspiAccessibility::copyAttributeValue(const AXElementRef& element, const std::string& attribute) {
  const AtspiElement* e = asAtspi(element);
  if (!e) return failure(AXError::illegalArgument);
  AXAttributeResult result = Reader(*bus_, *e).read(attribute);
  if (result.error == AXError::invalidElement && isApplication(*e)) forgetBus(e->node().bus);
  return result;
}

std::vector<AXAttributeResult> AtspiAccessibility::copyMultipleAttributeValues(
    const AXElementRef& element, const std::vector<std::string>& attributes) {
  std::vector<AXAttributeResult> results;
  results.reserve(attributes.size());
  for (const std::string& attribute : attributes) {
    results.push_back(copyAttributeValue(element, attribute));
    // An element that is gone or an application that does not answer stays so for the rest.
    const AXError error = results.back().error;
    if (error == AXError::invalidElement || error == AXError::cannotComplete || error == AXError::illegalArgument) {
      while (results.size() < attributes.size()) results.push_back(failure(error));
      break;
    }
  }
  return results;
}

AXElementList AtspiAccessibility::copyElements(const AXElementRef& element, const std::string& attribute,
                                               size_t maxCount) {
  const AtspiElement* e = asAtspi(element);
  if (!e) return failedList(AXError::illegalArgument);
  if (isApplication(*e) || (attribute != AXNames::kChildren && attribute != AXNames::kTabs)) {
    return Accessibility::copyElements(element, attribute, maxCount);
  }
  return Reader(*bus_, *e).list(attribute, maxCount);
}

AXError AtspiAccessibility::copyAttributeNames(const AXElementRef& element, std::vector<std::string>& names) {
  const AtspiElement* e = asAtspi(element);
  if (!e) return AXError::illegalArgument;
  if (isApplication(*e)) {
    names = {AXNames::kRole,     AXNames::kTitle,   AXNames::kChildren,           AXNames::kWindows,
             AXNames::kMainWindow, AXNames::kFocusedWindow, AXNames::kMenuBar,   AXNames::kManualAccessibility,
             AXNames::kEnhancedUserInterface};
    return AXError::success;
  }
  auto role = bus_->role(e->node(), e->timeout());
  if (!role.ok()) return role.error;
  names = {AXNames::kRole,     AXNames::kSubrole,  AXNames::kTitle,    AXNames::kDescription, AXNames::kIdentifier,
           AXNames::kChildren, kParent,            AXNames::kSelected, kFocused,              AXNames::kMinimized,
           AXNames::kPosition, AXNames::kSize};
  if (role.value == AtspiRoles::kPageTabList) names.push_back(AXNames::kTabs);
  return AXError::success;
}

AXError AtspiAccessibility::setAttributeValue(const AXElementRef& element, const std::string& attribute,
                                              const AXValue& value) {
  const AtspiElement* e = asAtspi(element);
  if (!e) return AXError::illegalArgument;
  const bool* flag = value.get<bool>();
  if (isApplication(*e)) {
    if (attribute != AXNames::kManualAccessibility && attribute != AXNames::kEnhancedUserInterface) {
      return AXError::attributeUnsupported;
    }
    return writeSwitch(*bus_, value, e->timeout());
  }
  if (attribute != AXNames::kSelected) return AXError::attributeUnsupported;
  if (!flag) return AXError::illegalArgument;
  if (!*flag) return AXError::success;
  return selectThroughParent(*bus_, *e);
}

AXError AtspiAccessibility::performAction(const AXElementRef& element, const std::string& action) {
  const AtspiElement* e = asAtspi(element);
  if (!e) return AXError::illegalArgument;
  if (action != AXNames::kPress || isApplication(*e)) return AXError::actionUnsupported;
  return press(*bus_, *e);
}

AXError AtspiAccessibility::setMessagingTimeout(const AXElementRef& element, float seconds) {
  const AtspiElement* e = asAtspi(element);
  if (!e || seconds < 0 || std::isnan(seconds)) return AXError::illegalArgument;
  e->setTimeout(timeoutOf(seconds));
  return AXError::success;
}

std::optional<int32_t> AtspiAccessibility::pid(const AXElementRef& element) {
  const AtspiElement* e = asAtspi(element);
  if (!e) return std::nullopt;
  return e->pid();
}

std::optional<uint32_t> AtspiAccessibility::windowNumber(const AXElementRef&) { return std::nullopt; }

std::pair<AXError, std::shared_ptr<AXObserver>> AtspiAccessibility::createObserver(int32_t, AXObserver::Callback) {
  return {AXError::notImplemented, nullptr};
}

AXError AtspiAccessibility::setAssistiveTechnology(const AXValue& value, Timeout timeout) {
  return writeSwitch(*bus_, value, timeout);
}

AXAttributeResult AtspiAccessibility::assistiveTechnology(Timeout timeout) { return readSwitch(*bus_, timeout); }

AXElementRef AtspiAccessibility::matchWindow(int32_t pid, const std::string& title, const std::optional<Rect>& frame,
                                             bool onlyWindow, Timeout timeout) {
  std::shared_ptr<const AtspiElement> app = application(pid, timeout);
  if (!app) return nullptr;
  Reader reader(*bus_, *app);
  auto windows = reader.windows();
  if (!windows.ok()) {
    if (windows.error == AXError::invalidElement) forgetBus(app->node().bus);
    return nullptr;
  }
  std::vector<AtspiNode> titled;
  for (const AtspiNode& node : windows.value) {
    auto o = bus_->object(node, timeout);
    if (o.ok() && !title.empty() && o.value.name == title) titled.push_back(node);
  }
  const auto make = [&](const AtspiNode& node) -> AXElementRef { return AtspiElement::make(node, pid, timeout); };
  if (titled.size() == 1) return make(titled.front());
  if (frame) {
    const std::vector<AtspiNode>& pool = titled.empty() ? windows.value : titled;
    std::optional<AtspiNode> best;
    double bestDistance = std::numeric_limits<double>::infinity();
    for (const AtspiNode& node : pool) {
      auto extents = bus_->extents(node, timeout);
      if (!extents.ok()) continue;
      const std::optional<double> d = distance(extents.value, *frame);
      if (d && *d < bestDistance) {
        bestDistance = *d;
        best = node;
      }
    }
    if (best) return make(*best);
  }
  if (onlyWindow && windows.value.size() == 1) return make(windows.value.front());
  return nullptr;
}

}  // namespace quorvel
