#pragma once

#include <QString>

#include "settings/AppSettings.h"

namespace quorvel {

// The arrangements as people read them: each one's name in the settings window and the sentence
// that describes it.
class StyleNames {
 public:
  // "Cover Arc", "Carousel", "Ring", "Flip 3D", "Panorama", "Grid", "2D Row".
  static QString displayName(AppSettings::SwitcherStyle style);
  static QString description(AppSettings::SwitcherStyle style);
};

}  // namespace quorvel
