#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "scene/render/DisplayLink.h"

namespace quorvel {

// Every render thread of the process, from its start until it has been joined, so that nothing a
// thread still uses is freed under it, however its renderer ends:
// - a thread counts as ended only once its frame function, and everything that function holds
//   (the card renderer, the surface), has been destroyed on the thread itself;
// - a renderer that cannot wait any longer for its thread (a frame that does not return) leaves it
//   here, still to be joined, and goes; the thread keeps what it uses until it ends;
// - the process's end asks every thread to stop and waits for each (endAll) before it takes down
//   anything a frame may reach (the services, the GPU, the X connections, the log), and a thread
//   that does not end even then is named, so that the process can end around it without running a
//   destructor it could race (the program does; see ProgramEnd).
// A process that exits without that end (a demo) gets a last wait from an exit handler.
// Any thread.
class RenderThreads {
 public:
  class Thread;

  // Starts a thread named `name` that runs `link` with `onUpdate` until the link is stopped, then
  // destroys `onUpdate` there.
  static std::shared_ptr<Thread> start(std::string name, std::shared_ptr<DisplayLink> link,
                                       std::function<void(const DisplayLinkUpdate&)> onUpdate);
  // Stops the thread's link and waits for the thread until `deadline`: true once it has ended and
  // been joined; false when it is still running, left here for endAll. A thread ended already
  // answers true at once.
  static bool end(const std::shared_ptr<Thread>& thread, std::chrono::steady_clock::time_point deadline);
  // Stops every link and waits, at most `timeout` in all, for each thread (but the calling one) to
  // end, joining those that do. Answers how the ones that did not are known: "net.tarmeq.quorvel.render
  // (thread 4242)"; empty when every thread ended.
  static std::vector<std::string> endAll(std::chrono::milliseconds timeout);
  // The threads that have not ended, named as endAll names them.
  static std::vector<std::string> running();

  // How long an exit without the process's end waits for the threads.
  static constexpr std::chrono::milliseconds kExitWait{3000};
};

}  // namespace quorvel
