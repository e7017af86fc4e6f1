#pragma once

#include <memory>

#include "gpu/GpuResources.h"
#include "pictures/CaptureExtent.h"

namespace quorvel {

// A window's picture: its texture, the part of it that holds the window and whether it is opaque.
// What a picture lookup returns and what the card renderer draws. A plain value.
struct CardPicture {
  std::shared_ptr<GpuTexture> texture;
  CaptureExtent extent;
  // Every texel of the texture has alpha 255: the card covers what lies behind it (false when
  // unknown).
  bool opaque = false;
};

}  // namespace quorvel
