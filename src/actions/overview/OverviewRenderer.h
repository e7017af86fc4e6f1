#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "actions/OverviewGeometry.h"
#include "gpu/GpuDevice.h"
#include "pictures/CaptureExtent.h"
#include "pictures/GpuContext.h"
#include "scene/render/CardPipeline.h"
#include "scene/render/CardUniforms.h"

namespace quorvel {

// Draws the desktops overview into its window's surface: a plate with a soft shadow for every
// desktop tile, a ring around each display's current desktop, a shadowed and framed miniature of
// every window, a ring around the tile under the pointer, and the window being dragged. Every
// element is one quad of the card pipeline (CardPipeline) with its CardUniforms record. It draws on
// demand, no animation: the controller sets the scene and calls render(), which waits for the GPU
// before it returns, so no frame is in flight when the scene or the uniform buffer changes.
//
// Threads: the main thread only.
class OverviewRenderer {
 public:
  struct Miniature {
    Rect rect;  // view points, top-left origin
    std::shared_ptr<GpuTexture> texture;
    CaptureExtent extent;  // the part of the texture that holds the window (unit coordinates)
    bool isGhost = false;  // the window is being carried: drawn faintly
  };
  struct Scene {
    OverviewGeometry::Plan plan;
    std::vector<Miniature> miniatures;     // drawn in order
    std::optional<int> highlightedRegion;  // the tile under the pointer
    std::optional<Miniature> carried;      // the dragged window
  };
  // One draw of a frame: its record and its texture (none: the fallback texture is bound).
  struct Draw {
    CardUniforms uniforms;
    std::shared_ptr<GpuTexture> texture;
  };

  static constexpr size_t kMinimumCapacity = 64;
  static constexpr float kFallbackAccent[4] = {0.31f, 0.45f, 1.0f, 1.0f};

  // None when the card pipeline or the sampler cannot be made.
  static std::unique_ptr<OverviewRenderer> make(std::shared_ptr<GpuContext> context, GpuSurface& surface);

  void setScene(Scene scene) { scene_ = std::move(scene); }
  const Scene& scene() const { return scene_; }
  // The ring colour (red, green, blue, 1).
  void setAccentColor(Float4 color) { accent_ = color; }

  // Draws the scene into the surface's next drawable and waits for the GPU. A failure is one log
  // line ("overview drew nothing: ..."), nothing is presented and false is answered.
  bool render();
  // The draws of the scene for a target of this size in points: tiles, current-desktop rings,
  // miniatures, the hover ring, the carried window.
  std::vector<Draw> drawList(float pointWidth, float pointHeight) const;

  size_t uniformCapacity() const { return uniformCapacity_; }
  const std::shared_ptr<GpuTexture>& fallbackTexture() const { return cards_.fallbackTexture; }

 private:
  OverviewRenderer(std::shared_ptr<GpuContext> context, GpuSurface& surface, CardPipeline cards,
                   std::shared_ptr<GpuSampler> sampler);
  bool upload(const std::vector<Draw>& draws);
  void fail(const std::string& reason) const;

  std::shared_ptr<GpuContext> context_;
  GpuSurface& surface_;
  CardPipeline cards_;
  std::shared_ptr<GpuSampler> sampler_;
  std::shared_ptr<GpuBuffer> uniformBuffer_;
  size_t uniformCapacity_ = 0;
  Scene scene_;
  Float4 accent_{kFallbackAccent[0], kFallbackAccent[1], kFallbackAccent[2], kFallbackAccent[3]};
};

}  // namespace quorvel
