#include "platform/InotifyFolderWatch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <set>
#include <system_error>
#include <vector>

#include "base/Logger.h"
#include "base/ThreadName.h"

namespace quorvel {

namespace {

const Logger& log() {
  static const Logger logger("FolderWatch");
  return logger;
}

std::string errnoText(int error) { return std::error_code(error, std::generic_category()).message(); }

constexpr uint32_t watchedEvents =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE | IN_ATTRIB | IN_ONLYDIR;

}  // namespace

InotifyFolderWatch::InotifyFolderWatch() {
  inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (inotify_ < 0) {
    log().error("Changes of the settings folder cannot be followed: inotify is unavailable (%{public}s).",
                errnoText(errno));
    return;
  }
  stop_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (stop_ < 0) {
    ::close(inotify_);
    inotify_ = -1;
    return;
  }
  thread_ = std::thread([this] { run(); });
}

InotifyFolderWatch::~InotifyFolderWatch() {
  if (thread_.joinable()) {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t written = ::write(stop_, &one, sizeof one);
    thread_.join();
  }
  if (stop_ >= 0) ::close(stop_);
  if (inotify_ >= 0) ::close(inotify_);
}

Subscription InotifyFolderWatch::watch(const std::filesystem::path& folder, std::function<void()> changed) {
  if (inotify_ < 0) return Subscription();
  const int descriptor = ::inotify_add_watch(inotify_, folder.c_str(), watchedEvents);
  if (descriptor < 0) {
    log().error("Changes of the folder %{public}s cannot be followed (%{public}s).", folder.string(),
                errnoText(errno));
    return Subscription();
  }
  std::shared_ptr<ObserverList<>> observers;
  {
    // One folder watched twice gives the same descriptor: its observers share one list.
    std::lock_guard guard(mutex_);
    auto& slot = byDescriptor_[descriptor];
    if (!slot) slot = std::make_shared<ObserverList<>>();
    observers = slot;
  }
  return observers->add(std::move(changed));
}

void InotifyFolderWatch::run() {
  ThreadName::applyToCurrentThread("FolderWatch");
  // Room for many events at once; each holds a name of at most NAME_MAX bytes.
  alignas(struct inotify_event) char buffer[64 * 1024];
  for (;;) {
    pollfd fds[2] = {{inotify_, POLLIN, 0}, {stop_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      log().error("Following changes of folders stopped: waiting failed (%{public}s).", errnoText(errno));
      return;
    }
    if (fds[1].revents != 0) return;
    std::set<int> touched;
    for (;;) {
      const ssize_t n = ::read(inotify_, buffer, sizeof buffer);
      if (n <= 0) break;
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const struct inotify_event*>(buffer + at);
        touched.insert(event->wd);
        at += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);
      }
    }
    std::vector<std::shared_ptr<ObserverList<>>> lists;
    {
      std::lock_guard guard(mutex_);
      for (int descriptor : touched) {
        if (auto it = byDescriptor_.find(descriptor); it != byDescriptor_.end()) lists.push_back(it->second);
      }
    }
    for (const auto& list : lists) list->notify();
  }
}

}  // namespace quorvel
