#include "windows/FocusObserver.h"

#include <algorithm>
#include <iterator>
#include <mutex>
#include <optional>
#include <vector>

#include "ax/AXFunnel.h"
#include "base/Logger.h"
#include "base/Task.h"
#include "base/ThreadCheck.h"
#include "platform/Accessibility.h"

namespace quorvel {

namespace {

const Logger& focusLog() {
  // Never destroyed: threads still running as the process ends may log.
  static const Logger& logger = *new Logger("FocusObserver");
  return logger;
}

std::set<int32_t> difference(const std::set<int32_t>& a, const std::set<int32_t>& b) {
  std::set<int32_t> out;
  std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::inserter(out, out.end()));
  return out;
}

}  // namespace

FocusObserverPlan::Changes FocusObserverPlan::make(const std::set<int32_t>& installed,
                                                   const std::set<int32_t>& wanted,
                                                   const std::set<int32_t>& failed) {
  Changes changes;
  changes.install = difference(difference(wanted, installed), failed);
  changes.remove = difference(installed, wanted);
  changes.forget = difference(failed, wanted);
  return changes;
}

// The unstructured tasks of the observer. Each holds the observer weakly and does nothing once it
// is gone.
struct FocusObserverTasks {
  static Task<void> apply(std::weak_ptr<FocusObserver> weak, FocusObserverPlan::Changes changes) {
    if (auto self = weak.lock()) self->apply(changes);
    co_return;
  }
  static Task<void> deliver(std::weak_ptr<FocusObserver> weak, int32_t pid) {
    if (auto self = weak.lock()) self->deliver(pid);
    co_return;
  }
};

std::shared_ptr<FocusObserver> FocusObserver::create(Runtime& runtime, Accessibility& accessibility,
                                                     AXFunnel& funnel) {
  return std::shared_ptr<FocusObserver>(new FocusObserver(runtime, accessibility, funnel));
}

FocusObserver::FocusObserver(Runtime& runtime, Accessibility& accessibility, AXFunnel& funnel)
    : accessibility_(accessibility),
      funnel_(funnel),
      runLoop_(runtime.makeSerialQueue(kThreadLabel, QueueQos::utility)),
      clock_(runtime.clock()) {}

FocusObserver::~FocusObserver() {
  std::map<int32_t, Installed> installed;
  {
    std::lock_guard guard(lock_);
    installed.swap(installed_);
  }
  for (auto& [pid, entry] : installed) retire(std::move(entry));
}

void FocusObserver::setSink(Sink sink) {
  Sink previous;
  {
    std::lock_guard guard(lock_);
    previous = std::exchange(sink_, std::move(sink));
  }
}

std::set<int32_t> FocusObserver::installedPids() const {
  std::lock_guard guard(lock_);
  std::set<int32_t> pids;
  for (const auto& [pid, entry] : installed_) pids.insert(pid);
  return pids;
}

std::set<int32_t> FocusObserver::failedPids() const {
  std::lock_guard guard(lock_);
  return failed_;
}

void FocusObserver::sync(const std::set<int32_t>& wanted) {
  if (!runLoop_ || !accessibility_.isProcessTrusted()) return;
  FocusObserverPlan::Changes changes;
  {
    std::lock_guard guard(lock_);
    std::set<int32_t> installed;
    for (const auto& [pid, entry] : installed_) installed.insert(pid);
    changes = FocusObserverPlan::make(installed, wanted, failed_);
    for (int32_t pid : changes.forget) failed_.erase(pid);
    wanted_ = wanted;
  }
  if (changes.install.empty() && changes.remove.empty()) return;
  spawn(funnel_.queue(), FocusObserverTasks::apply(weak_from_this(), std::move(changes)));
}

void FocusObserver::apply(const FocusObserverPlan::Changes& changes) {
  QUORVEL_REQUIRE_EXECUTOR(funnel_.queue(), "FocusObserver::apply");
  for (int32_t pid : changes.remove) remove(pid);
  for (int32_t pid : changes.install) install(pid);
}

void FocusObserver::remove(int32_t pid) {
  std::optional<Installed> entry;
  PendingFocus pending;  // released after the lock
  {
    std::lock_guard guard(lock_);
    // A sync made after this removal was planned wants the process again: keep its observer.
    if (wanted_.contains(pid)) return;
    if (auto it = pendingFocus_.find(pid); it != pendingFocus_.end()) {
      pending = std::move(it->second);
      pendingFocus_.erase(it);
    }
    if (auto it = installed_.find(pid); it != installed_.end()) {
      entry = std::move(it->second);
      installed_.erase(it);
    }
  }
  if (!entry) return;
  entry->observer->removeNotification(entry->application, kNotification);
  retire(std::move(*entry));
}

