#include "gpu/x11/VulkanWindowSurface.h"

#define VK_USE_PLATFORM_XCB_KHR
#include <vulkan/vulkan_xcb.h>

#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>
#include <xcb/xcbext.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "gpu/vulkan/VulkanBuffer.h"
#include "gpu/vulkan/VulkanDrawable.h"

namespace quorvel {
namespace {

constexpr uint64_t kAcquireTimeout = 500'000'000;  // 0.5 s
constexpr size_t kUploadImages = 3;

}  // namespace

struct VulkanWindowSurface::WindowPort {
  std::mutex mutex;
  xcb_connection_t* connection = nullptr;  // none once the surface has gone
  xcb_window_t window = 0;
  xcb_gcontext_t gc = 0;
  uint8_t depth = 24;
  size_t maxRequestBytes = 0;
  uint64_t presented = 0;
  // The server may attach shared segments (it offers MIT-SHM); false for good after a refusal.
  bool sharedMemory = false;
  bool sharing = false;  // the last frame went through a shared segment
  bool direct = false;   // ... which the GPU had written itself
  bool drawnThere = false;  // ... drawing it there

  // Puts a frame (width × height BGRA pixels, rows of `rowPixels` pixels) into the window at its top
  // left, through `segment` when it is attached, else through the protocol. `inSegment`: the pixels
  // are the segment's own memory (the GPU copied or drew the frame there), so nothing needs
  // copying. The caller has waited for the server to read the segment's previous frame
  // (SharedSegment::awaitServer).
  // With `damage`, only that rectangle of the frame is put (the window holds the rest already).
  void put(const uint8_t* pixels, uint32_t width, uint32_t height, uint32_t rowPixels, SharedSegment* segment,
           bool inSegment, std::optional<GpuRegion> damage = std::nullopt);
};

// A System V shared-memory segment attached to the X server, for one image of the upload ring.
// Made and attached on the render thread, written (by the GPU, or by the completion thread) and
// put on the completion thread, detached when the ring's image and the GPU buffer over its memory
// have gone (under the port's lock, while the connection is there).
//
// The server reads a segment some time after its put. So before a frame may be written into it
// again, the render thread waits, when it hands the image out, for the reply to a request sent
// right after that put (awaitServer): the GPU may start writing as soon as the frame is submitted.
struct VulkanWindowSurface::SharedSegment {
  std::shared_ptr<WindowPort> port;
  int id = -1;
  void* memory = nullptr;
  size_t size = 0;
  xcb_shm_seg_t seg = 0;
  // The request sent right after the last put from this segment, whose reply says the server has
  // read the segment.
  unsigned int readBack = 0;
  bool awaiting = false;
  bool drawnInPlace = false;  // the segment is the memory of the image the frames are drawn in

  bool attached() const { return seg != 0; }

  // By the one thread that holds the segment (its image handed out), with no lock held: a reply
  // may take a while. The connection is the surface's, there while the surface is.
  void awaitServer(xcb_connection_t* connection) {
    if (!awaiting) return;
    awaiting = false;
    xcb_get_input_focus_cookie_t cookie{readBack};
    std::free(xcb_get_input_focus_reply(connection, cookie, nullptr));
  }

  // Whether the server has read the last frame put from the segment (its reply has come), without
  // waiting. By the thread that holds the segment.
  bool serverHasRead(xcb_connection_t* connection) {
    if (!awaiting) return true;
    void* reply = nullptr;
    xcb_generic_error_t* error = nullptr;
    if (!xcb_poll_for_reply(connection, readBack, &reply, &error)) return false;
    std::free(reply);
    std::free(error);
    awaiting = false;
    return true;
  }

