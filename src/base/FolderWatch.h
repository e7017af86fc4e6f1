#pragma once

#include <filesystem>
#include <functional>

#include "base/Subscription.h"

namespace quorvel {

// Tells of changes among the entries of a folder: an entry created, removed or renamed, a file
// written and closed, or an entry's attributes (its permissions) changed. The watch says only that
// something changed, not what: the caller looks again. Several changes close together may come as
// one call. Calls come on the watch's own thread, in no lock of the caller; a Subscription's cancel
// waits for a call under way on another thread. A folder that cannot be watched (missing, no
// inotify instance left) gives an inactive Subscription and a log line.
class FolderWatch {
 public:
  virtual ~FolderWatch() = default;
  virtual Subscription watch(const std::filesystem::path& folder, std::function<void()> changed) = 0;
};

}  // namespace quorvel
