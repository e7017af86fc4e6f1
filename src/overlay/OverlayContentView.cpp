#include "overlay/OverlayContentView.h"

#include <algorithm>
#include <cmath>

#include "base/TextServices.h"
#include "overlay/PixelAlign.h"

namespace quorvel {

namespace {

constexpr double kTitleMove = 0.14;
constexpr double kTextCrossFade = 0.14;
constexpr double kTipFade = 0.14;
constexpr double kSearchPill = 0.2;
constexpr double kTitleFade = 0.28;
constexpr double kShownTipAlpha = 0.5;
constexpr double kStillFadeIn = 0.2;

double rnd(double v) { return PixelAlign::rnd(v); }

}  // namespace

OverlayContentView::OverlayContentView(Services services)
    : titleCapsule(services.metrics, services.main),
      searchCapsule(services.metrics, services.main),
      emptyCapsule(services.metrics, services.main),
      services_(std::move(services)) {
  solidBackdrop.hidden = true;
  dimView.alpha.setAtOnce(0);
  desktopStill.hidden = true;
  desktopStill.alpha.setAtOnce(0);
  surfaceHost.onGeometryChange = [weak = std::weak_ptr<OverlayContentView*>(self_)] {
    auto self = weak.lock();
    if (!self) return;
    OverlayContentView& view = **self;
    if (view.overlayDelegate) view.overlayDelegate->geometryChanged(view);
  };

  titleCapsule.contentAlignment = GlassCapsule::ContentAlignment::centred;
  titleCapsule.truncation = CapsuleTruncation::middle;
  titleCapsule.contentInsets = {24, 24};
  titleCapsule.hidden = true;
  titleCapsule.alpha.setAtOnce(0);

  searchCapsule.truncation = CapsuleTruncation::clip;
  searchCapsule.glyphSpacing = 10;
  searchCapsule.hidden = true;
  searchCapsule.alpha.setAtOnce(0);

  tipLabel.text.font = tipFont();
  tipLabel.text.color = ChromeTextColor::tertiaryLabel;
  tipLabel.hidden = true;
  tipLabel.alpha.setAtOnce(0);

  emptyCapsule.contentAlignment = GlassCapsule::ContentAlignment::centred;
  emptyCapsule.truncation = CapsuleTruncation::middle;
  emptyCapsule.contentInsets = {24, 24};
  emptyCapsule.hidden = true;
  emptyCapsule.alpha.setAtOnce(0);

  emptyHintLabel.text.font = tipFont();
  emptyHintLabel.text.color = ChromeTextColor::tertiaryLabel;
  emptyHintLabel.hidden = true;
  emptyHintLabel.alpha.setAtOnce(0);
}

void OverlayContentView::after(double seconds, std::function<void(OverlayContentView&)> completion) {
  services_.main.postAfter(fromSeconds(seconds),
                           [weak = std::weak_ptr<OverlayContentView*>(self_), completion = std::move(completion)] {
                             if (auto self = weak.lock()) {
                               completion(**self);
                               (*self)->chromeChanged();
                             }
                           });
}

// ---- Configure ----

void OverlayContentView::configure(bool applyBackdropNow, double fallbackScale) {
  const AppSettings& settings = services_.settings;
  surfaceHost.fallbackScale = fallbackScale;

  double dim = 0;
  if (settings.backdropStyle() == AppSettings::BackdropStyle::liveDesktop) {
    const double stored = settings.doubleValue(AppSettings::Key::backdropDim);
    dim = stored > 0 ? std::min(stored, 0.6) : 0;  // NaN reads as 0 too
  }
  dimView.alpha.setAtOnce(dim);

  if (applyBackdropNow) applyBackdrop();

  showsHeroTitle_ = settings.boolValue(AppSettings::Key::showWindowTitle);
  searchEnabled_ = settings.boolValue(AppSettings::Key::searchEnabled);
  showsTips_ = settings.boolValue(AppSettings::Key::showTips);
  cancelBinding_ = settings.cancelBinding();
  shortcutModifiers_.clear();
  for (HotkeySlot slot : {HotkeySlot::first, HotkeySlot::second}) {
    if (auto binding = settings.hotkeyBinding(slot)) shortcutModifiers_.push_back(binding->requiredFlags);
  }
  vimKeys_ = settings.boolValue(AppSettings::Key::vimKeys);
  aboveTabStepsBackward_ = settings.aboveTabStepsBackward();
  hoverSelects_ = settings.boolValue(AppSettings::Key::hoverSelects);
  middleClickCloses_ = settings.boolValue(AppSettings::Key::middleClickCloses);
  flipStacksBySwiping_ = settings.boolValue(AppSettings::Key::flipStacksBySwiping);

  gestureTuning_ = GestureTuning{};
  resetTracking();

  dragToSwitch_ = settings.boolValue(AppSettings::Key::dragToSwitch);
  acceptsDrags_ = dragToSwitch_;

  titleCentreFraction_ = settings.titlePlacement() == AppSettings::TitlePlacement::top ? 0.8 : 0.15;
  switch (settings.titleSize()) {
    case AppSettings::TitleSize::small:
      titleFont_ = {12, FontWeight::semibold};
      break;
    case AppSettings::TitleSize::medium:
      titleFont_ = {14, FontWeight::semibold};
      break;
    case AppSettings::TitleSize::large:
      titleFont_ = {18, FontWeight::semibold};
      break;
  }

  ++titleFadeGeneration_;
  titleCapsule.hidden = true;
  titleCapsule.alpha.setAtOnce(0);
  titleCapsule.clearText();

  ++emptyFadeGeneration_;
  emptyCapsule.hidden = true;
  emptyCapsule.alpha.setAtOnce(0);
  emptyCapsule.clearText();
  emptyHintLabel.hidden = true;
  emptyHintLabel.alpha.setAtOnce(0);
  emptyHintLabel.text.text.clear();

  updateBuildBadge();
  layout();
  surfaceHost.syncLayer(window ? std::optional<double>(window->backingScale) : std::nullopt);
  resetSearchChrome();
}

void OverlayContentView::applyBackdrop() {
  const AppSettings& settings = services_.settings;
  const bool solid = settings.backdropStyle() == AppSettings::BackdropStyle::solidColor;
  const bool reduce = services_.reduceTransparency && services_.reduceTransparency();
  bool wantBlur = false;
  if (solid) {
    const std::string hex = settings.store().string(AppSettings::Key::backdropColor).value_or("");
    solidBackdrop.color = AppSettings::rgbFromHex(hex)
                              .value_or(AppSettings::rgbFromHex("#0a0e15").value_or(AppSettings::Rgb{0, 0, 0}));
  } else {
    wantBlur = services_.blurAvailable && services_.blurAvailable() && !reduce;
  }
  solidBackdrop.hidden = !solid;
  // The still of the last summon is not this one's desktop.
  wantsDesktopStill_ = !solid && !reduce;
  desktopStill.hidden = true;
  desktopStill.alpha.setAtOnce(0);
  desktopStillPicture.reset();

  if (!window || window->number < 1) return;
  const int radius =
      wantBlur ? AppSettings::blurRadius(std::clamp(settings.doubleValue(AppSettings::Key::blurAmount), 0.0, 1.0)) : 0;
  const bool applied = services_.setBackgroundBlur && services_.setBackgroundBlur(radius, window->number);
  backdrop.hidden = solid || (wantBlur && applied);
}

void OverlayContentView::showDesktopStill(std::shared_ptr<const DesktopStill> still) {
  if (!still || !still->isWhole()) return;
  desktopStillPicture = std::move(still);
  desktopStill.hidden = false;
  desktopStill.alpha.animate(1, now(), fromSeconds(kStillFadeIn), ChromeEasing::easeOut);
  chromeChanged();
}

// ---- Layout ----

void OverlayContentView::setFrameSize(Size size) {
  bounds_ = size;
  surfaceHost.bounds = size;
  layout();
  surfaceHost.syncLayer(window ? std::optional<double>(window->backingScale) : std::nullopt);
}

void OverlayContentView::layout() {
  if (!(bounds_.width > 0) || !(bounds_.height > 0)) return;
  for (GlassCapsule* capsule : {&titleCapsule, &searchCapsule, &emptyCapsule}) capsule->backingScale = backingScale();
  layoutTitle();
  layoutSearchAndTip();
  layoutEmptyState();
  if (buildBadgeLabel) {
    const Size fitting = labelFittingSize(*buildBadgeLabel);
    buildBadgeLabel->frame = {20, 20, std::ceil(fitting.width), std::ceil(fitting.height)};
  }
  chromeChanged();
}

Rect OverlayContentView::capsuleFrame(const CapsuleText& text, bool emptyState) const {
  const double W = bounds_.width, H = bounds_.height;
  const double maxWidth = emptyState ? std::max(0.55 * W, 280.0) : std::max(0.4 * W, 180.0);
  const Size fitting = services_.metrics.measure(text.text, text.font);
  const double tw = std::ceil(fitting.width), th = std::ceil(fitting.height);
  const double height = th + 24;
  double width = std::max(std::min(maxWidth - 48, tw), 1.0) + 48;
  width = std::max(width, height);
  const double x = rnd((W - width) / 2);
  const double y = emptyState ? rnd(H / 2 - height / 2) : rnd(titleCentreFraction_ * H - height / 2);
  return {x, y, width, height};
}

void OverlayContentView::layoutTitle() {
  if (titleCapsule.hidden) return;
  const Rect frame = capsuleFrame(titleCapsule.attributedText(), false);
  titleCapsule.setFrame(frame);
  titleCapsule.setCornerRadius(frame.height / 2);
}

std::pair<Rect, double> OverlayContentView::searchCapsuleFrame() const {
  const double W = bounds_.width, H = bounds_.height;
  double width = 68, height = 40, scale = 0.97;
  if (searchActive_) {
    width = std::clamp(0.32 * W, 320.0, 560.0);
    height = 44;
    scale = 1.0;
  }
  const double frameWidth = rnd(width / scale), frameHeight = rnd(height / scale);
  return {{rnd((W - frameWidth) / 2), rnd(0.9 * H - frameHeight / 2), frameWidth, frameHeight}, scale};
}

void OverlayContentView::layoutSearchAndTip() {
  const auto [frame, scale] = searchCapsuleFrame();
  layoutTip(frame, scale);
  if (searchCapsule.hidden) return;
  searchCapsule.setScale(scale);
  searchCapsule.setFrame(frame);
  searchCapsule.setCornerRadius(frame.height / 2);
}

Size OverlayContentView::labelFittingSize(const ChromeLabel& label) const {
  return services_.metrics.measure(label.text.text, label.text.font);
}

void OverlayContentView::layoutTip(const Rect& searchFrame, double searchScale) {
  const double visibleHeight = searchScale * searchFrame.height;
  const Size fitting = labelFittingSize(tipLabel);
  tipLabel.frame = {rnd((bounds_.width - fitting.width) / 2),
                    rnd(searchFrame.midY() - visibleHeight / 2 - 6 - fitting.height), std::ceil(fitting.width),
                    std::ceil(fitting.height)};
}

void OverlayContentView::layoutEmptyState() {
  if (!emptyCapsule.hidden) {
    const Rect frame = capsuleFrame(emptyCapsule.attributedText(), true);
    emptyCapsule.setFrame(frame);
    emptyCapsule.setCornerRadius(frame.height / 2);
  }
  if (!emptyHintLabel.hidden) {
    const Size fitting = labelFittingSize(emptyHintLabel);
    emptyHintLabel.frame = {rnd((bounds_.width - fitting.width) / 2), rnd(emptyCapsule.frame.minY() - 6 - fitting.height),
                            std::ceil(fitting.width), std::ceil(fitting.height)};
  }
}

void OverlayContentView::updateBuildBadge() {
  const std::optional<std::string> text = services_.buildDescription ? services_.buildDescription() : std::nullopt;
  if (!text) {
    buildBadgeLabel.reset();
    return;
  }
  if (!buildBadgeLabel) {
    buildBadgeLabel.emplace();
    buildBadgeLabel->text.font = tipFont();
    buildBadgeLabel->text.color = ChromeTextColor::tertiaryLabel;
  }
  buildBadgeLabel->text.text = *text;
  const Size fitting = labelFittingSize(*buildBadgeLabel);
  buildBadgeLabel->frame = {20, 20, std::ceil(fitting.width), std::ceil(fitting.height)};
}

// ---- Title ----

void OverlayContentView::showTitle(const std::string& title) {
  const std::string trimmed = TextServices::trimmed(title);
  if (!showsHeroTitle_ || trimmed.empty()) {
    hideTitle();
    return;
  }
  ++titleFadeGeneration_;
  const Instant t = now();
  const bool wasInvisible = titleCapsule.hidden || titleCapsule.alpha.valueAt(t) < 0.01;
  const bool sameText = titleCapsule.attributedText().text == trimmed;
  titleCapsule.hidden = false;

  const CapsuleText text{trimmed, titleFont_, ChromeTextColor::label};
  const Rect target = capsuleFrame(text, false);
  const Size size{target.width, target.height};
  bool frameAtOnce = false;
  if (sameText || wasInvisible) {
    titleCapsule.setText(text, std::nullopt, size);
    if (wasInvisible) {
      titleCapsule.setFrame(target);
      titleCapsule.setCornerRadius(target.height / 2);
      frameAtOnce = true;
    }
  } else {
    titleCapsule.setText(text, kTextCrossFade, size);
  }
  if (!frameAtOnce) {
    titleCapsule.moveFrame(target, kTitleMove);
    titleCapsule.setCornerRadius(target.height / 2);
  }
  titleCapsule.alpha.animate(1, t, fromSeconds(kTitleFade), ChromeEasing::easeOut);
  chromeChanged();
}

void OverlayContentView::hideTitle() {
  if (titleCapsule.hidden) return;
  const int generation = ++titleFadeGeneration_;
  titleCapsule.alpha.animate(0, now(), fromSeconds(kTitleFade), ChromeEasing::easeIn);
  after(kTitleFade, [generation](OverlayContentView& view) {
    if (view.titleFadeGeneration_ == generation) view.titleCapsule.hidden = true;
  });
  chromeChanged();
}

// ---- Empty state ----

void OverlayContentView::showEmptyState(std::optional<bool> granted) {
  const Instant t = now();
  if (!granted) {
    if (emptyCapsule.hidden) return;
    const int generation = ++emptyFadeGeneration_;
    emptyCapsule.alpha.animate(0, t, fromSeconds(kTitleFade), ChromeEasing::easeIn);
    emptyHintLabel.alpha.animate(0, t, fromSeconds(kTitleFade), ChromeEasing::easeIn);
    after(kTitleFade, [generation](OverlayContentView& view) {
      if (view.emptyFadeGeneration_ != generation) return;
      view.emptyCapsule.hidden = true;
      view.emptyHintLabel.hidden = true;
    });
    chromeChanged();
    return;
  }
  ++emptyFadeGeneration_;
  emptyCapsule.hidden = false;
  const CapsuleText text{*granted ? kNothingToSwitch : kNeedsScreenRecording, emptyStateFont(), ChromeTextColor::label};
  const Rect frame = capsuleFrame(text, true);
  emptyCapsule.setText(text, std::nullopt, {frame.width, frame.height});
  emptyHintLabel.text.text = *granted ? "" : kGrantHint;
  emptyHintLabel.hidden = *granted;
  layoutEmptyState();
  emptyCapsule.alpha.animate(1, t, fromSeconds(kTitleFade), ChromeEasing::easeOut);
  emptyHintLabel.alpha.animate(*granted ? 0 : 0.5, t, fromSeconds(kTitleFade), ChromeEasing::easeOut);
  chromeChanged();
}

// ---- Tips ----

void OverlayContentView::updateTip(bool animated) {
  std::optional<OverlayTip> desired;
  if (!searchActive_ && showsTips_) {
    if (selectionInStack_) {
      desired = OverlayTip::stack;
    } else if (searchEnabled_) {
      desired = OverlayTip::search;
    }
  }
  if (desired == shownTip_) return;
  // Every way on from here shows, hides or swaps the tip.
  chromeChanged();
  const Instant t = now();
  if (!shownTip_) {
    shownTip_ = desired;
    ++tipFadeGeneration_;
    showTip(animated);
    return;
  }
  if (!desired) {
    shownTip_.reset();
    const int generation = ++tipFadeGeneration_;
    if (animated) {
      tipLabel.alpha.animate(0, t, fromSeconds(kTipFade), ChromeEasing::easeIn);
      after(kTipFade, [generation](OverlayContentView& view) {
        if (view.tipFadeGeneration_ == generation) view.tipLabel.hidden = true;
      });
    } else {
      tipLabel.hidden = true;
      tipLabel.alpha.setAtOnce(0);
    }
    return;
  }
  const bool invisible = tipLabel.hidden || tipLabel.alpha.valueAt(t) <= 0.01;
  shownTip_ = desired;
  const int generation = ++tipFadeGeneration_;
  if (invisible || !animated) {
    showTip(false);
    return;
  }
  tipLabel.alpha.animate(0, t, fromSeconds(kTipFade), ChromeEasing::easeIn);
  after(kTipFade, [generation](OverlayContentView& view) {
    if (view.tipFadeGeneration_ == generation) view.showTip(true);
  });
}

void OverlayContentView::showTip(bool animated) {
  tipLabel.text.text = shownTip_ == OverlayTip::stack ? kStackTipText : kSearchTipText;
  tipLabel.hidden = false;
  const auto [frame, scale] = searchCapsuleFrame();
  layoutTip(frame, scale);
  if (animated) {
    tipLabel.alpha.animate(kShownTipAlpha, now(), fromSeconds(kTipFade), ChromeEasing::easeOut);
  } else {
    tipLabel.alpha.setAtOnce(kShownTipAlpha);
  }
}

void OverlayContentView::setSelectionInStack(bool inStack) {
  const bool wasFirst = tipIsFirstOfSummon_;
  tipIsFirstOfSummon_ = false;
  if (inStack == selectionInStack_) return;
  selectionInStack_ = inStack;
  updateTip(!wasFirst);
}

// ---- Search chrome ----

void OverlayContentView::idleSearchLook() {
  searchCapsule.contentAlignment = GlassCapsule::ContentAlignment::centred;
  searchCapsule.glyphSymbol = "magnifyingglass";
  searchCapsule.glyphImage = Size{13, 13};
  searchCapsule.glyphVisible = true;
  searchCapsule.glyphTint = ChromeTextColor::label;
  searchCapsule.clearText();
}

void OverlayContentView::activeSearchLook(const std::string& query, std::optional<double> crossFade, Size size) {
  searchCapsule.contentAlignment = GlassCapsule::ContentAlignment::leading;
  searchCapsule.contentInsets = {16, 16};
  searchCapsule.glyphSymbol = "magnifyingglass";
  searchCapsule.glyphImage = Size{16, 16};
  searchCapsule.glyphVisible = true;
  searchCapsule.glyphTint = ChromeTextColor::secondaryLabel;
  const CapsuleText text = query.empty() ? CapsuleText{kSearchPlaceholder, searchFont(), ChromeTextColor::secondaryLabel}
                                         : CapsuleText{query, searchFont(), ChromeTextColor::label};
  searchCapsule.setText(text, crossFade, size);
}

void OverlayContentView::placeCaret(int index) {
  const auto& b = searchMetrics_.boundaries;
  const double offset =
      b.empty() ? 0 : b[static_cast<size_t>(std::clamp(index, 0, static_cast<int>(b.size()) - 1))];
  searchCapsule.caretOffset = offset;
  searchCapsule.layoutText({0, 0, searchCapsule.frame.width, searchCapsule.frame.height});
}

void OverlayContentView::beginSearch() {
  if (!searchEnabled_ || searchActive_) return;
  searchActive_ = true;
  searchCapsule.hidden = false;
  searchMetrics_ = SearchTextMetrics{};
  const auto [frame, scale] = searchCapsuleFrame();
  activeSearchLook("", kSearchPill, {frame.width, frame.height});
  searchCapsule.caretOffset = 0.0;
  searchCapsule.layoutText({0, 0, searchCapsule.frame.width, searchCapsule.frame.height});
  updateTip(true);
  layoutSearchAndTip();
  searchCapsule.alpha.animate(1, now(), fromSeconds(kSearchPill), ChromeEasing::easeOut);
  chromeChanged();
  if (overlayDelegate) overlayDelegate->setSearching(true);
}

void OverlayContentView::endSearch() {
  if (!searchActive_) return;
  searchActive_ = false;
  searchMetrics_ = SearchTextMetrics{};
  if (showingIBeam_) {
    if (services_.setTextCursor) services_.setTextCursor(false);
    showingIBeam_ = false;
  }
  searchCapsule.caretOffset.reset();
  searchCapsule.textScroll = 0;
  idleSearchLook();
  updateTip(true);
  layoutSearchAndTip();
  searchCapsule.alpha.animate(0.5, now(), fromSeconds(kSearchPill), ChromeEasing::easeIn);
  chromeChanged();
  if (overlayDelegate) overlayDelegate->setSearching(false);
}

void OverlayContentView::setSearchText(const std::string& text, int caret) {
  if (!searchActive_) return;
  searchCapsule.hidden = false;
  if (text != searchMetrics_.text) searchMetrics_ = SearchTextMetrics(text, searchFont(), services_.metrics);
  activeSearchLook(text, std::nullopt, searchCapsule.bounds());
  if (searchActive_) placeCaret(caret);
  chromeChanged();
}

void OverlayContentView::setSearchCaret(int index) {
  if (!searchActive_) return;
  placeCaret(index);
  chromeChanged();
}

void OverlayContentView::resetSearchChrome() {
  searchActive_ = false;
  searchMetrics_ = SearchTextMetrics{};
  selectionInStack_ = false;
  tipIsFirstOfSummon_ = true;
  if (showingIBeam_) {
    if (services_.setTextCursor) services_.setTextCursor(false);
    showingIBeam_ = false;
  }
  searchCapsule.caretOffset.reset();
  searchCapsule.textScroll = 0;
  searchCapsule.layoutText({0, 0, searchCapsule.frame.width, searchCapsule.frame.height});
  if (searchEnabled_) idleSearchLook();
  searchCapsule.hidden = !searchEnabled_;
  searchCapsule.alpha.setAtOnce(searchEnabled_ ? 0.5 : 0);
  updateTip(false);
  layoutSearchAndTip();
}

}  // namespace quorvel
