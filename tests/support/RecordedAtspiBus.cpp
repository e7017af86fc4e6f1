#include "support/RecordedAtspiBus.h"

#include <deque>
#include <fstream>
#include <set>

#include "platform/atspi/AtspiRoles.h"

namespace quorvel {

namespace {

constexpr uint32_t kDocumentWeb = 95;
constexpr std::chrono::milliseconds kRecordTimeout{2000};

}  // namespace

nlohmann::json RecordedAtspiBus::record(AtspiBus& bus, const std::string& application, int32_t pid,
                                        size_t maxObjects) {
  nlohmann::json objects = nlohmann::json::object();
  std::deque<std::string> queue{kRoot};
  std::set<std::string> seen{kRoot};
  while (!queue.empty() && objects.size() < maxObjects) {
    const std::string path = queue.front();
    queue.pop_front();
    const AtspiNode node{application, path};
    nlohmann::json o;
    auto role = bus.role(node, kRecordTimeout);
    if (!role.ok()) continue;
    o["role"] = role.value;
    if (auto info = bus.object(node, kRecordTimeout); info.ok()) {
      o["name"] = info.value.name;
      o["description"] = info.value.description;
    }
    if (auto states = bus.states(node, kRecordTimeout); states.ok()) o["states"] = states.value;
    if (auto extents = bus.extents(node, kRecordTimeout); extents.ok()) {
      o["extents"] = {extents.value.x, extents.value.y, extents.value.width, extents.value.height};
    }
    if (auto actions = bus.actions(node, kRecordTimeout); actions.ok() && !actions.value.empty()) {
      o["actions"] = actions.value;
    }
    if (auto attributes = bus.attributes(node, kRecordTimeout); attributes.ok() && !attributes.value.empty()) {
      o["attributes"] = attributes.value;
    }
    // Whether it has the Selection interface: a selection of an index that does not exist
    // changes nothing and answers false where the interface exists.
    if (role.value == AtspiRoles::kPageTabList) {
      auto probe = bus.selectChild(node, 1 << 20, kRecordTimeout);
      o["selection"] = probe.ok();
    }
    if (role.value != kDocumentWeb) {
      if (auto children = bus.children(node, kRecordTimeout); children.ok()) {
        nlohmann::json list = nlohmann::json::array();
        for (const AtspiNode& child : children.value) {
          if (child.bus != application) continue;
          list.push_back(child.path);
          if (seen.insert(child.path).second) queue.push_back(child.path);
        }
        o["children"] = list;
      }
    }
    objects[path] = o;
  }
  // Objects queued but not recorded are left out of their parents' lists.
  for (auto& [path, o] : objects.items()) {
    if (!o.contains("children")) continue;
    nlohmann::json kept = nlohmann::json::array();
    for (const auto& child : o["children"]) {
      if (objects.contains(child.get<std::string>())) kept.push_back(child);
    }
    o["children"] = kept;
  }
  bool enabled = false;
  if (auto on = bus.isEnabled(kRecordTimeout); on.ok()) enabled = on.value;
  return nlohmann::json{{"application", application}, {"pid", pid}, {"enabled", enabled}, {"objects", objects}};
}

std::shared_ptr<RecordedAtspiBus> RecordedAtspiBus::load(const std::string& path, std::string& failure) {
  std::ifstream in(path);
  if (!in) {
    failure = "cannot open " + path;
    return nullptr;
  }
  nlohmann::json recording = nlohmann::json::parse(in, nullptr, false);
  if (recording.is_discarded() || !recording.is_object() || !recording.contains("objects")) {
    failure = path + " is not a recording";
    return nullptr;
  }
  return std::make_shared<RecordedAtspiBus>(recording);
}

RecordedAtspiBus::RecordedAtspiBus(const nlohmann::json& recording) {
  application_ = recording.value("application", std::string(":1.1"));
  pid_ = recording.value("pid", 0);
  enabled_ = recording.value("enabled", false);
  for (const auto& [path, o] : recording["objects"].items()) {
    Object object;
    object.role = o.value("role", 0u);
    object.name = o.value("name", std::string());
    object.description = o.value("description", std::string());
    object.states = o.value("states", uint64_t{0});
    if (o.contains("extents") && o["extents"].size() == 4) {
      const auto& e = o["extents"];
      object.extents = Rect{e[0].get<double>(), e[1].get<double>(), e[2].get<double>(), e[3].get<double>()};
    }
    object.actions = o.value("actions", std::vector<std::string>{});
    object.selection = o.value("selection", false);
    object.attributes = o.value("attributes", std::map<std::string, std::string>{});
    object.children = o.value("children", std::vector<std::string>{});
    objects_[path] = std::move(object);
  }
  for (auto& [path, object] : objects_) {
    for (const std::string& child : object.children) {
      if (auto it = objects_.find(child); it != objects_.end()) it->second.parent = path;
    }
  }
}

std::vector<std::string> RecordedAtspiBus::pathsWithRole(uint32_t role) const {
  std::vector<std::string> found;
  std::deque<std::string> queue{kRoot};
  std::set<std::string> seen{kRoot};
  while (!queue.empty()) {
    const std::string path = queue.front();
    queue.pop_front();
    auto it = objects_.find(path);
    if (it == objects_.end()) continue;
    if (it->second.role == role) found.push_back(path);
    for (const std::string& child : it->second.children) {
      if (seen.insert(child).second) queue.push_back(child);
    }
  }
  return found;
}

std::map<std::string, int> RecordedAtspiBus::calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

std::vector<AtspiBus::Timeout> RecordedAtspiBus::timeouts() const {
  std::lock_guard lock(mutex_);
  return timeouts_;
}

const RecordedAtspiBus::Object* RecordedAtspiBus::find(const AtspiNode& node, const char* method, AXError& error,
                                                       Timeout timeout) {
  ++calls_[method];
  timeouts_.push_back(timeout);
  if (hung_) {
    waited_ += timeout;
    error = AXError::cannotComplete;
    return nullptr;
  }
  if (gone_ || node.bus != application_) {
    error = AXError::invalidElement;
    return nullptr;
  }
  auto it = objects_.find(node.path);
  if (it == objects_.end()) {
    error = AXError::invalidElement;
    return nullptr;
  }
  if (it->second.silent) {
    // The call waits its whole time-out.
    waited_ += timeout;
    error = AXError::cannotComplete;
    return nullptr;
  }
  error = AXError::success;
  return &it->second;
}

AtspiAnswer<std::vector<AtspiNode>> RecordedAtspiBus::applications(Timeout) {
  std::lock_guard lock(mutex_);
  ++calls_["applications"];
  if (hung_) return {AXError::cannotComplete, {}};
  if (gone_) return {AXError::success, {}};
  return {AXError::success, {AtspiNode{application_, kRoot}}};
}

AtspiAnswer<int32_t> RecordedAtspiBus::processOf(const std::string& bus, Timeout) {
  std::lock_guard lock(mutex_);
  ++calls_["processOf"];
  if (gone_ || bus != application_) return {AXError::invalidElement, 0};
  return {AXError::success, pid_};
}

AtspiAnswer<AtspiObject> RecordedAtspiBus::object(const AtspiNode& node, Timeout timeout) {
  std::lock_guard lock(mutex_);
  AXError error;
  const Object* o = find(node, "object", error, timeout);
  if (!o) return {error, {}};
  return {AXError::success, AtspiObject{o->name, o->description, static_cast<int32_t>(o->children.size())}};
}

AtspiAnswer<std::vector<AtspiNode>> RecordedAtspiBus::children(const AtspiNode& node, Timeout timeout) {
  std::lock_guard lock(mutex_);
  AXError error;
  const Object* o = find(node, "children", error, timeout);
  if (!o) return {error, {}};
  std::vector<AtspiNode> out;
  for (const std::string& child : o->children) out.push_back(AtspiNode{application_, child});
  return {AXError::success, std::move(out)};
}

AtspiAnswer<AtspiNode> RecordedAtspiBus::parent(const AtspiNode& node, Timeout timeout) {
  std::lock_guard lock(mutex_);
  AXError error;
  const Object* o = find(node, "parent", error, timeout);
  if (!o) return {error, {}};
  if (o->parent.empty()) return {AXError::success, {}};
  return {AXError::success, AtspiNode{application_, o->parent}};
}

AtspiAnswer<int32_t> RecordedAtspiBus::indexInParent(const AtspiNode& node, Timeout timeout) {
  std::lock_guard lock(mutex_);
  AXError error;
  const Object* o = find(node, "indexInParent", error, timeout);
  if (!o) return {error, -1};
  auto parent = objects_.find(o->parent);
  if (parent == objects_.end()) return {AXError::success, -1};
  const auto& siblings = parent->second.children;
  for (size_t i = 0; i < siblings.size(); ++i) {
    if (siblings[i] == node.path) return {AXError::success, static_cast<int32_t>(i)};
  }
  return {AXError::success, -1};
}

AtspiAnswer<uint32_t> RecordedAtspiBus::role(const AtspiNode& node, Timeout timeout) {
  std::lock_guard lock(mutex_);
  AXError error;
  const Object* o = find(node, "role", error, timeout);
  if (!o) return {error, 0};
  return {AXError::success, o->role};
}

AtspiAnswer<uint64_t> RecordedAtspiBus::states(const AtspiNode& node, Timeout timeout) {
  std::lock_guard lock(mutex_);
  AXError error;
  const Object* o = find(node, "states", error, timeout);
  if (!o) return {error, 0};
  return {AXError::success, o->states};
}

AtspiAnswer<std::map<std::string, std::string>> RecordedAtspiBus::attributes(const AtspiNode& node, Timeout timeout) {
  std::lock_guard lock(mutex_);
  AXError error;
  const Object* o = find(node, "attributes", error, timeout);
  if (!o) return {error, {}};
  return {AXError::success, o->attributes};
}

AtspiAnswer<Rect> RecordedAtspiBus::extents(const AtspiNode& node, Timeout timeout) {
  std::lock_guard lock(mutex_);
  AXError error;
  const Object* o = find(node, "extents", error, timeout);
  if (!o) return {error, {}};
  if (!o->extents) return {AXError::attributeUnsupported, {}};
  return {AXError::success, *o->extents};
}

AtspiAnswer<std::vector<std::string>> RecordedAtspiBus::actions(const AtspiNode& node, Timeout timeout) {
  std::lock_guard lock(mutex_);
  AXError error;
  const Object* o = find(node, "actions", error, timeout);
  if (!o) return {error, {}};
  if (o->actions.empty()) return {AXError::attributeUnsupported, {}};
  return {AXError::success, o->actions};
}

void RecordedAtspiBus::selectTab(const std::string& path) {
  auto tab = objects_.find(path);
  if (tab == objects_.end()) return;
  auto strip = objects_.find(tab->second.parent);
  if (strip == objects_.end()) return;
  const uint64_t selected = uint64_t{1} << AtspiRoles::kStateSelected;
  for (const std::string& sibling : strip->second.children) {
    auto it = objects_.find(sibling);
    if (it == objects_.end() || it->second.role != AtspiRoles::kPageTab) continue;
    it->second.states = sibling == path ? it->second.states | selected : it->second.states & ~selected;
  }
}

AtspiAnswer<bool> RecordedAtspiBus::doAction(const AtspiNode& node, int32_t index, Timeout timeout) {
  std::lock_guard lock(mutex_);
  AXError error;
  const Object* o = find(node, "doAction", error, timeout);
  if (!o) return {error, false};
  if (index < 0 || static_cast<size_t>(index) >= o->actions.size()) return {AXError::success, false};
  if (o->role == AtspiRoles::kPageTab) selectTab(node.path);
  return {AXError::success, true};
}

AtspiAnswer<bool> RecordedAtspiBus::selectChild(const AtspiNode& container, int32_t index, Timeout timeout) {
  std::lock_guard lock(mutex_);
  AXError error;
  const Object* o = find(container, "selectChild", error, timeout);
  if (!o) return {error, false};
  if (!o->selection) return {AXError::attributeUnsupported, false};
  if (index < 0 || static_cast<size_t>(index) >= o->children.size()) return {AXError::success, false};
  selectTab(o->children[static_cast<size_t>(index)]);
  return {AXError::success, true};
}

AtspiAnswer<bool> RecordedAtspiBus::isEnabled(Timeout) {
  std::lock_guard lock(mutex_);
  ++calls_["isEnabled"];
  return {AXError::success, enabled_};
}

AXError RecordedAtspiBus::setEnabled(bool enabled, Timeout) {
  std::lock_guard lock(mutex_);
  ++calls_["setEnabled"];
  enabled_ = enabled;
  return AXError::success;
}

}  // namespace quorvel
