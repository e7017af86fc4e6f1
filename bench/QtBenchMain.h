#pragma once

#include <benchmark/benchmark.h>

#include <cstdlib>

namespace quorvel {

// The main of a benchmark that needs Qt: the offscreen platform unless another is asked for, one
// `Application` (QGuiApplication or QApplication) for the whole run.
template <class Application>
int runQtBenchmarks(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  Application application(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

}  // namespace quorvel
