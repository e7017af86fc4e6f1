#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include "gpu/vulkan/VulkanBuffer.h"
#include "gpu/vulkan/VulkanDrawable.h"
#include "support/VulkanTestDevice.h"

namespace quorvel {
namespace {

std::string solid(uint32_t w, uint32_t h, uint8_t b, uint8_t g, uint8_t r, uint8_t a) {
  std::string bytes(static_cast<size_t>(w) * h * 4, '\0');
  for (size_t i = 0; i < bytes.size(); i += 4) {
    bytes[i] = static_cast<char>(b);
    bytes[i + 1] = static_cast<char>(g);
    bytes[i + 2] = static_cast<char>(r);
    bytes[i + 3] = static_cast<char>(a);
  }
  return bytes;
}

class VulkanDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(vk.device) << vk.error;
    device = vk.device;
    queue = device->makeCommandQueue("Quorvel test");
    ASSERT_TRUE(queue);
  }
  void TearDown() override {
    device->waitIdle();
    vk.expectNoMessages();
  }
  VulkanTestDevice vk;
  std::shared_ptr<VulkanDevice> device;
  std::shared_ptr<GpuCommandQueue> queue;
};

TEST_F(VulkanDeviceTest, UploadsAndReadsBackALevel) {
  GpuTextureDescriptor d{4, 2, 1, false, "Quorvel test texture"};
  auto texture = device->makeTexture(d);
  ASSERT_TRUE(texture);
  const std::string bytes = solid(4, 2, 10, 20, 30, 255);
  ASSERT_TRUE(texture->replaceLevel(0, bytes.data(), 16));
  GpuPixels pixels = device->readTexture(texture, 0);
  ASSERT_EQ(pixels.width, 4u);
  EXPECT_EQ(pixels.bytes, bytes);
  EXPECT_FALSE(texture->replaceLevel(1, bytes.data(), 16));
}

TEST_F(VulkanDeviceTest, ReplacesOnlyTheGivenRegionsInOneCopy) {
  auto texture = device->makeTexture({8, 6, 1, false, "Quorvel region texture"});
  ASSERT_TRUE(texture);
  const std::string before = solid(8, 6, 1, 2, 3, 255);
  ASSERT_TRUE(texture->replaceLevel(0, before.data(), 32));
  // A source with a distinct value in every texel, wider rows than the level.
  std::string source(static_cast<size_t>(40) * 6, '\0');
  for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<char>(i % 251);
  const std::vector<GpuRegion> regions{{1, 1, 3, 2}, {6, 0, 2, 6}};
  ASSERT_TRUE(texture->replaceRegions(0, regions, source.data(), 40));
  const GpuPixels pixels = device->readTexture(texture, 0);
  ASSERT_EQ(pixels.bytes.size(), before.size());
  for (uint32_t y = 0; y < 6; ++y)
    for (uint32_t x = 0; x < 8; ++x) {
      const bool inside = (x >= 1 && x < 4 && y >= 1 && y < 3) || x >= 6;
      const size_t at = (static_cast<size_t>(y) * 8 + x) * 4;
      const std::string want = inside ? source.substr(static_cast<size_t>(y) * 40 + x * 4, 4) : before.substr(at, 4);
      EXPECT_EQ(pixels.bytes.substr(at, 4), want) << x << "," << y;
    }
  // Refused without writing anything: a region past the edge, an empty one, a missing level, short
  // rows. No regions: nothing to do.
  const std::string zeros(static_cast<size_t>(40) * 6, '\0');
  EXPECT_FALSE(texture->replaceRegions(0, {{0, 0, 1, 1}, {7, 5, 2, 1}}, zeros.data(), 40));
  EXPECT_FALSE(texture->replaceRegions(0, {{0, 0, 0, 1}}, zeros.data(), 40));
  EXPECT_FALSE(texture->replaceRegions(1, {{0, 0, 1, 1}}, zeros.data(), 40));
  EXPECT_FALSE(texture->replaceRegions(0, {{0, 0, 1, 1}}, zeros.data(), 16));
  EXPECT_TRUE(texture->replaceRegions(0, {}, nullptr, 0));
  EXPECT_EQ(device->readTexture(texture, 0).bytes, pixels.bytes);
}

