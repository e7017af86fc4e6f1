#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "X11SessionTest.h"
#include "gpu/x11/VulkanWindowSurface.h"
#include "gpu/x11/X11ArgbWindow.h"
#include "support/VulkanTestDevice.h"

namespace quorvel {
namespace {

class VulkanWindowSurfaceTest : public X11SessionTest {
 protected:
  // Draws one frame into the surface's next drawable and waits for it.
  std::shared_ptr<GpuTexture> presentFrame(VulkanWindowSurface& surface, GpuCommandQueue& queue) {
    auto drawable = surface.nextDrawable();
    if (!drawable) return nullptr;
    auto commandBuffer = queue.makeCommandBuffer();
    GpuRenderPass pass;
    pass.colorTexture = drawable->texture();
    pass.clearColor = {0, 0, 0.5, 0.5};
    auto encoder = commandBuffer->makeRenderEncoder(pass);
    if (encoder) encoder->endEncoding();
    commandBuffer->present(drawable);
    commandBuffer->commit();
    commandBuffer->waitUntilCompleted();
    return drawable->texture();
  }
};

TEST_F(VulkanWindowSurfaceTest, ASwapchainOnAnArgbWindowIsMadeAgainWhenTheWindowIsResized) {
  VulkanTestDevice::keepDriversLoaded();
  std::vector<std::string> messages;
  std::mutex mutex;
  VulkanDeviceOptions options;
  options.validation = true;
  options.synchronizationValidation = true;
  options.onValidationMessage = [&](const std::string& m) {
    std::lock_guard lock(mutex);
    messages.push_back(m);
  };
  std::string error;
  auto device = VulkanDevice::make(options, &error);
  ASSERT_TRUE(device) << error;
  auto window = X11ArgbWindow::open(session->display(), {"Quorvel surface test", {0, 0, 320, 200}, true}, &error);
  ASSERT_TRUE(window) << error;
  window->show();
  auto surface = VulkanWindowSurface::make(device, window->connection(), window->window(), "Quorvel test", &error);
  ASSERT_TRUE(surface) << error;
  auto queue = device->makeCommandQueue("Quorvel test");
  EXPECT_FALSE(surface->nextDrawable()) << "no drawable before the size is known";

  surface->setDrawableSize(320, 200);
  for (int i = 0; i < 4; ++i) {
    auto texture = presentFrame(*surface, *queue);
    ASSERT_TRUE(texture);
    EXPECT_EQ(texture->width(), 320u);
    EXPECT_EQ(texture->height(), 200u);
  }
  EXPECT_EQ(surface->swapchainGeneration(), 1u);
  EXPECT_NE(surface->compositeAlpha(), VK_COMPOSITE_ALPHA_OPAQUE_BIT_KHR) << "a 32-bit window is composited";

  const uint32_t size[2] = {400, 250};
  xcb_configure_window(window->connection(), window->window(),
                       XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, size);
  xcb_flush(window->connection());
  std::optional<Size> resized;
  for (int i = 0; i < 200 && !resized; ++i) {
    resized = window->pollEvents();
    if (!resized) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(resized);
  surface->setDrawableSize(400, 250);
  auto texture = presentFrame(*surface, *queue);
  ASSERT_TRUE(texture);
  EXPECT_EQ(texture->width(), 400u);
  EXPECT_EQ(texture->height(), 250u);
  EXPECT_EQ(surface->swapchainGeneration(), 2u);
  EXPECT_GT(window->refreshRate(), 0);

  surface.reset();
  device->waitIdle();
  std::lock_guard lock(mutex);
  for (const auto& m : messages) ADD_FAILURE() << "validation: " << m;
}

}  // namespace
}  // namespace quorvel