  // A segment of at least `bytes`, its size a multiple of `granule`, attached to the port's server;
  // none when the server refuses it (then the port stops asking). Under no lock.
  static std::shared_ptr<SharedSegment> make(const std::shared_ptr<WindowPort>& port, size_t bytes, size_t granule) {
    std::lock_guard lock(port->mutex);
    if (!port->connection || !port->sharedMemory) return nullptr;
    auto segment = std::make_shared<SharedSegment>();
    segment->port = port;
    granule = std::max<size_t>(granule, 1);
    segment->size = (bytes + granule - 1) / granule * granule;
    segment->id = shmget(IPC_PRIVATE, segment->size, IPC_CREAT | 0600);
    if (segment->id < 0) return nullptr;
    void* memory = shmat(segment->id, nullptr, 0);
    if (memory == reinterpret_cast<void*>(-1)) {
      shmctl(segment->id, IPC_RMID, nullptr);
      return nullptr;
    }
    segment->memory = memory;
    const xcb_shm_seg_t seg = xcb_generate_id(port->connection);
    xcb_generic_error_t* error =
        xcb_request_check(port->connection, xcb_shm_attach_checked(port->connection, seg, segment->id, 1));
    // Marked for removal now: it goes when both sides have let go of it, even if we crash.
    shmctl(segment->id, IPC_RMID, nullptr);
    if (error) {
      // A server on another machine cannot reach our memory: frames go through the protocol.
      std::free(error);
      port->sharedMemory = false;
      return nullptr;  // the destructor detaches our side
    }
    segment->seg = seg;
    return segment;
  }

  ~SharedSegment() {
    if (seg) {
      std::lock_guard lock(port->mutex);
      if (port->connection) {
        if (awaiting) xcb_discard_reply(port->connection, readBack);
        xcb_shm_detach(port->connection, seg);
        xcb_flush(port->connection);
      }
    }
    if (memory) shmdt(memory);
  }
};

void VulkanWindowSurface::WindowPort::put(const uint8_t* pixels, uint32_t width, uint32_t height, uint32_t rowPixels,
                                             SharedSegment* segment, bool inSegment, std::optional<GpuRegion> damage) {
  std::lock_guard lock(mutex);
  if (!connection || width == 0 || height == 0 || rowPixels < width) return;
  const size_t stride = static_cast<size_t>(rowPixels) * 4;
  // The rectangle put: the damage within the frame, else all of it.
  uint32_t x0 = 0, y0 = 0, w = width, h = height;
  if (damage) {
    x0 = std::min(damage->x, width);
    y0 = std::min(damage->y, height);
    w = std::min(damage->width, width - x0);
    h = std::min(damage->height, height - y0);
    if (w == 0 || h == 0) return;
  }
  if (segment && segment->attached() && segment->size >= stride * height && rowPixels <= UINT16_MAX) {
    if (!inSegment) {
      for (uint32_t y = y0; y < y0 + h; ++y)
        std::memcpy(static_cast<uint8_t*>(segment->memory) + y * stride + size_t{x0} * 4, pixels + y * stride + size_t{x0} * 4,
                    size_t{w} * 4);
    }
    // The segment holds rows of rowPixels pixels; the frame is their first `width`.
    xcb_shm_put_image(connection, window, gc, static_cast<uint16_t>(rowPixels), static_cast<uint16_t>(height),
                      static_cast<uint16_t>(x0), static_cast<uint16_t>(y0), static_cast<uint16_t>(w),
                      static_cast<uint16_t>(h), static_cast<int16_t>(x0), static_cast<int16_t>(y0), depth,
                      XCB_IMAGE_FORMAT_Z_PIXMAP, 0, segment->seg, 0);
    segment->readBack = xcb_get_input_focus(connection).sequence;
    segment->awaiting = true;
    xcb_flush(connection);
    sharing = true;
    direct = inSegment;
    drawnThere = inSegment && segment->drawnInPlace;
    ++presented;
    return;
  }
  const size_t row = static_cast<size_t>(w) * 4;
  std::vector<uint8_t> packed;
  if (rowPixels != w || x0 != 0 || y0 != 0) {
    // The protocol takes the rectangle's rows packed.
    packed.resize(row * h);
    for (uint32_t y = 0; y < h; ++y)
      std::memcpy(packed.data() + y * row, pixels + (y0 + y) * stride + size_t{x0} * 4, row);
    pixels = packed.data();
  }
  constexpr size_t kHeader = 64;  // the request's own fields, with room to spare
  const size_t rowsPerStrip = std::max<size_t>(1, (maxRequestBytes - kHeader) / row);
  for (uint32_t y = 0; y < h;) {
    const auto rows = static_cast<uint32_t>(std::min<size_t>(rowsPerStrip, h - y));
    xcb_put_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, window, gc, static_cast<uint16_t>(w),
                  static_cast<uint16_t>(rows), static_cast<int16_t>(x0), static_cast<int16_t>(y0 + y), 0, depth,
                  static_cast<uint32_t>(rows * row), pixels + y * row);
    y += rows;
  }
  xcb_flush(connection);
  sharing = false;
  direct = false;
  drawnThere = false;
  ++presented;
}

