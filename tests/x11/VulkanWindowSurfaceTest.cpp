#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <thread>

#include "X11SessionTest.h"
#include "gpu/x11/VulkanWindowSurface.h"
#include "gpu/x11/X11ArgbWindow.h"
#include "support/VulkanTestDevice.h"

namespace quorvel {
namespace {

class VulkanWindowSurfaceTest : public X11SessionTest {
 protected:
  void SetUp() override {
    X11SessionTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    VulkanTestDevice::keepDriversLoaded();
    std::string error;
    device = openDevice(true, &error);
    ASSERT_TRUE(device) << error;
    window = X11ArgbWindow::open(session->display(), {"Quorvel surface test", {0, 0, 320, 200}, true}, &error);
    ASSERT_TRUE(window) << error;
    window->show();
    queue = device->makeCommandQueue("Quorvel test");
  }
  void TearDown() override {
    if (device) device->waitIdle();
    {
      std::lock_guard lock(mutex);
      for (const auto& m : messages) ADD_FAILURE() << "validation: " << m;
    }
    queue.reset();
    window.reset();
    device.reset();
    X11SessionTest::TearDown();
  }
  // A device under validation whose messages fail the test; `hostMemoryImport` false opens it
  // without importing host memory, as on a device that cannot.
  std::shared_ptr<VulkanDevice> openDevice(bool hostMemoryImport, std::string* error) {
    VulkanDeviceOptions options;
    options.validation = true;
    options.synchronizationValidation = true;
    options.hostMemoryImport = hostMemoryImport;
    options.onValidationMessage = [this](const std::string& m) {
      std::lock_guard lock(mutex);
      messages.push_back(m);
    };
    return VulkanDevice::make(options, error);
  }
  // Resizes the window and waits until it knows.
  void resize(uint32_t width, uint32_t height) {
    const uint32_t size[2] = {width, height};
    xcb_configure_window(window->connection(), window->window(), XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT,
                         size);
    xcb_flush(window->connection());
    std::optional<Size> resized;
    for (int i = 0; i < 200 && !resized; ++i) {
      resized = window->pollEvents();
      if (!resized) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(resized);
  }

  // Draws one frame into the surface's next drawable and commits it, without waiting.
  static std::shared_ptr<GpuCommandBuffer> commitFrame(VulkanWindowSurface& surface, GpuCommandQueue& queue,
                                                       GpuColor colour, std::shared_ptr<GpuTexture>* texture = nullptr) {
    auto drawable = surface.nextDrawable();
    if (!drawable) return nullptr;
    auto commandBuffer = queue.makeCommandBuffer();
    GpuRenderPass pass;
    pass.colorTexture = drawable->texture();
    pass.clearColor = colour;
    auto encoder = commandBuffer->makeRenderEncoder(pass);
    if (encoder) encoder->endEncoding();
    commandBuffer->present(drawable);
    commandBuffer->commit();
    if (texture) *texture = drawable->texture();
    return commandBuffer;
  }
  // Draws one frame into the surface's next drawable and waits for it.
  static std::shared_ptr<GpuTexture> presentFrame(VulkanWindowSurface& surface, GpuCommandQueue& queue,
                                                  GpuColor colour = {0, 0, 0.5, 0.5}) {
    std::shared_ptr<GpuTexture> texture;
    auto commandBuffer = commitFrame(surface, queue, colour, &texture);
    if (!commandBuffer) return nullptr;
    commandBuffer->waitUntilCompleted();
    return texture;
  }
  // The window's pixel (blue, green, red, alpha) once the server has handled what the window's
  // connection sent.
  static std::array<int, 4> windowPixel(X11ArgbWindow& window, int x, int y) {
    xcb_connection_t* c = window.connection();
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    auto* image = xcb_get_image_reply(
        c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, window.window(), int16_t(x), int16_t(y), 1, 1, ~0u), nullptr);
    std::array<int, 4> pixel{-1, -1, -1, -1};
    if (image && xcb_get_image_data_length(image) >= 4) {
      const uint8_t* p = xcb_get_image_data(image);
      pixel = {p[0], p[1], p[2], p[3]};
    }
    std::free(image);
    return pixel;
  }

