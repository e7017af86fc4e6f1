#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "gpu/GpuTypes.h"
#include "scene/SceneMath.h"

namespace quorvel {

// Which pixels of a frame's earlier draws are hidden for certain: those that an opaque card
// interior drawn later writes again, with blending off, whatever lay under them. A draw made before
// such interiors is cut to the pieces of its screen bounds they leave free (scissor rectangles), so
// that a CPU driver neither bins nor shades what would be overwritten; the frame's pixels stay the
// same to the byte.
//
// The interiors are registered with their card's place in the draw order (back to front); a draw
// asks for what the interiors from a given place on leave of its bounds. Small draws are not cut,
// and a draw is cut into at most kMaxParts pieces: interiors that would split it further are left
// out (drawing a hidden pixel is only work, never a wrong pixel).
class CardOcclusion {
 public:
  static constexpr size_t kMaxParts = 8;
  // Bounds smaller than this many pixels are drawn whole.
  static constexpr uint64_t kMinArea = 64 * 64;

  struct Parts {
    std::array<GpuRegion, kMaxParts> rects{};
    size_t count = 0;
    // Whether the pieces are the bounds themselves (nothing was cut away).
    bool whole = false;
  };

  // A new frame into a target of this size, with no interiors.
  void reset(uint32_t width, uint32_t height);
  // The interior of the card at `place` in the draw order; places come in increasing order.
  void addInterior(size_t place, GpuRegion interior);
  size_t interiorCount() const { return interiors_.size(); }

  // The target pixels a unit quad (x and y in -0.5...0.5) under this model-view-projection can
  // touch, with a pixel to spare on each side, clipped to the target; an empty region when it lies
  // off the target. None when it cannot be told (a corner at or behind the eye, a value not finite).
  std::optional<GpuRegion> quadBounds(const Float4x4& mvp) const;

  // The pieces of `bounds` that the interiors at places `firstPlace` and later leave visible, and
  // `hole` too when given: pixels the draw itself leaves as they are. `whole` (with `bounds` as the
  // one piece) when the bounds are small or nothing meets them; no pieces when they are covered.
  Parts visibleParts(GpuRegion bounds, size_t firstPlace, std::optional<GpuRegion> hole = std::nullopt);

 private:
  struct Interior {
    size_t place = 0;
    GpuRegion rect;
  };
  uint32_t width_ = 0, height_ = 0;
  std::vector<Interior> interiors_;
  std::vector<std::pair<uint64_t, GpuRegion>> meeting_;  // scratch: interiors meeting the bounds
};

}  // namespace quorvel
