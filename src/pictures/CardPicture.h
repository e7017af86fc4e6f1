#pragma once

#include <memory>

#include "gpu/GpuResources.h"
#include "pictures/CaptureExtent.h"

namespace quorvel {

// A window's picture: its texture and the part of it that holds the window. What a picture lookup
// returns and what the card renderer draws. A plain value.
struct CardPicture {
  std::shared_ptr<GpuTexture> texture;
  CaptureExtent extent;
};

}  // namespace quorvel
