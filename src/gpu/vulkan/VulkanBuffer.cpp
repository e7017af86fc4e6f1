#include "gpu/vulkan/VulkanBuffer.h"

#include <cstdint>

namespace quorvel {

std::shared_ptr<VulkanBuffer> VulkanBuffer::make(std::shared_ptr<VulkanCore> core, size_t length,
                                                 const std::string& label) {
  if (length == 0) return nullptr;
  std::shared_ptr<VulkanBuffer> b(new VulkanBuffer(core, label));
  VkDevice device = core->device();
  VkBufferCreateInfo info{VK_STRUCTURE_TYPE_BUFFER_CREATE_INFO};
  info.size = length;
  info.usage = VK_BUFFER_USAGE_VERTEX_BUFFER_BIT | VK_BUFFER_USAGE_STORAGE_BUFFER_BIT |
               VK_BUFFER_USAGE_TRANSFER_SRC_BIT | VK_BUFFER_USAGE_TRANSFER_DST_BIT;
  info.sharingMode = VK_SHARING_MODE_EXCLUSIVE;
  if (vkCreateBuffer(device, &info, nullptr, &b->buffer_) != VK_SUCCESS) return nullptr;
  VkMemoryRequirements req;
  vkGetBufferMemoryRequirements(device, b->buffer_, &req);
  auto type = core->memoryType(req.memoryTypeBits,
                               VK_MEMORY_PROPERTY_HOST_VISIBLE_BIT | VK_MEMORY_PROPERTY_HOST_COHERENT_BIT);
  if (!type) return nullptr;
  VkMemoryAllocateInfo alloc{VK_STRUCTURE_TYPE_MEMORY_ALLOCATE_INFO};
  alloc.allocationSize = req.size;
  alloc.memoryTypeIndex = *type;
  if (vkAllocateMemory(device, &alloc, nullptr, &b->memory_) != VK_SUCCESS) return nullptr;
  if (vkBindBufferMemory(device, b->buffer_, b->memory_, 0) != VK_SUCCESS) return nullptr;
  if (vkMapMemory(device, b->memory_, 0, VK_WHOLE_SIZE, 0, &b->mapped_) != VK_SUCCESS) return nullptr;
  b->length_ = length;
  core->setName(VK_OBJECT_TYPE_BUFFER, reinterpret_cast<uint64_t>(b->buffer_), label);
  return b;
}

std::shared_ptr<VulkanBuffer> VulkanBuffer::importHostMemory(std::shared_ptr<VulkanCore> core, void* memory,
                                                             size_t memorySize, size_t length,
                                                             const std::string& label, std::shared_ptr<const void> owner,
                                                             std::string* error) {
  auto fail = [&](const char* why) -> std::shared_ptr<VulkanBuffer> {
    if (error) *error = why;
    return nullptr;
  };
  const VkDeviceSize alignment = core->hostMemoryImportAlignment();
  if (!core->hasHostMemoryImport() || alignment == 0) return fail("the device cannot import host memory");
  if (!memory || length == 0 || length > memorySize || !owner) return fail("no memory to import");
  if (reinterpret_cast<uintptr_t>(memory) % alignment != 0 || memorySize % alignment != 0)
    return fail("the memory is not aligned for import");
  constexpr auto kHandle = VK_EXTERNAL_MEMORY_HANDLE_TYPE_HOST_ALLOCATION_BIT_EXT;
  constexpr VkBufferUsageFlags kUsage = VK_BUFFER_USAGE_TRANSFER_SRC_BIT | VK_BUFFER_USAGE_TRANSFER_DST_BIT;
  VkPhysicalDeviceExternalBufferInfo query{VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_EXTERNAL_BUFFER_INFO};
  query.usage = kUsage;
  query.handleType = kHandle;
  VkExternalBufferProperties external{VK_STRUCTURE_TYPE_EXTERNAL_BUFFER_PROPERTIES};
  vkGetPhysicalDeviceExternalBufferProperties(core->physicalDevice(), &query, &external);
  if (!(external.externalMemoryProperties.externalMemoryFeatures & VK_EXTERNAL_MEMORY_FEATURE_IMPORTABLE_BIT))
    return fail("the device cannot import host memory into transfer buffers");

  std::shared_ptr<VulkanBuffer> b(new VulkanBuffer(core, label));
  VkDevice device = core->device();
  VkExternalMemoryBufferCreateInfo externalInfo{VK_STRUCTURE_TYPE_EXTERNAL_MEMORY_BUFFER_CREATE_INFO};
  externalInfo.handleTypes = kHandle;
  VkBufferCreateInfo info{VK_STRUCTURE_TYPE_BUFFER_CREATE_INFO};
  info.pNext = &externalInfo;
  info.size = length;
  info.usage = kUsage;
  info.sharingMode = VK_SHARING_MODE_EXCLUSIVE;
  if (vkCreateBuffer(device, &info, nullptr, &b->buffer_) != VK_SUCCESS) return fail("the buffer could not be made");
  VkMemoryRequirements req;
  vkGetBufferMemoryRequirements(device, b->buffer_, &req);
  if (req.size > memorySize) return fail("the memory is too small for the buffer");
  b->memory_ = core->importHostMemory(memory, memorySize, req.memoryTypeBits, error);
  if (!b->memory_) return nullptr;
  // From here the buffer's destructor frees the memory before it lets go of the owner.
  b->owner_ = std::move(owner);
  if (vkBindBufferMemory(device, b->buffer_, b->memory_, 0) != VK_SUCCESS)
    return fail("the imported memory could not be bound");
  b->mapped_ = memory;
  b->length_ = length;
  core->setName(VK_OBJECT_TYPE_BUFFER, reinterpret_cast<uint64_t>(b->buffer_), label);
  return b;
}

VulkanBuffer::~VulkanBuffer() {
  VkDevice device = core_->device();
  if (buffer_) vkDestroyBuffer(device, buffer_, nullptr);
  if (memory_) vkFreeMemory(device, memory_, nullptr);  // unmaps too
  owner_.reset();  // imported memory may go only now
}

}  // namespace quorvel
