#include "base/Executor.h"

namespace quorvel {

namespace {
thread_local Executor* tlsCurrent = nullptr;
}

Executor* Executor::current() { return tlsCurrent; }

void Executor::runJob(Executor* self, Job& job) {
  Executor* previous = tlsCurrent;
  tlsCurrent = self;
  job();
  tlsCurrent = previous;
}

}  // namespace quorvel
