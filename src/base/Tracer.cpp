#include "base/Tracer.h"

#include <utility>

#include "base/LogHub.h"
#include "base/LogRecord.h"

namespace quorvel {

namespace {

LogRecord traceRecord(const std::string& subsystem, const std::string& category, LogRecord::Trace kind,
                         const std::string& name, uint64_t id) {
  LogRecord r;
  r.subsystem = subsystem;
  r.category = category;
  r.level = LogLevel::debug;
  r.message = name;
  r.redacted = name;
  r.trace = kind;
  r.traceName = name;
  r.traceId = id;
  return r;
}

}  // namespace

Tracer::Tracer(std::string category, std::string subsystem)
    : category_(std::move(category)), subsystem_(std::move(subsystem)) {}

uint64_t Tracer::makeTraceId() { return nextId_.fetch_add(1, std::memory_order_relaxed); }

Tracer::IntervalState Tracer::beginInterval(const std::string& name, uint64_t id) {
  IntervalState state;
  state.ended_ = std::make_shared<std::atomic<bool>>(false);
  state.id_ = id;
  LogHub::shared().write(traceRecord(subsystem_, category_, LogRecord::Trace::intervalBegin, name, id));
  return state;
}

void Tracer::endInterval(const std::string& name, const IntervalState& state) {
  // A state that never began an interval counts as already ended: there is nothing to close.
  bool alreadyEnded = !state.ended_ || state.ended_->exchange(true);
  if (alreadyEnded) {
    LogRecord r;
    r.subsystem = subsystem_;
    r.category = category_;
    r.level = LogLevel::error;
    r.message = "[Error] Interval already ended";
    r.redacted = r.message;
    LogHub::shared().write(r);
    return;
  }
  LogHub::shared().write(traceRecord(subsystem_, category_, LogRecord::Trace::intervalEnd, name, state.id_));
}

void Tracer::emitEvent(const std::string& name, uint64_t id) {
  LogHub::shared().write(traceRecord(subsystem_, category_, LogRecord::Trace::event, name, id));
}

}  // namespace quorvel
