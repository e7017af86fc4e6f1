#pragma once

#include "scene/LayoutEngine.h"
#include "settings/AppSettings.h"

namespace quorvel {

// Builds the arrangement of a switcher style from the stored settings, read at the moment of the
// call: the style's card spacing (clamped by the settings to the style's range), the grid order for
// "expo" and the panorama arrows for "cylinder" ("order" when the stored value names no case).
// Called by the overlay when it applies the style and by the settings window's style preview.
class LayoutFactory {
 public:
  static LayoutRef makeLayout(AppSettings::SwitcherStyle style, const AppSettings& settings);
  // The same with explicit values (spacing is sanitised by the arrangement itself).
  static LayoutRef makeLayout(AppSettings::SwitcherStyle style, float spacing,
                              AppSettings::GridOrder gridOrder = AppSettings::GridOrder::rows,
                              AppSettings::PanoramaArrows arrows = AppSettings::PanoramaArrows::order);
};

}  // namespace quorvel