TEST_F(VulkanDeviceTest, GeneratesMipmapsAndCopiesLevelsInOneCommandBuffer) {
  GpuTextureDescriptor d{8, 8, GpuTextureDescriptor::fullMipCount(8, 8), false, "Quorvel mips"};
  ASSERT_EQ(d.mipLevels, 4u);
  auto texture = device->makeTexture(d);
  auto copy = device->makeTexture({4, 4, 1, false, "Quorvel level copy"});
  ASSERT_TRUE(texture && copy);
  const std::string bytes = solid(8, 8, 200, 100, 50, 255);
  auto cb = queue->makeCommandBuffer();
  ASSERT_TRUE(cb);
  cb->setLabel("Quorvel test mipmaps");
  auto blit = cb->makeBlitEncoder();
  ASSERT_TRUE(blit);
  blit->setLabel("Quorvel test blits");
  ASSERT_TRUE(blit->uploadLevel(texture, 0, bytes.data(), 32));
  blit->generateMipmaps(texture);
  EXPECT_TRUE(blit->copyLevel(texture, 1, copy, 0));
  EXPECT_FALSE(blit->copyLevel(texture, 0, copy, 0)) << "sizes differ";
  blit->endEncoding();
  std::atomic<int> handled{0};
  // A handler can tell finished work from failed work by the status it reads.
  std::atomic<GpuCommandStatus> seen{GpuCommandStatus::notCommitted};
  GpuCommandBuffer* asked = cb.get();
  cb->addCompletedHandler([&] {
    ++handled;
    seen = asked->status();
  });
  cb->commit();
  cb->waitUntilCompleted();
  EXPECT_EQ(cb->status(), GpuCommandStatus::completed);
  EXPECT_EQ(handled.load(), 1);
  EXPECT_EQ(seen.load(), GpuCommandStatus::completed);
  GpuPixels last = device->readTexture(texture, 3);
  ASSERT_EQ(last.width, 1u);
  EXPECT_NEAR(last.at(0, 0).b, 200, 1);
  EXPECT_NEAR(last.at(0, 0).r, 50, 1);
  GpuPixels copied = device->readTexture(copy, 0);
  ASSERT_EQ(copied.width, 4u);
  EXPECT_NEAR(copied.at(3, 3).g, 100, 1);
}

TEST_F(VulkanDeviceTest, ScalesARegionWithABlit) {
  auto source = device->makeTexture({2, 2, 1, false, "Quorvel blit source"});
  auto destination = device->makeTexture({4, 4, 1, false, "Quorvel blit destination"});
  const std::string bytes = solid(2, 2, 0, 255, 0, 255);
  ASSERT_TRUE(source->replaceLevel(0, bytes.data(), 8));
  auto cb = queue->makeCommandBuffer();
  auto blit = cb->makeBlitEncoder();
  blit->blit(source, 0, {0, 0, 2, 2}, destination, 0, {0, 0, 4, 4});
  blit->endEncoding();
  cb->commit();
  GpuPixels out = device->readTexture(destination, 0);
  ASSERT_EQ(out.width, 4u);
  EXPECT_EQ(out.at(2, 2).g, 255);
}

TEST_F(VulkanDeviceTest, CompletionHandlersRunOnOneThreadInCommitOrderFromManyThreads) {
  std::mutex mutex;
  std::vector<int> order;
  std::set<std::thread::id> threads;
  std::vector<std::thread> committers;
  for (int t = 0; t < 4; ++t) {
    committers.emplace_back([&, t] {
      for (int i = 0; i < 20; ++i) {
        auto cb = queue->makeCommandBuffer();
        ASSERT_TRUE(cb);
        auto blit = cb->makeBlitEncoder();
        blit->endEncoding();
        cb->addCompletedHandler([&, t] {
          std::lock_guard lock(mutex);
          order.push_back(t);
          threads.insert(std::this_thread::get_id());
        });
        cb->commit();
      }
    });
  }
  for (auto& c : committers) c.join();
  device->waitIdle();
  std::lock_guard lock(mutex);
  EXPECT_EQ(order.size(), 80u);
  EXPECT_EQ(threads.size(), 1u);
  EXPECT_EQ(threads.count(std::this_thread::get_id()), 0u);
}

// A drawable hears how its presentation went with no lock of the device held: a surface that
// submits work of its own under its lock (a new texture of its ring) while another thread presents
// one of its drawables must not deadlock, and a handler may submit work itself.
TEST_F(VulkanDeviceTest, ADrawableHearsOfItsPresentationWithNoLockOfTheDeviceHeld) {
  std::shared_ptr<GpuTexture> made;
  auto target = device->makeOffscreenSurface("Quorvel test");
  target->setDrawableSize(16, 16);
  auto drawn = std::dynamic_pointer_cast<VulkanDrawable>(target->nextDrawable());
  ASSERT_TRUE(drawn);
  auto drawable = std::make_shared<VulkanDrawable>(
      drawn->vulkanTexture(), VulkanDrawable::Swapchain{},
      [&](VkResult result) {
        EXPECT_EQ(result, VK_SUCCESS);
        made = device->makeTexture({8, 8, 1, false, "Quorvel made while presented"});  // submits its clear
      },
      nullptr);
  auto cb = queue->makeCommandBuffer();
  cb->present(drawable);
  cb->commit();
  cb->waitUntilCompleted();
  EXPECT_TRUE(made);
}

