// The simulated desktop's Accessibility elements: the element tree of each application and its
// windows, attribute reads and writes as the platform answers them, and the cost and injected
// failures of each call.
#include "platform/sim/SimWorld.h"

#include <algorithm>

#include "platform/sim/SimElement.h"
#include "platform/sim/SimObserver.h"

namespace quorvel {

namespace {

constexpr double kDefaultMessagingTimeout = 6.0;  // the platform's default, in seconds

}  // namespace

// --- Accessibility elements ------------------------------------------------------------------

SimNode* SimWorld::node(SimElementId id) {
  auto it = nodes.find(id);
  return it == nodes.end() ? nullptr : &it->second;
}

const SimNode* SimWorld::node(SimElementId id) const {
  auto it = nodes.find(id);
  return it == nodes.end() ? nullptr : &it->second;
}

SimElementId SimWorld::addNode(SimNode n) {
  n.id = static_cast<SimElementId>(nextNodeID++);
  const SimElementId id = n.id;
  nodes.emplace(id, std::move(n));
  return id;
}

SimElementId SimWorld::build(SimElementId parent, int32_t pid, const SimElementSpec& spec) {
  SimNode n;
  n.pid = pid;
  n.kind = SimNode::Kind::built;
  n.parent = parent;
  n.attributes = spec.attributes;
  if (spec.role) n.attributes["AXRole"] = *spec.role;
  if (spec.subrole) n.attributes["AXSubrole"] = *spec.subrole;
  if (spec.title) n.attributes["AXTitle"] = *spec.title;
  if (spec.description) n.attributes["AXDescription"] = *spec.description;
  if (spec.identifier) n.attributes["AXIdentifier"] = *spec.identifier;
  if (!spec.value.isEmpty()) n.attributes["AXValue"] = spec.value;
  if (spec.selected) n.attributes["AXSelected"] = *spec.selected;
  if (spec.frame) {
    n.attributes["AXPosition"] = Point{spec.frame->x, spec.frame->y};
    n.attributes["AXSize"] = Size{spec.frame->width, spec.frame->height};
  }
  n.childrenAreTabs = spec.childrenAreTabs;
  n.actions = spec.actions;
  n.hooks = spec.onSet;
  const SimElementId id = addNode(std::move(n));
  if (SimNode* p = node(parent)) p->children.push_back(id);
  for (const auto& child : spec.children) build(id, pid, child);
  return id;
}

void SimWorld::dropNode(SimElementId id) {
  SimNode* n = node(id);
  if (!n) return;
  const std::vector<SimElementId> children = n->children;
  for (SimElementId child : children) dropNode(child);
  n = node(id);
  if (SimNode* p = node(n->parent)) std::erase(p->children, id);
  nodes.erase(id);
}

AXElementRef SimWorld::ref(SimElementId id) const {
  const SimNode* n = node(id);
  return std::make_shared<SimElement>(id, n ? n->pid : 0);
}

SimElementId SimWorld::idOf(const AXElementRef& element) const {
  const auto* sim = dynamic_cast<const SimElement*>(element.get());
  return sim ? sim->id() : SimElementId::none;
}

namespace {

AXAttributeResult found(AXValue v) { return AXAttributeResult{AXError::success, std::move(v)}; }
AXAttributeResult missing(AXError e = AXError::attributeUnsupported) { return AXAttributeResult{e, {}}; }

AXAttributeResult stored(const SimNode& n, const std::string& attribute) {
  auto it = n.attributes.find(attribute);
  return it == n.attributes.end() ? missing() : found(it->second);
}

const char* const kApplicationAttributes[] = {"AXRole", "AXTitle", "AXWindows", "AXChildren", "AXFocusedWindow",
                                              "AXMainWindow", "AXFrontmost", "AXHidden", "AXMenuBar"};
const char* const kWindowAttributes[] = {"AXRole", "AXSubrole", "AXTitle", "AXMinimized", "AXPosition",
                                         "AXSize", "AXMain", "AXFocused", "AXChildren", "AXParent"};

}  // namespace

AXAttributeResult SimWorld::readAttribute(const SimNode& n, const std::string& attribute) const {
  auto elements = [&](const std::vector<SimElementId>& ids) {
    AXValue::Elements list;
    for (SimElementId id : ids) list.push_back(ref(id));
    return list;
  };
  switch (n.kind) {
    case SimNode::Kind::application: {
      const SimAppState* a = runningApp(n.pid);
      if (!a) return missing(AXError::invalidElement);
      auto listed = [&] {
        std::vector<SimElementId> ids;
        for (uint32_t number : stack) {
          const auto& w = windows.at(number);
          if (w.pid == n.pid && isListedByAX(w)) ids.push_back(w.element);
        }
        return ids;
      };
      if (attribute == "AXRole") return found("AXApplication");
      if (attribute == "AXTitle") return a->name ? found(*a->name) : stored(n, attribute);
      if (attribute == "AXWindows") return found(elements(listed()));
      if (attribute == "AXChildren") {
        auto ids = listed();
        ids.insert(ids.end(), n.children.begin(), n.children.end());
        return found(elements(ids));
      }
      if (attribute == "AXFocusedWindow" || attribute == "AXMainWindow") {
        const SimWindowState* w = a->focused ? window(*a->focused) : nullptr;
        if (!w || w->minimized || !isListedByAX(*w)) return missing(AXError::noValue);
        return found(ref(w->element));
      }
      if (attribute == "AXFrontmost") return found(front == n.pid);
      if (attribute == "AXHidden") return found(a->hidden);
      if (attribute == "AXMenuBar") {
        for (SimElementId child : n.children) {
          const SimNode* c = node(child);
          if (!c) continue;
          auto role = c->attributes.find("AXRole");
          if (role != c->attributes.end() && role->second.get<std::string>() &&
              *role->second.get<std::string>() == "AXMenuBar") {
            return found(ref(child));
          }
        }
        return missing(AXError::noValue);
      }
      return stored(n, attribute);
    }
    case SimNode::Kind::window: {
      const SimWindowState* w = window(n.window);
      if (!w) return missing(AXError::invalidElement);
      const SimAppState* a = runningApp(w->pid);
      if (attribute == "AXRole") return found("AXWindow");
      if (attribute == "AXSubrole") return w->subrole.empty() ? missing() : found(w->subrole);
      if (attribute == "AXTitle") return found(w->title.value_or(""));
      if (attribute == "AXMinimized") return found(w->minimized);
      if (attribute == "AXPosition") return found(Point{w->frame.x, w->frame.y});
      if (attribute == "AXSize") return found(Size{w->frame.width, w->frame.height});
      if (attribute == "AXMain") return found(a && a->focused == w->number);
      if (attribute == "AXFocused") return found(a && a->focused == w->number && front == w->pid);
      if (attribute == "AXChildren") return found(elements(n.children));
      if (attribute == "AXParent") return a ? found(ref(a->element)) : missing(AXError::noValue);
      return stored(n, attribute);
    }
    case SimNode::Kind::built:
      if (attribute == "AXChildren") return found(elements(n.children));
      if (attribute == "AXTabs" && n.childrenAreTabs) return found(elements(n.children));
      if (attribute == "AXParent") return node(n.parent) ? found(ref(n.parent)) : missing(AXError::noValue);
      return stored(n, attribute);
  }
  return missing();
}

std::vector<std::string> SimWorld::attributeNames(const SimNode& n) const {
  std::vector<std::string> names;
  if (n.kind == SimNode::Kind::application) names.assign(std::begin(kApplicationAttributes), std::end(kApplicationAttributes));
  if (n.kind == SimNode::Kind::window) names.assign(std::begin(kWindowAttributes), std::end(kWindowAttributes));
  if (n.kind == SimNode::Kind::built) {
    names.push_back("AXChildren");
    names.push_back("AXParent");
    if (n.childrenAreTabs) names.push_back("AXTabs");
  }
  for (const auto& [name, value] : n.attributes) {
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  }
  return names;
}

AXError SimWorld::writeAttribute(SimNode& n, const std::string& attribute, const AXValue& value, SimEffects& fx) {
  auto isOneOf = [&](std::initializer_list<const char*> list) {
    return std::any_of(list.begin(), list.end(), [&](const char* s) { return attribute == s; });
  };
  const SimElementId id = n.id;
  switch (n.kind) {
    case SimNode::Kind::application: {
      if (!runningApp(n.pid)) return AXError::invalidElement;
      if (attribute == "AXFrontmost") {
        const bool* on = value.get<bool>();
        if (!on) return AXError::illegalArgument;
        if (*on) activate(n.pid, false, fx);
        return AXError::success;
      }
      if (attribute == "AXHidden") {
        const bool* on = value.get<bool>();
        if (!on) return AXError::illegalArgument;
        *on ? hide(n.pid, fx) : unhide(n.pid, fx);
        return AXError::success;
      }
      if (isOneOf({"AXRole", "AXTitle", "AXWindows", "AXChildren", "AXFocusedWindow", "AXMainWindow", "AXMenuBar"})) {
        return AXError::attributeUnsupported;
      }
      n.attributes[attribute] = value;
      break;
    }
    case SimNode::Kind::window: {
      SimWindowState* w = window(n.window);
      if (!w) return AXError::invalidElement;
      if (attribute == "AXMinimized") {
        const bool* on = value.get<bool>();
        if (!on) return AXError::illegalArgument;
        minimize(w->number, *on, fx);
      } else if (attribute == "AXMain" || attribute == "AXFocused") {
        const bool* on = value.get<bool>();
        if (!on) return AXError::illegalArgument;
        if (*on && !w->minimized) setFocused(w->pid, w->number, fx);
      } else if (attribute == "AXPosition") {
        const Point* p = value.get<Point>();
        if (!p) return AXError::illegalArgument;
        w->frame.x = p->x;
        w->frame.y = p->y;
      } else if (attribute == "AXSize") {
        const Size* s = value.get<Size>();
        if (!s) return AXError::illegalArgument;
        w->frame.width = s->width;
        w->frame.height = s->height;
      } else if (isOneOf({"AXRole", "AXSubrole", "AXTitle", "AXChildren", "AXParent"})) {
        return AXError::attributeUnsupported;
      } else {
        n.attributes[attribute] = value;
      }
      break;
    }
    case SimNode::Kind::built:
      if (attribute == "AXChildren" || attribute == "AXParent" || (attribute == "AXTabs" && n.childrenAreTabs)) {
        return AXError::attributeUnsupported;
      }
      n.attributes[attribute] = value;
      break;
  }
  // The change above may have moved nodes; look the hook up by id.
  if (SimNode* again = node(id)) {
    auto hook = again->hooks.find(attribute);
    if (hook != again->hooks.end() && hook->second) {
      fx.add([h = hook->second, id, value] { h(id, value); });
    }
  }
  return AXError::success;
}

void SimWorld::notify(int32_t pid, std::vector<SimElementId> targets, SimElementId subject,
                      const std::string& notification, SimEffects& fx) {
  auto it = axObservers.find(pid);
  if (it == axObservers.end()) return;
  std::erase_if(it->second, [](const auto& weak) { return weak.expired(); });
  AXElementRef subjectRef = ref(subject);
  for (const auto& weak : it->second) {
    if (auto observer = weak.lock()) {
      fx.add([observer, targets, subjectRef, notification] { observer->deliver(targets, subjectRef, notification); });
    }
  }
}

// --- Accessibility calls ---------------------------------------------------------------------

AXError SimWorld::enterCall(const AXElementRef& element, SimNode*& n) {
  n = nullptr;
  const auto* sim = dynamic_cast<const SimElement*>(element.get());
  if (!sim) return AXError::illegalArgument;
  const int32_t pid = sim->pid();
  ++axCallCounts[pid];
  ++axCallsTotal;
  if (!trusted) return AXError::apiDisabled;
  SimNode* found = node(sim->id());
  if (const SimAppState* a = runningApp(pid)) {
    if (a->unresponsive) {
      const double timeout = found && found->messagingTimeout > 0 ? found->messagingTimeout : kDefaultMessagingTimeout;
      spend(pid, fromSeconds(timeout));
      return AXError::cannotComplete;
    }
    if (a->latency > Duration::zero()) spend(pid, a->latency);
  }
  if (!found) return AXError::invalidElement;
  n = found;
  return AXError::success;
}

std::optional<AXError> SimWorld::takeInjected(SimInjectedTable& table, const std::string& name) {
  auto it = table.find(name);
  if (it == table.end() || it->second.empty()) return std::nullopt;
  SimInjected& next = it->second.front();
  const AXError error = next.error;
  if (next.remaining > 0 && --next.remaining == 0) {
    it->second.pop_front();
    if (it->second.empty()) table.erase(it);
  }
  return error;
}

void SimWorld::spend(int32_t pid, Duration d) {
  axTimes[pid] += d;
  if (virtualClock) virtualClock->advance(d);
}

}  // namespace quorvel
