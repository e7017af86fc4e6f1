#pragma once

#include <memory>
#include <optional>
#include <string>

#include "base/Executor.h"
#include "base/Geometry.h"
#include "overlay/ChromeAnimation.h"
#include "overlay/OverlayTextMetrics.h"

namespace quorvel {

// The colour role of chrome text, resolved by the drawing (dark appearance).
enum class ChromeTextColor { label, secondaryLabel, tertiaryLabel };

// One line of styled text of a capsule: the text, its font and colour. The empty text has no font
// of its own and is measured with the system font at 13 pt.
struct CapsuleText {
  std::string text;
  OverlayFont font;
  ChromeTextColor color = ChromeTextColor::label;
  bool operator==(const CapsuleText&) const = default;
  bool empty() const { return text.empty(); }
};

// How a label too wide for its area loses characters.
enum class CapsuleTruncation { middle, clip };

// The small translucent pill the overlay shows three times: the focused card's title, the search
// field and the empty-state message. This is its model: the content view decides its frame, corner
// radius, text and caret; the capsule lays out, inside its bounds (points, origin bottom left, y up),
// its two labels (the current text and the previous one while it fades out), its text clip, its
// caret bar and its optional glyph, and keeps its shadow path and the scale of its contents. The
// renderer draws it from this model.
//
// Text changes cross-fade on the chrome clock; each change takes a new `textGeneration`, and a fade's
// completion (posted to the main queue) acts only while its generation is still the newest.
// Main thread only.
class GlassCapsule {
 public:
  enum class ContentAlignment { centred, leading };

  struct Insets {
    double left = 12;
    double right = 12;
  };

  // One of the capsule's text labels.
  struct Label {
    CapsuleText text;
    Rect frame;  // within the text clip in caret mode, else within the capsule
    bool hidden = false;
    ChromeAnimation alpha{1};
  };

  // The contents' scale about the centre, as a translate · scale · translate of the layer.
  struct SublayerTransform {
    double translateX = 0, translateY = 0, scale = 1;
    bool operator==(const SublayerTransform&) const = default;
  };

  struct ShadowPath {
    Rect rect;
    double cornerRadius = 0;
    bool operator==(const ShadowPath&) const = default;
  };

  GlassCapsule(OverlayTextMetrics& metrics, Executor& main);
  GlassCapsule(const GlassCapsule&) = delete;
  GlassCapsule& operator=(const GlassCapsule&) = delete;

  // ---- Set by the content view ----
  ContentAlignment contentAlignment = ContentAlignment::centred;
  Insets contentInsets;
  double glyphSpacing = 8;
  CapsuleTruncation truncation = CapsuleTruncation::middle;
  // The caret's x within the text, in points; none hides it.
  std::optional<double> caretOffset;
  // Horizontal scroll of the text in caret mode, never negative.
  double textScroll = 0;
  // The glyph before the text: its image size (none: no image) and whether it shows.
  std::optional<Size> glyphImage;
  bool glyphVisible = false;
  ChromeTextColor glyphTint = ChromeTextColor::label;
  std::string glyphSymbol;
  // The backing scale of the window the capsule is in (0: no window, 2 is used).
  double backingScale = 0;

  // Frame in the content view, visibility and opacity of the whole capsule.
  Rect frame;
  bool hidden = false;
  ChromeAnimation alpha{1};

  // ---- Operations ----
  // Shows `text`; with a duration it cross-fades from the text shown (or fades in from nothing),
  // without one it shows at once and ends any running fade. `size` is the size to lay the text out
  // in (the capsule's target size).
  void setText(const CapsuleText& text, std::optional<double> duration, Size size);
  void clearText();
  void setCornerRadius(double radius);
  void setScale(double scale);
  // Lays out labels, caret and glyph inside `rect`.
  void layoutText(const Rect& rect);
  // The text area inside `rect`.
  Rect textClipRect(const Rect& rect) const;
  // Sets the frame and runs the layout pass (background, scale, shadow path, then the text).
  void setFrame(const Rect& newFrame);
  // Moves to `target` over `seconds` on the chrome clock with the ease-out curve: the frame (and the
  // layout inside it) takes the target at once, the frame shown on screen glides there.
  void moveFrame(const Rect& target, double seconds);
  // The frame the screen shows at `now`.
  Rect shownFrame(Instant now) const;
  void layout();

  // ---- Read by the content view, the renderer and tests ----
  const CapsuleText& attributedText() const { return attributedText_; }
  // The font the capsule's text is set in.
  OverlayFont fontOfText() const { return attributedText_.font; }
  Size bounds() const { return {frame.width, frame.height}; }
  bool caretMode() const { return caretOffset.has_value() && contentAlignment == ContentAlignment::leading; }
  const Label& currentLabel() const { return labels_[current_]; }
  const Label& outgoingLabel() const { return labels_[1 - current_]; }
  const Rect& textClipFrame() const { return textClipFrame_; }
  const Rect& caretFrame() const { return caretFrame_; }
  bool caretHidden() const { return caretHidden_; }
  const Rect& glyphFrame() const { return glyphFrame_; }
  double cornerRadius() const { return cornerRadius_; }
  double scale() const { return scale_; }
  const SublayerTransform& sublayerTransform() const { return transform_; }
  const ShadowPath& shadowPath() const { return shadow_; }
  int textGeneration() const { return textGeneration_; }
  // The capsule's opacity and its labels' as the screen shows them now.
  double shownAlpha() const;

 private:
  Label& current() { return labels_[current_]; }
  Label& outgoing() { return labels_[1 - current_]; }
  double aligned(double v) const;
  Instant now() const { return main_.clock().now(); }
  void layoutLabel(Label& label, const Rect& rect, const Rect& area, double glyphWidth);
  void updateTextScroll(double clipWidth);
  void applyScale();
  void refreshShadowPath();

  OverlayTextMetrics& metrics_;
  Executor& main_;
  CapsuleText attributedText_;
  Label labels_[2];
  int current_ = 0;
  Rect movedFrom_;
  ChromeAnimation frameMove_{1};
  Rect textClipFrame_;
  Rect caretFrame_;
  bool caretHidden_ = true;
  Rect glyphFrame_;
  int textGeneration_ = 0;
  double cornerRadius_ = 0;
  double scale_ = 1.0;
  SublayerTransform transform_;
  ShadowPath shadow_;
  // Guards the fade completions: they hold it weakly.
  std::shared_ptr<GlassCapsule*> self_ = std::make_shared<GlassCapsule*>(this);
};

}  // namespace quorvel
