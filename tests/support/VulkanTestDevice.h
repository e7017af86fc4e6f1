#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "gpu/vulkan/VulkanDevice.h"

namespace quorvel {

// A Vulkan device opened under the Khronos validation layer with its synchronization checks; every
// message the layer writes is kept, and a test fails when any was written.
class VulkanTestDevice {
 public:
  // Keeps the validation layer and the CPU driver loaded until the process ends, so that the leak
  // checker can name (and pass over) what they leave behind.
  static void keepDriversLoaded();

  VulkanTestDevice() {
    keepDriversLoaded();
    VulkanDeviceOptions options;
    options.validation = true;
    options.synchronizationValidation = true;
    options.presentation = false;
    options.onValidationMessage = [messages = messages_](const std::string& m) {
      std::lock_guard lock(messages->mutex);
      messages->list.push_back(m);
    };
    device = VulkanDevice::make(options, &error);
  }
  ~VulkanTestDevice() {
    if (device) device->waitIdle();
    device.reset();
  }
  std::vector<std::string> messages() const {
    std::lock_guard lock(messages_->mutex);
    return messages_->list;
  }
  // Fails the running test with every message written so far.
  void expectNoMessages() const {
    for (const std::string& m : messages()) ADD_FAILURE() << "validation: " << m;
  }

  std::shared_ptr<VulkanDevice> device;
  std::string error;

 private:
  struct Messages {
    std::mutex mutex;
    std::vector<std::string> list;
  };
  std::shared_ptr<Messages> messages_ = std::make_shared<Messages>();
};

}  // namespace quorvel
