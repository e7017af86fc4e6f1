#include <gtest/gtest.h>

#include <chrono>

#include "base/LogCapture.h"
#include "base/ManualLoop.h"
#include "pictures/ChromeFakes.h"
#include "pictures/IconCache.h"
#include "pictures/IconSweepGate.h"
#include "platform/Workspace.h"
#include "platform/sim/SimAppIcons.h"

namespace quorvel {
namespace {

using testing::DrawOp;
using testing::FakeRaster;
using testing::FakeUploader;
using Request = IconCache::Request;

// A workspace whose running applications a test sets directly (pids can be reused).
class ListWorkspace final : public Workspace {
 public:
  std::vector<RunningApplication> apps;
  std::vector<RunningApplication> runningApplications() override { return apps; }
  std::optional<RunningApplication> frontmostApplication() override { return std::nullopt; }
  Subscription addObserver(Event, Observer) override { return {}; }
  bool activate(int32_t, bool) override { return false; }
  bool unhide(int32_t) override { return false; }
  int32_t ownPid() override { return 1; }
  bool openApplication(const std::string&, bool) override { return false; }

  void run(int32_t pid, std::optional<std::string> bundle, ActivationPolicy policy = ActivationPolicy::regular) {
    RunningApplication app;
    app.pid = pid;
    app.bundleIdentifier = std::move(bundle);
    app.activationPolicy = policy;
    apps.push_back(app);
  }
  void quit(int32_t pid) { std::erase_if(apps, [&](const RunningApplication& a) { return a.pid == pid; }); }
};

class IconCacheTest : public ::testing::Test {
 protected:
  IconCacheTest() {
    for (int32_t pid : {10, 11, 12, 20, 30}) icons.setIcon(pid, SimAppIcons::solid(0xFF102030 + pid));
  }
  ManualLoop loop;
  FakeRaster raster;
  FakeUploader uploader;
  ListWorkspace workspace;
  SimAppIcons icons{workspace};
  int wakes = 0;
  IconCache cache{{loop.main(), raster, uploader, [this] { ++wakes; }}, workspace, icons};
};

TEST_F(IconCacheTest, ProcessesOfOneBundleShareOneTexture) {
  workspace.run(10, "org.example.editor");
  workspace.run(11, "org.example.editor");
  cache.prepare({{10, "org.example.editor"}, {11, "org.example.editor"}});
  ASSERT_EQ(uploader.uploads.size(), 1u);
  EXPECT_EQ(cache.liveTexture(10), cache.liveTexture(11));
  EXPECT_EQ(cache.textureCount(), 1u);
  EXPECT_EQ(uploader.uploads[0]->width(), 256);
  EXPECT_EQ(uploader.uploads[0]->label, IconCache::kMipLabel);
  EXPECT_EQ(wakes, 1);
  // The icon fills the bitmap.
  const auto images = raster.opsOf(DrawOp::Kind::image);
  ASSERT_EQ(images.size(), 1u);
  EXPECT_EQ(images[0].rect, (Rect{0, 0, 256, 256}));
  // Preparing again draws nothing.
  cache.prepare({{10, "org.example.editor"}, {11, "org.example.editor"}});
  EXPECT_EQ(uploader.uploads.size(), 1u);
}

TEST_F(IconCacheTest, AnApplicationWithoutABundleIsKeyedByItsProcessAndGoesAtTheNextSweep) {
  workspace.run(20, std::nullopt);
  workspace.run(12, "");
  cache.prepare({{20, std::nullopt}, {12, ""}});
  EXPECT_EQ(uploader.uploads.size(), 2u);
  EXPECT_NE(cache.liveTexture(20), cache.liveTexture(12));
  workspace.quit(20);
  cache.sweep(cache.runningRequests());
  EXPECT_EQ(cache.liveTexture(20), nullptr);
  EXPECT_NE(cache.liveTexture(12), nullptr);
  EXPECT_EQ(cache.textureCount(), 1u);
}

TEST_F(IconCacheTest, AProcessThatIsGoneOrHasNoIconStoresNothing) {
  cache.prepare({{10, "org.example.editor"}});
  EXPECT_EQ(cache.liveTexture(10), nullptr);
  workspace.run(40, "org.example.blank");  // runs, but has no icon
  cache.prepare({{40, "org.example.blank"}});
  EXPECT_EQ(cache.liveTexture(40), nullptr);
  EXPECT_TRUE(uploader.uploads.empty());
  // A later request tries again.
  icons.setIcon(40, SimAppIcons::solid(0xFFFFFFFF));
  cache.prepare({{40, "org.example.blank"}});
  EXPECT_NE(cache.liveTexture(40), nullptr);
  // A refused texture stores nothing either.
  workspace.run(30, "org.example.viewer");
  uploader.refuse = true;
  cache.prepare({{30, "org.example.viewer"}});
  EXPECT_EQ(cache.liveTexture(30), nullptr);
}

TEST_F(IconCacheTest, AReusedProcessIdTakesTheNewApplicationsIcon) {
  workspace.run(10, "org.example.editor");
  cache.prepare({{10, "org.example.editor"}});
  const ChromeTextureRef editor = cache.liveTexture(10);
  // The editor quits and another application gets its process id.
  workspace.quit(10);
  workspace.run(10, "org.example.player");
  cache.prepare({{10, "org.example.player"}});
  const ChromeTextureRef player = cache.liveTexture(10);
  ASSERT_NE(player, nullptr);
  EXPECT_NE(player, editor);
  EXPECT_EQ(cache.textureCount(), 2u);
  cache.sweep(cache.runningRequests());
  EXPECT_EQ(cache.liveTexture(10), player);
  EXPECT_EQ(cache.textureCount(), 1u);
  // A texture the sweep dropped stays valid for whoever still holds it.
  EXPECT_EQ(editor->width(), 256);

  // A stale live entry (pid reused, not prepared since) is removed by the sweep.
  workspace.quit(10);
  workspace.run(10, "org.example.third");
  cache.sweep(cache.runningRequests());
  EXPECT_EQ(cache.liveTexture(10), nullptr);
  EXPECT_EQ(cache.textureCount(), 0u);
}

TEST_F(IconCacheTest, PrewarmDrawsRegularApplicationsAndTheSweepKeepsEveryRunningOne) {
  workspace.run(10, "org.example.editor");
  workspace.run(30, "org.example.menuextra", ActivationPolicy::accessory);
  cache.prewarm();
  EXPECT_NE(cache.liveTexture(10), nullptr);
  EXPECT_EQ(cache.liveTexture(30), nullptr);
  cache.prepare({{30, "org.example.menuextra"}});
  cache.sweep(cache.runningRequests());
  EXPECT_NE(cache.liveTexture(30), nullptr);
  EXPECT_EQ(cache.liveCount(), 2u);
  cache.sweep({});
  EXPECT_EQ(cache.liveCount(), 0u);
  EXPECT_EQ(cache.textureCount(), 0u);
}

TEST_F(IconCacheTest, IconsFromFilesAreDecodedAndOddShapesAreFittedCentred) {
  workspace.run(50, "org.example.files");
  AppIcon fromFile;
  fromFile.file = "/icons/files.svg";
  icons.setIcon(50, fromFile);
  raster.files.emplace("/icons/files.svg", *RasterBitmap::make(256, 128));
  cache.prepare({{50, "org.example.files"}});
  ASSERT_NE(cache.liveTexture(50), nullptr);
  EXPECT_EQ(raster.opsOf(DrawOp::Kind::image).back().rect, (Rect{0, 64, 256, 128}));
  // An icon whose file cannot be read is skipped.
  workspace.run(51, "org.example.broken");
  AppIcon broken;
  broken.file = "/icons/missing.png";
  icons.setIcon(51, broken);
  cache.prepare({{51, "org.example.broken"}});
  EXPECT_EQ(cache.liveTexture(51), nullptr);
}

TEST_F(IconCacheTest, TheSweepRunsASecondAfterAHideUnlessTheSwitcherIsBack) {
  bool visible = false;
  IconSweepGate gate(loop.main(), cache, [&] { return visible; });
  workspace.run(10, "org.example.editor");
  cache.prepare({{10, "org.example.editor"}});
  workspace.quit(10);

  gate.hideFinished();
  EXPECT_TRUE(gate.pending());
  loop.advance(std::chrono::milliseconds(900));
  EXPECT_NE(cache.liveTexture(10), nullptr);
  loop.advance(std::chrono::milliseconds(100));
  EXPECT_EQ(cache.liveTexture(10), nullptr);
  EXPECT_EQ(cache.textureCount(), 0u);
  EXPECT_FALSE(gate.pending());

  // Shown again within the second: deferred, logged, and tried after the next hide.
  workspace.run(11, "org.example.player");
  cache.prepare({{11, "org.example.player"}});
  workspace.quit(11);
  LogCapture logs;
  gate.hideFinished();
  visible = true;
  loop.advance(std::chrono::seconds(1));
  EXPECT_NE(cache.liveTexture(11), nullptr);
  EXPECT_TRUE(gate.pending());
  EXPECT_TRUE(logs.contains("Icon sweep deferred: the switcher is on screen again"));
  visible = false;
  gate.hideFinished();
  // A second hide restarts the second.
  loop.advance(std::chrono::milliseconds(600));
  gate.hideFinished();
  loop.advance(std::chrono::milliseconds(600));
  EXPECT_NE(cache.liveTexture(11), nullptr);
  loop.advance(std::chrono::milliseconds(400));
  EXPECT_EQ(cache.liveTexture(11), nullptr);
}

}  // namespace
}  // namespace quorvel
