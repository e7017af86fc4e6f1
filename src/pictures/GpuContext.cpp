#include "pictures/GpuContext.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "base/Logger.h"

namespace quorvel {

std::shared_ptr<GpuContext> GpuContext::make(std::shared_ptr<GpuDevice> device) {
  if (!device) return nullptr;
  auto queue = device->makeCommandQueue("Quorvel shared queue");
  if (!queue) return nullptr;
  return std::make_shared<GpuContext>(std::move(device), std::move(queue));
}

std::shared_ptr<GpuContext> GpuContext::shared(const DeviceOpener& open) {
  static std::once_flag once;
  static std::shared_ptr<GpuContext> context;
  std::call_once(once, [&] {
    std::string reason = "no GPU device";
    std::shared_ptr<GpuDevice> device = open ? open(&reason) : nullptr;
    context = make(device);
    if (!context) {
      if (device) reason = "the GPU gave no command queue";
      const std::string message = "Vulkan is unavailable: " + reason;
      Logger("GpuContext").fault("%{public}s", message);
      std::fprintf(stderr, "%s\n", message.c_str());
      std::abort();
    }
  });
  return context;
}

}  // namespace quorvel
