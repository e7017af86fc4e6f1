#pragma once

#include <vulkan/vulkan.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace quorvel {

// What the Vulkan device is opened with.
struct VulkanDeviceOptions {
  // Loads the Khronos validation layer; every message it writes goes to `onValidationMessage`.
  bool validation = false;
  // With validation: also the synchronization checks.
  bool synchronizationValidation = false;
  // Called on any thread with each validation message (errors and warnings).
  std::function<void(const std::string&)> onValidationMessage;
  // Turns on the instance extensions for X11 window surfaces when the loader has them.
  bool presentation = true;
  // Turns on the import of host memory as device memory when the device offers it.
  bool hostMemoryImport = true;
};

// The Vulkan objects shared by every resource of one device: the instance (with its validation
// messenger), the chosen physical device, the logical device with its one graphics queue, the
// timeline semaphore that numbers submissions, the pipeline layout of the program's pipeline and a
// recycler of command pools. Resources hold it strongly, so it ends after the last of them.
//
// The queue is used only under `submitMutex`. Everything else is immutable after make() or guarded
// by its own mutex.
class VulkanCore {
 public:
  // Opens the device: Vulkan 1.3 with dynamic rendering, synchronization2, timeline semaphores and
  // push descriptors. A hardware GPU is preferred (discrete, then integrated, then virtual) over a
  // CPU device (lavapipe). None with the reason in `error` when no device qualifies.
  static std::shared_ptr<VulkanCore> make(const VulkanDeviceOptions& options, std::string* error);
  ~VulkanCore();
  VulkanCore(const VulkanCore&) = delete;
  VulkanCore& operator=(const VulkanCore&) = delete;

  VkInstance instance() const { return instance_; }
  VkPhysicalDevice physicalDevice() const { return physical_; }
  VkDevice device() const { return device_; }
  VkQueue queue() const { return queue_; }
  uint32_t queueFamily() const { return queueFamily_; }
  VkSemaphore timeline() const { return timeline_; }
  VkPipelineLayout pipelineLayout() const { return pipelineLayout_; }
  const std::string& deviceName() const { return deviceName_; }
  bool isSoftware() const { return software_; }
  bool hasXcbSurfaces() const { return xcbSurfaces_; }
  float maxAnisotropy() const { return maxAnisotropy_; }
  // Whether host memory can be imported as device memory (VK_EXT_external_memory_host), and the
  // alignment an imported pointer and size must both have.
  bool hasHostMemoryImport() const { return hostPointerProperties_ != nullptr; }
  VkDeviceSize hostMemoryImportAlignment() const { return hostImportAlignment_; }
  // The memory types host memory at `pointer` can be imported as; none without the import or when
  // the device refuses the pointer.
  std::optional<uint32_t> hostPointerMemoryTypes(const void* pointer) const;
  // `size` bytes of host memory at `memory` (aligned for import) imported as coherent device memory
  // of one of `typeBits` (so that the host reads what the GPU wrote with no flush in between), for
  // an object whose requirements those are; none, with the reason in `error`, where it cannot be.
  VkDeviceMemory importHostMemory(void* memory, size_t size, uint32_t typeBits, std::string* error) const;

  // Guards every use of the queue (submits, presents, waiting for idle).
  std::mutex& submitMutex() { return submitMutex_; }
  // The next timeline value; call with submitMutex held.
  uint64_t nextTimelineValue() { return ++lastValue_; }

  std::optional<uint32_t> memoryType(uint32_t typeBits, VkMemoryPropertyFlags wanted) const;
  // Gives a Vulkan object a debug name (when the debug extension is loaded).
  void setName(VkObjectType type, uint64_t handle, const std::string& name) const;
  void beginLabel(VkCommandBuffer commandBuffer, const std::string& label) const;
  void endLabel(VkCommandBuffer commandBuffer) const;
  void pushDescriptors(VkCommandBuffer commandBuffer, uint32_t count, const VkWriteDescriptorSet* writes) const;

