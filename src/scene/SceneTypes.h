#pragma once

#include <cstdint>

namespace quorvel {

// Who moved the scene's focus last; travels with each focus change from the render thread to the
// overlay.
enum class FocusChangeSource : uint8_t { pointer = 0, keyboard = 1, system = 2 };

// Where a card's application icon sits.
enum class BadgeAnchor : uint8_t { bottomCenter, topLeft };

// A place in an arrangement of `count` cards; `focusShift` is added to the camera focus when the
// slot's pose is computed, so a slot of an older list keeps its place while the camera moves on.
struct CardSlot {
  int index = 0;
  int count = 0;
  double focusShift = 0;

  bool operator==(const CardSlot&) const = default;
};

// The animation state of one card (one per card of the scene, same order). With `flies` set,
// `progress` carries the card between its window's place on screen (0) and its slot (1); without it
// the card keeps to its slots and only its alpha moves. A re-formation blends `from` toward `to`.
struct CardMorph {
  double progress = 1;
  double velocity = 0;
  double target = 1;
  double delay = 0;  // seconds before progress starts to move
  double alpha = 1;
  double alphaTarget = 1;
  double alphaVelocity = 0;
  CardSlot from;
  CardSlot to;
  bool isGhost = false;
  double pointerHighlight = 0;
  double pointerHighlightVelocity = 0;
  bool flies = false;
};

// What the drawing reads of one card's morph on a frame.
struct MorphSample {
  float progress = 1;
  float alpha = 1;
  CardSlot from;
  CardSlot to;
  bool isGhost = false;
  float pointerHighlight = 0;

  bool operator==(const MorphSample&) const = default;
};

}  // namespace quorvel
