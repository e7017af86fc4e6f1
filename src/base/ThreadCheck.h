#pragma once

#include "base/Executor.h"

namespace quorvel {

// The thread rule of a contract, checked. An entry point whose header says it runs on one executor
// (the main queue, the Accessibility queue, an observer thread) states so with
// QUORVEL_REQUIRE_EXECUTOR; debug builds stop the process with a fault naming the call when it runs
// anywhere else, release builds compile the check away.
class ThreadCheck {
 public:
  // Returns when `executor` is current; otherwise logs the fault and aborts.
  static void require(const Executor& executor, const char* call);
};

}  // namespace quorvel

#ifdef NDEBUG
#define QUORVEL_REQUIRE_EXECUTOR(executor, call) ((void)0)
#else
#define QUORVEL_REQUIRE_EXECUTOR(executor, call) ::quorvel::ThreadCheck::require((executor), (call))
#endif
