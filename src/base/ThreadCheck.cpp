#include "base/ThreadCheck.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/Logger.h"

namespace quorvel {

void ThreadCheck::require(const Executor& executor, const char* call) {
  if (executor.isCurrent()) return;
  const Executor* running = Executor::current();
  const std::string where = running ? running->label() : std::string("a thread outside every queue");
  Logger("Runtime").fault("%{public}s must run on %{public}s but ran on %{public}s", std::string(call),
                          executor.label(), where);
  std::fprintf(stderr, "%s must run on %s but ran on %s\n", call, executor.label().c_str(), where.c_str());
  std::abort();
}

}  // namespace quorvel
