#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "base/Geometry.h"

namespace quorvel {

// Why a window move, or one step of it, cannot be done; each reason has a fixed sentence for the
// user. `appPutItBack` carries the target frame first and the frame where the window landed second.
// Equal by reason and, for `appPutItBack`, by rectangle equality of both frames; hashed with the
// frames standardized and a negative zero hashed as zero.
struct MoveRefusal {
  enum class Reason {
    notAWindow,
    tabHasNoWindowOfItsOwn,
    minimized,
    appIsHidden,
    fullScreen,
    onEveryDesktop,
    noAccessibilityHandle,
    positionNotSettable,
    appPutItBack,
    desktopMovesUnavailable,
    desktopMoveDidNotLand,
    accessibilityNotGranted,
    destinationNotOnThatDisplay,
  };

  Reason reason = Reason::notAWindow;
  Rect target;  // appPutItBack only
  Rect landed;  // appPutItBack only

  static MoveRefusal of(Reason reason) { return MoveRefusal{reason, {}, {}}; }
  static MoveRefusal putBack(Rect target, Rect landed) { return MoveRefusal{Reason::appPutItBack, target, landed}; }

  // The sentence shown to the user.
  std::string_view message() const;
  // The reason's name, as log lines show it.
  std::string_view caseName() const;

  bool operator==(const MoveRefusal& other) const;
};

}  // namespace quorvel

template <>
struct std::hash<quorvel::MoveRefusal> {
  size_t operator()(const quorvel::MoveRefusal& value) const;
};
