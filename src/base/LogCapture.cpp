#include "base/LogCapture.h"

#include <algorithm>

#include "base/LogHub.h"

namespace quorvel {

LogCapture::LogCapture() {
  sink_ = LogHub::shared().addSink([this](const LogRecord& record) {
    std::lock_guard lock(mutex_);
    records_.push_back(record);
  });
}

LogCapture::~LogCapture() { sink_.cancel(); }

std::vector<LogRecord> LogCapture::records() const {
  std::lock_guard lock(mutex_);
  return records_;
}

std::vector<std::string> LogCapture::messages(const std::string& category) const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> out;
  for (const auto& r : records_) {
    if (r.trace != LogRecord::Trace::none) continue;
    if (!category.empty() && r.category != category) continue;
    out.push_back(r.message);
  }
  return out;
}

bool LogCapture::contains(const std::string& message) const { return count(message) > 0; }

size_t LogCapture::count(const std::string& message) const {
  std::lock_guard lock(mutex_);
  return static_cast<size_t>(std::count_if(records_.begin(), records_.end(), [&](const LogRecord& r) {
    return r.trace == LogRecord::Trace::none && r.message == message;
  }));
}

std::vector<std::string> LogCapture::traceEvents(const std::string& category) const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> out;
  for (const auto& r : records_)
    if (r.trace == LogRecord::Trace::event && r.category == category) out.push_back(r.traceName);
  return out;
}

void LogCapture::clear() {
  std::lock_guard lock(mutex_);
  records_.clear();
}

}  // namespace quorvel
