#include "actions/overview/OverviewController.h"

#include <algorithm>

#include "actions/MoveRunner.h"
#include "actions/OverviewDisplays.h"
#include "actions/WindowMover.h"
#include "platform/OwnApplication.h"
#include "settings/AppSettings.h"

namespace quorvel {

std::shared_ptr<OverviewController> OverviewController::make(Services services) {
  return std::shared_ptr<OverviewController>(new OverviewController(std::move(services)));
}

const Logger& OverviewController::logger() {
  // Never destroyed: threads still running as the process ends may log.
  static const Logger& instance = *new Logger("Overview");
  return instance;
}

void OverviewController::attach(OverviewWindowHost* window, OverviewRenderer* renderer) {
  window_ = window;
  renderer_ = renderer;
}

void OverviewController::open() {
  if (auto map = services_.readMap()) map_ = std::move(map);
  const AppSettings& settings = services_.settings;
  capability_.canMoveBetweenDisplays =
      settings.boolValue(AppSettings::Key::moveBetweenDisplays) && services_.accessibilityTrusted();
  capability_.canMoveBetweenDesktops =
      settings.boolValue(AppSettings::Key::moveBetweenDesktops) && services_.desktopMovesOffered;
  capability_.separateSpaces = map_ && map_->separateSpaces;
  if (!window_) return;
  if (!window_->isVisible()) services_.pictures.beginPresentation();
  window_->show();
  show();
}

void OverviewController::show() {
  if (!window_) return;
  buildPlan();
  redraw();
  schedulePictureFollowUp();
}

void OverviewController::hide() {
  carried_.reset();
  hoveredRegion_.reset();
  pictureFollowUp_.cancel();
  pictureFollowUp_ = {};
  if (!window_) return;
  const bool wasVisible = window_->isVisible();
  window_->orderOut();
  if (wasVisible) services_.pictures.endPresentation();
}

void OverviewController::buildPlan() {
  if (!map_ || !window_) return;
  const std::vector<WindowCard> cards = services_.cards.cards();
  cardsByID_.clear();
  for (const WindowCard& card : cards) cardsByID_.try_emplace(card.id, card);
  // Where one desktop shows on several displays, a window is drawn on its own display's band.
  const bool spanning = OverviewDisplays::desktopsSpanDisplays(*map_);
  std::vector<OverviewGeometry::WindowItem> items;
  for (const WindowCard& card : cards) {
    if (card.state != WindowState::onCurrentSpace && card.state != WindowState::onOtherSpace) continue;
    std::optional<uint32_t> display;
    if (spanning) {
      if (auto d = map_->displayContaining(card.frame)) display = d->displayID;
    }
    for (int64_t space : card.spaceIDs) items.push_back({card.id, space, card.frame, display});
  }
  const Size canvas = window_->canvasSize();
  plan_ = OverviewGeometry::makePlan(map_->displays, items, metrics(), canvas.width, canvas.height);
}

OverviewRenderer::Miniature OverviewController::miniatureFor(uint32_t windowID, const Rect& rect, bool ghost) {
  OverviewRenderer::Miniature m;
  m.rect = rect;
  m.isGhost = ghost;
  if (std::optional<CardPicture> picture = services_.pictures.entry(windowID)) {
    m.texture = picture->texture;
    m.extent = picture->extent;
  }
  return m;
}

OverviewRenderer::Scene OverviewController::makeScene() {
  OverviewRenderer::Scene scene;
  scene.plan = plan_;
  if (hoveredRegion_) scene.highlightedRegion = static_cast<int>(*hoveredRegion_);
  for (const OverviewGeometry::Cell& cell : plan_.cells) {
    scene.miniatures.push_back(miniatureFor(cell.windowID, cell.rect, carried_ && carried_->windowID == cell.windowID));
  }
  if (carried_) {
    for (const OverviewGeometry::Cell& cell : plan_.cells) {
      if (cell.windowID != carried_->windowID) continue;
      const Rect rect{pointer_.x - carried_->grip.width, pointer_.y - carried_->grip.height, cell.rect.width,
                      cell.rect.height};
      scene.carried = miniatureFor(cell.windowID, rect, false);
      break;
    }
  }
  return scene;
}

void OverviewController::redraw() {
  if (!renderer_) return;
  renderer_->setScene(makeScene());
  renderer_->render();
}

void OverviewController::schedulePictureFollowUp() {
  std::vector<WindowCard> cards;
  for (const OverviewGeometry::Cell& cell : plan_.cells) {
    if (auto it = cardsByID_.find(cell.windowID); it != cardsByID_.end()) cards.push_back(it->second);
  }
  if (cards.empty()) return;
  pictureFollowUp_.cancel();
  pictureFollowUp_ = spawn(services_.mainQueue, followUp(weak_from_this(), std::move(cards)));
}

Task<void> OverviewController::followUp(std::weak_ptr<OverviewController> weak, std::vector<WindowCard> cards) {
  {
    auto self = weak.lock();
    if (!self) co_return;
    OverviewPictureSource& pictures = self->services_.pictures;
    self.reset();
    co_await pictures.captureMissing(std::move(cards));
  }
  std::optional<size_t> previous;
  for (int pass = 0; pass < kFollowUpPasses; ++pass) {
    if (co_await isCancelled()) co_return;
    auto self = weak.lock();
    if (!self || !self->window_) co_return;
    if (!self->window_->isVisible() && !self->isOffscreenCheck_) co_return;
    size_t present = 0;
    for (const OverviewGeometry::Cell& cell : self->plan_.cells) {
      if (self->services_.pictures.entry(cell.windowID)) ++present;
    }
    if (!previous || *previous != present) self->redraw();
    previous = present;
    if (present >= self->plan_.cells.size()) co_return;
    self.reset();
    co_await sleepFor(kFollowUpInterval);
  }
}

std::optional<size_t> OverviewController::regionAt(Point p) const {
  for (size_t i = 0; i < plan_.regions.size(); ++i) {
    if (plan_.regions[i].rect.containsPoint(p)) return i;
  }
  return std::nullopt;
}

void OverviewController::pointerMoved(Point to) {
  pointer_ = to;
  const std::optional<size_t> hovered = regionAt(to);
  if (hovered == hoveredRegion_) return;
  hoveredRegion_ = hovered;
  redraw();
}

MovableWindow OverviewController::makeMovableWindow(const WindowCard& card) const {
  MovableWindow w;
  w.id = card.id;
  w.pid = card.pid;
  w.frame = card.frame;
  w.state = card.state;
  if (map_) {
    if (auto display = map_->displayContaining(card.frame)) {
      w.displayID = display->displayID;
      w.sourceVisibleFrame = display->visibleFrame;
    }
  }
  w.hasAXHandle = card.ax != nullptr;
  w.spaceIDs = card.spaceIDs;
  if (map_) {
    const std::vector<DesktopMap::Desktop> desktops = map_->allDesktops();
    for (int64_t space : card.spaceIDs) {
      auto it = std::find_if(desktops.begin(), desktops.end(),
                             [&](const DesktopMap::Desktop& d) { return d.spaceID == space; });
      if (it != desktops.end() && it->isFullscreen) w.isOnFullscreenSpace = true;
    }
  }
  w.isOurs = card.pid == services_.ownPid;
  return w;
}

void OverviewController::beginDrag(Point at) {
  pointer_ = at;
  const OverviewGeometry::Cell* hit = nullptr;
  for (auto it = plan_.cells.rbegin(); it != plan_.cells.rend(); ++it) {
    if (it->rect.containsPoint(at)) {
      hit = &*it;
      break;
    }
  }
  if (!hit) return;
  auto card = cardsByID_.find(hit->windowID);
  if (card == cardsByID_.end()) return;
  const MoveCapability displaysOnly{capability_.canMoveBetweenDisplays, false, false};
  if (auto refusal = MovePlan::dragRefusal(makeMovableWindow(card->second), displaysOnly.packed())) {
    logger().notice("not draggable: %{public}s", std::string(refusal->message()));
    if (window_) window_->beep();
    return;
  }
  carried_ = Carried{hit->windowID, {at.x - hit->rect.minX(), at.y - hit->rect.minY()}};
}

void OverviewController::dragMoved(Point to) {
  pointer_ = to;
  if (!carried_) return;
  hoveredRegion_ = regionAt(to);
  redraw();
}

void OverviewController::pointerReleased(Point at, bool wasDragging) {
  pointer_ = at;
  const std::optional<size_t> region = regionAt(at);
  if (!wasDragging || !carried_) {
    carried_.reset();
    if (region) {
      goToDesktop(*region);
    } else {
      hide();
    }
    return;
  }
  const uint32_t id = carried_->windowID;
  carried_.reset();
  auto card = cardsByID_.find(id);
  if (region && card != cardsByID_.end()) {
    const WindowCard copy = card->second;
    const OverviewGeometry::Region target = plan_.regions[*region];
    dropCarriedWindow(copy, target);
  } else {
    redraw();
  }
}

void OverviewController::goToDesktop(size_t regionIndex) {
  if (regionIndex >= plan_.regions.size()) return;
  const OverviewGeometry::Region& region = plan_.regions[regionIndex];
  if (region.isCurrent) {
    hide();
    return;
  }
  std::optional<WindowCard> first;
  for (const OverviewGeometry::Cell& cell : plan_.cells) {
    if (cell.regionIndex != regionIndex) continue;
    if (auto it = cardsByID_.find(cell.windowID); it != cardsByID_.end()) {
      first = it->second;
      break;
    }
  }
  if (!first) {
    logger().notice("desktop %ld has no window to go to", static_cast<long>(region.number.value_or(-1)));
    if (window_) window_->beep();
    return;
  }
  hide();
  if (services_.pick) services_.pick(*first);
}

void OverviewController::dropCarriedWindow(const WindowCard& card, const OverviewGeometry::Region& region) {
  if (!map_) return;
  auto display = std::find_if(map_->displays.begin(), map_->displays.end(),
                              [&](const DesktopMap::Display& d) { return d.displayID == region.displayID; });
  if (display == map_->displays.end()) return;
  MoveDestination destination;
  destination.spaceID = region.spaceID;
  destination.displayID = display->displayID;
  destination.visibleFrame = display->visibleFrame;
  for (const DesktopMap::Desktop& d : display->desktops) {
    if (d.isCurrent) {
      destination.currentSpaceID = d.spaceID;
      break;
    }
  }
  MovePlan plan = MovePlan::make(makeMovableWindow(card), destination, capability_.packed(),
                                 services_.settings.moveResize());
  if (!plan.steps.empty()) {
    moveTask_ = spawn(services_.mainQueue,
                      moveTaskBody(weak_from_this(), card, std::move(plan.steps), std::move(plan.refusals)));
    return;
  }
  if (!plan.refusals.empty()) {
    logger().notice("refused: %{public}s", std::string(plan.refusals.front().message()));
    if (window_) window_->beep();
  }
  redraw();
}

Task<void> OverviewController::moveTaskBody(std::weak_ptr<OverviewController> weak, WindowCard card,
                                            std::vector<MovePlan::Step> steps, std::vector<MoveRefusal> refusals) {
  auto self = weak.lock();
  if (!self) co_return;
  // The services outlive the controller's tasks; the controller itself may go meanwhile.
  Services& services = self->services_;
  OverviewCardSource& cards = services.cards;
  MoveSubject subject;
  subject.element = card.ax ? card.ax->element() : nullptr;
  subject.windowID = card.id;
  subject.pid = card.pid;
  subject.appName = card.appName;
  if (card.pid == services.ownPid) {
    for (const OwnWindow& own : services.ownApplication.windows()) subject.isOwnWindow |= own.number == card.id;
  }
  const WindowMover& mover = services.mover;
  AXFunnel& funnel = services.funnel;
  OwnApplication& ownApplication = services.ownApplication;
  const bool offered = services.desktopMovesOffered;
  self.reset();
  const MoveOutcome outcome =
      co_await runMoveSteps(mover, funnel, ownApplication, std::move(subject), std::move(steps), std::move(refusals), offered);
  if (!outcome.refusals.empty()) {
    if (auto again = weak.lock(); again && again->window_) again->window_->beep();
  }
  co_await cards.refreshAfterMove();
  self = weak.lock();
  if (!self) co_return;
  if (auto map = self->services_.readMap()) self->map_ = std::move(map);
  self->show();
}

}  // namespace quorvel
