#include "gpu/vulkan/VulkanBuffer.h"

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

VulkanBuffer::~VulkanBuffer() {
  VkDevice device = core_->device();
  if (buffer_) vkDestroyBuffer(device, buffer_, nullptr);
  if (memory_) vkFreeMemory(device, memory_, nullptr);  // unmaps too
}

}  // namespace quorvel
