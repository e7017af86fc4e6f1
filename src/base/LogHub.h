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
  // Writes `record` as the log's last line: whatever is written after it, from any thread, is
  // dropped (on standard error and at the sinks alike), so that a thread still running as the
  // process ends adds nothing below it. False, with nothing written, when a last line stands.
  bool writeLast(const LogRecord& record);
  // For tests: the log takes records again after its last line.
  void reopenForTesting();
  // A sink is called on the writing thread, outside the hub's lock, and never after its
  // subscription is cancelled. A sink must not log.
  Subscription addSink(Sink sink);
  // Silences standard error (tests that expect noisy failures keep their output readable).
  void setStandardErrorEnabled(bool enabled);

 private:
  LogHub();
  void writeStandardError(const LogRecord& record);  // under mutex_
  std::mutex mutex_;
  ObserverList<const LogRecord&> sinks_;
  bool stderrEnabled_ = true;
  bool closed_ = false;
  LogLevel stderrThreshold_ = LogLevel::notice;
};

}  // namespace quorvel
