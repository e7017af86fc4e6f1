#include "scene/render/RenderThreads.h"

#include <sys/types.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <utility>

#include "base/ThreadName.h"

namespace quorvel {

class RenderThreads::Thread {
 public:
  Thread(std::string name, std::shared_ptr<DisplayLink> link) : name_(std::move(name)), link_(std::move(link)) {}

  // On the thread: runs the link, then lets go of the frame function before it counts as ended.
  void run(std::function<void(const DisplayLinkUpdate&)> onUpdate) {
    {
      std::lock_guard lock(mutex_);
      id_ = std::this_thread::get_id();
      tid_ = ::gettid();
    }
    ThreadName::applyToCurrentThread(name_);
    link_->run(onUpdate);
    onUpdate = nullptr;
    {
      std::lock_guard lock(mutex_);
      ended_ = true;
    }
    endedChanged_.notify_all();
  }

  void stop() { link_->stop(); }
  bool waitUntilEnded(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    return endedChanged_.wait_until(lock, deadline, [&] { return ended_; });
  }
  bool ended() {
    std::lock_guard lock(mutex_);
    return ended_;
  }
  bool isCurrent() {
    std::lock_guard lock(mutex_);
    return id_ == std::this_thread::get_id();
  }
  // Joins an ended thread, once whoever asks first (the thread has only its own exit left).
  void join() {
    std::thread thread;
    {
      std::lock_guard lock(mutex_);
      thread = std::move(thread_);
    }
    if (thread.joinable()) thread.join();
  }
  std::string describe() {
    std::lock_guard lock(mutex_);
    return name_ + " (thread " + std::to_string(tid_) + ")";
  }

  std::thread thread_;  // set once by start, under the registry's lock

 private:
  const std::string name_;
  const std::shared_ptr<DisplayLink> link_;
  std::mutex mutex_;
  std::condition_variable endedChanged_;
  std::thread::id id_;
  pid_t tid_ = 0;
  bool ended_ = false;
};

namespace {

struct Registry {
  std::mutex mutex;
  std::vector<std::shared_ptr<RenderThreads::Thread>> threads;
  bool exitHandler = false;
};

// Never destroyed: the exit handler uses it after every other static may have gone.
Registry& registry() {
  static Registry* const shared = new Registry;
  return *shared;
}

void forget(const std::shared_ptr<RenderThreads::Thread>& thread) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  std::erase(r.threads, thread);
}

void endAtExit() {
  // Nothing here may use the program's logger: its statics may be gone already. A thread still in
  // a frame would read what the exit is about to destroy: the process ends around it instead.
  if (!RenderThreads::endAll(RenderThreads::kExitWait).empty()) {
    std::fputs("quorvel: a render thread did not end in time; the process ends around it\n", stderr);
    std::fflush(stderr);
    ::_exit(EXIT_FAILURE);
  }
}

}  // namespace

std::shared_ptr<RenderThreads::Thread> RenderThreads::start(std::string name, std::shared_ptr<DisplayLink> link,
                                                            std::function<void(const DisplayLinkUpdate&)> onUpdate) {
  auto thread = std::make_shared<Thread>(std::move(name), std::move(link));
  Registry& r = registry();
  bool installHandler = false;
  std::vector<std::shared_ptr<Thread>> ended;  // threads their renderers left, which have ended since
  {
    std::lock_guard lock(r.mutex);
    std::erase_if(r.threads, [&](const std::shared_ptr<Thread>& t) {
      if (!t->ended()) return false;
      ended.push_back(t);
      return true;
    });
    // The thread reaches its record by a plain pointer: the registry keeps the record until the
    // thread has been joined, and the record's own reference would keep it past that.
    thread->thread_ = std::thread([self = thread.get(), onUpdate = std::move(onUpdate)]() mutable {
      self->run(std::move(onUpdate));
    });
    r.threads.push_back(thread);
    installHandler = !std::exchange(r.exitHandler, true);
  }
  for (const auto& t : ended) t->join();
  if (installHandler) std::atexit(endAtExit);
  return thread;
}

bool RenderThreads::end(const std::shared_ptr<Thread>& thread, std::chrono::steady_clock::time_point deadline) {
  if (!thread) return true;
  thread->stop();
  if (!thread->waitUntilEnded(deadline)) return false;
  thread->join();
  forget(thread);
  return true;
}

std::vector<std::string> RenderThreads::endAll(std::chrono::milliseconds timeout) {
  Registry& r = registry();
  std::vector<std::shared_ptr<Thread>> threads;
  {
    std::lock_guard lock(r.mutex);
    threads = r.threads;
  }
  for (const auto& thread : threads) thread->stop();
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::vector<std::string> left;
  for (const auto& thread : threads) {
    if (thread->isCurrent()) continue;  // the process ends from within a frame
    if (end(thread, deadline)) continue;
    left.push_back(thread->describe());
  }
  return left;
}

std::vector<std::string> RenderThreads::running() {
  Registry& r = registry();
  std::vector<std::shared_ptr<Thread>> threads;
  {
    std::lock_guard lock(r.mutex);
    threads = r.threads;
  }
  std::vector<std::string> names;
  for (const auto& thread : threads) {
    if (!thread->ended()) names.push_back(thread->describe());
  }
  return names;
}

}  // namespace quorvel