struct VulkanWindowSurface::UploadSlot {
  // Drawn into; where the device draws into imported host memory, over the shared segment's own
  // memory (the texture then keeps the segment until it has gone), and nothing is copied.
  std::shared_ptr<VulkanTexture> texture;
  std::shared_ptr<SharedSegment> shared;  // none: the frames go through the protocol
  // Else the GPU copies the frame here: over the shared segment's own memory where the device
  // imports host memory (the buffer then keeps the segment), else in memory of its own.
  std::shared_ptr<VulkanBuffer> pixels;
  bool inSegment = false;
  uint32_t rowPixels = 0;  // pixels from one row of the frame's memory to the next
  // Handed out, until its frame has been put into the window or dropped undrawn.
  std::atomic<bool> busy{false};
};

std::shared_ptr<VulkanWindowSurface> VulkanWindowSurface::make(std::shared_ptr<VulkanDevice> device,
                                                               xcb_connection_t* connection, xcb_window_t window,
                                                               const std::string& label, std::string* error,
                                                               std::optional<Presentation> presentation,
                                                               bool sharedMemory, bool drawInSharedMemory) {
  auto fail = [&](const char* why) -> std::shared_ptr<VulkanWindowSurface> {
    if (error) *error = why;
    return nullptr;
  };
  if (!device || !connection || !window) return fail("no device or window");
  auto* geometry = xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window), nullptr);
  if (!geometry) return fail("the window is gone");
  const uint8_t depth = geometry->depth;
  std::free(geometry);
  std::shared_ptr<VulkanWindowSurface> s(new VulkanWindowSurface(device, label));
  s->drawInSharedMemory_ = drawInSharedMemory;
  s->presentation_ = presentation.value_or(s->core_->isSoftware() && depth != 24 ? Presentation::imageUpload
                                                                                 : Presentation::swapchain);
  if (s->presentation_ == Presentation::imageUpload) {
    auto port = std::make_shared<WindowPort>();
    port->connection = connection;
    port->window = window;
    port->depth = depth;
    port->maxRequestBytes = static_cast<size_t>(xcb_get_maximum_request_length(connection)) * 4;
    port->gc = xcb_generate_id(connection);
    const uint32_t noExposures = 0;
    if (xcb_generic_error_t* e = xcb_request_check(
            connection, xcb_create_gc_checked(connection, port->gc, window, XCB_GC_GRAPHICS_EXPOSURES, &noExposures))) {
      std::free(e);
      return fail("the window's graphics context could not be made");
    }
    if (port->maxRequestBytes < 4096) return fail("the X server's requests are too small for images");
    if (sharedMemory) {
      const xcb_query_extension_reply_t* shm = xcb_get_extension_data(connection, &xcb_shm_id);
      port->sharedMemory = shm && shm->present;
    }
    s->port_ = std::move(port);
    s->connection_ = connection;
    s->compositeAlpha_ = VK_COMPOSITE_ALPHA_PRE_MULTIPLIED_BIT_KHR;
    return s;
  }
  if (!device->core()->hasXcbSurfaces()) return fail("the device cannot present to X11 windows");
  VkXcbSurfaceCreateInfoKHR info{VK_STRUCTURE_TYPE_XCB_SURFACE_CREATE_INFO_KHR};
  info.connection = connection;
  info.window = window;
  auto create = reinterpret_cast<PFN_vkCreateXcbSurfaceKHR>(
      vkGetInstanceProcAddr(s->core_->instance(), "vkCreateXcbSurfaceKHR"));
  if (!create || create(s->core_->instance(), &info, nullptr, &s->surface_) != VK_SUCCESS)
    return fail("the window surface could not be made");
  VkBool32 supported = VK_FALSE;
  vkGetPhysicalDeviceSurfaceSupportKHR(s->core_->physicalDevice(), s->core_->queueFamily(), s->surface_, &supported);
  if (!supported) return fail("the GPU's queue cannot present to this window");
  return s;
}