TEST_F(VulkanDeviceTest, ACommandBufferKeepsWhatItUsesAliveUntilItCompletes) {
  std::weak_ptr<GpuTexture> weak;
  {
    auto texture = device->makeTexture({64, 64, 7, false, "Quorvel kept alive"});
    weak = texture;
    auto cb = queue->makeCommandBuffer();
    auto blit = cb->makeBlitEncoder();
    blit->generateMipmaps(texture);
    blit->endEncoding();
    cb->commit();
  }
  device->waitIdle();
  EXPECT_TRUE(weak.expired());
}

TEST_F(VulkanDeviceTest, RefusesImpossibleResources) {
  EXPECT_FALSE(device->makeTexture({0, 4, 1, false, "Quorvel empty"}));
  EXPECT_FALSE(device->makeTexture({4, 4, 4, false, "Quorvel too many levels"}));
  EXPECT_FALSE(device->makeBuffer(0, "Quorvel empty buffer"));
  auto library = device->makeDefaultLibrary();
  ASSERT_TRUE(library);
  EXPECT_FALSE(library->makeFunction("noSuchFunction"));
  EXPECT_TRUE(library->makeFunction("cardVertex"));
}

// Host memory imported as a buffer: the GPU's writes land in that memory itself, memory the device
// cannot take is refused (the caller keeps its own copy path), and the memory's owner is let go
// only after the buffer and its device memory have gone.
TEST_F(VulkanDeviceTest, ImportedHostMemoryIsWrittenByTheGpuAndOutlivesItsBuffer) {
  auto core = device->core();
  if (!core->hasHostMemoryImport()) GTEST_SKIP() << "the device cannot import host memory";
  const size_t align = core->hostMemoryImportAlignment();
  ASSERT_GT(align, 0u);
  const size_t size = 2 * align;
  struct Memory {
    explicit Memory(size_t bytes, size_t alignment) : bytes(std::aligned_alloc(alignment, bytes)) {}
    ~Memory() { std::free(bytes); }
    void* bytes;
  };
  auto memory = std::make_shared<Memory>(size, align);
  ASSERT_TRUE(memory->bytes);
  std::memset(memory->bytes, 0, size);
  std::weak_ptr<Memory> weakMemory = memory;

  std::string error;
  EXPECT_FALSE(VulkanBuffer::importHostMemory(core, static_cast<char*>(memory->bytes) + 4, size - align, 64,
                                              "Quorvel misaligned", memory, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(VulkanBuffer::importHostMemory(core, memory->bytes, size - 4, 64, "Quorvel odd size", memory));
  EXPECT_FALSE(VulkanBuffer::importHostMemory(core, memory->bytes, size, size + 4, "Quorvel too long", memory));

  auto buffer = VulkanBuffer::importHostMemory(core, memory->bytes, size, size - 64, "Quorvel imported", memory, &error);
  ASSERT_TRUE(buffer) << error;
  EXPECT_TRUE(buffer->isImported());
  EXPECT_EQ(buffer->contents(), memory->bytes);
  EXPECT_EQ(buffer->length(), size - 64);
  ASSERT_TRUE(core->submitAndWait([&](VkCommandBuffer cb) {
    vkCmdFillBuffer(cb, buffer->buffer(), 0, VK_WHOLE_SIZE, 0x5a5a5a5a);
    VulkanCore::barrierToHost(cb, VK_PIPELINE_STAGE_2_CLEAR_BIT);
  }));
  const auto* bytes = static_cast<const uint8_t*>(memory->bytes);
  EXPECT_EQ(bytes[0], 0x5a);
  EXPECT_EQ(bytes[size - 65], 0x5a);
  EXPECT_EQ(bytes[size - 64], 0) << "nothing past the buffer's length";

  memory.reset();
  EXPECT_FALSE(weakMemory.expired()) << "the buffer keeps its memory";
  buffer.reset();
  EXPECT_TRUE(weakMemory.expired());
}

}  // namespace
}  // namespace quorvel
