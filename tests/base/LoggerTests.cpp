#include <gtest/gtest.h>

#include "base/LogCapture.h"
#include "base/LogHub.h"
#include "base/Logger.h"
#include "base/Tracer.h"

namespace quorvel {
namespace {

std::string full(std::string_view f, std::vector<LogArgument> args) { return Logger::format(f, args, false); }
std::string redacted(std::string_view f, std::vector<LogArgument> args) { return Logger::format(f, args, true); }
template <class T>
LogArgument arg(const T& v) { return LogArgument::from(v); }

TEST(LoggerFormat, NumbersOfEveryLengthAndBase) {
  EXPECT_EQ(full("%d %ld %lld %u %lu %zu", {arg(-3), arg(-4L), arg(-5LL), arg(6u), arg(7UL), arg(size_t{8})}),
            "-3 -4 -5 6 7 8");
  EXPECT_EQ(full("%x", {arg(255)}), "ff");
  EXPECT_EQ(full("%f|%.2f", {arg(1.5), arg(3.14159)}), "1.500000|3.14");
  EXPECT_EQ(full("%c%c", {arg('o'), arg('k')}), "ok");
  EXPECT_EQ(full("100%% of %d", {arg(3)}), "100% of 3");
  EXPECT_EQ(full("%d", {arg(true)}), "true");
}

TEST(LoggerFormat, TextsArePrivateAndNumbersPublicUnlessMarked) {
  std::vector<LogArgument> args{arg("Mail"), arg(42)};
  EXPECT_EQ(full("%s has %d", args), "Mail has 42");
  EXPECT_EQ(redacted("%s has %d", args), "<private> has 42");
  EXPECT_EQ(redacted("%@ has %d", args), "<private> has 42");
  EXPECT_EQ(redacted("%{public}s has %{private}d", args), "Mail has <private>");
  EXPECT_EQ(full("%{public}s has %{private}d", args), "Mail has 42");
  EXPECT_EQ(redacted("%{public}@ %{private}lu", {arg(std::string("x")), arg(9UL)}), "x <private>");
}

TEST(LoggerFormat, MissingArgumentsPrintNullAndExtrasAreIgnored) {
  EXPECT_EQ(full("%d and %s and %{public}@", {arg(1)}), "1 and (null) and (null)");
  EXPECT_EQ(redacted("%s", {}), "(null)");
  EXPECT_EQ(full("only %d", {arg(1), arg(2), arg("three")}), "only 1");
  EXPECT_EQ(full("trailing %", {}), "trailing %");
  EXPECT_EQ(full("odd %q %k", {arg(1)}), "odd %q %k");
}

TEST(LogCapture, SeesFullAndRedactedMessagesByCategory) {
  LogHub::shared().setStandardErrorEnabled(false);
  LogCapture capture;
  Logger a("Alpha");
  Logger b("Beta");
  a.notice("window %s moved", "Terminal");
  b.debug("count %d", 3);
  a.notice("window %s moved", "Terminal");
  LogHub::shared().setStandardErrorEnabled(true);

  EXPECT_EQ(capture.count("window Terminal moved"), 2u);
  EXPECT_TRUE(capture.contains("count 3"));
  EXPECT_EQ(capture.messages("Beta"), std::vector<std::string>{"count 3"});
  auto records = capture.records();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].redacted, "window <private> moved");
  EXPECT_EQ(records[0].subsystem, Logger::kSubsystem);
  EXPECT_EQ(records[1].level, LogLevel::debug);
  capture.clear();
  EXPECT_TRUE(capture.records().empty());
}

TEST(Tracer, IntervalsEventsAndDoubleEnd) {
  LogHub::shared().setStandardErrorEnabled(false);
  LogCapture capture;
  Tracer sp("Render");
  uint64_t id = sp.makeTraceId();
  EXPECT_NE(sp.makeTraceId(), id);
  auto state = sp.beginInterval("frame", id);
  sp.emitEvent("tick", id);
  sp.endInterval("frame", state);
  sp.endInterval("frame", state);
  LogHub::shared().setStandardErrorEnabled(true);

  auto records = capture.records();
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[0].trace, LogRecord::Trace::intervalBegin);
  EXPECT_EQ(records[0].traceName, "frame");
  EXPECT_EQ(records[0].traceId, id);
  EXPECT_EQ(records[2].trace, LogRecord::Trace::intervalEnd);
  EXPECT_EQ(records[2].traceId, id);
  EXPECT_EQ(records[3].trace, LogRecord::Trace::none);
  EXPECT_EQ(records[3].level, LogLevel::error);
  EXPECT_EQ(records[3].category, "Render");
  EXPECT_EQ(records[3].message, "[Error] Interval already ended");
  EXPECT_EQ(capture.traceEvents("Render"), std::vector<std::string>{"tick"});
  EXPECT_TRUE(capture.messages("Render") == std::vector<std::string>{"[Error] Interval already ended"});
}

}  // namespace
}  // namespace quorvel
