#pragma once

#include <cstdint>
#include <optional>

#include "pictures/CardLabel.h"
#include "scene/ViewportRect.h"
#include "windows/CardStatus.h"

namespace quorvel {

// The scene's record of one card, built from a window card when the overlay presents or refreshes
// (the scene renderer builds it with the display settings of the moment). A plain value; the scene
// keeps its card list as one shared immutable array, so frames copy it without allocating.
struct CardSnapshot {
  uint32_t id = 0;  // window id (or tab id): the key of its picture
  int32_t pid = 0;
  CardStatus status;
  std::optional<CardLabel> label;
  std::optional<CardTitle> title;
  float aspect = 1.6f;        // width over height, 0.35 to 2.0
  float heightFactor = 1.0f;  // 0.5 to 1.0
  bool canAct = false;        // close and minimize allowed
  int tabsOutOfReach = 0;
  ViewportRect windowRect;  // the window's frame in unit overlay coordinates (zero when unknown)

  bool operator==(const CardSnapshot&) const = default;
};

}  // namespace quorvel
