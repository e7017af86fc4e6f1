#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>

#include "base/Clock.h"
#include "base/Executor.h"
#include "base/Lock.h"
#include "platform/AXElement.h"
#include "platform/AXNames.h"

namespace quorvel {

class Accessibility;
class AXFunnel;
class AXObserver;

// What one sync changes: processes to observe, observers to remove, failures to forget.
struct FocusObserverPlan {
  struct Changes {
    std::set<int32_t> install;
    std::set<int32_t> remove;
    std::set<int32_t> forget;
    bool operator==(const Changes&) const = default;
  };
  // install = (wanted − installed) − failed; remove = installed − wanted; forget = failed − wanted.
  static Changes make(const std::set<int32_t>& installed, const std::set<int32_t>& wanted,
                      const std::set<int32_t>& failed);
};

// Learns which window of an application takes the focus. It keeps one Accessibility observer per
// process that the registry names, listening for focused-window changes on a thread of its own
// ("net.tarmeq.quorvel.axobserver"), turns each change into a window number on the serial
// Accessibility queue and hands (window number, process id) to its sink there. Bursts of changes
// from one application collapse into one delivery carrying the newest window.
//
// Installing, removing and delivering run on the Accessibility queue; callbacks run on the observer
// thread; sync() may be called from any thread. One lock guards the tables; no Accessibility call
// and no sink call is made while it is held. Observers are released on the observer thread, so a
// callback that is running or queued there never outlives the context it reads. The last reference
// may go on any thread, the observer thread included (in a callback).
class FocusObserver : public std::enable_shared_from_this<FocusObserver> {
 public:
  // `noticedAt`: when the observer heard of the change (the runtime's clock), so that a delivery
  // that was on its way while a newer visit was credited can be told apart.
  using Sink = std::function<void(uint32_t windowNumber, int32_t pid, Instant noticedAt)>;

  static constexpr const char* kThreadLabel = "net.tarmeq.quorvel.axobserver";
  static constexpr const char* kNotification = AXNames::kFocusedWindowChanged;
  static constexpr float kMessagingTimeout = 0.5f;

  // The program creates one and hands it to the registry.
  static std::shared_ptr<FocusObserver> create(Runtime& runtime, Accessibility& accessibility, AXFunnel& funnel);
  ~FocusObserver();
  FocusObserver(const FocusObserver&) = delete;
  FocusObserver& operator=(const FocusObserver&) = delete;

  // Watches exactly the given processes from now on: starts the installs and removals this needs
  // on the Accessibility queue and returns at once. Does nothing while the process is not trusted.
  // A process whose install failed is not retried until a sync has left it out once.
  void sync(const std::set<int32_t>& wanted);
  void setSink(Sink sink);

  std::set<int32_t> installedPids() const;
  std::set<int32_t> failedPids() const;

 private:
  struct FocusContext {
    int32_t pid = 0;
    std::weak_ptr<FocusObserver> owner;
  };
  struct Installed {
    std::shared_ptr<AXObserver> observer;
    AXElementRef application;
    std::shared_ptr<FocusContext> context;
  };

  FocusObserver(Runtime& runtime, Accessibility& accessibility, AXFunnel& funnel);

  void apply(const FocusObserverPlan::Changes& changes);
  void install(int32_t pid);
  void remove(int32_t pid);
  void reportFailure(int32_t pid, const std::string& text);
  void noteFocus(int32_t pid, const AXElementRef& element);
  void deliver(int32_t pid);
  // Takes an observer off the observer thread's loop and releases it there.
  void retire(Installed entry);

  friend struct FocusObserverTasks;

  Accessibility& accessibility_;
  AXFunnel& funnel_;
  std::shared_ptr<Executor> runLoop_;
  const Clock& clock_;

  mutable Lock lock_;
  std::map<int32_t, Installed> installed_;
  std::set<int32_t> failed_;
  // The set the latest sync asked for. Install and removal jobs check it when they run, so jobs
  // planned by an older sync cannot undo what a newer one wants.
  std::set<int32_t> wanted_;
  struct PendingFocus {
    AXElementRef element;
    Instant noticedAt;
  };
  std::unordered_map<int32_t, PendingFocus> pendingFocus_;
  Sink sink_;
};

}  // namespace quorvel