  // A reset command pool with one primary command buffer, begun for one-time submission.
  struct CommandSlot {
    VkCommandPool pool = VK_NULL_HANDLE;
    VkCommandBuffer buffer = VK_NULL_HANDLE;
  };
  std::optional<CommandSlot> takeCommandSlot();
  void recycleCommandSlot(CommandSlot slot);

  // A binary semaphore, from a pool.
  VkSemaphore takeBinarySemaphore();
  void recycleBinarySemaphore(VkSemaphore semaphore);

  // Records work with `record` into a one-time command buffer, submits it after everything
  // submitted before and waits for it. False when the GPU refused it.
  bool submitAndWait(const std::function<void(VkCommandBuffer)>& record);
  // The same without waiting: the timeline value the work reaches when done (waitForValue), none
  // when it could not be submitted. Its command buffer is used again once the work is done.
  std::optional<uint64_t> submit(const std::function<void(VkCommandBuffer)>& record);
  // Waits until the timeline reaches `value`. Waits in short slices and reads the counter between
  // them, so a wake-up the driver loses (as the CPU driver can with several threads waiting at
  // once) costs a slice, not the wait. False when the device is lost.
  bool waitForValue(uint64_t value);
  // Waits until the queue has finished everything submitted so far.
  void waitQueueIdle();

  // Records a barrier that makes all earlier work on the queue (this command buffer's and every
  // earlier submission's) visible to all later work.
  static void fullBarrier(VkCommandBuffer commandBuffer);
  // Records a barrier that makes the transfer writes of the stages `from` readable by the host.
  static void barrierToHost(VkCommandBuffer commandBuffer, VkPipelineStageFlags2 from);

  // The validation messenger's callback target.
  void reportValidation(const std::string& message) const;

 private:
  VulkanCore() = default;
  // Ends, submits and answers the value of a recorded slot; none (slot recycled) on failure.
  std::optional<uint64_t> submitSlot(CommandSlot slot);
  bool open(const VulkanDeviceOptions& options, std::string* error);

  VulkanDeviceOptions options_;
  VkInstance instance_ = VK_NULL_HANDLE;
  VkDebugUtilsMessengerEXT messenger_ = VK_NULL_HANDLE;
  VkPhysicalDevice physical_ = VK_NULL_HANDLE;
  VkDevice device_ = VK_NULL_HANDLE;
  VkQueue queue_ = VK_NULL_HANDLE;
  uint32_t queueFamily_ = 0;
  VkSemaphore timeline_ = VK_NULL_HANDLE;
  VkDescriptorSetLayout setLayout_ = VK_NULL_HANDLE;
  VkPipelineLayout pipelineLayout_ = VK_NULL_HANDLE;
  VkPhysicalDeviceMemoryProperties memory_{};
  std::string deviceName_;
  bool software_ = false;
  bool xcbSurfaces_ = false;
  bool debugUtils_ = false;
  float maxAnisotropy_ = 1;
  VkDeviceSize hostImportAlignment_ = 0;

  PFN_vkSetDebugUtilsObjectNameEXT setObjectName_ = nullptr;
  PFN_vkCmdBeginDebugUtilsLabelEXT beginLabel_ = nullptr;
  PFN_vkCmdEndDebugUtilsLabelEXT endLabel_ = nullptr;
  PFN_vkCmdPushDescriptorSetKHR pushDescriptorSet_ = nullptr;
  PFN_vkGetMemoryHostPointerPropertiesEXT hostPointerProperties_ = nullptr;

  std::mutex submitMutex_;
  uint64_t lastValue_ = 0;

  std::mutex poolMutex_;
  std::vector<CommandSlot> freeSlots_;
  // Command buffers of submit() with the timeline value that frees them.
  std::vector<std::pair<uint64_t, CommandSlot>> retiredSlots_;
  std::vector<VkSemaphore> freeSemaphores_;
};

}  // namespace quorvel
