#include "base/Signposter.h"

#include <utility>

#include "base/LogHub.h"
#include "base/LogRecord.h"

namespace quorvel {

namespace {

LogRecord signpostRecord(const std::string& subsystem, const std::string& category, LogRecord::Signpost kind,
                         const std::string& name, uint64_t id) {
  LogRecord r;
  r.subsystem = subsystem;
  r.category = category;
  r.level = LogLevel::debug;
  r.message = name;
  r.redacted = name;
  r.signpost = kind;
  r.signpostName = name;
  r.signpostId = id;
  return r;
}

}  // namespace

Signposter::Signposter(std::string category, std::string subsystem)
    : category_(std::move(category)), subsystem_(std::move(subsystem)) {}

uint64_t Signposter::makeSignpostId() { return nextId_.fetch_add(1, std::memory_order_relaxed); }

Signposter::IntervalState Signposter::beginInterval(const std::string& name, uint64_t id) {
  IntervalState state;
  state.ended_ = std::make_shared<std::atomic<bool>>(false);
  state.id_ = id;
  LogHub::shared().write(signpostRecord(subsystem_, category_, LogRecord::Signpost::intervalBegin, name, id));
  return state;
}

void Signposter::endInterval(const std::string& name, const IntervalState& state) {
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
  LogHub::shared().write(signpostRecord(subsystem_, category_, LogRecord::Signpost::intervalEnd, name, state.id_));
}

void Signposter::emitEvent(const std::string& name, uint64_t id) {
  LogHub::shared().write(signpostRecord(subsystem_, category_, LogRecord::Signpost::event, name, id));
}

}  // namespace quorvel
