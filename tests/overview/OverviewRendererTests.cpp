#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

#include "actions/overview/OverviewRenderer.h"
#include "base/LogCapture.h"
#include "gpu/recording/RecordingDevice.h"
#include "support/VulkanTestDevice.h"

namespace quorvel {
namespace {

// Two desktops side by side (the first current) and three windows, two with pictures.
OverviewRenderer::Scene sampleScene(const std::vector<std::shared_ptr<GpuTexture>>& pictures) {
  OverviewRenderer::Scene scene;
  OverviewGeometry::Region current;
  current.spaceID = 1;
  current.isCurrent = true;
  current.rect = {40, 60, 240, 150};
  OverviewGeometry::Region other = current;
  other.spaceID = 2;
  other.isCurrent = false;
  other.rect = {320, 60, 240, 150};
  scene.plan.regions = {current, other};
  scene.miniatures = {{{60, 80, 120, 80}, pictures.size() > 0 ? pictures[0] : nullptr, {}, false},
                      {{340, 90, 100, 90}, pictures.size() > 1 ? pictures[1] : nullptr, {}, false},
                      {{150, 140, 100, 50}, nullptr, {}, false}};
  return scene;
}

struct RecordingRenderer {
  RecordingRenderer() {
    context = GpuContext::make(device);
    surface = device->makeOffscreenSurface("Quorvel test surface");
    surface->setBounds({640, 400});
    surface->setContentsScale(1);
    surface->setDrawableSize(640, 400);
    renderer = OverviewRenderer::make(context, *surface);
  }
  std::vector<RecordedDraw> lastDraws() const {
    const auto buffers = device->commandBuffers();
    if (buffers.empty() || buffers.back().encoders.empty()) return {};
    return buffers.back().encoders.front().draws;
  }
  std::shared_ptr<RecordingDevice> device = RecordingDevice::make();
  std::shared_ptr<GpuContext> context;
  std::shared_ptr<GpuOffscreenSurface> surface;
  std::unique_ptr<OverviewRenderer> renderer;
};

TEST(OverviewRendererTest, DrawsTilesRingsMiniaturesHoverAndTheCarriedWindowInOrder) {
  RecordingRenderer r;
  ASSERT_TRUE(r.renderer);
  auto picture = r.device->makeTexture({64, 40, 1, false, "picture"});
  OverviewRenderer::Scene scene = sampleScene({picture});
  r.renderer->setScene(scene);
  ASSERT_TRUE(r.renderer->render());
  std::vector<RecordedDraw> draws = r.lastDraws();
  ASSERT_EQ(draws.size(), 14u) << "2 x 2 tile draws, 1 ring, 3 x 3 miniature draws";
  const auto uniforms = [&](size_t i) {
    CardUniforms u;
    std::memcpy(&u, draws[i].record.data(), sizeof u);
    return u;
  };
  struct Expected {
    size_t index;
    float brightness, isShadow, isOutline, hasTexture, alpha;
  };
  const Expected expected[] = {
      {0, 12, 1, 0, 0, 1},      // first tile's shadow
      {1, 1.45f, 0, 0, 0, 1},   // current desktop's plate
      {3, 1.15f, 0, 0, 0, 1},   // other plate
      {4, 2.5f, 0, 1, 0, 1},    // current-desktop ring
      {7, 1, 0, 0, 1, 1},       // first miniature's picture
      {13, 1, 0, 0, 0, 1},      // a miniature without a picture
  };
  for (const Expected& e : expected) {
    const CardUniforms u = uniforms(e.index);
    EXPECT_EQ(u.brightness, e.brightness) << e.index;
    EXPECT_EQ(u.isShadow, e.isShadow) << e.index;
    EXPECT_EQ(u.isOutline, e.isOutline) << e.index;
    EXPECT_EQ(u.hasTexture, e.hasTexture) << e.index;
    EXPECT_EQ(draws[e.index].recordIndex, e.index);
  }
  EXPECT_EQ(draws[7].texture, picture);
  EXPECT_EQ(draws[13].texture, r.renderer->fallbackTexture());
  EXPECT_EQ(uniforms(0).size, (Float2{264, 174})) << "the shadow reaches 12 points out";
  // Every draw is one strip of four vertices through the card pipeline, on the unit quad.
  for (const RecordedDraw& d : draws) EXPECT_EQ(d.vertexCount, 4u);

  scene.highlightedRegion = 1;
  scene.carried = scene.miniatures[0];
  scene.miniatures[0].isGhost = true;
  r.renderer->setScene(scene);
  ASSERT_TRUE(r.renderer->render());
  draws = r.lastDraws();
  ASSERT_EQ(draws.size(), 17u);
  EXPECT_EQ(uniforms(6).alpha, 0.25f) << "the ghost's frame";
  EXPECT_EQ(uniforms(14).highlight, 1.0f) << "the hover ring";
  EXPECT_EQ(draws[16].texture, picture) << "the carried picture last";

  scene.highlightedRegion = 2;  // no such region
  scene.carried.reset();
  r.renderer->setScene(scene);
  EXPECT_EQ(r.renderer->drawList(640, 400).size(), 14u);
  EXPECT_EQ(r.renderer->uniformCapacity(), OverviewRenderer::kMinimumCapacity);
}

TEST(OverviewRendererTest, AnEmptySceneOrNoDrawableSizeDrawsNothingAndSaysWhy) {
  LogCapture logs;
  RecordingRenderer r;
  OverviewRenderer::Scene empty;
  empty.plan.isTooSmall = true;
  r.renderer->setScene(empty);
  EXPECT_FALSE(r.renderer->render());
  EXPECT_TRUE(logs.contains("overview drew nothing: the scene is empty: 0 regions, 0 windows, tooSmall=true"));
  EXPECT_EQ(r.device->commandBufferCount(), 0u);
  EXPECT_EQ(r.surface->presentedCount(), 0u);

  r.renderer->setScene(sampleScene({}));
  r.surface->setDrawableSize(0, 400);
  EXPECT_FALSE(r.renderer->render());
  EXPECT_TRUE(logs.contains("overview drew nothing: the layer has no drawable size, so nothing was drawn"));
}

TEST(OverviewRendererTest, AContentsScaleBelowOneCountsAsOne) {
  RecordingRenderer r;
  r.surface->setContentsScale(0.5);
  r.renderer->setScene(sampleScene({}));
  ASSERT_TRUE(r.renderer->render());
  CardUniforms u;
  std::memcpy(&u, r.lastDraws()[1].record.data(), sizeof u);
  // The first plate's left edge (x = 40 points) lands at 40 / 640 of the width: 640 points wide.
  const Float4 left = u.mvp * Float4{-0.5f, 0, 0, 1};
  EXPECT_NEAR(left.x, 40.0f / 320 - 1, 1e-5);
  EXPECT_EQ(r.lastDraws()[1].fragmentBytes1, 0.5f);
}

// A picture whose top half is red and bottom half blue (premultiplied BGRA).
std::string twoBands(uint32_t w, uint32_t h) {
  std::string bytes(static_cast<size_t>(w) * h * 4, '\0');
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) {
      char* p = &bytes[(static_cast<size_t>(y) * w + x) * 4];
      const bool top = y < h / 2;
      p[0] = static_cast<char>(top ? 20 : 230);
      p[1] = 20;
      p[2] = static_cast<char>(top ? 230 : 20);
      p[3] = static_cast<char>(255);
    }
  }
  return bytes;
}

