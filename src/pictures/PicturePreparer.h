#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "gpu/GpuCommandBuffer.h"
#include "gpu/GpuDevice.h"
#include "gpu/GpuResources.h"
#include "pictures/CaptureGeometry.h"

namespace quorvel {

// Encodes the GPU preparation of a captured still into a command buffer: a linear scale to half
// size, an optional Gaussian blur, the full mip chain, and copies of tab regions out of the
// full-size source. It only encodes; the caller commits. Safe to use from any thread.
//
// The blur: a Gaussian of `blurSigma` (in pixels of the half-size picture) with the picture's
// border repeated outward. It runs on a smaller copy: the half-size picture's own mip level
// 2^level times smaller, blurred there in two one-direction passes with the sigma that remains
// once the box filtering of the smaller levels and the linear enlargement back are accounted for,
// then enlarged into the destination. For the sigmas used (28 and up) the result matches a full
// Gaussian of the half-size picture within a few levels of 255, except within about a sigma of
// the border, which is repeated outward 2^level pixels deep rather than one row: there a sharp
// pattern across the border shows faintly (the tests hold both to their bounds).
class PicturePreparer {
 public:
  static constexpr float kMinSigma = 28;
  static constexpr float kMaxSigma = 112;
  // The blurred copy is made small enough that its own sigma is about this (in its pixels).
  static constexpr float kLevelSigma = 4;

  explicit PicturePreparer(std::shared_ptr<GpuDevice> device);

  // Half of a side in integer division, at least 1.
  static uint32_t halfSide(uint32_t side) { return side < 2 ? 1 : side / 2; }
  // The blur's sigma for a half-size picture of `width` × `height`: the smaller side / 34, held
  // between 28 and 112.
  static float blurSigma(uint32_t width, uint32_t height);

  // How the blur of a `width` × `height` picture (with `levels` mip levels) at `sigma` is run: on
  // mip `level`, with `levelSigma` in that level's pixels and `radius` taps to each side.
  struct BlurPlan {
    uint32_t level = 0;
    float levelSigma = 0;
    int radius = 0;
  };
  static BlurPlan blurPlan(uint32_t width, uint32_t height, uint32_t levels, float sigma);

  // One tab's region of the source picture, and the texture it was copied into.
  struct TabCrop {
    uint32_t tab = 0;
    std::shared_ptr<GpuTexture> texture;
  };
  struct CropRequest {
    uint32_t tab = 0;
    PixelRegion region;  // inside the source's level 0
  };

  struct Prepared {
    std::shared_ptr<GpuTexture> texture;  // half size, full mip chain
    std::vector<TabCrop> crops;
  };
  // Encodes the preparation of `source` (level 0 is read) into `commands`, with a blur of sigma
  // `blur` when given (the store gives blurSigma of the half size), and a copy of each requested
  // crop (a crop whose texture cannot be made is left out). None when a texture, an encoder or the
  // blur pipeline cannot be made: the command buffer then holds partial work and must not be
  // committed.
  std::optional<Prepared> encode(GpuCommandBuffer& commands, const std::shared_ptr<GpuTexture>& source,
                                 std::optional<float> blur, const std::vector<CropRequest>& crops);

 private:
  struct BlurKit {
    std::shared_ptr<GpuRenderPipeline> pipeline;
    std::shared_ptr<GpuSampler> sampler;
    std::shared_ptr<GpuBuffer> quad;
    std::shared_ptr<GpuBuffer> records;
  };
  // Made on first use; none (and tried again next time) when the device refuses a part.
  std::optional<BlurKit> blurKit();
  bool encodeBlurPass(GpuCommandBuffer& commands, const BlurKit& kit, const std::shared_ptr<GpuTexture>& from,
                      const std::shared_ptr<GpuTexture>& to, bool horizontal, const BlurPlan& plan);
  std::shared_ptr<GpuTexture> makeTexture(uint32_t width, uint32_t height, bool mips, const char* label);

  std::shared_ptr<GpuDevice> device_;
  std::mutex kitMutex_;
  std::optional<BlurKit> kit_;
};

}  // namespace quorvel
