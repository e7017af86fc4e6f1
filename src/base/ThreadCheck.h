#pragma once

#include <initializer_list>

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
  // The same for a call whose contract allows several executors: returns when one is current.
  static void requireAny(std::initializer_list<const Executor*> executors, const char* call);
};

}  // namespace quorvel

#ifdef NDEBUG
#define QUORVEL_REQUIRE_EXECUTOR(executor, call) ((void)0)
#define QUORVEL_REQUIRE_ANY_EXECUTOR(call, ...) ((void)0)
#else
#define QUORVEL_REQUIRE_EXECUTOR(executor, call) ::quorvel::ThreadCheck::require((executor), (call))
#define QUORVEL_REQUIRE_ANY_EXECUTOR(call, ...) ::quorvel::ThreadCheck::requireAny({__VA_ARGS__}, (call))
#endif