TEST(OverviewRendererTest, OneFrameOnTheGpuShowsTilesAndUprightPictures) {
  VulkanTestDevice vk;
  ASSERT_TRUE(vk.device) << vk.error;
  {
    auto context = GpuContext::make(vk.device);
    auto surface = vk.device->makeOffscreenSurface("Quorvel test surface");
    surface->setBounds({640, 400});
    surface->setContentsScale(1);
    surface->setDrawableSize(640, 400);
    auto renderer = OverviewRenderer::make(context, *surface);
    ASSERT_TRUE(renderer);
    auto picture = vk.device->makeTexture({64, 40, 1, false, "Quorvel test picture"});
    const std::string bytes = twoBands(64, 40);
    ASSERT_TRUE(picture->replaceLevel(0, bytes.data(), 64 * 4));
    OverviewRenderer::Scene scene = sampleScene({picture});
    scene.highlightedRegion = 1;
    renderer->setScene(scene);
    ASSERT_TRUE(renderer->render());
    const GpuPixels pixels = surface->readLastFrame();
    ASSERT_EQ(pixels.width, 640u);
    if (const char* dir = std::getenv("QUORVEL_SCREENSHOT_DIR")) {
      std::ofstream out(std::string(dir) + "/overview-frame.ppm", std::ios::binary);
      out << "P6 640 400 255\n";
      for (size_t i = 0; i < pixels.bytes.size(); i += 4) out << pixels.bytes[i + 2] << pixels.bytes[i + 1] << pixels.bytes[i];
    }
    // The picture (60, 80, 120 x 80): red on top, blue below.
    const auto top = pixels.at(120, 95), bottom = pixels.at(120, 145);
    EXPECT_GT(top.r, 150);
    EXPECT_LT(top.b, 80);
    EXPECT_GT(bottom.b, 150);
    EXPECT_LT(bottom.r, 80);
    // A plate is drawn and opaque; outside every tile the frame stays transparent.
    EXPECT_GT(pixels.at(500, 190).a, 200);
    EXPECT_EQ(pixels.at(5, 390).a, 0);
  }
  vk.device->waitIdle();
  vk.expectNoMessages();
}

}  // namespace
}  // namespace quorvel