VulkanWindowSurface::~VulkanWindowSurface() {
  destroySwapchain();
  if (surface_) vkDestroySurfaceKHR(core_->instance(), surface_, nullptr);
  if (port_) {
    // The ring's shared segments are detached while the connection is there; those of frames
    // still on their way stay attached until the connection closes.
    ring_.clear();
    // Waits for a frame being put; frames still on the GPU find the window gone.
    std::lock_guard lock(port_->mutex);
    if (port_->gc) xcb_free_gc(port_->connection, port_->gc);
    xcb_flush(port_->connection);
    port_->connection = nullptr;
  }
}

bool VulkanWindowSurface::usesSharedMemory() const {
  if (!port_) return false;
  std::lock_guard lock(port_->mutex);
  return port_->sharing;
}

bool VulkanWindowSurface::writesSharedMemoryDirectly() const {
  if (!port_) return false;
  std::lock_guard lock(port_->mutex);
  return port_->sharing && port_->direct;
}

bool VulkanWindowSurface::drawsInSharedMemory() const {
  if (!port_) return false;
  std::lock_guard lock(port_->mutex);
  return port_->sharing && port_->drawnThere;
}

uint64_t VulkanWindowSurface::presentedCount() const {
  if (!port_) return swapchainPresents_.load();
  std::lock_guard lock(port_->mutex);
  return port_->presented;
}

void VulkanWindowSurface::destroySwapchain() {
  if (!swapchain_) return;
  // Nothing may still use the images or semaphores: wait for the queue and the drawables in flight.
  core_->waitQueueIdle();
  device_->waitIdle();
  images_.clear();
  for (VkSemaphore s : ready_) vkDestroySemaphore(core_->device(), s, nullptr);
  ready_.clear();
  vkDestroySwapchainKHR(core_->device(), swapchain_, nullptr);
  swapchain_ = VK_NULL_HANDLE;
}

Size VulkanWindowSurface::bounds() const {
  std::lock_guard lock(sizeMutex_);
  return bounds_;
}

void VulkanWindowSurface::setBounds(Size bounds) {
  std::lock_guard lock(sizeMutex_);
  bounds_ = bounds;
}

double VulkanWindowSurface::contentsScale() const {
  std::lock_guard lock(sizeMutex_);
  return scale_;
}

void VulkanWindowSurface::setContentsScale(double scale) {
  std::lock_guard lock(sizeMutex_);
  scale_ = scale;
}

uint32_t VulkanWindowSurface::drawableWidth() const {
  std::lock_guard lock(sizeMutex_);
  return width_;
}

uint32_t VulkanWindowSurface::drawableHeight() const {
  std::lock_guard lock(sizeMutex_);
  return height_;
}

void VulkanWindowSurface::setDrawableSize(uint32_t width, uint32_t height) {
  std::lock_guard lock(sizeMutex_);
  width_ = width;
  height_ = height;
}

