#include "overlay/GlassCapsule.h"

#include <algorithm>
#include <cmath>

#include "overlay/PixelAlign.h"

namespace quorvel {

GlassCapsule::GlassCapsule(OverlayTextMetrics& metrics, Executor& main) : metrics_(metrics), main_(main) {
  outgoing().hidden = true;
  outgoing().alpha.setAtOnce(0);
}

double GlassCapsule::aligned(double v) const { return PixelAlign::aligned(v, backingScale); }

double GlassCapsule::shownAlpha() const { return hidden ? 0 : alpha.valueAt(now()); }

void GlassCapsule::setText(const CapsuleText& text, std::optional<double> duration, Size size) {
  const int generation = ++textGeneration_;
  attributedText_ = text;
  const bool fade = duration.has_value() && !current().text.empty();
  if (fade) {
    current_ = 1 - current_;
    outgoing().hidden = false;
  } else {
    outgoing().hidden = true;
    outgoing().text = {};
    outgoing().alpha.setAtOnce(0);
  }
  current().text = text;
  current().hidden = false;
  layoutText({0, 0, size.width, size.height});

  if (!duration) {
    current().alpha.setAtOnce(1);
    return;
  }
  const Instant t = now();
  // Both labels start from what the screen shows now: a second change during a fade carries on
  // from the opacities reached, not from the ends of the first fade.
  current().alpha.setAtOnce(fade ? current().alpha.valueAt(t) : 0);
  outgoing().alpha.setAtOnce(outgoing().alpha.valueAt(t));
  const Duration d = fromSeconds(std::max(*duration, 0.0));
  current().alpha.animate(1, t, d, ChromeEasing::easeOut);
  outgoing().alpha.animate(0, t, d, ChromeEasing::easeOut);

  std::weak_ptr<GlassCapsule*> weak = self_;
  main_.postAfter(d, [weak, generation] {
    auto self = weak.lock();
    if (!self || (*self)->textGeneration_ != generation) return;
    Label& out = (*self)->outgoing();
    out.hidden = true;
    out.text = {};
    out.alpha.setAtOnce(0);
  });
}

void GlassCapsule::clearText() {
  ++textGeneration_;
  attributedText_ = {};
  current().text = {};
  current().alpha.setAtOnce(1);
  outgoing().hidden = true;
  outgoing().text = {};
  outgoing().alpha.setAtOnce(0);
  layout();
}

void GlassCapsule::setCornerRadius(double radius) {
  if (radius == cornerRadius_) return;
  cornerRadius_ = radius;
  refreshShadowPath();
}

void GlassCapsule::setScale(double newScale) {
  scale_ = newScale;
  applyScale();
}

void GlassCapsule::setFrame(const Rect& newFrame) {
  if (!frameMove_.isAnimating(now())) movedFrom_ = newFrame;
  frame = newFrame;
  layout();
}

void GlassCapsule::moveFrame(const Rect& target, double seconds) {
  const Instant t = now();
  movedFrom_ = shownFrame(t);
  frameMove_.setAtOnce(0);
  frameMove_.animate(1, t, fromSeconds(seconds), ChromeEasing::easeOut);
  setFrame(target);
}

Rect GlassCapsule::shownFrame(Instant at) const {
  const double p = frameMove_.valueAt(at);
  if (p >= 1) return frame;
  const auto mix = [p](double a, double b) { return a + (b - a) * p; };
  return {mix(movedFrom_.x, frame.x), mix(movedFrom_.y, frame.y), mix(movedFrom_.width, frame.width),
          mix(movedFrom_.height, frame.height)};
}

void GlassCapsule::layout() {
  applyScale();
  refreshShadowPath();
  layoutText({0, 0, frame.width, frame.height});
}

Rect GlassCapsule::textClipRect(const Rect& r) const {
  const double glyph = glyphVisible && glyphImage ? glyphImage->width : 0;
  const double spacing = glyph > 0 ? glyphSpacing : 0;
  const double x = aligned(contentInsets.left) + glyph + spacing;
  const double width = std::max(0.0, r.width - contentInsets.left - contentInsets.right - glyph - spacing);
  return {x, 0, width, r.height};
}

void GlassCapsule::layoutText(const Rect& r) {
  const bool showsGlyph = glyphVisible && glyphImage;
  const double glyphWidth = showsGlyph ? glyphImage->width : 0;
  const double glyphHeight = showsGlyph ? glyphImage->height : 0;
  const Rect area = textClipRect(r);

  textClipFrame_ = caretMode() ? area : Rect{0, 0, r.width, r.height};
  updateTextScroll(area.width);
  layoutLabel(outgoing(), r, area, glyphWidth);
  layoutLabel(current(), r, area, glyphWidth);

  if (caretMode()) {
    const OverlayFontMetrics m = metrics_.fontMetrics(attributedText_.font);
    caretFrame_ = {aligned(*caretOffset - textScroll), aligned(r.midY() - m.capHeight * 0.5 + m.descender), 1.0,
                   std::ceil(m.ascender - m.descender)};
    caretHidden_ = false;
  } else {
    caretHidden_ = true;
  }

  if (glyphVisible) {
    const double currentWidth = current().frame.width;
    const double gap = glyphWidth > 0 && currentWidth > 0 ? glyphSpacing : 0;
    const double x = contentAlignment == ContentAlignment::leading
                         ? aligned(contentInsets.left)
                         : aligned((r.width - (currentWidth + glyphWidth + gap)) * 0.5);
    glyphFrame_ = {x, aligned(r.midY() - glyphHeight * 0.5), glyphWidth, glyphHeight};
  }
}

void GlassCapsule::layoutLabel(Label& label, const Rect& r, const Rect& area, double glyphWidth) {
  if (label.text.empty()) {
    label.frame = {};
    return;
  }
  const OverlayFont& font = label.text.font;
  const Size fitting = metrics_.measure(label.text.text, font);
  const double w = caretMode() ? std::ceil(fitting.width) : std::min(area.width, std::ceil(fitting.width));
  const double h = std::min(r.height, std::ceil(fitting.height));
  const OverlayFontMetrics m = metrics_.fontMetrics(font);
  const double baseline = r.midY() - m.capHeight * 0.5 + m.baselineOffset;
  const double y = aligned(baseline - h);
  double x;
  if (caretMode()) {
    x = aligned(-textScroll);
  } else {
    const double gap = glyphWidth > 0 && w > 0 ? glyphSpacing : 0;
    x = contentAlignment == ContentAlignment::leading
            ? aligned(contentInsets.left) + glyphWidth + gap
            : glyphWidth + gap + aligned((r.width - (w + glyphWidth + gap)) * 0.5);
  }
  label.frame = {x, y, w, h};
}

void GlassCapsule::updateTextScroll(double clipWidth) {
  if (!caretMode()) {
    textScroll = 0;
    return;
  }
  const Size fitting = metrics_.measure(current().text.text, current().text.font);
  const double most = std::max(std::ceil(fitting.width) - clipWidth + 1, 0.0);
  double t = std::min(most, std::max(textScroll, 0.0));
  const double caret = *caretOffset;
  if (caret - t < 0) {
    t = caret;
  } else if (caret - t > clipWidth - 1) {
    t = caret - clipWidth + 1;
  }
  textScroll = std::min(most, std::max(t, 0.0));
}

void GlassCapsule::applyScale() {
  // The layer's anchor is its bottom-left corner, so the pivot is the centre of the bounds.
  const SublayerTransform next{frame.width * 0.5, frame.height * 0.5, scale_};
  if (next == transform_) return;
  transform_ = next;
  refreshShadowPath();
}

void GlassCapsule::refreshShadowPath() {
  const double w = frame.width, h = frame.height;
  const Rect rect{w * (1 - scale_) * 0.5, h * (1 - scale_) * 0.5, w - w * (1 - scale_), h - h * (1 - scale_)};
  const double radius = std::max(0.0, std::min(std::min(rect.width, rect.height) * 0.5, cornerRadius_ * scale_));
  shadow_ = {rect, radius};
}

}  // namespace quorvel
