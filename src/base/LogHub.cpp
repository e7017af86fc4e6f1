#include "base/LogHub.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <string_view>

namespace quorvel {

namespace {

std::string timestamp() {
  auto now = std::chrono::system_clock::now();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::time_t t = std::chrono::system_clock::to_time_t(now);
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[64];
  size_t n = std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  std::snprintf(buf + n, sizeof buf - n, ".%03d", static_cast<int>(ms));
  return buf;
}

}  // namespace

LogHub& LogHub::shared() {
  static LogHub* hub = new LogHub();  // never destroyed: loggers may write during static teardown
  return *hub;
}

LogHub::LogHub() {
  const char* level = std::getenv("QUORVEL_LOG");
  if (level && std::string_view(level) == "debug") stderrThreshold_ = LogLevel::debug;
}

void LogHub::write(const LogRecord& record) {
  {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    writeStandardError(record);
  }
  sinks_.notify(record);
}

bool LogHub::writeLast(const LogRecord& record) {
  {
    std::lock_guard lock(mutex_);
    if (closed_) return false;
    writeStandardError(record);
    std::fflush(stderr);
    closed_ = true;
  }
  sinks_.notify(record);
  return true;
}

void LogHub::reopenForTesting() {
  std::lock_guard lock(mutex_);
  closed_ = false;
}

void LogHub::writeStandardError(const LogRecord& record) {
  if (!stderrEnabled_ || record.level < stderrThreshold_) return;
  std::string line = timestamp();
  line += " [";
  line += record.subsystem;
  line += ':';
  line += record.category;
  line += "] ";
  line += record.redacted;
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
}

Subscription LogHub::addSink(Sink sink) { return sinks_.add(std::move(sink)); }

void LogHub::setStandardErrorEnabled(bool enabled) {
  std::lock_guard lock(mutex_);
  stderrEnabled_ = enabled;
}

}  // namespace quorvel
