#pragma once

#include "platform/DesktopPalette.h"

namespace quorvel {

// The desktop's colours as Qt's application palette has them (the desktop theme's highlight is the
// accent). Needs a QGuiApplication; main thread.
class QtDesktopPalette final : public DesktopPalette {
 public:
  std::optional<RasterColor> accentColor() override;
};

}  // namespace quorvel
