#pragma once

#include <optional>
#include <string>

#include "base/Logger.h"

namespace quorvel {

// Software updates. On Linux the package manager updates the program, so this build has no update
// feed and no updater: start() says so in the "updates" log once (a release build in the words of
// a program its package manager updates), and the menus offer no update check.
//
// Threads: main queue only.
class UpdateController {
 public:
#ifdef NDEBUG
  static constexpr bool kDebugBuild = false;
#else
  static constexpr bool kDebugBuild = true;
#endif
  explicit UpdateController(bool debugBuild = kDebugBuild) : debugBuild_(debugBuild) {}
  UpdateController(const UpdateController&) = delete;
  UpdateController& operator=(const UpdateController&) = delete;

  // Logs that there are no update checks; the updater stays absent for the run.
  void start();
  // Whether an updater runs (never in this build): decides the "Check for Updates…" menu item.
  bool hasUpdater() const { return false; }
  // The menu's check: nothing without an updater.
  void checkForUpdates() {}

 private:
  const bool debugBuild_;
  const Logger logger_{"updates"};
};

}  // namespace quorvel
