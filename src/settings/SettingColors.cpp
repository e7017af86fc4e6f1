#include "settings/SettingColors.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace quorvel {

std::optional<SettingColors::Rgb> SettingColors::rgbFromHex(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  if (!text.empty() && text.front() == '#') text.remove_prefix(1);
  // Only ASCII can be a digit or a sign, so anything else fails here and the length is in bytes.
  if (text.size() != 6) return std::nullopt;

  size_t i = 0;
  bool negative = false;
  if (text[0] == '+' || text[0] == '-') {
    negative = text[0] == '-';
    i = 1;
  }
  uint32_t number = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    uint32_t digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<uint32_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<uint32_t>(c - 'a' + 10);
    } else {
      return std::nullopt;
    }
    number = number * 16 + digit;
  }
  if (negative && number != 0) return std::nullopt;
  return Rgb{static_cast<double>((number >> 16) & 0xFF) / 255.0,
             static_cast<double>((number >> 8) & 0xFF) / 255.0,
             static_cast<double>(number & 0xFF) / 255.0};
}

int SettingColors::colorByte(double component) {
  if (std::isnan(component) || component <= 0) return 0;
  return static_cast<int>(std::round(std::min(component, 1.0) * 255.0));
}

int SettingColors::blurRadius(double amount) {
  if (std::isnan(amount) || amount <= 0) return 0;
  return static_cast<int>(std::round(std::min(amount, 1.0) * 64.0));
}

std::span<const SettingColors::BackdropPreset> SettingColors::backdropPresets() {
  static constexpr BackdropPreset presets[] = {
      {"Midnight", "#0a0e15"}, {"Slate", "#121826"}, {"Charcoal", "#1c1c1e"},
      {"Graphite", "#2c2c2e"}, {"Black", "#000000"}, {"Paper", "#f2f2f7"},
  };
  return presets;
}

}  // namespace quorvel
