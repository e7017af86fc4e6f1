// A render thread stepping frames while the main thread mutates the scene, as the overlay does;
// meant to run under ThreadSanitizer (the tsan preset) as well as the sanitizers of the usual build.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

#include "scene/CardPicking.h"
#include "scene/CardPosePass.h"
#include "scene/SceneFixture.h"

namespace quorvel {
namespace {

using testing::SceneFixture;
using Storage = SceneState::Storage;

TEST(SceneStress, RenderThreadAdvancesWhileTheMainThreadMutates) {
  SceneFixture scene;
  std::atomic<bool> stop{false};
  std::atomic<long> frames{0};
  std::atomic<long> completionsRun{0};
  std::atomic<bool> sawNaN{false};

  std::thread render([&] {
    MorphBuffer buffer;
    while (!stop.load(std::memory_order_relaxed)) {
      const uint64_t revision = scene.wake.revision();
      (void)revision;
      SceneFrame f = scene.state.withLock([&](Storage& s) { return SceneState::advanceFrame(s, 1.0 / 120, buffer); });
      // Draw from the copy outside the lock, as the renderer does.
      const CameraRig rig = CameraRig::fromFrame(f, 1280, 800);
      for (size_t i = 0; i < f.cards->size() && i < buffer.values.size(); ++i) {
        const auto placed = CardPosePass::cardPose((*f.cards)[i], buffer.values[i], f.layout, rig, std::nullopt,
                                                   std::nullopt, f.focus, f.reformBlend, f.pointerPresence);
        if (!std::isfinite(placed.pose.position.x)) sawNaN = true;
      }
      if (f.completion) {
        f.completion();
      }
      frames.fetch_add(1, std::memory_order_relaxed);
    }
  });

  const AppSettings::SwitcherStyle styles[] = {AppSettings::SwitcherStyle::coverArc,
                                               AppSettings::SwitcherStyle::cylinder,
                                               AppSettings::SwitcherStyle::expo, AppSettings::SwitcherStyle::row};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(600);
  int round = 0;
  while (std::chrono::steady_clock::now() < deadline || round < 40) {
    const int n = 3 + round % 17;
    std::vector<ClusterKey> keys;
    for (int i = 0; i < n; ++i) keys.push_back(i % 3 == 0 ? ClusterKey::alone() : ClusterKey::app(i / 3));
    SceneState::InstallOptions options;
    options.clusters = ClusterAssignment::build(keys);
    options.flyIn = round % 2 == 0;
    if (auto back = scene.install(SceneFixture::cards(n), options)) back();
    scene.style(styles[round % 4], round % 2 ? OrbitCamera::FocusMode::clamp : OrbitCamera::FocusMode::wrap, true);
    for (int k = 0; k < 5; ++k) {
      scene.mutate([&](Storage& s) {
        SceneState::step(s, k % 2 ? 1 : -1);
        SceneState::move(s, static_cast<uint8_t>(k % 4));
        SceneState::scroll(s, 0.4);
        SceneState::setPointerHighlight(s, k);
        SceneState::flipStack(s, 0.5);
      });
      const SceneProbe probe = scene.read([](Storage& s) { return SceneState::probe(s); });
      (void)CardPicking::cardAtPoint(probe, {640, 400}, 1280, 800, probe.focus, probe.reformBlend);
      std::this_thread::yield();
    }
    scene.mutate([&](Storage& s) { SceneState::reform(s, SceneFixture::cards(n / 2 + 1, true, 2), {}, 1); });
    scene.mutate([&](Storage& s) { SceneState::endScroll(s, 7); });
    auto back = scene.mutate([&](Storage& s) {
      return SceneState::beginDismissFlight(s, round % 3 ? std::optional<int>(0) : std::nullopt,
                                            [&] { completionsRun.fetch_add(1); });
    });
    if (back) back();
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    if (round % 5 == 4) {
      if (auto pending = scene.mutate([](Storage& s) { return SceneState::clear(s); })) pending();
    }
    ++round;
  }
  stop = true;
  render.join();
  // Whatever is still pending is handed back by a final stop: every flight's completion ran once.
  if (auto pending = scene.mutate([](Storage& s) { return SceneState::clear(s); })) pending();
  EXPECT_EQ(completionsRun.load(), round);
  EXPECT_GT(frames.load(), 10);
  EXPECT_FALSE(sawNaN.load());
}

}  // namespace
}  // namespace quorvel
