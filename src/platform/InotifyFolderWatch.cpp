#include "platform/InotifyFolderWatch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <set>
#include <system_error>
#include <vector>

#include "base/Logger.h"
#include "base/ThreadName.h"

namespace quorvel {

namespace {

const Logger& log() {
  // Never destroyed: threads still running as the process ends may log.
  static const Logger& logger = *new Logger("FolderWatch");
  return logger;
}

std::string errnoText(int error) { return std::error_code(error, std::generic_category()).message(); }

constexpr uint32_t watchedEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE | IN_ATTRIB |
                                   IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
// Above a missing folder only its coming back matters. Added to whatever the folder is watched for
// already, since one folder has one watch.
constexpr uint32_t aboveEvents = IN_CREATE | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_MASK_ADD;

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
  stop();
  if (stop_ >= 0) ::close(stop_);
  if (inotify_ >= 0) ::close(inotify_);
}

void InotifyFolderWatch::stop() {
  if (!thread_.joinable()) return;
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t written = ::write(stop_, &one, sizeof one);
  thread_.join();
}

Subscription InotifyFolderWatch::watch(const std::filesystem::path& folder, std::function<void()> changed) {
  if (inotify_ < 0) return Subscription();
  std::shared_ptr<ObserverList<>> observers;
  {
    std::lock_guard guard(mutex_);
    auto it = std::find_if(folders_.begin(), folders_.end(), [&](const Folder& f) { return f.path == folder; });
    if (it == folders_.end()) {
      Folder entry;
      entry.path = folder;
      entry.descriptor = ::inotify_add_watch(inotify_, folder.c_str(), watchedEvents);
      if (entry.descriptor < 0 && errno != ENOENT && errno != ENOTDIR) {
        log().error("Changes of the folder %{public}s cannot be followed (%{public}s).", folder.string(),
                    errnoText(errno));
        return Subscription();
      }
      folders_.push_back(entry);
      it = std::prev(folders_.end());
      if (entry.descriptor < 0) {
        std::vector<std::shared_ptr<ObserverList<>>> back;
        rewatchLocked(back);
      }
    }
    observers = it->observers;
  }
  return observers->add(std::move(changed));
}

void InotifyFolderWatch::rewatchLocked(std::vector<std::shared_ptr<ObserverList<>>>& back) {
  std::set<int> stillNeeded;
  for (auto& folder : folders_) {
    if (folder.descriptor >= 0) continue;
    // Watch the nearest folder above that exists, then look for the folder again: one made in
    // between is seen either way. When a folder nearer to it has appeared meanwhile, go again.
    for (int attempt = 0; attempt < 64; ++attempt) {
      folder.descriptor = ::inotify_add_watch(inotify_, folder.path.c_str(), watchedEvents);
      if (folder.descriptor >= 0) break;
      std::filesystem::path nearest = folder.path.parent_path();
      int descriptor = -1;
      while (!nearest.empty()) {
        descriptor = ::inotify_add_watch(inotify_, nearest.c_str(), aboveEvents);
        if (descriptor >= 0 || nearest == nearest.parent_path()) break;
        nearest = nearest.parent_path();
      }
      if (descriptor < 0) break;  // nothing above can be watched: no way to see it come back
      above_[descriptor] = nearest;
      stillNeeded.insert(descriptor);
      folder.descriptor = ::inotify_add_watch(inotify_, folder.path.c_str(), watchedEvents);
      if (folder.descriptor >= 0) break;
      const std::filesystem::path relative = folder.path.lexically_relative(nearest);
      std::error_code ec;
      if (relative.empty() || !std::filesystem::exists(nearest / *relative.begin(), ec)) break;
    }
    if (folder.descriptor >= 0) back.push_back(folder.observers);
  }
  // A folder above that no missing folder needs is let go, unless it is a watched folder itself.
  for (auto it = above_.begin(); it != above_.end();) {
    const bool watched = std::any_of(folders_.begin(), folders_.end(),
                                     [&](const Folder& f) { return f.descriptor == it->first; });
    if (stillNeeded.count(it->first) == 0 && !watched) {
      ::inotify_rm_watch(inotify_, it->first);
      it = above_.erase(it);
    } else {
      ++it;
    }
  }
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
    std::set<int> ended;
    for (;;) {
      const ssize_t n = ::read(inotify_, buffer, sizeof buffer);
      if (n <= 0) break;
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const struct inotify_event*>(buffer + at);
        touched.insert(event->wd);
        // The folder itself went (removed, or moved away so that its path no longer leads to it).
        if (event->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) ended.insert(event->wd);
        at += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);
      }
    }
    std::vector<std::shared_ptr<ObserverList<>>> lists;
    {
      std::lock_guard guard(mutex_);
      bool lookAgain = false;
      // Events were lost (the queue overflowed): every folder looks again.
      if (touched.count(-1)) {
        for (const auto& folder : folders_) lists.push_back(folder.observers);
        lookAgain = true;
      }
      for (int descriptor : touched) {
        if (above_.count(descriptor)) lookAgain = true;
        for (auto& folder : folders_) {
          if (folder.descriptor != descriptor) continue;
          lists.push_back(folder.observers);
          if (ended.count(descriptor)) {
            ::inotify_rm_watch(inotify_, descriptor);  // a moved folder would still be watched
            folder.descriptor = -1;
            lookAgain = true;
          }
        }
        if (ended.count(descriptor)) {
          if (above_.erase(descriptor)) ::inotify_rm_watch(inotify_, descriptor);
        }
      }
      if (lookAgain) rewatchLocked(lists);
    }
    std::sort(lists.begin(), lists.end());
    lists.erase(std::unique(lists.begin(), lists.end()), lists.end());
    for (const auto& list : lists) list->notify();
  }
}

}  // namespace quorvel
