#include "scene/render/RenderThreads.h"

#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

namespace quorvel {

namespace {

struct Entry {
  std::weak_ptr<DisplayLink> link;  // the thread holds it while it runs; nothing here keeps it longer
  std::shared_ptr<RenderThreads::Exit> exit;
};

struct Registry {
  std::mutex mutex;
  std::vector<Entry> threads;
  int handlers = 0;
};

// Never destroyed: the exit handler uses it after every other static may have gone.
Registry& registry() {
  static Registry* const shared = new Registry;
  return *shared;
}

// Each start installs one more handler, up to this many (renderers are made per screen and
// remade only when screens change).
constexpr int kMaxHandlers = 32;

void endAtExit() {
  // Nothing here may use the program's logger: its statics may be gone already.
  if (!RenderThreads::endAll(RenderThreads::kExitWait)) {
    std::fputs("quorvel: a render thread did not end in time; the process ends around it\n", stderr);
  }
}

// exit() destroys the calling thread's thread-local objects before any static one: on the thread
// that starts renderers (the main thread, which is also the one the toolkit exits from), this ends
// the render threads before anything they read is destroyed.
struct EndAtThreadExit {
  ~EndAtThreadExit() { endAtExit(); }
};

}  // namespace

void RenderThreads::Exit::started() {
  std::lock_guard lock(mutex);
  thread = std::this_thread::get_id();
}

void RenderThreads::Exit::finish() {
  {
    std::lock_guard lock(mutex);
    done = true;
  }
  ended.notify_all();
}

bool RenderThreads::Exit::waitUntilDone(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock lock(mutex);
  return ended.wait_until(lock, deadline, [&] { return done; });
}

void RenderThreads::add(std::shared_ptr<DisplayLink> link, std::shared_ptr<Exit> exit) {
  Registry& r = registry();
  bool install = false;
  {
    std::lock_guard lock(r.mutex);
    std::erase_if(r.threads, [](const Entry& e) {
      std::lock_guard done(e.exit->mutex);
      return e.exit->done;
    });
    r.threads.push_back({std::move(link), std::move(exit)});
    if (r.handlers < kMaxHandlers) {
      ++r.handlers;
      install = true;
    }
  }
  // The thread-local end comes first; the handlers cover an exit() from another thread.
  thread_local EndAtThreadExit end;
  (void)end;
  if (install) std::atexit(endAtExit);
}

void RenderThreads::remove(const std::shared_ptr<Exit>& exit) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  std::erase_if(r.threads, [&](const Entry& e) { return e.exit == exit; });
}

bool RenderThreads::endAll(std::chrono::milliseconds timeout) {
  Registry& r = registry();
  std::vector<Entry> threads;
  {
    std::lock_guard lock(r.mutex);
    threads = r.threads;
  }
  for (const Entry& e : threads) {
    if (std::shared_ptr<DisplayLink> link = e.link.lock()) link->stop();
  }
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  bool all = true;
  for (const Entry& e : threads) {
    {
      std::lock_guard lock(e.exit->mutex);
      if (e.exit->thread == std::this_thread::get_id()) continue;  // the process ends from a frame
    }
    all = e.exit->waitUntilDone(deadline) && all;
  }
  return all;
}

size_t RenderThreads::running() {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  size_t count = 0;
  for (const Entry& e : r.threads) {
    std::lock_guard done(e.exit->mutex);
    count += !e.exit->done;
  }
  return count;
}

}  // namespace quorvel
