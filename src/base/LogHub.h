#pragma once

#include <functional>
#include <mutex>
#include <vector>

#include "base/LogRecord.h"
#include "base/ObserverList.h"
#include "base/Subscription.h"

namespace quorvel {

// Where every logger and tracer writes. Records go to standard error (redacted; debug and info
// only when QUORVEL_LOG=debug) and to every installed sink, such as a test's LogCapture.
class LogHub {
 public:
  using Sink = std::function<void(const LogRecord&)>;
  static LogHub& shared();

  void write(const LogRecord& record);
  // A sink is called on the writing thread, outside the hub's lock, and never after its
  // subscription is cancelled. A sink must not log.
  Subscription addSink(Sink sink);
  // Silences standard error (tests that expect noisy failures keep their output readable).
  void setStandardErrorEnabled(bool enabled);

 private:
  LogHub();
  std::mutex mutex_;
  ObserverList<const LogRecord&> sinks_;
  bool stderrEnabled_ = true;
  LogLevel stderrThreshold_ = LogLevel::notice;
};

}  // namespace quorvel
