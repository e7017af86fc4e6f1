#pragma once

#include <string>

#include "base/Logger.h"

namespace quorvel {

// One line of the log, as sinks receive it. Signposts arrive as records too, with `signpost` set.
struct LogRecord {
  enum class Signpost { none, intervalBegin, intervalEnd, event };

  std::string subsystem;
  std::string category;
  LogLevel level = LogLevel::notice;
  std::string message;   // with every argument
  std::string redacted;  // private arguments as "<private>"
  Signpost signpost = Signpost::none;
  std::string signpostName;
  uint64_t signpostId = 0;
};

}  // namespace quorvel
