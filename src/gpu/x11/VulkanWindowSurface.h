#pragma once

#include <vulkan/vulkan.h>
#include <xcb/xcb.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "gpu/GpuSurface.h"
#include "gpu/vulkan/VulkanDevice.h"
#include "gpu/vulkan/VulkanTexture.h"

namespace quorvel {

// An X11 window as a surface, in one of two ways of showing frames:
//
// - swapchain: a Vulkan swapchain of BGRA8 images on the window (which should have a 32-bit ARGB
//   visual), composited with premultiplied alpha where the window system offers it. The swapchain
//   is made on the first drawable and made again by the render thread, at its next drawable, when
//   the drawable size changes or the window system reports the swapchain out of date.
// - imageUpload: frames are drawn into a ring of three textures of the drawable size; the command
//   buffer that presents one copies it into host memory, and once the GPU has finished, the
//   device's completion thread puts the pixels into the window. Where the X server shares memory
//   with us (MIT-SHM on a local display), each image of the ring has a shared segment the frame is
//   copied into and the server reads it from there (one ShmPutImage, no pixels on the socket).
//   Where the device can also draw into imported host memory, the frames are drawn in the segment
//   itself (a linear image over its memory, rows as the device lays them out); where it can only
//   import host memory for copies, the GPU copies the frame straight into the segment; else the
//   completion thread copies it there from the host copy. An image is handed
//   out again only once the server has answered a request sent after its last put, so a segment
//   is never written while the server may still read it. The ring grows an image at a time (to
//   three), when no image it has is free and read by the server. Otherwise (a remote display, no extension, a refused attach) the pixels go through the
//   X protocol (PutImage at the window's own depth, in strips under the server's request limit).
//   A drawable whose frame is still on its way is not handed out again, so nextDrawable() answers
//   none while all three are.
//
// make() picks imageUpload for a GPU that draws on the CPU with a window whose depth is not 24:
// the CPU driver's own presentation (Mesa's software path, as in Mesa 22) always puts images at
// depth 24, which the X server refuses on a 32-bit window (BadMatch, dropped by the driver), so
// the window would stay blank. Every other device presents through its swapchain.
//
// nextDrawable() belongs to one thread (the render thread); the sizes may be set from any thread.
// The connection and the window stay the caller's and must outlive the surface; the surface's
// destructor waits for a frame being put into the window and none is put after it.
class VulkanWindowSurface final : public GpuSurface, public std::enable_shared_from_this<VulkanWindowSurface> {
 public:
  enum class Presentation { swapchain, imageUpload };

  // None with the reason in `error`. `presentation` overrides the choice described above;
  // `sharedMemory` false keeps uploaded frames off shared memory even where the server offers it;
  // `drawInSharedMemory` false has them copied there even where the device could draw there.
  static std::shared_ptr<VulkanWindowSurface> make(std::shared_ptr<VulkanDevice> device,
                                                   xcb_connection_t* connection, xcb_window_t window,
                                                   const std::string& label, std::string* error = nullptr,
                                                   std::optional<Presentation> presentation = std::nullopt,
                                                   bool sharedMemory = true, bool drawInSharedMemory = true);
  ~VulkanWindowSurface() override;

  Size bounds() const override;
  void setBounds(Size bounds) override;
  double contentsScale() const override;
  void setContentsScale(double scale) override;
  uint32_t drawableWidth() const override;
  uint32_t drawableHeight() const override;
  void setDrawableSize(uint32_t width, uint32_t height) override;
  std::shared_ptr<GpuDrawable> nextDrawable() override;
  // The ring of uploaded images goes down to one image; a swapchain stays.
  void releaseDrawables() override;

  Presentation presentation() const { return presentation_; }
  // How the window system composites the images (for tests and the log); the uploaded images are
  // premultiplied too.
  VkCompositeAlphaFlagBitsKHR compositeAlpha() const { return compositeAlpha_; }
  // How many swapchains have been made so far (none when uploading images).
  uint64_t swapchainGeneration() const { return generation_.load(); }
  // How many images the upload ring holds (render thread; for tests).
  size_t ringSize() const { return ring_.size(); }
  // How many frames have been handed to the window system so far.
  uint64_t presentedCount() const;
  // Whether the last uploaded frame reached the window through shared memory (false before the
  // first frame, and for a swapchain).
  bool usesSharedMemory() const;
  // Whether the last uploaded frame was written by the GPU straight into the shared segment (no
  // copy on the host).
  bool writesSharedMemoryDirectly() const;
  // Whether it was drawn there in the first place (no copy at all).
  bool drawsInSharedMemory() const;

 private:
  // The window as the image uploads see it, shared with the frames on their way.
  struct WindowPort;
  // One image of the upload ring with its host copy.
  struct UploadSlot;
  // A shared-memory segment of one image of the ring.
  struct SharedSegment;

  VulkanWindowSurface(std::shared_ptr<VulkanDevice> device, std::string label)
      : device_(std::move(device)), core_(device_->core()), label_(std::move(label)) {}
  bool rebuild(uint32_t width, uint32_t height);
  void destroySwapchain();
  std::shared_ptr<GpuDrawable> nextSwapchainDrawable(uint32_t width, uint32_t height);
  std::shared_ptr<GpuDrawable> nextUploadDrawable(uint32_t width, uint32_t height);
  // One more image for the upload ring; none when it cannot be made.
  std::shared_ptr<UploadSlot> makeUploadSlot(uint32_t width, uint32_t height);

  std::shared_ptr<VulkanDevice> device_;
  std::shared_ptr<VulkanCore> core_;
  const std::string label_;
  VkSurfaceKHR surface_ = VK_NULL_HANDLE;

  mutable std::mutex sizeMutex_;
  Size bounds_{};
  double scale_ = 1;
  uint32_t width_ = 0, height_ = 0;

  // Render thread only.
  VkSwapchainKHR swapchain_ = VK_NULL_HANDLE;
  VkExtent2D extent_{0, 0};
  std::vector<std::shared_ptr<VulkanTexture>> images_;
  std::vector<VkSemaphore> ready_;
  VkCompositeAlphaFlagBitsKHR compositeAlpha_ = VK_COMPOSITE_ALPHA_OPAQUE_BIT_KHR;
  std::atomic<bool> outOfDate_{false};
  std::atomic<uint64_t> generation_{0};
  std::atomic<uint64_t> swapchainPresents_{0};

  Presentation presentation_ = Presentation::swapchain;
  bool drawInSharedMemory_ = true;
  std::shared_ptr<WindowPort> port_;
  xcb_connection_t* connection_ = nullptr;  // the port's, for waits outside its lock
  // Render thread only.
  std::vector<std::shared_ptr<UploadSlot>> ring_;
  size_t nextSlot_ = 0;
};

}  // namespace quorvel