bool VulkanWindowSurface::rebuild(uint32_t width, uint32_t height) {
  VkPhysicalDevice physical = core_->physicalDevice();
  VkSurfaceCapabilitiesKHR caps;
  if (vkGetPhysicalDeviceSurfaceCapabilitiesKHR(physical, surface_, &caps) != VK_SUCCESS) return false;
  VkExtent2D extent = caps.currentExtent;
  if (extent.width == 0xFFFFFFFFu) {
    extent.width = std::clamp(width, caps.minImageExtent.width, caps.maxImageExtent.width);
    extent.height = std::clamp(height, caps.minImageExtent.height, caps.maxImageExtent.height);
  }
  if (extent.width == 0 || extent.height == 0) return false;  // unmapped or minimised

  uint32_t formatCount = 0;
  vkGetPhysicalDeviceSurfaceFormatsKHR(physical, surface_, &formatCount, nullptr);
  std::vector<VkSurfaceFormatKHR> formats(formatCount);
  vkGetPhysicalDeviceSurfaceFormatsKHR(physical, surface_, &formatCount, formats.data());
  const bool hasFormat = std::any_of(formats.begin(), formats.end(), [](const VkSurfaceFormatKHR& f) {
    return f.format == VK_FORMAT_B8G8R8A8_UNORM && f.colorSpace == VK_COLOR_SPACE_SRGB_NONLINEAR_KHR;
  });
  if (!hasFormat) return false;

  compositeAlpha_ = VK_COMPOSITE_ALPHA_OPAQUE_BIT_KHR;
  for (VkCompositeAlphaFlagBitsKHR wanted :
       {VK_COMPOSITE_ALPHA_PRE_MULTIPLIED_BIT_KHR, VK_COMPOSITE_ALPHA_INHERIT_BIT_KHR,
        VK_COMPOSITE_ALPHA_OPAQUE_BIT_KHR}) {
    if (caps.supportedCompositeAlpha & wanted) {
      compositeAlpha_ = wanted;
      break;
    }
  }
  uint32_t images = std::max(caps.minImageCount + 1, 3u);
  if (caps.maxImageCount > 0) images = std::min(images, caps.maxImageCount);

  VkSwapchainKHR old = swapchain_;
  VkSwapchainCreateInfoKHR info{VK_STRUCTURE_TYPE_SWAPCHAIN_CREATE_INFO_KHR};
  info.surface = surface_;
  info.minImageCount = images;
  info.imageFormat = VK_FORMAT_B8G8R8A8_UNORM;
  info.imageColorSpace = VK_COLOR_SPACE_SRGB_NONLINEAR_KHR;
  info.imageExtent = extent;
  info.imageArrayLayers = 1;
  info.imageUsage = VK_IMAGE_USAGE_COLOR_ATTACHMENT_BIT | VK_IMAGE_USAGE_TRANSFER_DST_BIT;
  info.imageSharingMode = VK_SHARING_MODE_EXCLUSIVE;
  info.preTransform = VK_SURFACE_TRANSFORM_IDENTITY_BIT_KHR;
  info.compositeAlpha = compositeAlpha_;
  info.presentMode = VK_PRESENT_MODE_FIFO_KHR;
  info.clipped = VK_TRUE;
  info.oldSwapchain = old;
  VkSwapchainKHR made = VK_NULL_HANDLE;
  const VkResult result = vkCreateSwapchainKHR(core_->device(), &info, nullptr, &made);
  destroySwapchain();  // the old one is retired either way
  if (result != VK_SUCCESS) return false;
  swapchain_ = made;
  extent_ = extent;
  ++generation_;
  core_->setName(VK_OBJECT_TYPE_SWAPCHAIN_KHR, reinterpret_cast<uint64_t>(made), label_ + " swapchain");

  uint32_t count = 0;
  vkGetSwapchainImagesKHR(core_->device(), made, &count, nullptr);
  std::vector<VkImage> list(count);
  vkGetSwapchainImagesKHR(core_->device(), made, &count, list.data());
  for (uint32_t i = 0; i < count; ++i) {
    auto texture = VulkanTexture::wrapSwapchainImage(core_, list[i], extent.width, extent.height,
                                                     label_ + " image " + std::to_string(i));
    VkSemaphoreCreateInfo semInfo{VK_STRUCTURE_TYPE_SEMAPHORE_CREATE_INFO};
    VkSemaphore ready = VK_NULL_HANDLE;
    if (!texture || vkCreateSemaphore(core_->device(), &semInfo, nullptr, &ready) != VK_SUCCESS) {
      destroySwapchain();
      return false;
    }
    images_.push_back(texture);
    ready_.push_back(ready);
  }
  outOfDate_ = false;
  return true;
}

