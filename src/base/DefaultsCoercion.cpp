#include "base/DefaultsCoercion.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <string_view>

namespace quorvel {

namespace {

bool equalsIgnoringCase(const std::string& text, std::string_view word) {
  if (text.size() != word.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != word[i]) return false;
  }
  return true;
}

// An optional sign followed by decimal digits only, of any length.
bool isIntegerText(std::string_view text) {
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) text.remove_prefix(1);
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

std::string_view withoutPlus(std::string_view text) {
  if (text.size() > 1 && text[0] == '+' && text[1] != '-' && text[1] != '+') text.remove_prefix(1);
  return text;
}

// The whole text as an integer, when it is one that fits.
std::optional<int64_t> parseWholeInteger(std::string_view text) {
  text = withoutPlus(text);
  int64_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

// The whole text as a finite number.
std::optional<double> parseWholeDouble(std::string_view text) {
  text = withoutPlus(text);
  double value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  if (!std::isfinite(value)) return std::nullopt;
  return value;
}

int64_t truncated(double value) {
  // 2^63 is exactly representable; anything at or beyond it does not fit.
  constexpr double limit = 9223372036854775808.0;
  if (!std::isfinite(value) || value >= limit || value < -limit) return 0;
  return static_cast<int64_t>(value);
}

}  // namespace

bool DefaultsCoercion::boolOf(const nlohmann::json& v) {
  if (v.is_boolean()) return v.get<bool>();
  if (v.is_number_integer() && !v.is_number_unsigned()) return v.get<int64_t>() != 0;
  if (v.is_number_unsigned()) return v.get<uint64_t>() != 0;
  if (v.is_number_float()) return v.get<double>() != 0.0;
  if (v.is_string()) {
    const auto& s = v.get_ref<const std::string&>();
    if (equalsIgnoringCase(s, "yes") || equalsIgnoringCase(s, "true")) return true;
    if (isIntegerText(s)) return s.find_first_of("123456789") != std::string::npos;
  }
  return false;
}

int64_t DefaultsCoercion::integerOf(const nlohmann::json& v) {
  if (v.is_boolean()) return v.get<bool>() ? 1 : 0;
  if (v.is_number_unsigned()) {
    uint64_t u = v.get<uint64_t>();
    return u <= static_cast<uint64_t>(INT64_MAX) ? static_cast<int64_t>(u) : 0;
  }
  if (v.is_number_integer()) return v.get<int64_t>();
  if (v.is_number_float()) return truncated(v.get<double>());
  if (v.is_string()) {
    const auto& s = v.get_ref<const std::string&>();
    if (auto i = parseWholeInteger(s)) return *i;
    if (auto d = parseWholeDouble(s)) return truncated(*d);
  }
  return 0;
}

double DefaultsCoercion::doubleOf(const nlohmann::json& v) {
  if (v.is_boolean()) return v.get<bool>() ? 1.0 : 0.0;
  if (v.is_number_unsigned()) return static_cast<double>(v.get<uint64_t>());
  if (v.is_number_integer()) return static_cast<double>(v.get<int64_t>());
  if (v.is_number_float()) return v.get<double>();
  if (v.is_string()) {
    if (auto d = parseWholeDouble(v.get_ref<const std::string&>())) return *d;
  }
  return 0.0;
}

std::optional<std::string> DefaultsCoercion::stringOf(const nlohmann::json& v) {
  if (v.is_string()) return v.get<std::string>();
  if (v.is_number_unsigned()) return std::to_string(v.get<uint64_t>());
  if (v.is_number_integer()) return std::to_string(v.get<int64_t>());
  if (v.is_number_float()) {
    // The shortest text that reads back as the same value: 0.5, 1, 1e+20.
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v.get<double>());
    if (ec != std::errc()) return std::nullopt;
    return std::string(buffer, end);
  }
  return std::nullopt;
}

}  // namespace quorvel
