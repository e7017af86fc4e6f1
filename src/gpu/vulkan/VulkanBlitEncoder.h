#pragma once

#include <vulkan/vulkan.h>

#include <memory>

#include "gpu/GpuRenderEncoder.h"

namespace quorvel {

class VulkanCommandBuffer;

// Transfers between textures of the general layout. Every operation is fenced by a barrier from
// the work before it, so operations see each other's results in order (mip generation fences each
// level from the one above).
class VulkanBlitEncoder final : public GpuBlitEncoder {
 public:
  explicit VulkanBlitEncoder(VulkanCommandBuffer& owner);
  ~VulkanBlitEncoder() override;

  void setLabel(const std::string& label) override;
  bool uploadLevel(const std::shared_ptr<GpuTexture>& texture, uint32_t level, const void* bytes,
                   size_t bytesPerRow) override;
  void blit(const std::shared_ptr<GpuTexture>& source, uint32_t sourceLevel, GpuRegion sourceRegion,
            const std::shared_ptr<GpuTexture>& destination, uint32_t destinationLevel,
            GpuRegion destinationRegion) override;
  bool copyRegion(const std::shared_ptr<GpuTexture>& source, const std::shared_ptr<GpuTexture>& destination,
                  GpuRegion region) override;
  bool copyLevel(const std::shared_ptr<GpuTexture>& source, uint32_t sourceLevel,
                 const std::shared_ptr<GpuTexture>& destination, uint32_t destinationLevel) override;
  void generateMipmaps(const std::shared_ptr<GpuTexture>& texture) override;
  void endEncoding() override;

 private:
  VulkanCommandBuffer& owner_;
  VkCommandBuffer cb_;
  bool labelled_ = false;
  bool ended_ = false;
};

}  // namespace quorvel
