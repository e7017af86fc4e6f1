#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "scene/CardPose.h"
#include "settings/AppSettings.h"

namespace quorvel {

// The questions every arrangement of the switcher answers: where a card at a given place stands,
// where the camera looks from, how bright a card is, which place an arrow key reaches, and a few
// look parameters. Arrangements are immutable values shared by pointer (`LayoutRef`), so a frame
// copy of the scene can hold them without allocating; every answer is a pure function of its
// arguments and safe from any thread.
//
// Arguments: `index` is a place, `count` the number of places laid out, `cards` the number of cards,
// `focus` the fractional place at the centre of the view. World units: a full-height card is 1.0
// tall; the camera looks along −z in its own frame; +y is up.
class LayoutEngine {
 public:
  struct Camera {
    Float3 eye;
    Float3 target;
    bool operator==(const Camera&) const = default;
  };
  // Arrow directions of `neighbour`.
  enum Direction : uint8_t { left = 0, right = 1, up = 2, down = 3 };

  virtual ~LayoutEngine() = default;

  // The arrangement's setting case (for logs and the shape line of the renderer).
  virtual AppSettings::SwitcherStyle style() const = 0;

  virtual CardPose pose(int index, int count, int cards, float aspect, float heightFactor, double focus) const = 0;
  // `extra`: additional horizontal room in world units that piles need at the ends (0 when none).
  virtual Camera camera(int count, int cards, float extra) const = 0;
  // Brightness factor (1 = full).
  virtual float shade(int index, int count, int cards, double focus) const;
  // Only the flip 3D arrangement answers true.
  virtual bool flipsCards() const { return false; }
  // The draw lowers eye and target by verticalShift × |eye − target| (negative raises them).
  virtual float verticalShift() const { return 0; }
  // The place an arrow key moves to; none = no move. Not range-checked: the camera wraps or clamps.
  virtual std::optional<int> neighbour(int index, int count, uint8_t direction, int cards) const;
  // Height of the reflection floor; none = no reflections.
  virtual std::optional<float> floorY() const { return std::nullopt; }
  // How many places from the focus cards (chrome) are still drawn; none = all.
  virtual std::optional<float> drawPlaces() const { return std::nullopt; }
  virtual std::optional<float> chromePlaces() const { return std::nullopt; }
  // Whether the arrangement lays out piles (places) rather than single cards.
  virtual bool allowsPiles() const { return true; }

  // The default arrow rule: up and down give none; left index − 1, right index + 1.
  static std::optional<int> defaultNeighbour(int index, uint8_t direction);
  // A card spacing the arrangements can divide by: a value that is not finite or not above 0 reads
  // as 1.0, as the settings read a missing one.
  static float validSpacing(float spacing);
};

using LayoutRef = std::shared_ptr<const LayoutEngine>;

}  // namespace quorvel
