#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "base/FolderWatch.h"
#include "base/ObserverList.h"

namespace quorvel {

// The folder watch on Linux's inotify: one instance and one thread ("FolderWatch") for every folder
// watched. The thread waits on the instance, reads every event that is ready, and calls the
// observers of each folder that had one, once per wake-up. A folder stays watched while the watch
// lives. Destroying the watch stops and joins the thread; its subscriptions may outlive it.
class InotifyFolderWatch final : public FolderWatch {
 public:
  InotifyFolderWatch();
  ~InotifyFolderWatch() override;
  InotifyFolderWatch(const InotifyFolderWatch&) = delete;
  InotifyFolderWatch& operator=(const InotifyFolderWatch&) = delete;

  Subscription watch(const std::filesystem::path& folder, std::function<void()> changed) override;

 private:
  void run();

  int inotify_ = -1;
  int stop_ = -1;  // an eventfd that ends the thread
  std::mutex mutex_;
  std::map<int, std::shared_ptr<ObserverList<>>> byDescriptor_;
  std::thread thread_;
};

}  // namespace quorvel
