#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "base/Clock.h"
#include "base/Logger.h"

namespace quorvel {

class SignalWatch;

// The program's end, one and the same whatever asks for it (a signal, Quit from the tray or a menu,
// the X server going away), in this order:
//   1. what must not be lost is saved (the settings), before anything waits;
//   2. every render thread is asked to stop and waited for, at most `renderWait`: one still in a
//      frame would read what the rest of the end destroys;
//   3. once each has ended, the services are taken down in order; when one has not (a GPU present
//      or submission that does not return), the log names it and the process ends around it at
//      once, without running a destructor it could race;
//   4. "Quorvel has ended (status N)" is the log's last line: nothing any thread logs comes after,
//      and the process ends with it, so that nothing after it (an exit handler waiting for the GPU)
//      can hold the process beyond the end's limit.
// A watch thread holds the whole end to `limit`, counted from the first ending signal, the X
// server's going away or the start of the end, whichever comes first. It reads the ending signals
// and watches the X connection itself, so that it hears of either while the main thread is held up
// (a frame that does not return holds the GPU queue, which the main thread may be waiting for).
// Past the limit it saves what another thread can, says in the log how far the end got and which
// render threads are still in a frame, writes the last line and ends the process. At rest it sleeps
// in poll() until a signal comes or the display goes.
//
// Main thread, but for the watch.
class ProgramEnd {
 public:
  struct Timing {
    Duration renderWait = std::chrono::seconds(3);
    Duration limit = std::chrono::seconds(6);
  };
  struct Services {
    // The watch's deadline is read from it.
    const Clock& clock;
    // Asks the event loop to end; called on the watch thread.
    std::function<void()> quitLoop;
    // Ends the process at once with the status (_exit in the program; it does not return there).
    std::function<void(int status)> endProcess;
    // The status the process ends with when the X server goes away (the toolkit's).
    int displayLostStatus = 1;
  };
  // What the end does; given once the services exist, on the main thread.
  struct Steps {
    // Everything that must not be lost (main thread).
    std::function<void()> save;
    // What of it any thread can save (the watch's, while the main thread is held up).
    std::function<void()> saveElsewhere;
    // The services, in order (main thread).
    std::function<void()> takeDown;
  };

  // Starts the watch over the signals `watched` catches (none: only the end's own limit).
  ProgramEnd(SignalWatch* watched, Services services, Timing timing);
  // Stops the watch.
  ~ProgramEnd();
  ProgramEnd(const ProgramEnd&) = delete;
  ProgramEnd& operator=(const ProgramEnd&) = delete;

  void setSteps(Steps steps);
  // Starts the limit too once the other end closes `fd`, the socket of a connection to the X server
  // that outlives the watch (the toolkit's): the server went away.
  void watchDisplay(int fd);
  // Steps 1 to 3, with the status the process ends with. True once the services are down; false
  // when the process was ended around a render thread (in the program, it does not return then).
  bool run(int status);
  // Step 4: the last line, then the process ends with `status` (in the program, it does not return).
  // The watch stands down.
  void finish(int status);

 private:
  enum class Stage { running, saving, waitingForRenderThreads, takingDown, down };

  void arm();
  void wakeWatch();
  void watch();
  void takeSignals();
  // The last line and the process's end, once, by whoever comes first.
  bool endAround(int status, const std::function<void()>& saveFirst);

  SignalWatch* signals_;
  Services services_;
  const Timing timing_;
  const Logger logger_{"Program"};
  int wakeRead_ = -1;
  int wakeWrite_ = -1;

  std::mutex mutex_;
  Steps steps_;
  std::optional<Instant> deadline_;
  bool stopping_ = false;
  bool signalled_ = false;
  int displayFd_ = -1;
  std::atomic<Stage> stage_{Stage::running};
  std::atomic<int> status_{0};

  // Held by whoever writes the last line for as long as it takes the process down.
  std::mutex lastWordMutex_;
  bool lastWordSaid_ = false;

  std::thread watch_;
};

}  // namespace quorvel
