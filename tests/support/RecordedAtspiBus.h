#pragma once

// Element trees of real applications on the accessibility bus, recorded to JSON files and played
// back as a bus. The integration tests record the trees of the browsers they start; the fixture
// tests play the recordings back, with presses and selections changing the played tree as the
// browser did (the pressed tab becomes the one selected tab of its strip).
//
// File format (one object):
//   "application": the recorded application's bus name; "pid": its process; "enabled": the
//   session's assistive technology switch; "objects": one entry per recorded object, keyed by
//   path: "role", "name", "description", "states" (the 64-bit state mask), "extents" ([x, y, w, h],
//   absent without the Component interface), "actions" (names), "selection" (whether it has the
//   Selection interface), "attributes", "children" (paths, in order; absent below the recorded
//   depth: such objects answer an empty list).

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/atspi/AtspiBus.h"

namespace quorvel {

class RecordedAtspiBus final : public AtspiBus {
 public:
  struct Object {
    uint32_t role = 0;
    std::string name;
    std::string description;
    uint64_t states = 0;
    std::optional<Rect> extents;
    std::vector<std::string> actions;
    bool selection = false;
    std::map<std::string, std::string> attributes;
    std::vector<std::string> children;
    std::string parent;
    bool silent = false;  // never answers: every call on it waits its whole time-out
  };

  static constexpr const char* kRoot = "/org/a11y/atspi/accessible/root";

  // Records the application `bus` (process `pid`): its objects breadth-first, at most `maxObjects`,
  // not descending into web documents (their pages are not part of any window's chrome).
  static nlohmann::json record(AtspiBus& bus, const std::string& application, int32_t pid, size_t maxObjects = 4000);
  static std::shared_ptr<RecordedAtspiBus> load(const std::string& path, std::string& failure);
  explicit RecordedAtspiBus(const nlohmann::json& recording);

  const std::string& application() const { return application_; }
  int32_t pid() const { return pid_; }
  // The recorded objects (for tests that edit the tree before playing it).
  std::map<std::string, Object>& objects() { return objects_; }
  // Paths of objects with this role, in breadth-first order from the application.
  std::vector<std::string> pathsWithRole(uint32_t role) const;
  // Calls made so far, by method name (to count round trips and see presses).
  std::map<std::string, int> calls() const;
  // The time-outs of the calls made on the application's objects, in order.
  std::vector<Timeout> timeouts() const;
  // How long the calls that timed out waited, in all.
  Timeout waited() const {
    std::lock_guard lock(mutex_);
    return waited_;
  }
  // The application stops answering: every call on its objects times out.
  void hang(bool hung) { hung_ = hung; }
  // The application quits: every call on its objects says it is gone.
  void quit() { gone_ = true; }

  AtspiAnswer<std::vector<AtspiNode>> applications(Timeout timeout) override;
  AtspiAnswer<int32_t> processOf(const std::string& bus, Timeout timeout) override;
  AtspiAnswer<AtspiObject> object(const AtspiNode& node, Timeout timeout) override;
  AtspiAnswer<std::vector<AtspiNode>> children(const AtspiNode& node, Timeout timeout) override;
  AtspiAnswer<AtspiNode> parent(const AtspiNode& node, Timeout timeout) override;
  AtspiAnswer<int32_t> indexInParent(const AtspiNode& node, Timeout timeout) override;
  AtspiAnswer<uint32_t> role(const AtspiNode& node, Timeout timeout) override;
  AtspiAnswer<uint64_t> states(const AtspiNode& node, Timeout timeout) override;
  AtspiAnswer<std::map<std::string, std::string>> attributes(const AtspiNode& node, Timeout timeout) override;
  AtspiAnswer<Rect> extents(const AtspiNode& node, Timeout timeout) override;
  AtspiAnswer<std::vector<std::string>> actions(const AtspiNode& node, Timeout timeout) override;
  AtspiAnswer<bool> doAction(const AtspiNode& node, int32_t index, Timeout timeout) override;
  AtspiAnswer<bool> selectChild(const AtspiNode& container, int32_t index, Timeout timeout) override;
  AtspiAnswer<bool> isEnabled(Timeout timeout) override;
  AXError setEnabled(bool enabled, Timeout timeout) override;

 private:
  // The object a call is made on, or why there is none (counts the call).
  const Object* find(const AtspiNode& node, const char* method, AXError& error, Timeout timeout);
  void selectTab(const std::string& path);

  mutable std::mutex mutex_;
  std::string application_;
  int32_t pid_ = 0;
  bool enabled_ = false;
  bool hung_ = false;
  bool gone_ = false;
  std::map<std::string, Object> objects_;
  std::map<std::string, int> calls_;
  std::vector<Timeout> timeouts_;
  Timeout waited_{0};
};

}  // namespace quorvel