void FocusObserver::retire(Installed entry) {
  if (!runLoop_) return;
  // Off the loop at once: the platform's thread posts the observer's callbacks to the loop, and the
  // loop goes with this object (a release posted to a loop that has stopped never runs).
  entry.observer->unschedule();
  auto release = [entry = std::move(entry)]() mutable {
    entry.observer.reset();
    entry.application.reset();
    entry.context.reset();
  };
  // Already on the observer thread (the last reference to this observer went in one of its
  // callbacks, and the queue goes with it): the only callback running is that one, which keeps its
  // own context, and a job posted now would be dropped with the queue. Release it here.
  if (runLoop_->isCurrent()) {
    release();
    return;
  }
  // The observer thread is serial: a callback running there now finishes before this job, and the
  // observer is off its loop, so no further callback starts: the context outlives every reader.
  runLoop_->post(std::move(release));
}

void FocusObserver::install(int32_t pid) {
  {
    // A sync made before an earlier install job ran may have planned the same install again, and
    // a sync made since may no longer want the process.
    std::lock_guard guard(lock_);
    if (installed_.contains(pid) || failed_.contains(pid) || !wanted_.contains(pid)) return;
  }
  AXElementRef application = accessibility_.applicationElement(pid);
  if (!application) {
    reportFailure(pid, "would not give us an observer (" + std::to_string(axErrorCode(AXError::failure)) + ")");
    return;
  }
  accessibility_.setMessagingTimeout(application, kMessagingTimeout);

  auto context = std::make_shared<FocusContext>(FocusContext{pid, weak_from_this()});
  // The callback keeps the context alive for as long as the observer can call it.
  auto callback = [context](const AXElementRef& element, const std::string&, void* reference) {
    if (!reference || reference != context.get()) return;
    if (auto owner = context->owner.lock()) owner->noteFocus(context->pid, element);
  };
  auto [error, observer] = accessibility_.createObserver(pid, std::move(callback));
  if (error != AXError::success || !observer) {
    const AXError reported = error == AXError::success ? AXError::failure : error;
    reportFailure(pid, "would not give us an observer (" + std::to_string(axErrorCode(reported)) + ")");
    return;
  }
  const AXError added = observer->addNotification(application, kNotification, context.get());
  if (added != AXError::success) {
    reportFailure(pid, "refused the focus notification (" + std::to_string(axErrorCode(added)) + ")");
    return;
  }
  if (runLoop_) observer->schedule(*runLoop_);
  std::lock_guard guard(lock_);
  installed_[pid] = Installed{std::move(observer), std::move(application), std::move(context)};
}

void FocusObserver::reportFailure(int32_t pid, const std::string& text) {
  bool first = false;
  {
    std::lock_guard guard(lock_);
    first = failed_.insert(pid).second;
  }
  if (first) focusLog().notice("pid %d %{public}s, so it keeps the crediting it always had", pid, text);
}

void FocusObserver::noteFocus(int32_t pid, const AXElementRef& element) {
  QUORVEL_REQUIRE_EXECUTOR(*runLoop_, "FocusObserver::noteFocus");
  PendingFocus previous;
  bool deliveryUnderway = false;
  {
    std::lock_guard guard(lock_);
    PendingFocus focus{element, clock_.now()};
    auto [it, inserted] = pendingFocus_.try_emplace(pid, focus);
    if (!inserted) {
      previous = std::exchange(it->second, std::move(focus));
      deliveryUnderway = true;
    }
  }
  if (deliveryUnderway) return;  // the delivery on its way takes the newest element
  spawn(funnel_.queue(), FocusObserverTasks::deliver(weak_from_this(), pid));
}

void FocusObserver::deliver(int32_t pid) {
  QUORVEL_REQUIRE_EXECUTOR(funnel_.queue(), "FocusObserver::deliver");
  PendingFocus focus;
  {
    std::lock_guard guard(lock_);
    auto it = pendingFocus_.find(pid);
    if (it == pendingFocus_.end()) return;
    focus = std::move(it->second);
    pendingFocus_.erase(it);
  }
  const AXElementRef& element = focus.element;
  if (!element) return;
  const std::optional<uint32_t> window = accessibility_.windowNumber(element);
  if (!window || *window == 0) return;
  Sink sink;
  {
    std::lock_guard guard(lock_);
    sink = sink_;
  }
  if (sink) sink(*window, pid, focus.noticedAt);
}

}  // namespace quorvel
