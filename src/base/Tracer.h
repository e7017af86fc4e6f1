#pragma once

#include <atomic>
#include <memory>
#include <string>

namespace quorvel {

// Named intervals and events on one tracer (subsystem + category), for tracing hot paths.
// They are written to the log hub as trace records.
class Tracer {
 public:
  class IntervalState {
   public:
    IntervalState() = default;

   private:
    friend class Tracer;
    std::shared_ptr<std::atomic<bool>> ended_;
    uint64_t id_ = 0;
  };

  explicit Tracer(std::string category, std::string subsystem = "net.tarmeq.quorvel");

  uint64_t makeTraceId();
  IntervalState beginInterval(const std::string& name, uint64_t id);
  // Ends the interval; ending one twice writes "[Error] Interval already ended" instead.
  void endInterval(const std::string& name, const IntervalState& state);
  void emitEvent(const std::string& name, uint64_t id);

 private:
  std::string category_;
  std::string subsystem_;
  std::atomic<uint64_t> nextId_{1};
};

}  // namespace quorvel
