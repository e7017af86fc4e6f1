#include "gpu/vulkan/VulkanCore.h"

#include <algorithm>
#include <cstring>

namespace quorvel {
namespace {

constexpr const char* kValidationLayer = "VK_LAYER_KHRONOS_validation";

bool hasExtension(const std::vector<VkExtensionProperties>& list, const char* name) {
  return std::any_of(list.begin(), list.end(),
                     [&](const VkExtensionProperties& e) { return std::strcmp(e.extensionName, name) == 0; });
}

std::vector<VkExtensionProperties> instanceExtensions() {
  uint32_t count = 0;
  vkEnumerateInstanceExtensionProperties(nullptr, &count, nullptr);
  std::vector<VkExtensionProperties> list(count);
  vkEnumerateInstanceExtensionProperties(nullptr, &count, list.data());
  list.resize(count);
  return list;
}

std::vector<VkExtensionProperties> deviceExtensions(VkPhysicalDevice device) {
  uint32_t count = 0;
  vkEnumerateDeviceExtensionProperties(device, nullptr, &count, nullptr);
  std::vector<VkExtensionProperties> list(count);
  vkEnumerateDeviceExtensionProperties(device, nullptr, &count, list.data());
  list.resize(count);
  return list;
}

bool hasLayer(const char* name) {
  uint32_t count = 0;
  vkEnumerateInstanceLayerProperties(&count, nullptr);
  std::vector<VkLayerProperties> layers(count);
  vkEnumerateInstanceLayerProperties(&count, layers.data());
  return std::any_of(layers.begin(), layers.begin() + count,
                     [&](const VkLayerProperties& l) { return std::strcmp(l.layerName, name) == 0; });
}

VKAPI_ATTR VkBool32 VKAPI_CALL onDebugMessage(VkDebugUtilsMessageSeverityFlagBitsEXT,
                                              VkDebugUtilsMessageTypeFlagsEXT,
                                              const VkDebugUtilsMessengerCallbackDataEXT* data, void* user) {
  static_cast<const VulkanCore*>(user)->reportValidation(data && data->pMessage ? data->pMessage : "(no text)");
  return VK_FALSE;
}

// Lower is better: hardware first, the CPU device last.
int rank(VkPhysicalDeviceType type) {
  switch (type) {
    case VK_PHYSICAL_DEVICE_TYPE_DISCRETE_GPU: return 0;
    case VK_PHYSICAL_DEVICE_TYPE_INTEGRATED_GPU: return 1;
    case VK_PHYSICAL_DEVICE_TYPE_VIRTUAL_GPU: return 2;
    case VK_PHYSICAL_DEVICE_TYPE_OTHER: return 3;
    default: return 4;
  }
}

}  // namespace

std::shared_ptr<VulkanCore> VulkanCore::make(const VulkanDeviceOptions& options, std::string* error) {
  std::shared_ptr<VulkanCore> core(new VulkanCore());
  std::string reason;
  if (!core->open(options, &reason)) {
    if (error) *error = reason;
    return nullptr;
  }
  return core;
}

bool VulkanCore::open(const VulkanDeviceOptions& options, std::string* error) {
  options_ = options;
  uint32_t loaderVersion = 0;
  if (vkEnumerateInstanceVersion(&loaderVersion) != VK_SUCCESS || loaderVersion < VK_API_VERSION_1_3) {
    *error = "the Vulkan loader does not offer version 1.3";
    return false;
  }

  const auto available = instanceExtensions();
  std::vector<const char*> extensions;
  debugUtils_ = hasExtension(available, VK_EXT_DEBUG_UTILS_EXTENSION_NAME);
  if (debugUtils_) extensions.push_back(VK_EXT_DEBUG_UTILS_EXTENSION_NAME);
  if (options.presentation && hasExtension(available, VK_KHR_SURFACE_EXTENSION_NAME) &&
      hasExtension(available, "VK_KHR_xcb_surface")) {
    extensions.push_back(VK_KHR_SURFACE_EXTENSION_NAME);
    extensions.push_back("VK_KHR_xcb_surface");
    xcbSurfaces_ = true;
  }
  std::vector<const char*> layers;
  if (options.validation) {
    if (!hasLayer(kValidationLayer)) {
      *error = "the Khronos validation layer is not installed";
      return false;
    }
    if (!debugUtils_) {
      *error = "the debug extension that validation reports through is missing";
      return false;
    }
    layers.push_back(kValidationLayer);
  }

  VkApplicationInfo app{VK_STRUCTURE_TYPE_APPLICATION_INFO};
  app.pApplicationName = "Quorvel";
  app.applicationVersion = VK_MAKE_VERSION(0, 1, 0);
  app.pEngineName = "Quorvel";
  app.apiVersion = VK_API_VERSION_1_3;

  VkDebugUtilsMessengerCreateInfoEXT messenger{VK_STRUCTURE_TYPE_DEBUG_UTILS_MESSENGER_CREATE_INFO_EXT};
  messenger.messageSeverity =
      VK_DEBUG_UTILS_MESSAGE_SEVERITY_WARNING_BIT_EXT | VK_DEBUG_UTILS_MESSAGE_SEVERITY_ERROR_BIT_EXT;
  messenger.messageType = VK_DEBUG_UTILS_MESSAGE_TYPE_GENERAL_BIT_EXT |
                          VK_DEBUG_UTILS_MESSAGE_TYPE_VALIDATION_BIT_EXT |
                          VK_DEBUG_UTILS_MESSAGE_TYPE_PERFORMANCE_BIT_EXT;
  messenger.pfnUserCallback = onDebugMessage;
  messenger.pUserData = this;

  const VkValidationFeatureEnableEXT syncChecks = VK_VALIDATION_FEATURE_ENABLE_SYNCHRONIZATION_VALIDATION_EXT;
  VkValidationFeaturesEXT features{VK_STRUCTURE_TYPE_VALIDATION_FEATURES_EXT};
  features.enabledValidationFeatureCount = 1;
  features.pEnabledValidationFeatures = &syncChecks;

  VkInstanceCreateInfo info{VK_STRUCTURE_TYPE_INSTANCE_CREATE_INFO};
  info.pApplicationInfo = &app;
  info.enabledExtensionCount = static_cast<uint32_t>(extensions.size());
  info.ppEnabledExtensionNames = extensions.data();
  info.enabledLayerCount = static_cast<uint32_t>(layers.size());
  info.ppEnabledLayerNames = layers.data();
  if (options.validation) {
    info.pNext = &messenger;
    if (options.synchronizationValidation) messenger.pNext = &features;
  }
  if (vkCreateInstance(&info, nullptr, &instance_) != VK_SUCCESS) {
    *error = "no Vulkan instance could be created";
    return false;
  }
  if (debugUtils_) {
    setObjectName_ = reinterpret_cast<PFN_vkSetDebugUtilsObjectNameEXT>(
        vkGetInstanceProcAddr(instance_, "vkSetDebugUtilsObjectNameEXT"));
    beginLabel_ = reinterpret_cast<PFN_vkCmdBeginDebugUtilsLabelEXT>(
        vkGetInstanceProcAddr(instance_, "vkCmdBeginDebugUtilsLabelEXT"));
    endLabel_ = reinterpret_cast<PFN_vkCmdEndDebugUtilsLabelEXT>(
        vkGetInstanceProcAddr(instance_, "vkCmdEndDebugUtilsLabelEXT"));
  }
  if (options.validation) {
    auto create = reinterpret_cast<PFN_vkCreateDebugUtilsMessengerEXT>(
        vkGetInstanceProcAddr(instance_, "vkCreateDebugUtilsMessengerEXT"));
    messenger.pNext = nullptr;
    if (!create || create(instance_, &messenger, nullptr, &messenger_) != VK_SUCCESS) {
      *error = "the validation messenger could not be installed";
      return false;
    }
  }

  // Choose the device.
  uint32_t count = 0;
  vkEnumeratePhysicalDevices(instance_, &count, nullptr);
  std::vector<VkPhysicalDevice> devices(count);
  vkEnumeratePhysicalDevices(instance_, &count, devices.data());
  devices.resize(count);
  int best = 100;
  for (VkPhysicalDevice candidate : devices) {
    VkPhysicalDeviceProperties props;
    vkGetPhysicalDeviceProperties(candidate, &props);
    if (props.apiVersion < VK_API_VERSION_1_3) continue;
    VkPhysicalDeviceVulkan13Features v13{VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_VULKAN_1_3_FEATURES};
    VkPhysicalDeviceVulkan12Features v12{VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_VULKAN_1_2_FEATURES};
    v12.pNext = &v13;
    VkPhysicalDeviceFeatures2 f2{VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_FEATURES_2};
    f2.pNext = &v12;
    vkGetPhysicalDeviceFeatures2(candidate, &f2);
    if (!v13.dynamicRendering || !v13.synchronization2 || !v12.timelineSemaphore) continue;
    if (!hasExtension(deviceExtensions(candidate), VK_KHR_PUSH_DESCRIPTOR_EXTENSION_NAME)) continue;
    uint32_t familyCount = 0;
    vkGetPhysicalDeviceQueueFamilyProperties(candidate, &familyCount, nullptr);
    std::vector<VkQueueFamilyProperties> families(familyCount);
    vkGetPhysicalDeviceQueueFamilyProperties(candidate, &familyCount, families.data());
    std::optional<uint32_t> family;
    for (uint32_t i = 0; i < familyCount; ++i)
      if (families[i].queueFlags & VK_QUEUE_GRAPHICS_BIT) {
        family = i;
        break;
      }
    if (!family) continue;
    if (rank(props.deviceType) < best) {
      best = rank(props.deviceType);
      physical_ = candidate;
      queueFamily_ = *family;
      deviceName_ = props.deviceName;
      software_ = props.deviceType == VK_PHYSICAL_DEVICE_TYPE_CPU;
      maxAnisotropy_ = props.limits.maxSamplerAnisotropy;
    }
  }
  if (!physical_) {
    *error = "no GPU offers Vulkan 1.3 with dynamic rendering, timeline semaphores and push descriptors";
    return false;
  }
  vkGetPhysicalDeviceMemoryProperties(physical_, &memory_);

  VkPhysicalDeviceFeatures supported;
  vkGetPhysicalDeviceFeatures(physical_, &supported);
  VkPhysicalDeviceVulkan13Features v13{VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_VULKAN_1_3_FEATURES};
  v13.dynamicRendering = VK_TRUE;
  v13.synchronization2 = VK_TRUE;
  VkPhysicalDeviceVulkan12Features v12{VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_VULKAN_1_2_FEATURES};
  v12.timelineSemaphore = VK_TRUE;
  v12.pNext = &v13;
  VkPhysicalDeviceFeatures2 f2{VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_FEATURES_2};
  f2.pNext = &v12;
  // The CPU device samples isotropically: its anisotropic filter (Mesa 22.3) never returns on
  // mipmapped textures.
  if (software_) supported.samplerAnisotropy = VK_FALSE;
  f2.features.samplerAnisotropy = supported.samplerAnisotropy;
  if (!supported.samplerAnisotropy) maxAnisotropy_ = 1;

  const auto offered = deviceExtensions(physical_);
  std::vector<const char*> devExtensions{VK_KHR_PUSH_DESCRIPTOR_EXTENSION_NAME};
  if (xcbSurfaces_ && hasExtension(offered, VK_KHR_SWAPCHAIN_EXTENSION_NAME))
    devExtensions.push_back(VK_KHR_SWAPCHAIN_EXTENSION_NAME);
  else
    xcbSurfaces_ = false;
  // Host memory imported as device memory lets the GPU write frames straight into memory that
  // another process (the X server) reads.
  const bool hostImport =
      options.hostMemoryImport && hasExtension(offered, VK_EXT_EXTERNAL_MEMORY_HOST_EXTENSION_NAME);
  if (hostImport) {
    VkPhysicalDeviceExternalMemoryHostPropertiesEXT hostProps{
        VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_EXTERNAL_MEMORY_HOST_PROPERTIES_EXT};
    VkPhysicalDeviceProperties2 props2{VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_PROPERTIES_2};
    props2.pNext = &hostProps;
    vkGetPhysicalDeviceProperties2(physical_, &props2);
    hostImportAlignment_ = std::max<VkDeviceSize>(hostProps.minImportedHostPointerAlignment, 1);
    devExtensions.push_back(VK_EXT_EXTERNAL_MEMORY_HOST_EXTENSION_NAME);
  }

  const float priority = 1.0f;
  VkDeviceQueueCreateInfo queueInfo{VK_STRUCTURE_TYPE_DEVICE_QUEUE_CREATE_INFO};
  queueInfo.queueFamilyIndex = queueFamily_;
  queueInfo.queueCount = 1;
  queueInfo.pQueuePriorities = &priority;
  VkDeviceCreateInfo deviceInfo{VK_STRUCTURE_TYPE_DEVICE_CREATE_INFO};
  deviceInfo.pNext = &f2;
  deviceInfo.queueCreateInfoCount = 1;
  deviceInfo.pQueueCreateInfos = &queueInfo;
  deviceInfo.enabledExtensionCount = static_cast<uint32_t>(devExtensions.size());
  deviceInfo.ppEnabledExtensionNames = devExtensions.data();
  if (vkCreateDevice(physical_, &deviceInfo, nullptr, &device_) != VK_SUCCESS) {
    *error = "the Vulkan device could not be opened";
    return false;
  }
  vkGetDeviceQueue(device_, queueFamily_, 0, &queue_);
  pushDescriptorSet_ =
      reinterpret_cast<PFN_vkCmdPushDescriptorSetKHR>(vkGetDeviceProcAddr(device_, "vkCmdPushDescriptorSetKHR"));
  if (!pushDescriptorSet_) {
    *error = "the device does not load push descriptors";
    return false;
  }
  if (hostImport) {
    hostPointerProperties_ = reinterpret_cast<PFN_vkGetMemoryHostPointerPropertiesEXT>(
        vkGetDeviceProcAddr(device_, "vkGetMemoryHostPointerPropertiesEXT"));
    if (!hostPointerProperties_) hostImportAlignment_ = 0;
  }

  VkSemaphoreTypeCreateInfo timelineType{VK_STRUCTURE_TYPE_SEMAPHORE_TYPE_CREATE_INFO};
  timelineType.semaphoreType = VK_SEMAPHORE_TYPE_TIMELINE;
  timelineType.initialValue = 0;
  VkSemaphoreCreateInfo semInfo{VK_STRUCTURE_TYPE_SEMAPHORE_CREATE_INFO};
  semInfo.pNext = &timelineType;
  if (vkCreateSemaphore(device_, &semInfo, nullptr, &timeline_) != VK_SUCCESS) {
    *error = "the device's timeline semaphore could not be made";
    return false;
  }
  setName(VK_OBJECT_TYPE_SEMAPHORE, reinterpret_cast<uint64_t>(timeline_), "Quorvel completion timeline");
  setName(VK_OBJECT_TYPE_QUEUE, reinterpret_cast<uint64_t>(queue_), "Quorvel shared queue");

  // The binding layout of the program's pipeline: the per-draw records, the texture and the
  // sampler, all pushed per draw; 48 bytes of push constants.
  VkDescriptorSetLayoutBinding bindings[3]{};
  bindings[0].binding = 0;
  bindings[0].descriptorType = VK_DESCRIPTOR_TYPE_STORAGE_BUFFER;
  bindings[0].descriptorCount = 1;
  bindings[0].stageFlags = VK_SHADER_STAGE_VERTEX_BIT | VK_SHADER_STAGE_FRAGMENT_BIT;
  bindings[1].binding = 1;
  bindings[1].descriptorType = VK_DESCRIPTOR_TYPE_SAMPLED_IMAGE;
  bindings[1].descriptorCount = 1;
  bindings[1].stageFlags = VK_SHADER_STAGE_FRAGMENT_BIT;
  bindings[2].binding = 2;
  bindings[2].descriptorType = VK_DESCRIPTOR_TYPE_SAMPLER;
  bindings[2].descriptorCount = 1;
  bindings[2].stageFlags = VK_SHADER_STAGE_FRAGMENT_BIT;
  VkDescriptorSetLayoutCreateInfo setInfo{VK_STRUCTURE_TYPE_DESCRIPTOR_SET_LAYOUT_CREATE_INFO};
  setInfo.flags = VK_DESCRIPTOR_SET_LAYOUT_CREATE_PUSH_DESCRIPTOR_BIT_KHR;
  setInfo.bindingCount = 3;
  setInfo.pBindings = bindings;
  if (vkCreateDescriptorSetLayout(device_, &setInfo, nullptr, &setLayout_) != VK_SUCCESS) {
    *error = "the binding layout could not be made";
    return false;
  }
  VkPushConstantRange range{VK_SHADER_STAGE_VERTEX_BIT | VK_SHADER_STAGE_FRAGMENT_BIT, 0, 48};
  VkPipelineLayoutCreateInfo layoutInfo{VK_STRUCTURE_TYPE_PIPELINE_LAYOUT_CREATE_INFO};
  layoutInfo.setLayoutCount = 1;
  layoutInfo.pSetLayouts = &setLayout_;
  layoutInfo.pushConstantRangeCount = 1;
  layoutInfo.pPushConstantRanges = &range;
  if (vkCreatePipelineLayout(device_, &layoutInfo, nullptr, &pipelineLayout_) != VK_SUCCESS) {
    *error = "the pipeline layout could not be made";
    return false;
  }
  return true;
}

VulkanCore::~VulkanCore() {
  if (device_) {
    vkDeviceWaitIdle(device_);
    for (const CommandSlot& slot : freeSlots_) vkDestroyCommandPool(device_, slot.pool, nullptr);
    for (const auto& [value, slot] : retiredSlots_) vkDestroyCommandPool(device_, slot.pool, nullptr);
    for (VkSemaphore s : freeSemaphores_) vkDestroySemaphore(device_, s, nullptr);
    if (pipelineLayout_) vkDestroyPipelineLayout(device_, pipelineLayout_, nullptr);
    if (setLayout_) vkDestroyDescriptorSetLayout(device_, setLayout_, nullptr);
    if (timeline_) vkDestroySemaphore(device_, timeline_, nullptr);
    vkDestroyDevice(device_, nullptr);
  }
  if (messenger_) {
    auto destroy = reinterpret_cast<PFN_vkDestroyDebugUtilsMessengerEXT>(
        vkGetInstanceProcAddr(instance_, "vkDestroyDebugUtilsMessengerEXT"));
    if (destroy) destroy(instance_, messenger_, nullptr);
  }
  if (instance_) vkDestroyInstance(instance_, nullptr);
}

std::optional<uint32_t> VulkanCore::memoryType(uint32_t typeBits, VkMemoryPropertyFlags wanted) const {
  for (uint32_t i = 0; i < memory_.memoryTypeCount; ++i)
    if ((typeBits & (1u << i)) && (memory_.memoryTypes[i].propertyFlags & wanted) == wanted) return i;
  return std::nullopt;
}

std::optional<uint32_t> VulkanCore::hostPointerMemoryTypes(const void* pointer) const {
  if (!hostPointerProperties_ || !pointer) return std::nullopt;
  VkMemoryHostPointerPropertiesEXT props{VK_STRUCTURE_TYPE_MEMORY_HOST_POINTER_PROPERTIES_EXT};
  if (hostPointerProperties_(device_, VK_EXTERNAL_MEMORY_HANDLE_TYPE_HOST_ALLOCATION_BIT_EXT, pointer, &props) !=
          VK_SUCCESS ||
      props.memoryTypeBits == 0)
    return std::nullopt;
  return props.memoryTypeBits;
}

VkDeviceMemory VulkanCore::importHostMemory(void* memory, size_t size, uint32_t typeBits, std::string* error) const {
  auto fail = [&](const char* why) {
    if (error) *error = why;
    return VkDeviceMemory{VK_NULL_HANDLE};
  };
  const auto hostTypes = hostPointerMemoryTypes(memory);
  if (!hostTypes) return fail("the device refuses this host memory");
  const auto type =
      memoryType(typeBits & *hostTypes, VK_MEMORY_PROPERTY_HOST_VISIBLE_BIT | VK_MEMORY_PROPERTY_HOST_COHERENT_BIT);
  if (!type) return fail("no coherent memory type takes this host memory");
  VkImportMemoryHostPointerInfoEXT import{VK_STRUCTURE_TYPE_IMPORT_MEMORY_HOST_POINTER_INFO_EXT};
  import.handleType = VK_EXTERNAL_MEMORY_HANDLE_TYPE_HOST_ALLOCATION_BIT_EXT;
  import.pHostPointer = memory;
  VkMemoryAllocateInfo alloc{VK_STRUCTURE_TYPE_MEMORY_ALLOCATE_INFO};
  alloc.pNext = &import;
  alloc.allocationSize = size;
  alloc.memoryTypeIndex = *type;
  VkDeviceMemory imported = VK_NULL_HANDLE;
  if (vkAllocateMemory(device_, &alloc, nullptr, &imported) != VK_SUCCESS)
    return fail("the host memory could not be imported");
  return imported;
}

void VulkanCore::setName(VkObjectType type, uint64_t handle, const std::string& name) const {
  if (!setObjectName_ || name.empty() || handle == 0) return;
  VkDebugUtilsObjectNameInfoEXT info{VK_STRUCTURE_TYPE_DEBUG_UTILS_OBJECT_NAME_INFO_EXT};
  info.objectType = type;
  info.objectHandle = handle;
  info.pObjectName = name.c_str();
  setObjectName_(device_, &info);
}

void VulkanCore::beginLabel(VkCommandBuffer commandBuffer, const std::string& label) const {
  if (!beginLabel_) return;
  VkDebugUtilsLabelEXT info{VK_STRUCTURE_TYPE_DEBUG_UTILS_LABEL_EXT};
  info.pLabelName = label.c_str();
  beginLabel_(commandBuffer, &info);
}

void VulkanCore::endLabel(VkCommandBuffer commandBuffer) const {
  if (endLabel_) endLabel_(commandBuffer);
}

void VulkanCore::pushDescriptors(VkCommandBuffer commandBuffer, uint32_t count,
                                 const VkWriteDescriptorSet* writes) const {
  pushDescriptorSet_(commandBuffer, VK_PIPELINE_BIND_POINT_GRAPHICS, pipelineLayout_, 0, count, writes);
}

std::optional<VulkanCore::CommandSlot> VulkanCore::takeCommandSlot() {
  // The command buffers of finished submit() work are free again.
  std::vector<CommandSlot> finished;
  {
    std::lock_guard lock(poolMutex_);
    if (!retiredSlots_.empty()) {
      uint64_t reached = 0;
      if (vkGetSemaphoreCounterValue(device_, timeline_, &reached) == VK_SUCCESS) {
        auto done = std::stable_partition(retiredSlots_.begin(), retiredSlots_.end(),
                                          [&](const auto& retired) { return retired.first > reached; });
        for (auto it = done; it != retiredSlots_.end(); ++it) finished.push_back(it->second);
        retiredSlots_.erase(done, retiredSlots_.end());
      }
    }
  }
  for (const CommandSlot& f : finished) recycleCommandSlot(f);
  CommandSlot slot;
  {
    std::lock_guard lock(poolMutex_);
    if (!freeSlots_.empty()) {
      slot = freeSlots_.back();
      freeSlots_.pop_back();
    }
  }
  if (!slot.pool) {
    VkCommandPoolCreateInfo info{VK_STRUCTURE_TYPE_COMMAND_POOL_CREATE_INFO};
    info.flags = VK_COMMAND_POOL_CREATE_TRANSIENT_BIT;
    info.queueFamilyIndex = queueFamily_;
    if (vkCreateCommandPool(device_, &info, nullptr, &slot.pool) != VK_SUCCESS) return std::nullopt;
    VkCommandBufferAllocateInfo alloc{VK_STRUCTURE_TYPE_COMMAND_BUFFER_ALLOCATE_INFO};
    alloc.commandPool = slot.pool;
    alloc.level = VK_COMMAND_BUFFER_LEVEL_PRIMARY;
    alloc.commandBufferCount = 1;
    if (vkAllocateCommandBuffers(device_, &alloc, &slot.buffer) != VK_SUCCESS) {
      vkDestroyCommandPool(device_, slot.pool, nullptr);
      return std::nullopt;
    }
  }
  VkCommandBufferBeginInfo begin{VK_STRUCTURE_TYPE_COMMAND_BUFFER_BEGIN_INFO};
  begin.flags = VK_COMMAND_BUFFER_USAGE_ONE_TIME_SUBMIT_BIT;
  if (vkBeginCommandBuffer(slot.buffer, &begin) != VK_SUCCESS) {
    vkDestroyCommandPool(device_, slot.pool, nullptr);
    return std::nullopt;
  }
  return slot;
}

void VulkanCore::recycleCommandSlot(CommandSlot slot) {
  if (!slot.pool) return;
  if (vkResetCommandPool(device_, slot.pool, 0) != VK_SUCCESS) {
    vkDestroyCommandPool(device_, slot.pool, nullptr);
    return;
  }
  std::lock_guard lock(poolMutex_);
  freeSlots_.push_back(slot);
}

VkSemaphore VulkanCore::takeBinarySemaphore() {
  {
    std::lock_guard lock(poolMutex_);
    if (!freeSemaphores_.empty()) {
      VkSemaphore s = freeSemaphores_.back();
      freeSemaphores_.pop_back();
      return s;
    }
  }
  VkSemaphoreCreateInfo info{VK_STRUCTURE_TYPE_SEMAPHORE_CREATE_INFO};
  VkSemaphore s = VK_NULL_HANDLE;
  if (vkCreateSemaphore(device_, &info, nullptr, &s) != VK_SUCCESS) return VK_NULL_HANDLE;
  return s;
}

void VulkanCore::recycleBinarySemaphore(VkSemaphore semaphore) {
  if (!semaphore) return;
  std::lock_guard lock(poolMutex_);
  freeSemaphores_.push_back(semaphore);
}

std::optional<uint64_t> VulkanCore::submitSlot(CommandSlot slot) {
  fullBarrier(slot.buffer);
  if (vkEndCommandBuffer(slot.buffer) != VK_SUCCESS) {
    recycleCommandSlot(slot);
    return std::nullopt;
  }
  uint64_t value = 0;
  VkResult result;
  {
    std::lock_guard lock(submitMutex_);
    value = nextTimelineValue();
    VkCommandBufferSubmitInfo cb{VK_STRUCTURE_TYPE_COMMAND_BUFFER_SUBMIT_INFO};
    cb.commandBuffer = slot.buffer;
    VkSemaphoreSubmitInfo signal{VK_STRUCTURE_TYPE_SEMAPHORE_SUBMIT_INFO};
    signal.semaphore = timeline_;
    signal.value = value;
    signal.stageMask = VK_PIPELINE_STAGE_2_ALL_COMMANDS_BIT;
    VkSubmitInfo2 submit{VK_STRUCTURE_TYPE_SUBMIT_INFO_2};
    submit.commandBufferInfoCount = 1;
    submit.pCommandBufferInfos = &cb;
    submit.signalSemaphoreInfoCount = 1;
    submit.pSignalSemaphoreInfos = &signal;
    result = vkQueueSubmit2(queue_, 1, &submit, VK_NULL_HANDLE);
    if (result != VK_SUCCESS) {
      // The value must still be reached, or every later wait would stall on it.
      VkSemaphoreSignalInfo host{VK_STRUCTURE_TYPE_SEMAPHORE_SIGNAL_INFO};
      host.semaphore = timeline_;
      host.value = value;
      vkSignalSemaphore(device_, &host);
    }
  }
  if (result != VK_SUCCESS) {
    recycleCommandSlot(slot);
    return std::nullopt;
  }
  return value;
}

bool VulkanCore::submitAndWait(const std::function<void(VkCommandBuffer)>& record) {
  std::optional<CommandSlot> slot = takeCommandSlot();
  if (!slot) return false;
  fullBarrier(slot->buffer);
  record(slot->buffer);
  const std::optional<uint64_t> value = submitSlot(*slot);
  if (!value) return false;
  const bool done = waitForValue(*value);
  recycleCommandSlot(*slot);
  return done;
}

std::optional<uint64_t> VulkanCore::submit(const std::function<void(VkCommandBuffer)>& record) {
  std::optional<CommandSlot> slot = takeCommandSlot();
  if (!slot) return std::nullopt;
  fullBarrier(slot->buffer);
  record(slot->buffer);
  const std::optional<uint64_t> value = submitSlot(*slot);
  if (!value) return std::nullopt;
  std::lock_guard lock(poolMutex_);
  retiredSlots_.emplace_back(*value, *slot);
  return value;
}

bool VulkanCore::waitForValue(uint64_t value) {
  VkSemaphoreWaitInfo wait{VK_STRUCTURE_TYPE_SEMAPHORE_WAIT_INFO};
  wait.semaphoreCount = 1;
  wait.pSemaphores = &timeline_;
  wait.pValues = &value;
  for (;;) {
    uint64_t reached = 0;
    if (vkGetSemaphoreCounterValue(device_, timeline_, &reached) != VK_SUCCESS) return false;
    if (reached >= value) return true;
    const VkResult r = vkWaitSemaphores(device_, &wait, 5'000'000);  // 5 ms
    if (r == VK_SUCCESS) return true;
    if (r != VK_TIMEOUT) return false;
  }
}

void VulkanCore::waitQueueIdle() {
  std::lock_guard lock(submitMutex_);
  vkQueueWaitIdle(queue_);
}

namespace {

// One memory barrier from the `from` stages' `written` accesses to the `to` stages' `read` accesses.
void memoryBarrier(VkCommandBuffer commandBuffer, VkPipelineStageFlags2 from, VkAccessFlags2 written,
                   VkPipelineStageFlags2 to, VkAccessFlags2 read) {
  VkMemoryBarrier2 barrier{VK_STRUCTURE_TYPE_MEMORY_BARRIER_2};
  barrier.srcStageMask = from;
  barrier.srcAccessMask = written;
  barrier.dstStageMask = to;
  barrier.dstAccessMask = read;
  VkDependencyInfo dependency{VK_STRUCTURE_TYPE_DEPENDENCY_INFO};
  dependency.memoryBarrierCount = 1;
  dependency.pMemoryBarriers = &barrier;
  vkCmdPipelineBarrier2(commandBuffer, &dependency);
}

}  // namespace

void VulkanCore::fullBarrier(VkCommandBuffer commandBuffer) {
  memoryBarrier(commandBuffer, VK_PIPELINE_STAGE_2_ALL_COMMANDS_BIT, VK_ACCESS_2_MEMORY_WRITE_BIT,
                VK_PIPELINE_STAGE_2_ALL_COMMANDS_BIT, VK_ACCESS_2_MEMORY_READ_BIT | VK_ACCESS_2_MEMORY_WRITE_BIT);
}

void VulkanCore::barrierToHost(VkCommandBuffer commandBuffer, VkPipelineStageFlags2 from) {
  memoryBarrier(commandBuffer, from, VK_ACCESS_2_TRANSFER_WRITE_BIT, VK_PIPELINE_STAGE_2_HOST_BIT,
                VK_ACCESS_2_HOST_READ_BIT);
}

void VulkanCore::reportValidation(const std::string& message) const {
  if (options_.onValidationMessage) options_.onValidationMessage(message);
}

}  // namespace quorvel
