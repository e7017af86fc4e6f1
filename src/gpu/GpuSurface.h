#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "base/Geometry.h"
#include "gpu/GpuResources.h"
#include "gpu/GpuTypes.h"

namespace quorvel {

// One image to draw a frame into, handed out by a surface. It must be presented through a command
// buffer (drawn or not) so that the surface can hand it out again.
class GpuDrawable {
 public:
  virtual ~GpuDrawable() = default;
  virtual const std::shared_ptr<GpuTexture>& texture() const = 0;
  // Whether the texture still holds what was last drawn into it when the surface hands it out
  // again (a drawable whose frame is then redrawn only where it changed).
  virtual bool keepsContents() const { return false; }
  // The pixels of this frame that differ from the frame the surface showed before it (none: all
  // of them): a surface that puts frames on screen itself puts only those.
  virtual void setDamage(std::optional<GpuRegion> /*region*/) {}
};

// Where frames go: a window on screen or an offscreen target. Bounds (in points) and the contents
// scale are the host view's and are set by it; the drawable size (pixels) is set by the renderer.
// The drawable size and the bounds may be set from the main thread while the render thread takes
// drawables; a new drawable size takes effect at the next drawable.
class GpuSurface {
 public:
  virtual ~GpuSurface() = default;

  virtual Size bounds() const = 0;
  virtual void setBounds(Size bounds) = 0;
  virtual double contentsScale() const = 0;
  virtual void setContentsScale(double scale) = 0;
  virtual GpuPixelFormat pixelFormat() const { return GpuPixelFormat::bgra8Unorm; }

  virtual uint32_t drawableWidth() const = 0;
  virtual uint32_t drawableHeight() const = 0;
  virtual void setDrawableSize(uint32_t width, uint32_t height) = 0;

  // The next image to draw into (render thread); none when the surface cannot give one now (the
  // window is gone or minimised, the size is zero, the GPU timed out).
  virtual std::shared_ptr<GpuDrawable> nextDrawable() = 0;
  // Lets go of the images the surface keeps for frames (the thread that takes drawables, between
  // them), but for what the next frame needs at once: they are the size of the drawable, and a
  // window that is not shown needs none. The next drawables make them again; frames still on their
  // way keep theirs until they are done.
  virtual void releaseDrawables() {}
};

// A surface with no window: frames stay on the GPU and the last presented one can be read back.
class GpuOffscreenSurface : public GpuSurface {
 public:
  // The last presented frame, after waiting for the GPU to finish it; empty before the first.
  virtual GpuPixels readLastFrame() = 0;
  virtual uint64_t presentedCount() const = 0;
};

}  // namespace quorvel