std::shared_ptr<GpuDrawable> VulkanWindowSurface::nextDrawable() {
  uint32_t width, height;
  {
    std::lock_guard lock(sizeMutex_);
    width = width_;
    height = height_;
  }
  if (width == 0 || height == 0) return nullptr;
  return presentation_ == Presentation::imageUpload ? nextUploadDrawable(width, height)
                                                    : nextSwapchainDrawable(width, height);
}

void VulkanWindowSurface::releaseDrawables() {
  // One image of the ring stays: a new one costs the next summon's first frame more than drawing it
  // (on a large screen, several times more), as its memory is new to the process and to the X
  // server. A swapchain stays whole: its images are the GPU's, not the process's.
  if (ring_.size() > 1) ring_.resize(1);
  nextSlot_ = 0;
}

std::shared_ptr<VulkanWindowSurface::UploadSlot> VulkanWindowSurface::makeUploadSlot(uint32_t width,
                                                                                     uint32_t height) {
  auto slot = std::make_shared<UploadSlot>();
  GpuTextureDescriptor d;
  d.width = width;
  d.height = height;
  d.renderTarget = true;
  d.label = label_ + " image " + std::to_string(ring_.size());
  const size_t bytes = static_cast<size_t>(width) * height * 4;
  const bool import = core_->hasHostMemoryImport();
  slot->rowPixels = width;
  // Best: the frames drawn straight into the segment, with rows as the device lays them out (the
  // server is told their length).
  const std::optional<VulkanTexture::HostLayout> layout =
      import && drawInSharedMemory_ ? VulkanTexture::hostLayout(*core_, width, height) : std::nullopt;
  if (layout && layout->rowPitch % 4 == 0 && layout->size >= bytes) {
    slot->shared = SharedSegment::make(port_, layout->size, core_->hostMemoryImportAlignment());
    if (slot->shared) {
      slot->texture = VulkanTexture::makeOnHostMemory(core_, width, height, slot->shared->memory, slot->shared->size,
                                                      slot->shared, d.label + " in shared memory");
    }
    if (slot->texture) {
      slot->inSegment = true;
      slot->rowPixels = static_cast<uint32_t>(layout->rowPitch / 4);
      slot->shared->drawnInPlace = true;
      return slot;
    }
  }
  slot->texture = VulkanTexture::make(core_, d);
  if (!slot->texture) return nullptr;
  if (!slot->shared) slot->shared = SharedSegment::make(port_, bytes, import ? core_->hostMemoryImportAlignment() : 1);
  if (slot->shared && import) {
    // Refused (an alignment the segment does not meet, memory the device cannot reach): the
    // frame is copied into the segment on the host as before.
    slot->pixels = VulkanBuffer::importHostMemory(core_, slot->shared->memory, slot->shared->size, bytes,
                                                  d.label + " shared pixels", slot->shared);
    slot->inSegment = slot->pixels != nullptr;
  }
  if (!slot->pixels) slot->pixels = VulkanBuffer::make(core_, bytes, d.label + " pixels");
  if (!slot->pixels) return nullptr;
  return slot;
}

