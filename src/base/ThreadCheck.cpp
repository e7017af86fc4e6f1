#include "base/ThreadCheck.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/Logger.h"

namespace quorvel {

namespace {

[[noreturn]] void stop(const char* call, const std::string& wanted) {
  const Executor* running = Executor::current();
  const std::string where = running ? running->label() : std::string("a thread outside every queue");
  Logger("Runtime").fault("%{public}s must run on %{public}s but ran on %{public}s", std::string(call), wanted,
                          where);
  std::fprintf(stderr, "%s must run on %s but ran on %s\n", call, wanted.c_str(), where.c_str());
  std::abort();
}

}  // namespace

void ThreadCheck::require(const Executor& executor, const char* call) {
  if (!executor.isCurrent()) stop(call, executor.label());
}

void ThreadCheck::requireAny(std::initializer_list<const Executor*> executors, const char* call) {
  std::string wanted;
  for (const Executor* executor : executors) {
    if (executor->isCurrent()) return;
    wanted += (wanted.empty() ? "" : " or ") + executor->label();
  }
  stop(call, wanted);
}

}  // namespace quorvel
