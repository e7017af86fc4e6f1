#include "pictures/CardLabelCache.h"

#include <algorithm>
#include <cassert>
#include <cmath>

#include "base/Executor.h"

namespace quorvel {

namespace {

// Removes every element keeping the table's storage (clear() keeps buckets and capacity).
template <class T>
void empty(T& table) {
  table.clear();
}

}  // namespace

double CardLabelCache::PlateMetrics::cornerRadius(double plateHeight) const {
  if (kind == PlateKind::label) return std::min(0.32 * plateHeight, 33.0);
  return plateHeight / 2;  // titles and counts are capsules
}

const CardLabelCache::PlateMetrics& CardLabelCache::metrics(PlateKind kind) {
  static const PlateMetrics label{1080, 15, 39, 27, PlateKind::label};
  static const PlateMetrics title{1800, 12, 60, 32, PlateKind::title};
  static const PlateMetrics count{1800, 12, 32, 16, PlateKind::count};
  switch (kind) {
    case PlateKind::label: return label;
    case PlateKind::title: return title;
    case PlateKind::count: return count;
  }
  return label;
}

std::pair<int, int> CardLabelCache::plateSize(PlateKind kind, Size measured, double scale) {
  const PlateMetrics& m = metrics(kind);
  // A measurement that is not a finite number gives no plate.
  if (!std::isfinite(measured.width) || !std::isfinite(measured.height) || !(scale > 0)) return {0, 0};
  const double width = std::ceil(measured.width) + 2 * scale * (m.horizontalInset + m.margin);
  const double height = std::ceil(measured.height) + 2 * scale * (m.verticalInset + m.margin);
  return {static_cast<int>(std::min(width, 1e6)), static_cast<int>(std::min(height, 1e6))};
}

std::shared_ptr<CardLabelCache> CardLabelCache::make(ChromeServices services) {
  return std::shared_ptr<CardLabelCache>(new CardLabelCache(std::move(services)));
}

CardLabelCache::CardLabelCache(ChromeServices services) : services_(std::move(services)) {}

// The scene is woken once the new plate is stored and the lock released, so that the frame it
// wakes finds the plate.
void CardLabelCache::wake() {
  if (services_.wakeScene) services_.wakeScene();
}

void CardLabelCache::checkMain([[maybe_unused]] const char* where) const {
  assert(services_.main.isCurrent() && "CardLabelCache: main queue only");
}

std::optional<std::string> CardLabelCache::caption(const CardLabel& label) {
  if (label.isPrivate) return "Private window";
  switch (label.state) {
    case WindowState::onCurrentSpace:
    case WindowState::browserTab: return std::nullopt;
    case WindowState::onOtherSpace:
      if (label.spaceNumber) return "On desktop " + std::to_string(*label.spaceNumber);
      return "On another desktop";
    case WindowState::minimized: return "Minimized";
    case WindowState::hiddenApp: return "Hidden";
    case WindowState::windowlessApp: return "No open windows";
  }
  return std::nullopt;
}

TextBlock CardLabelCache::labelText(const CardLabel& label) {
  TextBlock block;
  block.lineSpacing = 3;
  block.truncation = TextTruncation::tail;
  block.lines.push_back({label.appName, 60, FontWeight::semibold, RasterColor::white()});
  std::optional<std::string> second = label.tabTitle ? label.tabTitle : caption(label);
  if (second) block.lines.push_back({*second, 45, FontWeight::regular, RasterColor::white(0.88)});
  return block;
}

TextBlock CardLabelCache::titleText(const std::string& text) {
  TextBlock block;
  block.truncation = TextTruncation::middle;
  block.lines.push_back({text, 72, FontWeight::medium, RasterColor::white(0.92)});
  return block;
}

std::string CardLabelCache::countLabel(int64_t count) {
  if (count >= 1000) return "999+";
  if (count >= 0) return std::to_string(count);
  // The most negative value has no magnitude of its own type: it reads as the largest one.
  if (count == INT64_MIN) return "+" + std::to_string(INT64_MAX);
  return "+" + std::to_string(-count);
}

TextBlock CardLabelCache::countText(int count) {
  TextBlock block;
  block.truncation = TextTruncation::tail;
  block.lines.push_back({countLabel(count), 88, FontWeight::semibold, RasterColor::white(0.95)});
  return block;
}

double CardLabelCache::plateOpacity() {
  return lock_.withLock([&] { return plateOpacity_; });
}

double CardLabelCache::plateScale(PlateKind kind, double nominalHeight, const PlateScreen& screen) {
  if (!(screen.pixelsPerPoint > 0) || !std::isfinite(screen.pixelsPerPoint) || !(nominalHeight > 0)) return 1;
  const double chrome = std::isfinite(screen.chromeScale) ? std::max(screen.chromeScale, 0.1) : 1.0;
  double shown = 0;
  switch (kind) {
    case PlateKind::title: shown = kTitleShownPoints * chrome * screen.pixelsPerPoint; break;
    case PlateKind::count: shown = kCountShownPoints * chrome * screen.pixelsPerPoint; break;
    case PlateKind::label:
      if (!(screen.heightPixels > 0) || !std::isfinite(screen.heightPixels)) return 1;
      shown = kLabelShownShare * screen.heightPixels;
      break;
  }
  // Never below a legible few pixels, never above the nominal size.
  return std::clamp(std::ceil(shown) / nominalHeight, std::min(12.0 / nominalHeight, 1.0), 1.0);
}

namespace {

TextBlock scaledText(TextBlock text, double scale) {
  for (TextLine& line : text.lines) line.fontSize *= scale;
  text.lineSpacing *= scale;
  return text;
}

}  // namespace

ChromeTextureRef CardLabelCache::drawPlate(PlateKind kind, const TextBlock& nominal) {
  const PlateMetrics& m = metrics(kind);
  const PlateScreen screen = plateScreen();
  // The nominal plate first, then the same plate at the size the screen shows it.
  double scale = 1;
  TextBlock text = nominal;
  Size measured = services_.raster.measureText(text, m.measuringWidth);
  if (screen.pixelsPerPoint > 0) {
    scale = plateScale(kind, plateSize(kind, measured).second, screen);
    if (scale < 1) {
      text = scaledText(nominal, scale);
      measured = services_.raster.measureText(text, m.measuringWidth * scale);
    }
  }
  const auto [width, height] = plateSize(kind, measured, scale);
  const double opacity = plateOpacity();
  if (width <= 0 || height <= 0) return nullptr;
  std::optional<RasterBitmap> bitmap = RasterBitmap::make(width, height);
  if (!bitmap) return nullptr;
  {
    std::unique_ptr<RasterCanvas> canvas = services_.raster.beginDrawing(*bitmap);
    if (!canvas) return nullptr;
    // The plate opaque and the text over it: the coverage of each (PlateCoverage); the plate's
    // opacity is applied when it is drawn.
    const double margin = m.margin * scale, h = m.horizontalInset * scale, v = m.verticalInset * scale;
    const Rect plate{margin, margin, width - 2 * margin, height - 2 * margin};
    const double radius = kind == PlateKind::label ? std::min(0.32 * plate.height, 33.0 * scale) : plate.height / 2;
    canvas->fillRoundedRect(plate, radius, RasterColor::black(1));
    const Rect inner{plate.x + h, plate.y + v, plate.width - 2 * h, plate.height - 2 * v};
    canvas->drawText(text, inner);
  }
  return services_.uploader.uploadPlate(PlateCoverage::fromBitmap(*bitmap, opacity, true), kMipLabel);
}

void CardLabelCache::forgetPlatesLocked() {
  textures_.clear();
  tabTextures_.clear();
  titleTextures_.clear();
  empty(countTextures_);
  empty(requestedLabels_);
  empty(requestedTitles_);
  empty(requestedCounts_);
}

bool CardLabelCache::setPlateScreen(const PlateScreen& screen) {
  std::lock_guard guard(lock_);
  if (screen == screen_) return false;
  screen_ = screen;
  forgetPlatesLocked();
  return true;
}

CardLabelCache::PlateScreen CardLabelCache::plateScreen() {
  return lock_.withLock([&] { return screen_; });
}

void CardLabelCache::storeLabel(const CardLabel& label, ChromeTextureRef texture, bool asked) {
  const auto forget = [&](const CardLabel& gone) { requestedLabels_.erase(gone); };
  if (!label.tabTitle) {
    // A plain label is drawn only ahead, for the cards of a summon (a lookup never queues one): it
    // is in use by the summon that drew it.
    textures_.store(label, std::move(texture), true, [&](const CardLabel& gone) { requestedLabels_.erase(gone); });
    return;
  }
  tabTextures_.store(label, std::move(texture), asked, forget);
}

void CardLabelCache::storeTitle(const std::string& text, ChromeTextureRef texture, bool asked) {
  titleTextures_.store(text, std::move(texture), asked, [&](const std::string& gone) { requestedTitles_.erase(gone); });
}

void CardLabelCache::beginSummon() {
  std::lock_guard guard(lock_);
  textures_.beginUse();
  tabTextures_.beginUse();
  titleTextures_.beginUse();
}

void CardLabelCache::drawLabel(const CardLabel& label, bool asked) {
  const bool stored =
      lock_.withLock([&] { return label.tabTitle ? tabTextures_.contains(label) : textures_.find(label) != nullptr; });
  if (stored) return;
  ChromeTextureRef texture = drawPlate(PlateKind::label, labelText(label));
  if (!texture) return;
  lock_.withLock([&] { storeLabel(label, std::move(texture), asked); });
  wake();
}

void CardLabelCache::drawTitle(const std::string& text, bool asked) {
  if (lock_.withLock([&] { return titleTextures_.contains(text); })) return;
  ChromeTextureRef texture = drawPlate(PlateKind::title, titleText(text));
  if (!texture) return;
  lock_.withLock([&] { storeTitle(text, std::move(texture), asked); });
  wake();
}

void CardLabelCache::prepareLabels(const std::vector<CardLabel>& labels) {
  checkMain("prepareLabels");
  for (const CardLabel& label : labels) drawLabel(label, false);
}

void CardLabelCache::prepareTitles(const std::vector<CardTitle>& titles) {
  checkMain("prepareTitles");
  for (const CardTitle& title : titles) drawTitle(title.text, false);
}

void CardLabelCache::drawCount(int count) {
  checkMain("drawCount");
  if (lock_.withLock([&] { return countTextures_.contains(count); })) return;
  ChromeTextureRef texture = drawPlate(PlateKind::count, countText(count));
  if (!texture) return;
  lock_.withLock([&] { countTextures_[count] = std::move(texture); });
  wake();
}

ChromeTextureRef CardLabelCache::labelTexture(const CardLabel& label, bool request) {
  {
    std::lock_guard guard(lock_);
    if (ChromeTextureRef found = label.tabTitle ? tabTextures_.find(label) : textures_.find(label)) return found;
  }
  CardLabel fallback;
  if (label.tabTitle) {
    if (request) requestLabel(label);
    fallback = CardLabel{label.appName, label.state,
                         label.state == WindowState::onOtherSpace ? label.spaceNumber : std::nullopt,
                         label.isPrivate, std::nullopt};
  } else if (label.spaceNumber) {
    if (request) requestLabel(label);
    fallback = label;
    fallback.spaceNumber.reset();
  } else {
    return nullptr;  // plain labels are drawn by prepareLabels only
  }
  std::lock_guard guard(lock_);
  return textures_.find(fallback);
}

ChromeTextureRef CardLabelCache::titleTexture(const std::string& text, bool request) {
  {
    std::lock_guard guard(lock_);
    if (ChromeTextureRef found = titleTextures_.find(text)) return found;
  }
  if (request) requestTitle(text);
  return nullptr;
}

ChromeTextureRef CardLabelCache::countTexture(int count) {
  {
    std::lock_guard guard(lock_);
    if (auto it = countTextures_.find(count); it != countTextures_.end()) return it->second;
  }
  requestCount(count);
  return nullptr;
}

void CardLabelCache::requestLabel(const CardLabel& label) {
  if (!lock_.withLock([&] { return requestedLabels_.insert(label).second; })) return;
  enqueue({PendingPlate{PlateKind::label, label, {}, 0, true}});
}

void CardLabelCache::requestTitle(const std::string& text) {
  if (!lock_.withLock([&] { return requestedTitles_.insert(text).second; })) return;
  enqueue({PendingPlate{PlateKind::title, {}, text, 0, true}});
}

void CardLabelCache::requestCount(int count) {
  if (!lock_.withLock([&] { return requestedCounts_.insert(count).second; })) return;
  enqueue({PendingPlate{PlateKind::count, {}, {}, count, true}});
}

void CardLabelCache::queueLabels(const std::vector<CardLabel>& labels) {
  checkMain("queueLabels");
  std::vector<PendingPlate> plates;
  plates.reserve(labels.size());
  for (const CardLabel& label : labels) plates.push_back(PendingPlate{PlateKind::label, label, {}, 0});
  enqueue(std::move(plates));
}

void CardLabelCache::queueTitles(const std::vector<CardTitle>& titles) {
  checkMain("queueTitles");
  std::vector<PendingPlate> plates;
  plates.reserve(titles.size());
  for (const CardTitle& title : titles) plates.push_back(PendingPlate{PlateKind::title, {}, title.text, 0});
  enqueue(std::move(plates));
}

void CardLabelCache::enqueue(std::vector<PendingPlate> plates) {
  if (plates.empty()) return;
  const bool post = lock_.withLock([&] {
    for (PendingPlate& plate : plates) {
      // A plate already waiting keeps its place (asked for now if either was); one stored meanwhile
      // is skipped when its turn comes.
      auto same = std::find_if(pending_.begin(), pending_.end(), [&](const PendingPlate& p) { return p.sameKey(plate); });
      if (same == pending_.end())
        pending_.push_back(std::move(plate));
      else
        same->asked = same->asked || plate.asked;
    }
    if (pendingTurnPosted_ || pending_.empty()) return false;
    pendingTurnPosted_ = true;
    return true;
  });
  if (post) postPendingTurn();
}

void CardLabelCache::postPendingTurn() {
  services_.main.post([weak = weak_from_this()] {
    if (auto self = weak.lock()) self->drawNextPending();
  });
}

void CardLabelCache::drawNextPending() {
  checkMain("drawNextPending");
  std::optional<PendingPlate> plate = lock_.withLock([&]() -> std::optional<PendingPlate> {
    if (pending_.empty()) return std::nullopt;
    PendingPlate first = std::move(pending_.front());
    pending_.pop_front();
    return first;
  });
  if (plate) {
    switch (plate->kind) {
      case PlateKind::label: drawLabel(plate->label, plate->asked); break;
      case PlateKind::title: drawTitle(plate->title, plate->asked); break;
      case PlateKind::count: drawCount(plate->count); break;
    }
  }
  const bool more = lock_.withLock([&] {
    pendingTurnPosted_ = !pending_.empty();
    return pendingTurnPosted_;
  });
  if (more) postPendingTurn();
}

bool CardLabelCache::setPlateOpacity([[maybe_unused]] const std::unique_lock<Lock>& held, double opacity) {
  assert(held.owns_lock() && held.mutex() == &lock_ && "CardLabelCache::setPlateOpacity: hold lock()");
  if (opacity == plateOpacity_) return false;
  plateOpacity_ = opacity;
  forgetPlatesLocked();
  return true;
}

CardLabelCache::Counts CardLabelCache::counts() {
  std::lock_guard guard(lock_);
  return {textures_.size(),       tabTextures_.size(),     titleTextures_.size(),  countTextures_.size(),
          requestedLabels_.size(), requestedTitles_.size(), requestedCounts_.size()};
}

std::vector<CardLabel> CardLabelCache::tabOrder() {
  std::lock_guard guard(lock_);
  return tabTextures_.order();
}

std::vector<std::string> CardLabelCache::titleOrder() {
  std::lock_guard guard(lock_);
  return titleTextures_.order();
}

}  // namespace quorvel
