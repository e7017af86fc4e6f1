#pragma once

#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "X11Session.h"
#include "base/LogHub.h"

namespace quorvel {

// A private X session for one benchmark, the program's log kept off the terminal; none (and the
// benchmark skipped with the reason) when Xvfb is missing or the session does not come up.
inline std::unique_ptr<X11Session> startBenchSession(benchmark::State& state,
                                                     X11Session::Options options = X11Session::Options{}) {
  if (!X11Session::xvfbInstalled()) {
    state.SkipWithError("Xvfb is not installed");
    return nullptr;
  }
  LogHub::shared().setStandardErrorEnabled(false);
  std::string failure;
  auto session = X11Session::start(failure, options);
  if (!session) state.SkipWithError(failure.c_str());
  return session;
}

}  // namespace quorvel