  std::mutex mutex;
  std::vector<std::string> messages;
  std::shared_ptr<VulkanDevice> device;
  std::unique_ptr<X11ArgbWindow> window;
  std::shared_ptr<GpuCommandQueue> queue;
};

// Compared with a plain 24-bit window under Xvfb, the CPU driver's own presentation shows nothing
// on a 32-bit one (it puts every image at depth 24 and the server refuses it), so on that driver
// the surface puts the frames into the window itself; the window's own pixels show them.
TEST_F(VulkanWindowSurfaceTest, FramesReachTheArgbWindowsPixelsAndFollowItsSize) {
  std::string error;
  auto surface = VulkanWindowSurface::make(device, window->connection(), window->window(), "Quorvel test", &error);
  ASSERT_TRUE(surface) << error;
  EXPECT_FALSE(surface->nextDrawable()) << "no drawable before the size is known";
  if (device->core()->isSoftware()) {
    EXPECT_EQ(surface->presentation(), VulkanWindowSurface::Presentation::imageUpload);
  }
  EXPECT_NE(surface->compositeAlpha(), VK_COMPOSITE_ALPHA_OPAQUE_BIT_KHR) << "a 32-bit window is composited";

  surface->setDrawableSize(320, 200);
  for (int i = 0; i < 4; ++i) {
    auto texture = presentFrame(*surface, *queue);
    ASSERT_TRUE(texture);
    EXPECT_EQ(texture->width(), 320u);
    EXPECT_EQ(texture->height(), 200u);
  }
  EXPECT_EQ(surface->presentedCount(), 4u);
  if (surface->presentation() == VulkanWindowSurface::Presentation::imageUpload) {
    EXPECT_TRUE(surface->usesSharedMemory()) << "the local server shares memory";
    EXPECT_EQ(surface->writesSharedMemoryDirectly(), device->core()->hasHostMemoryImport());
  }
  EXPECT_EQ(windowPixel(*window, 0, 0), (std::array<int, 4>{128, 0, 0, 128})) << "premultiplied, blue first";
  EXPECT_EQ(windowPixel(*window, 319, 199), (std::array<int, 4>{128, 0, 0, 128}));

  resize(400, 250);
  surface->setDrawableSize(400, 250);
  auto texture = presentFrame(*surface, *queue, {1, 0.5, 0, 1});
  ASSERT_TRUE(texture);
  EXPECT_EQ(texture->width(), 400u);
  EXPECT_EQ(texture->height(), 250u);
  EXPECT_EQ(windowPixel(*window, 399, 249), (std::array<int, 4>{0, 128, 255, 255})) << "the new size's last pixel";
  EXPECT_GT(window->refreshRate(), 0);

  if (surface->presentation() != VulkanWindowSurface::Presentation::imageUpload) return;
  // Drawables dropped undrawn come back at once; one presented without drawing shows transparent.
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(surface->nextDrawable());
  auto drawable = surface->nextDrawable();
  ASSERT_TRUE(drawable);
  auto commandBuffer = queue->makeCommandBuffer();
  commandBuffer->present(drawable);
  commandBuffer->commit();
  commandBuffer->waitUntilCompleted();
  EXPECT_EQ(windowPixel(*window, 10, 10), (std::array<int, 4>{0, 0, 0, 0}));
  surface.reset();
  EXPECT_EQ(windowPixel(*window, 10, 10), (std::array<int, 4>{0, 0, 0, 0})) << "the window outlives its surface";
}

// Where the server shares no memory (a remote display), the frames go through the protocol: the
// same pixels, each shared image of the ring given back once the server has read it. Where the
// device draws into imported host memory (the CPU driver does) the frames are drawn in the shared
// segments themselves; one that only imports memory for copies has the GPU copy them there; a
// device that imports none has them copied there on the host.
TEST_F(VulkanWindowSurfaceTest, UploadedFramesReachTheWindowWithAndWithoutSharedMemory) {
  std::string error;
  auto noImport = openDevice(false, &error);
  ASSERT_TRUE(noImport) << error;
  EXPECT_FALSE(noImport->core()->hasHostMemoryImport());
  if (device->core()->isSoftware()) {
    EXPECT_TRUE(device->core()->hasHostMemoryImport()) << "the CPU driver imports host memory";
  }
  struct Path {
    const char* name;
    bool shared;
    bool drawInShared;
    std::shared_ptr<VulkanDevice> device;
  };
  for (const Path& path : {Path{"protocol", false, true, device}, Path{"shared memory, host copy", true, true, noImport},
                           Path{"shared memory, GPU copy", true, false, device},
                           Path{"shared memory, drawn there", true, true, device}}) {
    SCOPED_TRACE(path.name);
    const bool shared = path.shared;
    const bool direct = shared && path.device->core()->hasHostMemoryImport();
    const bool drawnThere = direct && path.drawInShared;
    auto queue = path.device->makeCommandQueue("Quorvel test");
    auto surface =
        VulkanWindowSurface::make(path.device, window->connection(), window->window(), "Quorvel test", &error,
                                  VulkanWindowSurface::Presentation::imageUpload, shared, path.drawInShared);
    ASSERT_TRUE(surface) << error;
    // A width whose rows the device pads (319 pixels: 1276 bytes, laid out in 1280 where a driver
    // aligns rows to 64 bytes), then one it does not (the window's own 320).
    for (const uint32_t width : {319u, 320u}) {
      SCOPED_TRACE(width);
      surface->setDrawableSize(width, 200);
      // More frames than the ring holds, each a colour of its own: a shared image written again
      // before the server had read it would show another frame's colour.
      for (int i = 0; i < 7; ++i) {
        const float blue = static_cast<float>(i + 1) / 8;
        ASSERT_TRUE(presentFrame(*surface, *queue, {0, 0, blue, 1}));
        const int expected = static_cast<int>(std::lround(blue * 255));
        EXPECT_EQ(windowPixel(*window, 160, 100), (std::array<int, 4>{expected, 0, 0, 255})) << "frame " << i;
        // The frame's last column and last row too: nothing of the padding shows, nothing is cut.
        EXPECT_EQ(windowPixel(*window, static_cast<int>(width) - 1, 199), (std::array<int, 4>{expected, 0, 0, 255}));
      }
      EXPECT_EQ(surface->usesSharedMemory(), shared);
      EXPECT_EQ(surface->writesSharedMemoryDirectly(), direct);
      EXPECT_EQ(surface->drawsInSharedMemory(), drawnThere);
    }
    EXPECT_EQ(surface->presentedCount(), 14u);
  }
  noImport->waitIdle();
}

// The server reads a shared image some time after its put; until it has, no frame may be drawn
// into that image again. With the server held by another client, the images of three puts stay
// unread, so a fourth frame waits for its drawable until the server is let go, and then shows.
TEST_F(VulkanWindowSurfaceTest, ASharedImageIsNotHandedOutAgainBeforeTheServerReadIt) {
  std::string error;
  auto noImport = openDevice(false, &error);
  ASSERT_TRUE(noImport) << error;
  xcb_connection_t* holder = xcb_connect(session->display().c_str(), nullptr);
  ASSERT_FALSE(xcb_connection_has_error(holder));
  struct Way {
    const char* name;
    std::shared_ptr<VulkanDevice> gpu;
    bool drawInShared;
  };
  for (const Way& way : {Way{"drawn there", device, true}, Way{"GPU copy", device, false}, Way{"host copy", noImport, true}}) {
    SCOPED_TRACE(way.name);
    const auto& gpu = way.gpu;
    auto queue = gpu->makeCommandQueue("Quorvel test");
    auto surface = VulkanWindowSurface::make(gpu, window->connection(), window->window(), "Quorvel test", &error,
                                             VulkanWindowSurface::Presentation::imageUpload, true, way.drawInShared);
    ASSERT_TRUE(surface) << error;
    surface->setDrawableSize(320, 200);
    // Three images handed out at once (the ring grows to three), then each drawn and shown.
    std::vector<std::shared_ptr<GpuDrawable>> drawables;
    for (int i = 0; i < 3; ++i) drawables.push_back(surface->nextDrawable());
    for (const auto& drawable : drawables) {
      ASSERT_TRUE(drawable);
      auto commandBuffer = queue->makeCommandBuffer();
      GpuRenderPass pass;
      pass.colorTexture = drawable->texture();
      pass.clearColor = {0, 0.25, 0, 1};
      if (auto encoder = commandBuffer->makeRenderEncoder(pass)) encoder->endEncoding();
      commandBuffer->present(drawable);
      commandBuffer->commit();
      commandBuffer->waitUntilCompleted();
    }
    ASSERT_TRUE(surface->usesSharedMemory());
    EXPECT_EQ(windowPixel(*window, 5, 5), (std::array<int, 4>{0, 64, 0, 255}));

    xcb_grab_server(holder);
    std::free(xcb_get_input_focus_reply(holder, xcb_get_input_focus(holder), nullptr));
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(presentFrame(*surface, *queue, {0, 0, 0.25f * static_cast<float>(i + 1), 1}));
    std::atomic<bool> drawn{false};
    std::thread render([&] {
      presentFrame(*surface, *queue, {0.5, 0, 0, 1});
      drawn = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(drawn) << "a frame was drawn into an image the server had not read yet";
    xcb_ungrab_server(holder);
    xcb_flush(holder);
    render.join();
    EXPECT_TRUE(drawn);
    EXPECT_EQ(windowPixel(*window, 5, 5), (std::array<int, 4>{0, 0, 128, 255})) << "the last frame shows";
    EXPECT_EQ(surface->presentedCount(), 7u);
    // Once the overlay has gone, one image is left for the next summon's first frame.
    EXPECT_EQ(surface->ringSize(), 3u);
    surface->releaseDrawables();
    EXPECT_EQ(surface->ringSize(), 1u);
    ASSERT_TRUE(presentFrame(*surface, *queue, {0, 0.5, 0, 1}));
    EXPECT_EQ(windowPixel(*window, 5, 5), (std::array<int, 4>{0, 128, 0, 255}));
  }
  xcb_disconnect(holder);
  noImport->waitIdle();
}

// Frames still on the GPU when the size changes (a new ring) or when the surface goes keep what
// they use (the imported segments among it) until they are done: no use after free, no buffer
// freed while the GPU writes it.
TEST_F(VulkanWindowSurfaceTest, FramesInFlightOutliveANewRingAndTheSurface) {
  std::string error;
  auto surface = VulkanWindowSurface::make(device, window->connection(), window->window(), "Quorvel test", &error,
                                           VulkanWindowSurface::Presentation::imageUpload, true);
  ASSERT_TRUE(surface) << error;
  std::vector<std::shared_ptr<GpuCommandBuffer>> inFlight;
  surface->setDrawableSize(320, 200);
  for (int i = 0; i < 3; ++i) {
    auto frame = commitFrame(*surface, *queue, {0, 0, 1, 1});
    ASSERT_TRUE(frame);
    inFlight.push_back(frame);
  }
  surface->setDrawableSize(160, 100);
  for (int i = 0; i < 2; ++i) {
    auto frame = commitFrame(*surface, *queue, {0, 1, 0, 1});
    ASSERT_TRUE(frame);
    inFlight.push_back(frame);
  }
  inFlight.back()->waitUntilCompleted();
  EXPECT_EQ(surface->writesSharedMemoryDirectly(), device->core()->hasHostMemoryImport());
  for (int i = 0; i < 2; ++i) {
    auto frame = commitFrame(*surface, *queue, {1, 0, 0, 1});
    ASSERT_TRUE(frame);
    inFlight.push_back(frame);
  }
  surface.reset();
  for (const auto& frame : inFlight) {
    frame->waitUntilCompleted();
    EXPECT_EQ(frame->status(), GpuCommandStatus::completed);
  }
  device->waitIdle();
  EXPECT_EQ(windowPixel(*window, 5, 5)[3], 255) << "the window still answers";
}

TEST_F(VulkanWindowSurfaceTest, ASwapchainIsMadeAgainWhenTheWindowIsResized) {
  std::string error;
  auto surface = VulkanWindowSurface::make(device, window->connection(), window->window(), "Quorvel test", &error,
                                           VulkanWindowSurface::Presentation::swapchain);
  ASSERT_TRUE(surface) << error;
  surface->setDrawableSize(320, 200);
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(presentFrame(*surface, *queue));
  EXPECT_EQ(surface->swapchainGeneration(), 1u);
  EXPECT_EQ(surface->presentedCount(), 3u);
  resize(400, 250);
  surface->setDrawableSize(400, 250);
  auto texture = presentFrame(*surface, *queue);
  ASSERT_TRUE(texture);
  EXPECT_EQ(texture->width(), 400u);
  EXPECT_EQ(surface->swapchainGeneration(), 2u);
}

}  // namespace
}  // namespace quorvel
