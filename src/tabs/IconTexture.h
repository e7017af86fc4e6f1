#pragma once

#include <memory>

namespace quorvel {

// A GPU texture as the site-icon tables hold it. Opaque here: the GPU layer's side of the seam
// makes it and knows what it is; the tables only keep it alive, and dropping the last reference
// releases it.
class IconTexture {
 public:
  virtual ~IconTexture() = default;
};

using IconTextureRef = std::shared_ptr<const IconTexture>;

}  // namespace quorvel
