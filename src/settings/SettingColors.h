#pragma once

#include <optional>
#include <span>
#include <string_view>

namespace quorvel {

// The colour and blur maths of the settings: the backdrop colour's hex text, its components as
// bytes, the blur amount as a radius, and the named backdrop colours the settings window offers.
// Plain functions with no state.
class SettingColors {
 public:
  struct Rgb {
    double red;
    double green;
    double blue;
    bool operator==(const Rgb&) const = default;
  };
  // "#rrggbb" or "rrggbb" (blanks and tabs around it allowed, any letter case), or none.
  static std::optional<Rgb> rgbFromHex(std::string_view text);
  // One component (0 to 1) as a byte 0 to 255.
  static int colorByte(double component);
  // A blur amount (0 to 1) as a background-blur radius 0 to 64.
  static int blurRadius(double amount);

  struct BackdropPreset {
    std::string_view name;
    std::string_view hex;
  };
  static std::span<const BackdropPreset> backdropPresets();
};

}  // namespace quorvel
