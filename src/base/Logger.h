#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace quorvel {

enum class LogLevel { debug, info, notice, error, fault };  // notice is the default level

// One argument of a log message: a number or a text.
struct LogArgument {
  enum class Kind { signedInt, unsignedInt, floating, text } kind;
  int64_t i = 0;
  uint64_t u = 0;
  double d = 0;
  std::string s;

  template <class T>
  static LogArgument from(const T& value) {
    LogArgument a{Kind::text};
    if constexpr (std::is_same_v<T, bool>) {
      a.kind = Kind::text;
      a.s = value ? "true" : "false";
    } else if constexpr (std::is_integral_v<T> && std::is_signed_v<T>) {
      a.kind = Kind::signedInt;
      a.i = value;
    } else if constexpr (std::is_integral_v<T>) {
      a.kind = Kind::unsignedInt;
      a.u = value;
    } else if constexpr (std::is_enum_v<T>) {
      a.kind = Kind::signedInt;
      a.i = static_cast<int64_t>(value);
    } else if constexpr (std::is_floating_point_v<T>) {
      a.kind = Kind::floating;
      a.d = value;
    } else {
      a.s = std::string(std::string_view(value));
    }
    return a;
  }
};

// A logger for one category under a subsystem ("net.tarmeq.quorvel" unless told otherwise).
//
// Messages use the printf-style format of the system log: %d %ld %u %lu %zu %x %f %.2f %s %@ %c %%,
// with an optional privacy mark: %{public}s, %{private}s. Texts (%s, %@) are private unless marked
// public; numbers are public unless marked private. The program's output shows a private argument
// as "<private>"; a LogCapture sees both the full and the redacted message.
class Logger {
 public:
  static constexpr const char* kSubsystem = "net.tarmeq.quorvel";

  explicit Logger(std::string category, std::string subsystem = kSubsystem);

  template <class... A>
  void log(LogLevel level, std::string_view format, const A&... args) const {
    write(level, format, {LogArgument::from(args)...});
  }
  template <class... A>
  void debug(std::string_view format, const A&... args) const { log(LogLevel::debug, format, args...); }
  template <class... A>
  void info(std::string_view format, const A&... args) const { log(LogLevel::info, format, args...); }
  // The default level.
  template <class... A>
  void notice(std::string_view format, const A&... args) const { log(LogLevel::notice, format, args...); }
  template <class... A>
  void error(std::string_view format, const A&... args) const { log(LogLevel::error, format, args...); }
  template <class... A>
  void fault(std::string_view format, const A&... args) const { log(LogLevel::fault, format, args...); }
  // The log's last line, at the default level: nothing any logger writes after it is kept (see
  // LogHub::writeLast). False, with nothing written, when the log has had its last line.
  template <class... A>
  bool last(std::string_view format, const A&... args) const {
    return write(LogLevel::notice, format, {LogArgument::from(args)...}, true);
  }

  const std::string& category() const { return category_; }
  const std::string& subsystem() const { return subsystem_; }

  // Formats `format` with `args`: the full text, and the text with private arguments redacted.
  static std::string format(std::string_view format, const std::vector<LogArgument>& args, bool redact);

 private:
  bool write(LogLevel level, std::string_view format, std::vector<LogArgument> args, bool last = false) const;

  std::string category_;
  std::string subsystem_;
};

}  // namespace quorvel
