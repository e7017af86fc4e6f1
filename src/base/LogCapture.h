#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "base/LogRecord.h"
#include "base/Subscription.h"

namespace quorvel {

// Records every log line and trace written while it lives (from any thread).
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<LogRecord> records() const;
  // The full messages of plain log lines (not traces), optionally of one category only.
  std::vector<std::string> messages(const std::string& category = {}) const;
  bool contains(const std::string& message) const;
  size_t count(const std::string& message) const;
  // Names of trace events (Trace::event) emitted on `category`.
  std::vector<std::string> traceEvents(const std::string& category) const;
  void clear();

 private:
  mutable std::mutex mutex_;
  std::vector<LogRecord> records_;
  Subscription sink_;  // last: cancelled first, before the records go
};

}  // namespace quorvel
