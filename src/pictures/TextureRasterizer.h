#pragma once

#include <memory>
#include <string>

#include "gpu/GpuResources.h"
#include "pictures/GpuContext.h"

namespace quorvel {

// A texture cache's handle on the shared GPU context, and its one GPU operation. Each texture cache
// holds one; copies are cheap.
struct TextureRasterizer {
  std::shared_ptr<GpuContext> context;

  // Builds the texture's mip chain from level 0 on the GPU in a command buffer labelled `label`;
  // does not wait. A texture of fewer than 2 levels needs nothing, and none is committed. Without
  // a command buffer or encoder nothing happens and the texture is drawn from level 0 alone. Any
  // thread.
  void generateMipmaps(const std::shared_ptr<GpuTexture>& texture, const std::string& label) const;
};

}  // namespace quorvel
