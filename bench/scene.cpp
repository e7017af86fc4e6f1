// The card scene on the render thread's hot path and the pointer's.
//
//   BM_AdvanceFrame/<cards>  one scene step (camera, springs, morphs, frame copy) with the camera
//                            kept moving by a hop every 20 frames; piles of three windows
//   BM_PosePass/<cards>      the pose, facing and pile looks of every card of one frame, as the
//                            draw computes them
//   BM_CardAtPoint/<cards>   pointer picking over every card

#include <benchmark/benchmark.h>

#include <vector>

#include "base/VirtualClock.h"
#include "scene/CardPicking.h"
#include "scene/CardPosePass.h"
#include "scene/LayoutFactory.h"
#include "scene/SceneState.h"
#include "scene/SceneWake.h"

namespace quorvel {
namespace {

using Storage = SceneState::Storage;

void installScene(SceneState& state, int n) {
  std::vector<CardSnapshot> cards;
  std::vector<ClusterKey> keys;
  for (int i = 0; i < n; ++i) {
    CardSnapshot card;
    card.id = static_cast<uint32_t>(i + 1);
    card.aspect = 1.2f + 0.01f * static_cast<float>(i % 40);
    card.windowRect = {{0.1f, 0.1f}, {0.4f, 0.3f}};
    cards.push_back(card);
    keys.push_back(ClusterKey::app(i / 3));
  }
  state.withLock([&](Storage& s) {
    SceneState::applyStyle(s, OrbitCamera::FocusMode::clamp, false,
                           LayoutFactory::makeLayout(AppSettings::SwitcherStyle::coverArc, 1.0f), 0.92);
    SceneState::InstallOptions options;
    options.snapshots = std::move(cards);
    options.clusters = ClusterAssignment::build(keys);
    options.startFocus = n / 2;
    options.flyIn = true;
    SceneState::install(s, std::move(options));
  });
}

void BM_AdvanceFrame(benchmark::State& bench) {
  SceneState state;
  MorphBuffer buffer;
  installScene(state, static_cast<int>(bench.range(0)));
  int frame = 0;
  for (auto _ : bench) {
    if (++frame % 20 == 0) state.withLock([&](Storage& s) { SceneState::step(s, frame % 40 ? 1 : -1); });
    SceneFrame f = state.withLock([&](Storage& s) { return SceneState::advanceFrame(s, 1.0 / 120, buffer); });
    benchmark::DoNotOptimize(f.focus);
  }
}
BENCHMARK(BM_AdvanceFrame)->Arg(20)->Arg(100)->Arg(300);

void BM_PosePass(benchmark::State& bench) {
  SceneState state;
  MorphBuffer buffer;
  const int n = static_cast<int>(bench.range(0));
  installScene(state, n);
  SceneFrame f;
  for (int i = 0; i < 10; ++i) {
    f = state.withLock([&](Storage& s) { return SceneState::advanceFrame(s, 1.0 / 60, buffer); });
  }
  const float pileWeight = f.layout.pileWeight();
  for (auto _ : bench) {
    const CameraRig rig = CameraRig::fromFrame(f, 1920, 1080);
    float sum = 0;
    for (size_t i = 0; i < f.cards->size(); ++i) {
      const MorphSample& sample = buffer.values[i];
      const auto toLook = CardPosePass::slotLook(sample.to, f.clusters, f.focus, f.flipFocus, pileWeight,
                                                 f.stackTuning, f.flipReach);
      const auto placed = CardPosePass::cardPose((*f.cards)[i], sample, f.layout, rig, toLook, std::nullopt, f.focus,
                                                 f.reformBlend, f.pointerPresence);
      sum += placed.pose.position.x +
             CardPosePass::cardFacing(sample, f.layout, toLook, std::nullopt, f.focus, f.reformBlend);
      const Float4x4 model = placed.pose.modelMatrix();
      sum += model.columns[3].z;
    }
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK(BM_PosePass)->Arg(20)->Arg(100)->Arg(300);

void BM_CardAtPoint(benchmark::State& bench) {
  SceneState state;
  MorphBuffer buffer;
  installScene(state, static_cast<int>(bench.range(0)));
  for (int i = 0; i < 200; ++i) state.withLock([&](Storage& s) { return SceneState::advanceFrame(s, 1.0 / 60, buffer); });
  const SceneProbe probe = state.withLock([](Storage& s) { return SceneState::probe(s); });
  for (auto _ : bench) {
    auto hit = CardPicking::cardAtPoint(probe, {960, 540}, 1920, 1080, probe.focus, probe.reformBlend);
    benchmark::DoNotOptimize(hit);
  }
}
BENCHMARK(BM_CardAtPoint)->Arg(300);

}  // namespace
}  // namespace quorvel

BENCHMARK_MAIN();
