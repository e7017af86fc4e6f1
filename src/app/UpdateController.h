#pragma once

#include <optional>
#include <string>

#include "base/Logger.h"

namespace quorvel {

// Software updates. On Linux the package manager updates the program, so this build has no update
// feed and no updater: start() says so in the "updates" log once, and the menus offer no update
// check.
//
// Threads: main queue only.
class UpdateController {
 public:
  UpdateController() = default;
  UpdateController(const UpdateController&) = delete;
  UpdateController& operator=(const UpdateController&) = delete;

  // Logs that there are no update checks; the updater stays absent for the run.
  void start();
  // Whether an updater runs (never in this build): decides the "Check for Updates…" menu item.
  bool hasUpdater() const { return false; }
  // The menu's check: nothing without an updater.
  void checkForUpdates() {}

 private:
  const Logger logger_{"updates"};
};

}  // namespace quorvel
