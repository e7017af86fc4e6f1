#include "program/ProgramEnd.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <utility>
#include <vector>

#include "base/ThreadName.h"
#include "platform/SignalWatch.h"
#include "scene/render/RenderThreads.h"

namespace quorvel {

namespace {

// How often the watch looks at its clock while the end runs (it sleeps without a deadline).
constexpr std::chrono::milliseconds kWatchSlice{100};

std::string joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
  return text;
}

}  // namespace

ProgramEnd::ProgramEnd(SignalWatch* watched, Services services, Timing timing)
    : signals_(watched), services_(std::move(services)), timing_(timing) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0) {
    wakeRead_ = ends[0];
    wakeWrite_ = ends[1];
  }
  watch_ = std::thread([this] { watch(); });
}

ProgramEnd::~ProgramEnd() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wakeWatch();
  watch_.join();
  if (wakeRead_ >= 0) ::close(wakeRead_);
  if (wakeWrite_ >= 0) ::close(wakeWrite_);
}

void ProgramEnd::setSteps(Steps steps) {
  std::lock_guard lock(mutex_);
  steps_ = std::move(steps);
}

void ProgramEnd::watchDisplay(int fd) {
  {
    std::lock_guard lock(mutex_);
    displayFd_ = fd;
  }
  wakeWatch();
}

void ProgramEnd::arm() {
  {
    std::lock_guard lock(mutex_);
    if (deadline_) return;
    deadline_ = services_.clock.now() + timing_.limit;
  }
  wakeWatch();
}

void ProgramEnd::wakeWatch() {
  if (wakeWrite_ < 0) return;
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = ::write(wakeWrite_, &byte, 1);
}

bool ProgramEnd::run(int status) {
  status_ = status;
  arm();
  Steps steps;
  {
    std::lock_guard lock(mutex_);
    steps = steps_;
  }
  stage_ = Stage::saving;
  if (steps.save) steps.save();
  stage_ = Stage::waitingForRenderThreads;
  const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(timing_.renderWait);
  if (const std::vector<std::string> left = RenderThreads::endAll(wait); !left.empty()) {
    for (const std::string& name : left) {
      logger_.error("render thread %{public}s did not end within %.1f s: a frame that does not return (the GPU "
                    "stalls); Quorvel ends around it without taking its services down",
                    name, toSeconds(timing_.renderWait));
    }
    endAround(status, nullptr);
    return false;
  }
  stage_ = Stage::takingDown;
  if (steps.takeDown) steps.takeDown();
  {
    // What the steps reach goes once this returns: the watch must not save through them.
    std::lock_guard lock(mutex_);
    steps_ = {};
  }
  stage_ = Stage::down;
  return true;
}

void ProgramEnd::finish(int status) {
  {
    std::lock_guard word(lastWordMutex_);
    if (lastWordSaid_) return;
    lastWordSaid_ = true;
    logger_.last("Quorvel has ended (status %d)", status);
    // Nothing holds the process after its last line: what the exit handlers would destroy (the
    // shared GPU context, whose end waits for a device that may never finish) is left to it.
    services_.endProcess(status);
  }
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wakeWatch();
}

bool ProgramEnd::endAround(int status, const std::function<void()>& saveFirst) {
  std::lock_guard word(lastWordMutex_);
  if (lastWordSaid_) return false;
  lastWordSaid_ = true;
  if (saveFirst) saveFirst();
  logger_.last("Quorvel has ended (status %d)", status);
  services_.endProcess(status);
  return true;
}

void ProgramEnd::takeSignals() {
  if (!signals_) return;
  for (const SignalWatch::Caught& caught : signals_->take()) {
    bool first = false;
    {
      std::lock_guard lock(mutex_);
      first = !std::exchange(signalled_, true) && stage_ == Stage::running;
    }
    if (!first) {
      logger_.notice("%{public}s came while Quorvel was ending", SignalWatch::describe(caught));
      continue;
    }
    logger_.notice("Quorvel ends: %{public}s", SignalWatch::describe(caught));
    arm();
    if (services_.quitLoop) services_.quitLoop();
  }
}

void ProgramEnd::watch() {
  ThreadName::applyToCurrentThread("quorvel.end");
  for (;;) {
    // Without its wake-up pipe the watch looks at its state every slice.
    int timeout = wakeRead_ >= 0 ? -1 : static_cast<int>(kWatchSlice.count());
    std::function<void()> saveElsewhere;
    bool overdue = false;
    int display = -1;
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return;
      display = displayFd_;
      if (deadline_) {
        const Duration left = *deadline_ - services_.clock.now();
        overdue = left <= Duration::zero();
        const Duration slice = std::clamp<Duration>(left, Duration::zero(), kWatchSlice);
        timeout = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(slice).count());
        // The steps are the main thread's once it has begun them; before that, the watch saves.
        if (overdue && stage_ == Stage::running) saveElsewhere = steps_.saveElsewhere;
      }
    }
    if (overdue) {
      const char* where = "the main thread has not begun it";
      switch (stage_.load()) {
        case Stage::saving: where = "the main thread is saving the settings"; break;
        case Stage::waitingForRenderThreads: where = "the main thread is waiting for the render threads"; break;
        case Stage::takingDown: where = "the main thread is taking the services down"; break;
        case Stage::down: where = "the main thread has taken the services down"; break;
        case Stage::running: break;
      }
      const std::vector<std::string> drawing = RenderThreads::running();
      logger_.error("Quorvel's end did not finish within %.1f s (%{public}s%{public}s%{public}s); it ends around what "
                    "holds it up, without taking its services down",
                    toSeconds(timing_.limit), where, drawing.empty() ? "" : "; still in a frame: ",
                    joined(drawing));
      endAround(status_, saveElsewhere);
      return;
    }
    // The X connection is asked only whether its other end closed: its data is the toolkit's.
    pollfd fds[3] = {{wakeRead_, POLLIN, 0}, {signals_ ? signals_->fd() : -1, POLLIN, 0}, {display, POLLRDHUP, 0}};
    if (const int ready = ::poll(fds, 3, timeout); ready <= 0) {
      if (ready < 0 && errno != EINTR) return;
      continue;
    }
    if (fds[0].revents & POLLIN) {
      char drain[64];
      while (::read(wakeRead_, drain, sizeof drain) > 0) {
      }
    }
    if (fds[1].revents & POLLIN) takeSignals();
    if (fds[2].revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) {
      {
        std::lock_guard lock(mutex_);
        displayFd_ = -1;
      }
      logger_.notice("the connection to the X display has closed: Quorvel ends within %.1f s",
                     toSeconds(timing_.limit));
      if (stage_ == Stage::running) status_ = services_.displayLostStatus;
      arm();
    }
  }
}

}  // namespace quorvel
