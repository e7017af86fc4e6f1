#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "base/FolderWatch.h"
#include "base/ObserverList.h"

namespace quorvel {

// The folder watch on Linux's inotify: one instance and one thread ("FolderWatch") for every folder
// watched. The thread waits on the instance, reads every event that is ready, and calls the
// observers of each folder that had one, once per wake-up. A folder stays watched while the watch
// lives, even through being removed or moved away and made again: while it is missing, the nearest
// folder above it that exists is watched for it, and when it comes back it is watched again and its
// observers are called (what it holds may be new). A folder missing when first watched is waited for
// the same way. Destroying the watch stops and joins the thread; its subscriptions may outlive it.
class InotifyFolderWatch final : public FolderWatch {
 public:
  InotifyFolderWatch();
  // Stops (stop()).
  ~InotifyFolderWatch() override;
  // Ends the thread, waiting for the observers it is calling: no observer is called after. The
  // folders stay asked for (watch() still answers) but are no longer followed. Called on one
  // thread, not from an observer; safe to call more than once.
  void stop();
  InotifyFolderWatch(const InotifyFolderWatch&) = delete;
  InotifyFolderWatch& operator=(const InotifyFolderWatch&) = delete;

  Subscription watch(const std::filesystem::path& folder, std::function<void()> changed) override;

 private:
  // One folder asked for, with its inotify descriptor (-1 while it is missing).
  struct Folder {
    std::filesystem::path path;
    int descriptor = -1;
    std::shared_ptr<ObserverList<>> observers = std::make_shared<ObserverList<>>();
  };

  void run();
  // Watches the missing folders that exist again (adding them to `back`), and for the others the
  // nearest folder above them that exists. With mutex_ held.
  void rewatchLocked(std::vector<std::shared_ptr<ObserverList<>>>& back);

  int inotify_ = -1;
  int stop_ = -1;  // an eventfd that ends the thread
  std::mutex mutex_;
  std::vector<Folder> folders_;
  // Folders above missing ones, watched until they are back.
  std::map<int, std::filesystem::path> above_;
  std::thread thread_;
};

}  // namespace quorvel
