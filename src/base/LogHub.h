#pragma once

#include <functional>
#include <mutex>
#include <vector>

#include "base/LogRecord.h"

namespace quorvel {

// Where every logger and signposter writes. Records go to standard error (redacted; debug and info
// only when QUORVEL_LOG=debug) and to every installed sink, such as a test's LogCapture.
class LogHub {
 public:
  using Sink = std::function<void(const LogRecord&)>;
  static LogHub& shared();

  void write(const LogRecord& record);
  uint64_t addSink(Sink sink);
  void removeSink(uint64_t id);
  // Silences standard error (tests that expect noisy failures keep their output readable).
  void setStandardErrorEnabled(bool enabled);

 private:
  LogHub();
  std::mutex mutex_;
  std::vector<std::pair<uint64_t, Sink>> sinks_;
  uint64_t nextId_ = 1;
  bool stderrEnabled_ = true;
  LogLevel stderrThreshold_ = LogLevel::notice;
};

}  // namespace quorvel
