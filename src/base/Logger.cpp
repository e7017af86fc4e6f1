#include "base/Logger.h"

#include <cinttypes>
#include <cstdio>
#include <utility>

#include "base/LogHub.h"
#include "base/LogRecord.h"

namespace quorvel {

namespace {

constexpr std::string_view kRedacted = "<private>";
constexpr std::string_view kMissing = "(null)";

enum class Privacy { unspecified, isPublic, isPrivate };

std::string numberText(const LogArgument& a) {
  switch (a.kind) {
    case LogArgument::Kind::signedInt: return std::to_string(a.i);
    case LogArgument::Kind::unsignedInt: return std::to_string(a.u);
    case LogArgument::Kind::floating: {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%g", a.d);
      return buf;
    }
    case LogArgument::Kind::text: return a.s;
  }
  return {};
}

// Renders one argument for conversion `conv` (precision < 0: none given).
std::string render(const LogArgument& a, char conv, int precision) {
  char buf[128];
  switch (conv) {
    case 'd':
    case 'i':
      switch (a.kind) {
        case LogArgument::Kind::signedInt: return std::to_string(a.i);
        case LogArgument::Kind::unsignedInt: return std::to_string(a.u);
        case LogArgument::Kind::floating: return std::to_string(static_cast<int64_t>(a.d));
        case LogArgument::Kind::text: return a.s;
      }
      break;
    case 'u':
      switch (a.kind) {
        case LogArgument::Kind::signedInt: return std::to_string(static_cast<uint64_t>(a.i));
        case LogArgument::Kind::unsignedInt: return std::to_string(a.u);
        case LogArgument::Kind::floating: return std::to_string(static_cast<uint64_t>(a.d < 0 ? 0 : a.d));
        case LogArgument::Kind::text: return a.s;
      }
      break;
    case 'x':
    case 'X': {
      uint64_t v = 0;
      switch (a.kind) {
        case LogArgument::Kind::signedInt: v = static_cast<uint64_t>(a.i); break;
        case LogArgument::Kind::unsignedInt: v = a.u; break;
        case LogArgument::Kind::floating: v = static_cast<uint64_t>(a.d < 0 ? 0 : a.d); break;
        case LogArgument::Kind::text: return a.s;
      }
      std::snprintf(buf, sizeof buf, conv == 'x' ? "%" PRIx64 : "%" PRIX64, v);
      return buf;
    }
    case 'f':
    case 'F':
    case 'g':
    case 'e': {
      double v = 0;
      switch (a.kind) {
        case LogArgument::Kind::signedInt: v = static_cast<double>(a.i); break;
        case LogArgument::Kind::unsignedInt: v = static_cast<double>(a.u); break;
        case LogArgument::Kind::floating: v = a.d; break;
        case LogArgument::Kind::text: return a.s;
      }
      const char fmt[] = {'%', '.', '*', conv, '\0'};
      std::snprintf(buf, sizeof buf, fmt, precision < 0 ? 6 : precision, v);
      return buf;
    }
    case 'c':
      switch (a.kind) {
        case LogArgument::Kind::signedInt: return std::string(1, static_cast<char>(a.i));
        case LogArgument::Kind::unsignedInt: return std::string(1, static_cast<char>(a.u));
        case LogArgument::Kind::floating: return numberText(a);
        case LogArgument::Kind::text: return a.s.substr(0, 1);
      }
      break;
    case 's':
    case '@':
      return numberText(a);
  }
  return numberText(a);
}

bool isTextConversion(char conv) { return conv == 's' || conv == '@'; }

bool isConversion(char c) {
  switch (c) {
    case 'd': case 'i': case 'u': case 'x': case 'X': case 'f': case 'F': case 'g': case 'e':
    case 'c': case 's': case '@':
      return true;
    default:
      return false;
  }
}

}  // namespace

Logger::Logger(std::string category, std::string subsystem)
    : category_(std::move(category)), subsystem_(std::move(subsystem)) {}

std::string Logger::format(std::string_view format, const std::vector<LogArgument>& args, bool redact) {
  std::string out;
  out.reserve(format.size() + 16 * args.size());
  size_t next = 0;  // index of the next argument to consume
  size_t i = 0;
  while (i < format.size()) {
    char c = format[i];
    if (c != '%') {
      out += c;
      ++i;
      continue;
    }
    size_t start = i;
    ++i;
    if (i < format.size() && format[i] == '%') {
      out += '%';
      ++i;
      continue;
    }
    Privacy privacy = Privacy::unspecified;
    if (i < format.size() && format[i] == '{') {
      size_t close = format.find('}', i);
      if (close != std::string_view::npos) {
        std::string_view mark = format.substr(i + 1, close - i - 1);
        if (mark == "public") privacy = Privacy::isPublic;
        else if (mark == "private") privacy = Privacy::isPrivate;
        i = close + 1;
      }
    }
    // Flags and width are accepted and ignored; precision is honoured for floating point.
    while (i < format.size() && (format[i] == '-' || format[i] == '+' || format[i] == ' ' || format[i] == '#' ||
                                 format[i] == '0'))
      ++i;
    while (i < format.size() && format[i] >= '0' && format[i] <= '9') ++i;
    int precision = -1;
    if (i < format.size() && format[i] == '.') {
      ++i;
      precision = 0;
      while (i < format.size() && format[i] >= '0' && format[i] <= '9') {
        if (precision < 100) precision = precision * 10 + (format[i] - '0');
        ++i;
      }
    }
    while (i < format.size() && (format[i] == 'l' || format[i] == 'h' || format[i] == 'z' || format[i] == 'j' ||
                                 format[i] == 't' || format[i] == 'q'))
      ++i;
    if (i >= format.size() || !isConversion(format[i])) {
      // Not a specifier we know: keep the text as written.
      size_t end = i < format.size() ? i + 1 : i;
      out.append(format.substr(start, end - start));
      i = end;
      continue;
    }
    char conv = format[i++];
    if (next >= args.size()) {
      out += kMissing;
      continue;
    }
    const LogArgument& arg = args[next++];
    bool isPrivate = privacy == Privacy::isPrivate ||
                     (privacy == Privacy::unspecified && isTextConversion(conv));
    if (redact && isPrivate) out += kRedacted;
    else out += render(arg, conv, precision);
  }
  return out;
}

bool Logger::write(LogLevel level, std::string_view format, std::vector<LogArgument> args, bool last) const {
  LogRecord record;
  record.subsystem = subsystem_;
  record.category = category_;
  record.level = level;
  record.message = Logger::format(format, args, false);
  record.redacted = Logger::format(format, args, true);
  if (last) return LogHub::shared().writeLast(record);
  LogHub::shared().write(record);
  return true;
}

}  // namespace quorvel
