#include "scene/LayoutFactory.h"

#include <memory>

#include "scene/CoverArcLayout.h"
#include "scene/CylinderLayout.h"
#include "scene/ExpoLayout.h"
#include "scene/FlatRingLayout.h"
#include "scene/Flip3DLayout.h"
#include "scene/RingLayout.h"
#include "scene/RowLayout.h"

namespace quorvel {

LayoutRef LayoutFactory::makeLayout(AppSettings::SwitcherStyle style, const AppSettings& settings) {
  return makeLayout(style, static_cast<float>(settings.cardSpacing(style)), settings.gridOrder(),
                    settings.panoramaArrows());
}

LayoutRef LayoutFactory::makeLayout(AppSettings::SwitcherStyle style, float spacing,
                                    AppSettings::GridOrder gridOrder, AppSettings::PanoramaArrows arrows) {
  using Style = AppSettings::SwitcherStyle;
  switch (style) {
    case Style::coverArc: return std::make_shared<CoverArcLayout>(spacing);
    case Style::tangentRing: return std::make_shared<RingLayout>(spacing);
    case Style::flatRing: return std::make_shared<FlatRingLayout>(spacing);
    case Style::flip3d: return std::make_shared<Flip3DLayout>(spacing);
    case Style::cylinder: {
      const auto cylinderArrows = CylinderLayout::arrowsFromRawValue(AppSettings::rawValue(arrows));
      return std::make_shared<CylinderLayout>(cylinderArrows.value_or(CylinderLayout::Arrows::order), spacing);
    }
    case Style::expo: return std::make_shared<ExpoLayout>(gridOrder, spacing);
    case Style::row: return std::make_shared<RowLayout>(spacing);
  }
  return std::make_shared<CoverArcLayout>(spacing);
}

}  // namespace quorvel
