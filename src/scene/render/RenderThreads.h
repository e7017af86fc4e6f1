#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <thread>

#include "scene/render/DisplayLink.h"

namespace quorvel {

// Every render thread of the process, so that all of them are ended before the process's static
// objects and its libraries go, on every way out. The overlay's shutdown ends its thread on an
// orderly quit, but a process can also end without it: the toolkit calls exit() from within its
// event loop when the X server goes away, with the overlay on screen and its thread mid-frame. So
// the first start on a thread makes a thread-local object there whose destruction (which exit()
// does before any static is destroyed) stops every link still registered and waits for each
// thread to leave its frame; exit handlers do the same for an exit from another thread. A thread
// that shutdown had to leave running (it did not end within its wait) stays registered until it
// ends, and the process's end waits for it too.
// Any thread.
class RenderThreads {
 public:
  // What a render thread signals once it has returned from its link's run().
  struct Exit {
    void started();  // on the render thread, first thing
    void finish();   // on the render thread, last thing
    // Waits until finish() or `deadline`; true when the thread finished.
    bool waitUntilDone(std::chrono::steady_clock::time_point deadline);

   private:
    friend class RenderThreads;
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    std::thread::id thread;
  };

  // Registers a thread about to run `link`.
  static void add(std::shared_ptr<DisplayLink> link, std::shared_ptr<Exit> exit);
  // Forgets a thread that has been joined.
  static void remove(const std::shared_ptr<Exit>& exit);
  // Stops every registered link and waits, at most `timeout` in all, until each thread (other than
  // the calling one) has ended; true when all did.
  static bool endAll(std::chrono::milliseconds timeout);
  // Registered threads that have not ended.
  static size_t running();

  // How long the process's end waits for a thread to leave its frame.
  static constexpr std::chrono::milliseconds kExitWait{3000};
};

}  // namespace quorvel
