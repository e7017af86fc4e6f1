#pragma once

#include <array>
#include <vector>

#include "scene/LayoutEngine.h"
#include "scene/SceneMath.h"
#include "settings/AppSettings.h"

namespace quorvel {

// One frame of the arrangement preview, worked out with the switcher's own arrangements, blend and
// camera: seven blank cards (fourteen for the panorama) posed for a focus, projected in perspective
// into a band of the canvas at most 1.8 times as wide as high, and ordered farthest first. Pure
// functions of their arguments: any thread, nothing cached between frames.
class StylePreviewFrame {
 public:
  static constexpr double kSweepSeconds = 6.0;
  static constexpr double kMorphSeconds = 0.4;
  static constexpr float kWidestBand = 1.8f;

  struct Card {
    int index = 0;
    std::array<Float2, 4> points;  // canvas corners of the unit corners, y growing downward
    float depth = 0;               // view-space z of the centre (smaller is farther)
    double facing = 0;             // the arrangement's shade, clamped to [0, 1]
    double hero = 0;               // nearness to the focus, in [0, 1]
  };

  struct Input {
    LayoutRef current;
    LayoutRef outgoing;  // while a style change morphs
    float t = 1;         // 0 = all outgoing, 1 = all current
    int cards = 7;
    double focus = 0;
    bool preserveProportions = false;
    double width = 0;   // canvas
    double height = 0;
  };

  struct Band {
    double x = 0, y = 0, width = 0, height = 0;
  };

  static int cardCount(AppSettings::SwitcherStyle style);
  // The sweep: 1.5 + 1.5 sin(2πT / 6) for T seconds on a clock every preview shares, at most cards − 1.
  static double focusAt(double seconds, int cards);
  // The eased blend factor `since` seconds after a style change: 0 before it, 1 from 0.4 s on (and
  // for a time that is not a number).
  static float morphT(double since);
  // The card proportions by index modulo 7.
  static float aspect(int index);
  static float heightFactor(int index);
  // The centred band the cards are drawn in.
  static Band band(double width, double height);
  // The cards of one frame, farthest first (equal depths in index order); empty for a canvas 1 unit
  // high or narrower. A card a corner of which falls behind the eye is left out.
  static std::vector<Card> cards(const Input& input);
  // Fill and outline opacity of each card of a frame (same order), from its facing, nearness and depth.
  struct Ink {
    double fill = 0;
    double stroke = 0;
  };
  static std::vector<Ink> inks(const std::vector<Card>& cards);
};

}  // namespace quorvel
