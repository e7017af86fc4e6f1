#pragma once

#include <string>

#include "base/Logger.h"

namespace quorvel {

// One line of the log, as sinks receive it. Traces arrive as records too, with `trace` set.
struct LogRecord {
  enum class Trace { none, intervalBegin, intervalEnd, event };

  std::string subsystem;
  std::string category;
  LogLevel level = LogLevel::notice;
  std::string message;   // with every argument
  std::string redacted;  // private arguments as "<private>"
  Trace trace = Trace::none;
  std::string traceName;
  uint64_t traceId = 0;
};

}  // namespace quorvel
