#include "scene/render/SceneRenderer.h"

#include <cmath>

#include "scene/CameraRig.h"
#include "scene/CardPosePass.h"
#include "scene/render/SnapshotBuilder.h"

namespace quorvel {
namespace {

constexpr auto kShutdownWait = std::chrono::milliseconds(300);

float chromeScaleFor(AppSettings::TitleSize size) {
  switch (size) {
    case AppSettings::TitleSize::small: return 0.8f;
    case AppSettings::TitleSize::large: return 1.3f;
    default: return 1.0f;
  }
}

double speedScaleFor(AppSettings::AnimationSpeed speed) {
  switch (speed) {
    case AppSettings::AnimationSpeed::slow: return 2.25;
    case AppSettings::AnimationSpeed::fast: return 1.0;
    default: return 1.5;
  }
}

}  // namespace

SceneRenderer::SceneRenderer(std::shared_ptr<GpuSurface> layer, std::shared_ptr<SceneState> state,
                             std::shared_ptr<FocusSink> focusSink, std::shared_ptr<CardRenderer> core,
                             Services services)
    : layer_(std::move(layer)),
      state_(std::move(state)),
      focusSink_(std::move(focusSink)),
      core_(std::move(core)),
      services_(std::move(services)) {}

SceneRenderer::~SceneRenderer() { shutdown(); }

std::unique_ptr<SceneRenderer> SceneRenderer::makeRenderer(std::shared_ptr<GpuContext> context,
                                                           std::shared_ptr<GpuSurface> layer,
                                                           CardRenderer::Providers providers,
                                                           std::function<void(int, FocusChangeSource)> onFocusChange,
                                                           Services services) {
  auto state = std::make_shared<SceneState>();
  auto sink = std::make_shared<FocusSink>();
  sink->handler = std::move(onFocusChange);
  std::shared_ptr<CardRenderer> core =
      CardRenderer::make(std::move(context), state, sink, std::move(providers),
                         CardRenderer::Services{services.mainQueue, services.clock, services.wake});
  if (!core) Logger("OverlayController").error("Vulkan pipeline unavailable: the overlay will render nothing");
  else core->setAccentColor(accentColor());
  auto renderer = std::make_unique<SceneRenderer>(std::move(layer), std::move(state), std::move(sink),
                                                  std::move(core), std::move(services));
  renderer->syncDrawableSize();
  return renderer;
}

Float4 SceneRenderer::accentColor() { return {0.31f, 0.45f, 1.0f, 1.0f}; }

void SceneRenderer::readBunching() {
  const AppSettings& settings = services_.settings;
  bunchTabs_ = settings.boolValue("bunchTabs");
  keepWindowCardBesideTabs_ = settings.boolValue("keepWindowCardBesideTabs");
  bunchAppWindows_ = settings.boolValue("bunchAppWindows") && settings.boolValue("groupByApp");
}

void SceneRenderer::present(const std::vector<WindowCard>& cards, const std::vector<Rect>& rects, bool flyIn,
                            int startIndex, double refreshRate) {
  refreshRate_ = refreshRate;
  sessionTallest_ = SnapshotBuilder::sessionTallest(cards);
  readBunching();
  const AppSettings& settings = services_.settings;
  SnapshotBuilder::Options options;
  options.preserveWindowScale = settings.boolValue("preserveWindowScale");
  options.labelPlaceholders = settings.boolValue("labelPlaceholders");
  options.showCardTitles = settings.boolValue("showCardTitles");
  options.sessionTallest = sessionTallest_;
  options.layerBounds = layer_ ? layer_->bounds() : Size{};
  SceneState::InstallOptions install;
  install.snapshots = SnapshotBuilder::snapshots(cards, rects, options);
  install.clusters = SnapshotBuilder::clusters(cards, {bunchTabs_, bunchAppWindows_, keepWindowCardBesideTabs_});
  const int count = static_cast<int>(install.snapshots.size());
  install.startFocus = count > 0 ? std::clamp(startIndex, 0, count - 1) : 0;
  install.flags.showIcons = settings.boolValue("showAppIcons");
  install.iconPosition = settings.iconPosition();
  install.flags.showReflections = settings.boolValue("floorReflections");
  install.flags.showSelectionRing = settings.boolValue("showSelectionRing");
  install.flags.showStatusBadges = settings.boolValue("showStatusBadges");
  install.flags.showCardShadows = settings.boolValue("showCardShadows");
  install.flags.showTitles = settings.boolValue("showCardTitles");
  install.flags.showHeroTitle = settings.boolValue("showWindowTitle");
  install.flags.fadeSelectedTitle = settings.boolValue("fadeSelectedTitle");
  install.flags.showActionButtons = settings.boolValue("windowActionsEnabled") && settings.boolValue("showActionButtons");
  install.chromeScale = chromeScaleFor(settings.cardChromeSize());
  install.speedScale = speedScaleFor(settings.animationSpeed());
  install.flickProjection = 0.25;
  install.stackTuning = StackTuning{};
  install.tailTuning = TailTuning{};
  install.flyIn = flyIn;
  SceneState::Completion pending = state_->withLock([&](SceneState::Storage& s) {
    return services_.wake.wake(s, [&](SceneState::Storage& st) { return SceneState::install(st, std::move(install)); });
  });
  if (pending) services_.mainQueue.post(std::move(pending));
  syncDrawableSize();
  logger_.notice("present: %ld cards, flyIn=%{public}s", static_cast<long>(count), flyIn ? "true" : "false");
  startRendering();
}

void SceneRenderer::startRendering() {
  if (!core_) return;
  if (!link_) {
    link_ = services_.makeLink();
    if (!link_) return;
    // The thread holds its own references: nothing it uses is freed while it runs.
    thread_ = RenderThreads::start("net.tarmeq.quorvel.render", link_,
                                   [core = core_, surface = layer_](const DisplayLinkUpdate& update) {
                                     core->tick(update, *surface);
                                   });
  }
  core_->requestRestart(refreshRate_);
  link_->setRefreshRate(refreshRate_);
  link_->setPaused(false);
}

void SceneRenderer::stop() {
  logger_.notice("stop (pause)");
  if (link_) link_->setPaused(true);
  if (core_) {
    core_->setLivePreview(false);
    core_->waitForFramesInFlight();
    core_->forgetFrames();
  }
  // The surface's images are the size of the screen, and nothing is drawn until the next present:
  // they go (but for what the next first frame needs), on the render thread once its frame (if one
  // is being drawn) is done.
  if (link_ && layer_) link_->perform([surface = layer_] { surface->releaseDrawables(); });
  SceneState::Completion pending = state_->withLock([&](SceneState::Storage& s) {
    return services_.wake.wake(s, [](SceneState::Storage& st) { return SceneState::clear(st); });
  });
  if (pending) services_.mainQueue.post(std::move(pending));
}

void SceneRenderer::shutdown() {
  if (!link_) return;
  link_->setPaused(true);
  if (!RenderThreads::end(thread_, std::chrono::steady_clock::now() + kShutdownWait)) {
    // Still drawing (or stuck): never free anything under it. It keeps what it uses alive and ends
    // on its own once its frame returns; the process's end waits for it (RenderThreads).
    logger_.error("render thread did not end within 0.3 s; it is left to finish on its own");
  }
  thread_.reset();
  link_.reset();
  logger_.notice("render loop shut down");
}

void SceneRenderer::refreshSnapshots(const std::vector<WindowCard>& cards, const std::vector<Rect>& rects,
                                     int focusIndex) {
  const AppSettings& settings = services_.settings;
  SnapshotBuilder::Options options;
  options.preserveWindowScale = settings.boolValue("preserveWindowScale");
  options.labelPlaceholders = settings.boolValue("labelPlaceholders");
  options.showCardTitles = settings.boolValue("showCardTitles");
  options.sessionTallest = sessionTallest_;
  options.layerBounds = layer_ ? layer_->bounds() : Size{};
  auto snapshots = SnapshotBuilder::snapshots(cards, rects, options);
  auto clusters = SnapshotBuilder::clusters(cards, {bunchTabs_, bunchAppWindows_, keepWindowCardBesideTabs_});
  const int count = static_cast<int>(snapshots.size());
  const double focus = count > 0 ? std::clamp(focusIndex, 0, count - 1) : 0;
  state_->withLock([&](SceneState::Storage& s) {
    services_.wake.wake(s, [&](SceneState::Storage& st) {
      SceneState::reform(st, std::move(snapshots), std::move(clusters), focus);
    });
  });
}

void SceneRenderer::syncDrawableSize() {
  if (!layer_) return;
  double scale = layer_->contentsScale();
  if (!(scale > 0)) scale = 1.0;
  const Size bounds = layer_->bounds();
  const auto pixels = [&](double points) {
    const double v = std::round(points * scale);
    return static_cast<uint32_t>(std::isfinite(v) ? std::clamp(v, 1.0, 16384.0) : 1.0);
  };
  const uint32_t width = pixels(bounds.width), height = pixels(bounds.height);
  if (layer_->drawableWidth() != width || layer_->drawableHeight() != height) layer_->setDrawableSize(width, height);
  state_->withLock([&](SceneState::Storage& s) {
    services_.wake.wake(s, [&](SceneState::Storage& st) {
      SceneState::setViewport(st, Float2{static_cast<float>(width), static_cast<float>(height)},
                              static_cast<float>(scale));
    });
  });
}

bool SceneRenderer::cardIsStacked(int index) {
  const SceneProbe probe = state_->withLock([](SceneState::Storage& s) { return SceneState::probe(s); });
  const int live = static_cast<int>(probe.cards->size());
  if (!probe.layout.allowsPiles() || !probe.clusters.covers(live) || index < 0 || index >= live ||
      !probe.clusters.bunches())
    return false;
  const int pile = probe.clusters.ofCard()[static_cast<size_t>(index)];
  return probe.clusters.width()[static_cast<size_t>(pile)] > 1;
}

bool SceneRenderer::isFrontOfPile(int index) {
  const SceneProbe probe = state_->withLock([](SceneState::Storage& s) { return SceneState::probe(s); });
  const int live = static_cast<int>(probe.cards->size());
  if (!probe.layout.allowsPiles() || !probe.clusters.covers(live) || index < 0 || index >= live) return true;
  const int pile = probe.clusters.ofCard()[static_cast<size_t>(index)];
  const int first = probe.clusters.first()[static_cast<size_t>(pile)];
  const int size = std::max(probe.clusters.width()[static_cast<size_t>(pile)], 1);
  const int last = first + size - 1;
  const double distance = ClusterAssignment::circularDistance(
      pile, probe.clusters.placePosition(probe.focus), probe.clusters.pileCount());
  const double s = std::clamp(1 - distance, 0.0, 1.0);
  const double w = s * s * (3 - 2 * s) * std::clamp(probe.flipReach, 0.0, 1.0);
  int leading = first;
  if (w >= 0.5) {
    const double position = probe.flipFocus ? *probe.flipFocus : probe.focus;
    double local = ClusterAssignment::unwrap(position, first, last, live) - first;
    local = std::isfinite(local) && local > 0 ? std::clamp(local, 0.0, static_cast<double>(size - 1)) : 0;
    leading = first + static_cast<int>(std::trunc(local));
  }
  return leading == index;
}

std::pair<int, std::optional<CardAction>> SceneRenderer::hitTest(Point point, double viewWidth, double viewHeight) {
  const SceneProbe probe = state_->withLock([](SceneState::Storage& s) { return SceneState::probe(s); });
  const int selected = probe.selectedIndex;
  const std::pair<int, std::optional<CardAction>> none{selected, std::nullopt};
  const auto& cards = *probe.cards;
  if (!(viewWidth > 0) || !(viewHeight > 0) || !probe.showActionButtons) return none;
  if (selected < 0 || selected >= static_cast<int>(cards.size()) ||
      selected >= static_cast<int>(probe.samples.size()))
    return none;
  const CardSnapshot& card = cards[static_cast<size_t>(selected)];
  const MorphSample& sample = probe.samples[static_cast<size_t>(selected)];
  if (!card.canAct || !(sample.progress > 0.5f)) return none;
  const float w = static_cast<float>(viewWidth), h = static_cast<float>(viewHeight);
  const CameraRig rig = CameraRig::fromProbe(probe, w, h);
  const float pileWeight = probe.layout.pileWeight();
  const auto toLook = CardPosePass::slotLook(sample.to, probe.clusters, probe.focus, probe.flipFocus, pileWeight,
                                             probe.stackTuning, probe.flipReach);
  std::optional<PileLook> fromLook;
  if (probe.reformBlend < 1)
    fromLook = CardPosePass::slotLook(sample.from, probe.clustersFrom, probe.focus, probe.flipFocus, pileWeight,
                                      probe.stackTuning, probe.flipReach);
  const auto placed = CardPosePass::cardPose(card, sample, probe.layout, rig, toLook, fromLook, probe.focus,
                                             probe.reformBlend, probe.pointerPresence);
  if (!(placed.highlight > 0.01f)) return none;
  const float depth = std::fabs(rig.viewDepth(placed.pose.position));
  const float point1 = 2 * depth * scene::kTan25 / h;
  // The chrome row as the renderer lays it out: icon, status glyph and count badge.
  const int members = toLook ? toLook->width : 1;
  std::optional<float> countAspect;
  int countValue = 0;
  if (members >= 2) countValue = std::min(members, 1000);
  else if (card.tabsOutOfReach > 0) countValue = -std::min(card.tabsOutOfReach, 999);
  if (countValue != 0) {
    countAspect = 1.0f;
    if (core_) {
      const CardRenderer::CardChrome chrome = core_->chromeRow(card, probe.showIcons, probe.iconAnchor, probe.showStatusBadges,
                                                 members, point1, probe.chromeScale, placed.pose.size, std::nullopt);
      if (chrome.count && chrome.count->height() >= 1)
        countAspect = static_cast<float>(chrome.count->width()) / static_cast<float>(chrome.count->height());
    }
  }
  const CardChromeRow::Row row =
      CardRenderer::layoutRow(placed.pose.size.x, probe.chromeScale, point1,
                              probe.showIcons && probe.iconAnchor == BadgeAnchor::topLeft, probe.showStatusBadges,
                              countAspect, std::nullopt);
  const auto [closeAt, minimizeAt] = CardRenderer::discCentres(placed.pose.modelMatrix(), row.marks);
  auto project = [&](Float3 p) -> std::optional<Float2> {
    const Float4 clip = rig.viewProjection * Float4{p.x, p.y, p.z, 1};
    if (!(clip.w > 0.00001f)) return std::nullopt;
    return Float2{(clip.x / clip.w * 0.5f + 0.5f) * w, (clip.y / clip.w * 0.5f + 0.5f) * h};
  };
  const Float2 pointer{static_cast<float>(point.x), static_cast<float>(point.y)};
  const float radius = row.marks.discHitRadiusPoints;
  const auto closeView = project(closeAt), minimizeView = project(minimizeAt);
  const float d1 = closeView ? length(*closeView - pointer) : INFINITY;
  const float d2 = minimizeView ? length(*minimizeView - pointer) : INFINITY;
  if (d2 <= std::min(d1, radius)) return {selected, CardAction::minimize};
  if (d1 <= radius) return {selected, CardAction::close};
  return none;
}

SceneState::Completion SceneRenderer::dismissFlight(std::optional<int> chosen, SceneState::Completion completion) {
  return state_->withLock([&](SceneState::Storage& s) {
    return services_.wake.wake(s, [&](SceneState::Storage& st) {
      return SceneState::beginDismissFlight(st, chosen, std::move(completion));
    });
  });
}

}  // namespace quorvel

namespace quorvel {

void SceneRenderer::setBackdrop(Float4 premultiplied) {
  if (core_) core_->setBackdrop(premultiplied);
}

bool SceneRenderer::setOverlayChrome(const RasterBitmap& bitmap, const RasterRegions& painted) {
  return core_ && core_->setOverlayChrome(bitmap, painted);
}

bool SceneRenderer::setOverlayChrome(const RasterBitmap& bitmap) {
  return core_ && core_->setOverlayChrome(bitmap);
}

void SceneRenderer::clearOverlayChrome() {
  if (core_) core_->clearOverlayChrome();
}

}  // namespace quorvel
