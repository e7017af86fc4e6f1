#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "base/Subscription.h"

namespace quorvel {

// The observers of one kind of event, in the order they were added. add() hands back a
// Subscription; notify() calls every observer registered now, on the calling thread, outside every
// lock of the list, so an observer may add or cancel observers (itself included) or notify again.
// An observer cancelled while a notification is under way is not called after its cancel returns.
// A snapshot() keeps the observers of one moment for a notification delivered later (after a hop
// to another queue): those cancelled by then are skipped. Every method is safe from any thread; the
// list may go before its subscriptions.
template <class... Args>
class ObserverList {
 public:
  using Observer = std::function<void(Args...)>;

 private:
  // One registration: its observer, whether it is still wanted, and the threads calling it now.
  struct Slot {
    explicit Slot(Observer fn) : observer(std::move(fn)) {}
    const Observer observer;
    std::mutex mutex;
    std::condition_variable idle;
    bool live = true;
    std::vector<std::thread::id> callers;

    void call(Args... args) {
      const std::thread::id self = std::this_thread::get_id();
      {
        std::lock_guard lock(mutex);
        if (!live) return;
        callers.push_back(self);
      }
      observer(args...);
      std::lock_guard lock(mutex);
      callers.erase(std::find(callers.begin(), callers.end(), self));
      idle.notify_all();
    }
    // Marks the slot gone, then waits for the calls other threads are making.
    void retire() {
      const std::thread::id self = std::this_thread::get_id();
      std::unique_lock lock(mutex);
      live = false;
      idle.wait(lock, [&] { return std::all_of(callers.begin(), callers.end(), [&](auto id) { return id == self; }); });
    }
  };
  struct Shared {
    std::mutex mutex;
    std::vector<std::shared_ptr<Slot>> entries;
  };

 public:
  class Snapshot {
   public:
    void notify(Args... args) const {
      for (const auto& slot : entries_) slot->call(args...);
    }
    bool empty() const { return entries_.empty(); }

   private:
    friend class ObserverList;
    std::vector<std::shared_ptr<Slot>> entries_;
  };

  ObserverList() = default;
  ObserverList(const ObserverList&) = delete;
  ObserverList& operator=(const ObserverList&) = delete;

  Subscription add(Observer observer) {
    auto slot = std::make_shared<Slot>(std::move(observer));
    const std::shared_ptr<Shared>& shared = this->shared();
    {
      std::lock_guard lock(shared->mutex);
      shared->entries.push_back(slot);
    }
    std::weak_ptr<Shared> weakShared = shared;
    std::weak_ptr<Slot> weakSlot = slot;
    return Subscription([weakShared, weakSlot] {
      auto slot = weakSlot.lock();
      if (!slot) return;
      slot->retire();
      std::shared_ptr<Slot> released;  // the observer is released outside the list's lock
      if (auto shared = weakShared.lock()) {
        std::lock_guard lock(shared->mutex);
        auto it = std::find(shared->entries.begin(), shared->entries.end(), slot);
        if (it != shared->entries.end()) {
          released = std::move(*it);
          shared->entries.erase(it);
        }
      }
    });
  }

  Snapshot snapshot() const {
    Snapshot snapshot;
    const std::shared_ptr<Shared>& shared = this->shared();
    std::lock_guard lock(shared->mutex);
    snapshot.entries_ = shared->entries;
    return snapshot;
  }
  void notify(Args... args) const { snapshot().notify(args...); }
  bool empty() const { return size() == 0; }
  size_t size() const {
    const std::shared_ptr<Shared>& shared = this->shared();
    std::lock_guard lock(shared->mutex);
    return shared->entries.size();
  }

 private:
  // Made on first use: building a list (and its owner) allocates nothing.
  const std::shared_ptr<Shared>& shared() const {
    std::call_once(made_, [this] { shared_ = std::make_shared<Shared>(); });
    return shared_;
  }

  mutable std::once_flag made_;
  mutable std::shared_ptr<Shared> shared_;
};

}  // namespace quorvel
