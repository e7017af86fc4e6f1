#include "gpu/vulkan/VulkanTexture.h"

#include <cstring>
#include <vector>

#include "gpu/vulkan/VulkanBuffer.h"

namespace quorvel {
namespace {

VkFormat vkFormat(GpuPixelFormat format) {
  return format == GpuPixelFormat::r8Unorm ? VK_FORMAT_R8_UNORM : VK_FORMAT_B8G8R8A8_UNORM;
}

VkImageView makeView(VkDevice device, VkImage image, uint32_t levels,
                     GpuPixelFormat format = GpuPixelFormat::bgra8Unorm) {
  VkImageViewCreateInfo info{VK_STRUCTURE_TYPE_IMAGE_VIEW_CREATE_INFO};
  info.image = image;
  info.viewType = VK_IMAGE_VIEW_TYPE_2D;
  info.format = vkFormat(format);
  info.subresourceRange = {VK_IMAGE_ASPECT_COLOR_BIT, 0, levels, 0, 1};
  VkImageView view = VK_NULL_HANDLE;
  if (vkCreateImageView(device, &info, nullptr, &view) != VK_SUCCESS) return VK_NULL_HANDLE;
  return view;
}

}  // namespace

std::shared_ptr<VulkanTexture> VulkanTexture::make(std::shared_ptr<VulkanCore> core, const GpuTextureDescriptor& d) {
  if (d.width == 0 || d.height == 0 || d.mipLevels == 0 ||
      d.mipLevels > GpuTextureDescriptor::fullMipCount(d.width, d.height) ||
      (d.renderTarget && d.format != GpuPixelFormat::bgra8Unorm))
    return nullptr;
  std::shared_ptr<VulkanTexture> t(new VulkanTexture(core, d.label));
  t->width_ = d.width;
  t->height_ = d.height;
  t->levels_ = d.mipLevels;
  t->format_ = d.format;
  VkDevice device = core->device();
  VkImageCreateInfo info{VK_STRUCTURE_TYPE_IMAGE_CREATE_INFO};
  info.imageType = VK_IMAGE_TYPE_2D;
  info.format = vkFormat(d.format);
  info.extent = {d.width, d.height, 1};
  info.mipLevels = d.mipLevels;
  info.arrayLayers = 1;
  info.samples = VK_SAMPLE_COUNT_1_BIT;
  info.tiling = VK_IMAGE_TILING_OPTIMAL;
  info.usage = VK_IMAGE_USAGE_SAMPLED_BIT | VK_IMAGE_USAGE_TRANSFER_SRC_BIT | VK_IMAGE_USAGE_TRANSFER_DST_BIT;
  if (d.renderTarget) info.usage |= VK_IMAGE_USAGE_COLOR_ATTACHMENT_BIT;
  info.sharingMode = VK_SHARING_MODE_EXCLUSIVE;
  info.initialLayout = VK_IMAGE_LAYOUT_UNDEFINED;
  if (vkCreateImage(device, &info, nullptr, &t->image_) != VK_SUCCESS) return nullptr;
  VkMemoryRequirements req;
  vkGetImageMemoryRequirements(device, t->image_, &req);
  auto type = core->memoryType(req.memoryTypeBits, VK_MEMORY_PROPERTY_DEVICE_LOCAL_BIT);
  if (!type) type = core->memoryType(req.memoryTypeBits, 0);
  if (!type) return nullptr;
  VkMemoryAllocateInfo alloc{VK_STRUCTURE_TYPE_MEMORY_ALLOCATE_INFO};
  alloc.allocationSize = req.size;
  alloc.memoryTypeIndex = *type;
  if (vkAllocateMemory(device, &alloc, nullptr, &t->memory_) != VK_SUCCESS) return nullptr;
  if (vkBindImageMemory(device, t->image_, t->memory_, 0) != VK_SUCCESS) return nullptr;
  t->view_ = makeView(device, t->image_, d.mipLevels, d.format);
  if (!t->view_) return nullptr;
  core->setName(VK_OBJECT_TYPE_IMAGE, reinterpret_cast<uint64_t>(t->image_), d.label);
  VkImage image = t->image_;
  const uint32_t levels = d.mipLevels;
  // Zero-filled and in the resting layout before any later work of the queue can use it; not
  // waited for here (the destructor waits, so the image is never freed under it).
  const std::optional<uint64_t> ready = core->submit([&](VkCommandBuffer cb) {
    t->recordLayout(cb, 0, levels, VK_IMAGE_LAYOUT_UNDEFINED, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL);
    VkClearColorValue zero{};
    VkImageSubresourceRange range{VK_IMAGE_ASPECT_COLOR_BIT, 0, levels, 0, 1};
    vkCmdClearColorImage(cb, image, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, &zero, 1, &range);
    t->recordLayout(cb, 0, levels, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, kResting);
  });
  if (!ready) return nullptr;
  t->readyValue_ = *ready;
  return t;
}

namespace {

constexpr auto kHostHandle = VK_EXTERNAL_MEMORY_HANDLE_TYPE_HOST_ALLOCATION_BIT_EXT;
constexpr VkImageUsageFlags kHostUsage =
    VK_IMAGE_USAGE_COLOR_ATTACHMENT_BIT | VK_IMAGE_USAGE_TRANSFER_SRC_BIT | VK_IMAGE_USAGE_TRANSFER_DST_BIT;

VkImageCreateInfo hostImageInfo(uint32_t width, uint32_t height, const VkExternalMemoryImageCreateInfo* external) {
  VkImageCreateInfo info{VK_STRUCTURE_TYPE_IMAGE_CREATE_INFO};
  info.pNext = external;
  info.imageType = VK_IMAGE_TYPE_2D;
  info.format = VK_FORMAT_B8G8R8A8_UNORM;
  info.extent = {width, height, 1};
  info.mipLevels = 1;
  info.arrayLayers = 1;
  info.samples = VK_SAMPLE_COUNT_1_BIT;
  info.tiling = VK_IMAGE_TILING_LINEAR;  // rows the host reads as they are
  info.usage = kHostUsage;
  info.sharingMode = VK_SHARING_MODE_EXCLUSIVE;
  info.initialLayout = VK_IMAGE_LAYOUT_UNDEFINED;
  return info;
}

// Whether the device draws into linear images on imported host memory of this size.
bool drawsIntoHostMemory(const VulkanCore& core, uint32_t width, uint32_t height) {
  if (!core.hasHostMemoryImport() || width == 0 || height == 0) return false;
  VkPhysicalDeviceExternalImageFormatInfo external{VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_EXTERNAL_IMAGE_FORMAT_INFO};
  external.handleType = kHostHandle;
  VkPhysicalDeviceImageFormatInfo2 query{VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_IMAGE_FORMAT_INFO_2};
  query.pNext = &external;
  query.format = VK_FORMAT_B8G8R8A8_UNORM;
  query.type = VK_IMAGE_TYPE_2D;
  query.tiling = VK_IMAGE_TILING_LINEAR;
  query.usage = kHostUsage;
  VkExternalImageFormatProperties externalProperties{VK_STRUCTURE_TYPE_EXTERNAL_IMAGE_FORMAT_PROPERTIES};
  VkImageFormatProperties2 properties{VK_STRUCTURE_TYPE_IMAGE_FORMAT_PROPERTIES_2};
  properties.pNext = &externalProperties;
  if (vkGetPhysicalDeviceImageFormatProperties2(core.physicalDevice(), &query, &properties) != VK_SUCCESS) return false;
  const VkExtent3D& most = properties.imageFormatProperties.maxExtent;
  return (externalProperties.externalMemoryProperties.externalMemoryFeatures &
          VK_EXTERNAL_MEMORY_FEATURE_IMPORTABLE_BIT) != 0 &&
         width <= most.width && height <= most.height;
}

}  // namespace

std::optional<VulkanTexture::HostLayout> VulkanTexture::hostLayout(const VulkanCore& core, uint32_t width,
                                                                   uint32_t height) {
  if (!drawsIntoHostMemory(core, width, height)) return std::nullopt;
  VkExternalMemoryImageCreateInfo external{VK_STRUCTURE_TYPE_EXTERNAL_MEMORY_IMAGE_CREATE_INFO};
  external.handleTypes = kHostHandle;
  const VkImageCreateInfo info = hostImageInfo(width, height, &external);
  VkImage image = VK_NULL_HANDLE;
  if (vkCreateImage(core.device(), &info, nullptr, &image) != VK_SUCCESS) return std::nullopt;
  VkMemoryRequirements req;
  vkGetImageMemoryRequirements(core.device(), image, &req);
  const VkImageSubresource level{VK_IMAGE_ASPECT_COLOR_BIT, 0, 0};
  VkSubresourceLayout layout;
  vkGetImageSubresourceLayout(core.device(), image, &level, &layout);
  vkDestroyImage(core.device(), image, nullptr);
  if (layout.offset != 0 || layout.rowPitch < static_cast<VkDeviceSize>(width) * 4) return std::nullopt;
  return HostLayout{static_cast<size_t>(req.size), static_cast<size_t>(layout.rowPitch)};
}

std::shared_ptr<VulkanTexture> VulkanTexture::makeOnHostMemory(std::shared_ptr<VulkanCore> core, uint32_t width,
                                                               uint32_t height, void* memory, size_t memorySize,
                                                               std::shared_ptr<const void> owner,
                                                               const std::string& label, std::string* error) {
  auto fail = [&](const char* why) -> std::shared_ptr<VulkanTexture> {
    if (error) *error = why;
    return nullptr;
  };
  const VkDeviceSize alignment = core->hostMemoryImportAlignment();
  if (!drawsIntoHostMemory(*core, width, height) || alignment == 0)
    return fail("the device cannot draw into host memory");
  if (!memory || !owner) return fail("no memory to import");
  if (reinterpret_cast<uintptr_t>(memory) % alignment != 0 || memorySize % alignment != 0)
    return fail("the memory is not aligned for import");
  std::shared_ptr<VulkanTexture> t(new VulkanTexture(core, label));
  t->width_ = width;
  t->height_ = height;
  t->resting_ = VK_IMAGE_LAYOUT_GENERAL;
  VkDevice device = core->device();
  VkExternalMemoryImageCreateInfo external{VK_STRUCTURE_TYPE_EXTERNAL_MEMORY_IMAGE_CREATE_INFO};
  external.handleTypes = kHostHandle;
  const VkImageCreateInfo info = hostImageInfo(width, height, &external);
  if (vkCreateImage(device, &info, nullptr, &t->image_) != VK_SUCCESS) return fail("the image could not be made");
  VkMemoryRequirements req;
  vkGetImageMemoryRequirements(device, t->image_, &req);
  if (req.size > memorySize) return fail("the memory is too small for the image");
  t->memory_ = core->importHostMemory(memory, memorySize, req.memoryTypeBits, error);
  if (!t->memory_) return nullptr;
  // From here the destructor frees the memory before it lets go of the owner.
  t->owner_ = std::move(owner);
  if (vkBindImageMemory(device, t->image_, t->memory_, 0) != VK_SUCCESS)
    return fail("the imported memory could not be bound");
  const VkImageSubresource level{VK_IMAGE_ASPECT_COLOR_BIT, 0, 0};
  VkSubresourceLayout layout;
  vkGetImageSubresourceLayout(device, t->image_, &level, &layout);
  if (layout.offset != 0 || layout.rowPitch < static_cast<VkDeviceSize>(width) * 4)
    return fail("the image's rows are not laid out from the start of the memory");
  t->rowPitch_ = static_cast<size_t>(layout.rowPitch);
  t->view_ = makeView(device, t->image_, 1);
  if (!t->view_) return fail("the image view could not be made");
  core->setName(VK_OBJECT_TYPE_IMAGE, reinterpret_cast<uint64_t>(t->image_), label);
  VkImage image = t->image_;
  const std::optional<uint64_t> ready = core->submit([&](VkCommandBuffer cb) {
    t->recordLayout(cb, 0, 1, VK_IMAGE_LAYOUT_UNDEFINED, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL);
    VkClearColorValue zero{};
    VkImageSubresourceRange range{VK_IMAGE_ASPECT_COLOR_BIT, 0, 1, 0, 1};
    vkCmdClearColorImage(cb, image, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, &zero, 1, &range);
    t->recordLayout(cb, 0, 1, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, VK_IMAGE_LAYOUT_GENERAL);
  });
  if (!ready) return fail("the image could not be cleared");
  t->readyValue_ = *ready;
  return t;
}

std::shared_ptr<VulkanTexture> VulkanTexture::wrapSwapchainImage(std::shared_ptr<VulkanCore> core, VkImage image,
                                                                 uint32_t width, uint32_t height,
                                                                 const std::string& label) {
  std::shared_ptr<VulkanTexture> t(new VulkanTexture(core, label));
  t->image_ = image;
  t->width_ = width;
  t->height_ = height;
  t->levels_ = 1;
  t->borrowed_ = true;
  t->view_ = makeView(core->device(), image, 1);
  if (!t->view_) return nullptr;
  return t;
}

VulkanTexture::~VulkanTexture() {
  if (readyValue_) core_->waitForValue(readyValue_);
  VkDevice device = core_->device();
  if (view_) vkDestroyImageView(device, view_, nullptr);
  if (!borrowed_) {
    if (image_) vkDestroyImage(device, image_, nullptr);
    if (memory_) vkFreeMemory(device, memory_, nullptr);
  }
}

void VulkanTexture::recordLayout(VkCommandBuffer commandBuffer, uint32_t base, uint32_t count, VkImageLayout from,
                                 VkImageLayout to) const {
  VkImageMemoryBarrier2 barrier{VK_STRUCTURE_TYPE_IMAGE_MEMORY_BARRIER_2};
  barrier.srcStageMask = VK_PIPELINE_STAGE_2_ALL_COMMANDS_BIT;
  barrier.srcAccessMask = VK_ACCESS_2_MEMORY_WRITE_BIT;
  barrier.dstStageMask = VK_PIPELINE_STAGE_2_ALL_COMMANDS_BIT;
  barrier.dstAccessMask = VK_ACCESS_2_MEMORY_READ_BIT | VK_ACCESS_2_MEMORY_WRITE_BIT;
  barrier.oldLayout = from;
  barrier.newLayout = to;
  barrier.srcQueueFamilyIndex = barrier.dstQueueFamilyIndex = VK_QUEUE_FAMILY_IGNORED;
  barrier.image = image_;
  barrier.subresourceRange = {VK_IMAGE_ASPECT_COLOR_BIT, base, count, 0, 1};
  VkDependencyInfo dep{VK_STRUCTURE_TYPE_DEPENDENCY_INFO};
  dep.imageMemoryBarrierCount = 1;
  dep.pImageMemoryBarriers = &barrier;
  vkCmdPipelineBarrier2(commandBuffer, &dep);
}

void VulkanTexture::recordUpload(VkCommandBuffer commandBuffer, VkBuffer staging, uint32_t level) const {
  recordLayout(commandBuffer, level, 1, resting_, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL);
  VkBufferImageCopy region{};
  region.imageSubresource = {VK_IMAGE_ASPECT_COLOR_BIT, level, 0, 1};
  region.imageExtent = {levelWidth(level), levelHeight(level), 1};
  vkCmdCopyBufferToImage(commandBuffer, staging, image_, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, 1, &region);
  recordLayout(commandBuffer, level, 1, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, resting_);
}

bool VulkanTexture::replaceLevel(uint32_t level, const void* bytes, size_t bytesPerRow) {
  if (level >= levels_ || borrowed_ || !bytes) return false;
  const size_t row = static_cast<size_t>(levelWidth(level)) * bytesPerPixel(format_);
  if (bytesPerRow < row) return false;
  auto staging = VulkanBuffer::make(core_, row * levelHeight(level), label() + " upload");
  if (!staging) return false;
  for (uint32_t y = 0; y < levelHeight(level); ++y)
    std::memcpy(static_cast<char*>(staging->contents()) + y * row, static_cast<const char*>(bytes) + y * bytesPerRow,
                row);
  return core_->submitAndWait([&](VkCommandBuffer cb) { recordUpload(cb, staging->buffer(), level); });
}

bool VulkanTexture::replaceRegions(uint32_t level, const std::vector<GpuRegion>& regions, const void* bytes,
                                   size_t bytesPerRow) {
  if (level >= levels_ || borrowed_) return false;
  if (regions.empty()) return true;
  const size_t texel = bytesPerPixel(format_);
  if (!bytes || bytesPerRow < static_cast<size_t>(levelWidth(level)) * texel) return false;
  size_t total = 0;
  for (const GpuRegion& r : regions) {
    if (r.width == 0 || r.height == 0 || r.x > levelWidth(level) || r.width > levelWidth(level) - r.x ||
        r.y > levelHeight(level) || r.height > levelHeight(level) - r.y)
      return false;
    total += static_cast<size_t>(r.width) * r.height * texel + 3;
  }
  auto staging = VulkanBuffer::make(core_, total, label() + " region upload");
  if (!staging) return false;
  // Each region's rows packed one after the other; a region's texels start on a multiple of 4 bytes,
  // as a buffer-to-image copy needs.
  std::vector<VkBufferImageCopy> copies;
  copies.reserve(regions.size());
  size_t offset = 0;
  for (const GpuRegion& r : regions) {
    const size_t row = static_cast<size_t>(r.width) * texel;
    for (uint32_t y = 0; y < r.height; ++y)
      std::memcpy(static_cast<char*>(staging->contents()) + offset + y * row,
                  static_cast<const char*>(bytes) + (r.y + y) * bytesPerRow + static_cast<size_t>(r.x) * texel, row);
    VkBufferImageCopy copy{};
    copy.bufferOffset = offset;
    copy.imageSubresource = {VK_IMAGE_ASPECT_COLOR_BIT, level, 0, 1};
    copy.imageOffset = {static_cast<int32_t>(r.x), static_cast<int32_t>(r.y), 0};
    copy.imageExtent = {r.width, r.height, 1};
    copies.push_back(copy);
    offset += (row * r.height + 3) / 4 * 4;
  }
  return core_->submitAndWait([&](VkCommandBuffer cb) {
    recordLayout(cb, level, 1, resting_, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL);
    vkCmdCopyBufferToImage(cb, staging->buffer(), image_, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL,
                           static_cast<uint32_t>(copies.size()), copies.data());
    recordLayout(cb, level, 1, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, resting_);
  });
}

GpuPixels VulkanTexture::read(uint32_t level) const {
  if (level >= levels_ || borrowed_) return {};
  GpuPixels pixels;
  pixels.width = levelWidth(level);
  pixels.height = levelHeight(level);
  const size_t size = static_cast<size_t>(pixels.width) * pixels.height * bytesPerPixel(format_);
  auto staging = VulkanBuffer::make(core_, size, label() + " read-back");
  if (!staging) return {};
  const bool ok = core_->submitAndWait([&](VkCommandBuffer cb) {
    VkBufferImageCopy region{};
    region.imageSubresource = {VK_IMAGE_ASPECT_COLOR_BIT, level, 0, 1};
    region.imageExtent = {pixels.width, pixels.height, 1};
    recordLayout(cb, level, 1, resting_, VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL);
    vkCmdCopyImageToBuffer(cb, image_, VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL, staging->buffer(), 1, &region);
    recordLayout(cb, level, 1, VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL, resting_);
    VulkanCore::barrierToHost(cb, VK_PIPELINE_STAGE_2_COPY_BIT);
  });
  if (!ok) return {};
  pixels.bytes.assign(static_cast<const char*>(staging->contents()), size);
  return pixels;
}

}  // namespace quorvel
