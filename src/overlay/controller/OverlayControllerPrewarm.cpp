// The pre-warm of the overlay controller: icons, label and title plates of the current cards (and at
// start-up the summon screen's window and still pictures), drawn in slices of four cards, one slice
// per main-queue turn, stopping as soon as the overlay shows.
#include <algorithm>

#include "overlay/controller/OverlayController.h"

namespace quorvel {

struct OverlayController::PrewarmRun {
  enum class Stage { begin, read, icons, labels, titles, window, captures };
  bool refreshFirst = false;
  bool buildWindow = false;
  Stage stage = Stage::begin;
  std::vector<WindowCard> cards;
  size_t next = 0;  // first card of the next slice

  static constexpr size_t kSlice = 4;
};

void OverlayController::start() {
  isPrewarming_ = true;
  prewarm(kStartupPrewarmDelay, false, true, true);
}

void OverlayController::prewarmIfAllowed() {
  if (isVisible_ || isPrewarming_) return;
  isPrewarming_ = true;
  prewarm(0, true, false, false);
}

void OverlayController::prewarm(double delay, bool immediately, bool refreshFirst, bool buildWindow) {
  auto run = std::make_shared<PrewarmRun>();
  run->refreshFirst = refreshFirst;
  run->buildWindow = buildWindow;
  after(immediately ? 0 : delay, [run](OverlayController& self) { self.prewarmStep(run); });
}

void OverlayController::prewarmStep(std::shared_ptr<PrewarmRun> run) {
  using Stage = PrewarmRun::Stage;
  auto yield = [this, run] { after(0, [run](OverlayController& self) { self.prewarmStep(run); }); };
  // Runs one slice of a chunked stage; false when the stage has no slice left.
  auto slice = [&](auto&& work) {
    if (run->next >= run->cards.size()) return false;
    const size_t end = std::min(run->cards.size(), run->next + PrewarmRun::kSlice);
    std::vector<WindowCard> chunk(run->cards.begin() + static_cast<long>(run->next),
                                  run->cards.begin() + static_cast<long>(end));
    run->next = end;
    work(chunk);
    return true;
  };
  const AppSettings& settings = services_.settings;
  switch (run->stage) {
    case Stage::begin:
      if (isVisible_) return endPrewarm();
      run->stage = Stage::read;
      if (run->refreshFirst) {
        Weak weak = self_;
        services_.registry.requestRefresh([weak, run] {
          if (auto self = weak.lock()) (*self)->prewarmStep(run);
        });
        return;
      }
      [[fallthrough]];
    case Stage::read:
      run->cards = trimPiles(services_.registry.expandedCards());
      if (isVisible_) return endPrewarm();
      run->stage = Stage::icons;
      run->next = 0;
      [[fallthrough]];
    case Stage::icons:
      if (isVisible_) return endPrewarm();
      if (slice([&](const std::vector<WindowCard>& chunk) {
            std::vector<OverlayChromeTextures::IconRequest> requests;
            for (const WindowCard& card : chunk) requests.push_back({card.pid, card.bundleID});
            services_.textures.prepareIcons(requests);
          }))
        return yield();
      run->stage = Stage::labels;
      run->next = 0;
      [[fallthrough]];
    case Stage::labels:
      if (settings.boolValue("labelPlaceholders")) {
        if (isVisible_) return endPrewarm();
        if (slice([&](const std::vector<WindowCard>& chunk) {
              services_.textures.prepareLabels(labelPlaceholderKeys(chunk));
            }))
          return yield();
      }
      run->stage = Stage::titles;
      run->next = 0;
      [[fallthrough]];
    case Stage::titles:
      if (settings.boolValue("showCardTitles")) {
        if (isVisible_) return endPrewarm();
        // Only as many titles as the cache keeps (see titleCards).
        const size_t capacity = services_.textures.titleCapacity();
        const size_t tail = run->cards.size() > capacity ? capacity / 3 : 0;
        const size_t head = run->cards.size() > capacity ? capacity - tail : run->cards.size();
        const bool sliced = slice([&](std::vector<WindowCard> chunk) {
          const size_t first = run->next - chunk.size();
          std::vector<WindowCard> kept;
          for (size_t i = 0; i < chunk.size(); ++i)
            if (first + i < head || first + i >= run->cards.size() - tail) kept.push_back(chunk[i]);
          if (!kept.empty()) services_.textures.prepareTitles(prepareTitles(kept));
        });
        if (sliced) return yield();
      }
      if (isVisible_) return endPrewarm();
      if (!run->buildWindow) return endPrewarm();
      run->stage = Stage::window;
      [[fallthrough]];
    case Stage::window: {
      const std::optional<ScreenInfo> screen = summonScreen(services_.desktop.frontmostApplication());
      if (!screen) logger_.error("Pre-warm found no screen: the overlay window was not built");
      else if (makeOverlayWindow(*screen).first) warmRenderer(*screen, run->cards);
      run->stage = Stage::captures;
      return yield();
    }
    case Stage::captures: {
      const auto showing = services_.registry.showingTabByHost();
      const auto ticks = services_.registry.visitTicks();
      Weak weak = self_;
      // Not cancelled: the run waits for its captures, even past a summon.
      (void)services_.cache.captureStills(run->cards, showing, ticks, [weak] {
        if (auto self = weak.lock()) (*self)->endPrewarm();
      });
      return;
    }
  }
}

// The first frame of the first summon would otherwise pay for building the renderer and for the
// driver's first draws (its pipelines, shader code and memory pools; on a device that draws on the
// CPU, compiling the shaders): the start-up pre-warm pays instead, building the screen's renderer
// and letting it draw the cards into the window while the window is still hidden.
void OverlayController::warmRenderer(const ScreenInfo& screen, const std::vector<WindowCard>& cards) {
  if (isVisible_ || !activeDisplay_ || cards.empty()) return;
  const auto found = overlays_.find(*activeDisplay_);
  if (found == overlays_.end() || found->second.renderer || !found->second.window || !found->second.content) return;
  std::shared_ptr<OverlayScene> scene = makeRenderer(*found->second.content, *found->second.window);
  if (!scene) return;
  scene->present(cards, sourceFrames(cards, screen), false, 0, services_.desktop.maximumFramesPerSecond(screen));
  const int generation = fadeGeneration_;
  after(kWarmFrameTime, [generation, weakScene = std::weak_ptr(scene)](OverlayController& self) {
    if (self.isVisible_ || self.fadeGeneration_ != generation) return;  // a summon has the scene now
    if (auto warmed = weakScene.lock()) warmed->stop();
  });
}

}  // namespace quorvel
