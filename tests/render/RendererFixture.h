#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "base/DefaultsStore.h"
#include "base/ManualLoop.h"
#include "gpu/recording/RecordingDevice.h"
#include "scene/render/CardRenderer.h"
#include "scene/render/CardUniforms.h"
#include "scene/LayoutFactory.h"
#include "scene/SceneState.h"
#include "scene/SceneWake.h"
#include "settings/AppSettings.h"

namespace quorvel::testing {

// A card renderer on the recording GPU device: the test thread is the main thread (a manual loop),
// and frames are ticked from a short-lived second thread, as the render thread would.
class RendererFixture {
 public:
  explicit RendererFixture(std::shared_ptr<GpuDevice> gpu = nullptr)
      : device(gpu ? nullptr : RecordingDevice::make()), wake(loop.clock()), settings(store) {
    settings.registerDefaults();
    context = GpuContext::make(gpu ? gpu : std::shared_ptr<GpuDevice>(device));
    surface = context->device->makeOffscreenSurface("Quorvel test surface");
    surface->setBounds({640, 400});
    surface->setDrawableSize(640, 400);
    sink->handler = [this](int index, FocusChangeSource source) { focusChanges.push_back({index, source}); };
  }

  CardRenderer::Providers providers() {
    CardRenderer::Providers p;
    p.picture = [this](uint32_t id) -> std::optional<CardPicture> {
      auto it = pictures.find(id);
      if (it == pictures.end()) return std::nullopt;
      return CardPicture{it->second, CaptureExtent{}, opaquePictures.count(id) > 0};
    };
    p.icon = [this](int32_t) { return icon; };
    p.status = [this](const CardStatus&) { return glyph; };
    p.count = [this](int) { return countBadge; };
    p.action = [this](CardAction, bool) { return disc; };
    p.title = [this](const CardTitle&, bool) { return titlePlate; };
    return p;
  }

  void build() {
    renderer = CardRenderer::make(context, state, sink, providers(),
                                  CardRenderer::Services{loop.main(), loop.clock(), wake});
    ASSERT_TRUE(renderer);
  }

  std::shared_ptr<GpuTexture> texture(uint32_t w, uint32_t h, const char* label) {
    return context->device->makeTexture({w, h, 1, false, label});
  }

  static CardSnapshot card(uint32_t id, float aspect = 1.6f) {
    CardSnapshot c;
    c.id = id;
    c.pid = static_cast<int32_t>(100 + id);
    c.aspect = aspect;
    c.canAct = true;
    return c;
  }

  template <class F>
  decltype(auto) mutate(F&& f) {
    return state->withLock([&](SceneState::Storage& s) -> decltype(auto) { return wake.wake(s, f); });
  }

  // Installs `n` cards (ids 1..n) in an arrangement, focused on `focus`.
  void install(int n, AppSettings::SwitcherStyle style = AppSettings::SwitcherStyle::coverArc, int focus = 0,
               SceneState::DisplayFlags flags = {}, OrbitCamera::FocusMode mode = OrbitCamera::FocusMode::clamp) {
    mutate([&](SceneState::Storage& s) {
      SceneState::applyStyle(s, mode, false, LayoutFactory::makeLayout(style, 1.0f), 0.92);
      SceneState::InstallOptions options;
      for (int i = 0; i < n; ++i) options.snapshots.push_back(card(static_cast<uint32_t>(i + 1)));
      options.startFocus = focus;
      options.flags = flags;
      SceneState::install(s, std::move(options));
      SceneState::setViewport(s, Float2{640, 400}, 1);
    });
  }

  // Installs cards 1..n on their windows' rectangles (in overlay units) for a summon's fly-in.
  void installOnWindows(const std::vector<ViewportRect>& rects) {
    mutate([&](SceneState::Storage& s) {
      SceneState::InstallOptions options;
      for (size_t i = 0; i < rects.size(); ++i) {
        CardSnapshot c = card(static_cast<uint32_t>(i + 1));
        c.windowRect = rects[i];
        options.snapshots.push_back(c);
      }
      options.flyIn = true;
      SceneState::install(s, std::move(options));
      SceneState::setViewport(s, Float2{640, 400}, 1);
    });
  }

  // One display-link update at `t` seconds, delivered on another thread (to `on` when given).
  void tick(double t, GpuSurface* on = nullptr) {
    std::thread([&] { renderer->tick(DisplayLinkUpdate{t}, on ? *on : *surface); }).join();
  }
  // A tick after a change of the scene (the rest gate lets it through).
  void tickChanged() {
    wake.bump();
    tick(now += 1.0 / 60);
  }
  // Ticks at 60 a second until the scene rests and one more frame was drawn.
  void settle(int limit = 600) {
    for (int i = 0; i < limit && !renderer->pacing().sceneAtRest(); ++i) tick(now += 1.0 / 60);
  }

  RecordedCommandBuffer lastCommandBuffer() const {
    auto log = device->commandBuffers();
    return log.empty() ? RecordedCommandBuffer{} : log.back();
  }
  static CardUniforms record(const RecordedDraw& draw) {
    CardUniforms u;
    if (draw.record.size() == sizeof u) std::memcpy(&u, draw.record.data(), sizeof u);
    return u;
  }
  // The draws of the last drawing command buffer.
  std::vector<RecordedDraw> lastDraws() const {
    auto log = device->commandBuffers();
    for (auto it = log.rbegin(); it != log.rend(); ++it)
      if (it->label == "Quorvel ring" && !it->encoders.empty()) return it->encoders.front().draws;
    return {};
  }

  ManualLoop loop;
  std::shared_ptr<RecordingDevice> device;
  SceneWake wake;
  DefaultsStore store;
  AppSettings settings;
  std::shared_ptr<GpuContext> context;
  std::shared_ptr<GpuOffscreenSurface> surface;
  std::shared_ptr<SceneState> state = std::make_shared<SceneState>();
  std::shared_ptr<FocusSink> sink = std::make_shared<FocusSink>();
  std::map<uint32_t, std::shared_ptr<GpuTexture>> pictures;
  std::set<uint32_t> opaquePictures;  // pictures handed out as known opaque
  std::shared_ptr<GpuTexture> icon, glyph, countBadge, disc, titlePlate;
  std::unique_ptr<CardRenderer> renderer;
  std::vector<std::pair<int, FocusChangeSource>> focusChanges;
  double now = 100;
};

}  // namespace quorvel::testing
