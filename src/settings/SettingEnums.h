#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

namespace quorvel {

template <class E>
struct SettingEnumNames;  // the raw values of one settings enumeration, in case order

// The value enumerations of the settings, with their raw values (each case's own name, as the
// store holds it). A light header: what needs only the enumerations (the window model, the card
// scene) includes this, not the settings model with its store and JSON values. AppSettings names
// the same types (AppSettings::CategoryDisplay is SettingEnums::CategoryDisplay).
struct SettingEnums {
  enum class HotkeyScope { allWindows, activeApp };
  enum class SwitcherBehavior { holdToSwitch, toggle };
  enum class HoldStyle { staysOnCurrent, cmdTab };
  enum class SwitcherStyle { coverArc, tangentRing, flatRing, flip3d, cylinder, expo, row };
  enum class GridOrder { rows, snake };
  enum class PanoramaArrows { order, wall };
  enum class MoveResize { fitToDisplay, keepSize };
  enum class TitlePlacement { bottom, top };
  enum class TitleSize { small, medium, large };
  enum class IconPosition { topLeft, bottomEdge };
  enum class BackdropStyle { liveDesktop, solidColor };
  enum class CategoryDisplay { show, atEnd, hide };
  enum class PrivateWindowsDisplay { show, blur, hidePicture, hide };
  enum class TabsDisplay { off, whileSearching, always };
  enum class StackOrder { recent, native };
  enum class WindowOrder { recent, fixed, alphabetical, bySpace };
  enum class SummonGesture { off, threeFingers, fourFingers };
  enum class SummonSwipeDirection { up, sideways };
  enum class SummonScreen { pointerScreen, activeWindowScreen, builtInScreen };
  enum class AnimationSpeed { slow, normal, fast };
  enum class HoverSelectMode { highlight, recenter };
  enum class DragCommitMode { release, dwell };
  enum class DragRestTime { quick, normal, long_ };

  template <class E>
  static std::string_view rawValue(E value);
  // The case whose raw value is exactly `raw` (case-sensitive), or none.
  template <class E>
  static std::optional<E> fromRawValue(std::string_view raw);
  template <class E>
  static std::span<const E> allCases();
};

#define QUORVEL_SETTING_ENUM(Type, ...)                                        \
  template <>                                                                  \
  struct SettingEnumNames<SettingEnums::Type> {                                \
    static constexpr std::array names = std::to_array<std::string_view>({__VA_ARGS__}); \
  }

QUORVEL_SETTING_ENUM(HotkeyScope, "allWindows", "activeApp");
QUORVEL_SETTING_ENUM(SwitcherBehavior, "holdToSwitch", "toggle");
QUORVEL_SETTING_ENUM(HoldStyle, "staysOnCurrent", "cmdTab");
QUORVEL_SETTING_ENUM(SwitcherStyle, "coverArc", "tangentRing", "flatRing", "flip3d", "cylinder", "expo",
                     "row");
QUORVEL_SETTING_ENUM(GridOrder, "rows", "snake");
QUORVEL_SETTING_ENUM(PanoramaArrows, "order", "wall");
QUORVEL_SETTING_ENUM(MoveResize, "fitToDisplay", "keepSize");
QUORVEL_SETTING_ENUM(TitlePlacement, "bottom", "top");
QUORVEL_SETTING_ENUM(TitleSize, "small", "medium", "large");
QUORVEL_SETTING_ENUM(IconPosition, "topLeft", "bottomEdge");
QUORVEL_SETTING_ENUM(BackdropStyle, "liveDesktop", "solidColor");
QUORVEL_SETTING_ENUM(CategoryDisplay, "show", "atEnd", "hide");
QUORVEL_SETTING_ENUM(PrivateWindowsDisplay, "show", "blur", "hidePicture", "hide");
QUORVEL_SETTING_ENUM(TabsDisplay, "off", "whileSearching", "always");
QUORVEL_SETTING_ENUM(StackOrder, "recent", "native");
QUORVEL_SETTING_ENUM(WindowOrder, "recent", "fixed", "alphabetical", "bySpace");
QUORVEL_SETTING_ENUM(SummonGesture, "off", "threeFingers", "fourFingers");
QUORVEL_SETTING_ENUM(SummonSwipeDirection, "up", "sideways");
QUORVEL_SETTING_ENUM(SummonScreen, "pointerScreen", "activeWindowScreen", "builtInScreen");
QUORVEL_SETTING_ENUM(AnimationSpeed, "slow", "normal", "fast");
QUORVEL_SETTING_ENUM(HoverSelectMode, "highlight", "recenter");
QUORVEL_SETTING_ENUM(DragCommitMode, "release", "dwell");
QUORVEL_SETTING_ENUM(DragRestTime, "quick", "normal", "long");

#undef QUORVEL_SETTING_ENUM

template <class E>
std::string_view SettingEnums::rawValue(E value) {
  const auto& names = SettingEnumNames<E>::names;
  const auto index = static_cast<size_t>(value);
  return index < names.size() ? names[index] : std::string_view{};
}

template <class E>
std::optional<E> SettingEnums::fromRawValue(std::string_view raw) {
  const auto& names = SettingEnumNames<E>::names;
  for (size_t i = 0; i < names.size(); ++i) {
    if (names[i] == raw) return static_cast<E>(i);
  }
  return std::nullopt;
}

template <class E>
std::span<const E> SettingEnums::allCases() {
  static constexpr auto cases = [] {
    std::array<E, SettingEnumNames<E>::names.size()> all{};
    for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<E>(i);
    return all;
  }();
  return cases;
}

}  // namespace quorvel