std::shared_ptr<GpuDrawable> VulkanWindowSurface::nextUploadDrawable(uint32_t width, uint32_t height) {
  // A new size makes a new ring; frames of the old one still on their way keep their own images.
  if (!ring_.empty() && (ring_.front()->texture->width() != width || ring_.front()->texture->height() != height))
    ring_.clear();
  // A free image the server has read; else a new one while the ring may grow; else a free one, once
  // the server has read it.
  std::shared_ptr<UploadSlot> slot, unread;
  size_t after = 0, afterUnread = 0;
  for (size_t i = 0; i < ring_.size() && !slot; ++i) {
    const size_t at = (nextSlot_ + i) % ring_.size();
    const std::shared_ptr<UploadSlot>& candidate = ring_[at];
    if (candidate->busy.exchange(true)) continue;
    if (!candidate->shared || candidate->shared->serverHasRead(connection_)) {
      slot = candidate;
      after = at + 1;
    } else if (!unread) {
      unread = candidate;
      afterUnread = at + 1;
    } else {
      candidate->busy = false;
    }
  }
  if (!slot && ring_.size() < kUploadImages) {
    if (auto made = makeUploadSlot(width, height)) {
      made->busy = true;
      ring_.push_back(made);
      slot = std::move(made);
      after = ring_.size();
    }
  }
  if (slot && unread) unread->busy = false;
  if (!slot) {
    slot = std::move(unread);
    after = afterUnread;
  }
  if (!slot) return nullptr;  // every image is still on its way to the window
  nextSlot_ = after % ring_.size();
  // The frame may be written into the segment once this drawable is committed: the server must
  // have read the segment's previous frame first.
  if (slot->shared) slot->shared->awaitServer(connection_);
  auto onReleased = [slot](bool presented) {
    if (!presented) slot->busy = false;  // dropped undrawn: free again at once
  };
  VulkanDrawable::CopyOut copyOut;
  copyOut.buffer = slot->pixels;  // none: drawn in place
  copyOut.onCopied = [port = port_, slot, width, height](const std::optional<GpuRegion>& damage) {
    const void* pixels = slot->pixels ? slot->pixels->contents() : slot->shared->memory;
    port->put(static_cast<const uint8_t*>(pixels), width, height, slot->rowPixels, slot->shared.get(),
              slot->inSegment, damage);
    slot->busy = false;
  };
  return std::make_shared<VulkanDrawable>(slot->texture, VulkanDrawable::Swapchain{}, nullptr, onReleased,
                                          std::move(copyOut));
}

std::shared_ptr<GpuDrawable> VulkanWindowSurface::nextSwapchainDrawable(uint32_t width, uint32_t height) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!swapchain_ || outOfDate_ || extent_.width != width || extent_.height != height) {
      if (!rebuild(width, height)) return nullptr;
    }
    VkSemaphore acquired = core_->takeBinarySemaphore();
    if (!acquired) return nullptr;
    uint32_t index = 0;
    const VkResult r = vkAcquireNextImageKHR(core_->device(), swapchain_, kAcquireTimeout, acquired,
                                             VK_NULL_HANDLE, &index);
    if (r == VK_ERROR_OUT_OF_DATE_KHR) {
      core_->recycleBinarySemaphore(acquired);
      outOfDate_ = true;
      continue;
    }
    if (r != VK_SUCCESS && r != VK_SUBOPTIMAL_KHR) {
      core_->recycleBinarySemaphore(acquired);
      return nullptr;
    }
    if (r == VK_SUBOPTIMAL_KHR) outOfDate_ = true;
    std::weak_ptr<VulkanWindowSurface> weak = weak_from_this();
    std::shared_ptr<VulkanCore> core = core_;
    VulkanDrawable::Swapchain chain{swapchain_, index, acquired, ready_[index]};
    auto onPresented = [weak](VkResult result) {
      auto self = weak.lock();
      if (!self) return;
      if (result == VK_SUCCESS || result == VK_SUBOPTIMAL_KHR) ++self->swapchainPresents_;
      if (result != VK_SUCCESS) self->outOfDate_ = true;
    };
    auto onReleased = [core, acquired, weak](bool presented) {
      if (presented) {
        core->recycleBinarySemaphore(acquired);
        return;
      }
      // Never waited on: it stays signalled, so it cannot be used again; and the image stays
      // acquired, so the swapchain has to be made again.
      vkDestroySemaphore(core->device(), acquired, nullptr);
      if (auto self = weak.lock()) self->outOfDate_ = true;
    };
    return std::make_shared<VulkanDrawable>(images_[index], chain, onPresented, onReleased);
  }
  return nullptr;
}

}  // namespace quorvel
