#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/Executor.h"
#include "base/Geometry.h"
#include "overlay/AxisClaim.h"
#include "overlay/ChromeAnimation.h"
#include "overlay/GlassCapsule.h"
#include "overlay/HoverGate.h"
#include "overlay/OverlayContentViewDelegate.h"
#include "overlay/OverlayInputEvent.h"
#include "overlay/OverlayTextMetrics.h"
#include "overlay/SearchTextMetrics.h"
#include "overlay/SurfaceHostView.h"
#include "platform/DesktopStill.h"
#include "settings/AppSettings.h"
#include "settings/HotkeyBinding.h"

namespace quorvel {

// The tip under the search pill.
enum class OverlayTip { search, stack };

// The root of one display's overlay: the backdrop (a solid colour, or the live desktop blurred by
// the window system with a plain fallback), a dim veil, the host of the card scene's surface, and
// the text chrome around the cards: the focused card's title capsule, the search capsule with its
// one-line tip, the empty state with its hint, and the build badge of a build that is not released.
// This is the model the overlay's renderer draws: frames in points with the origin at the bottom
// left and y up, opacities on the chrome clock. It decides the layout, runs the chrome's state
// machines (each guarded by its own generation, so a newer show always wins over an older fade-out)
// and turns keys, scrolls, clicks, hovers and drags into calls on its delegate.
//
// Main thread only; the delegate is called synchronously within the event.
class OverlayContentView {
 public:
  struct Services {
    OverlayTextMetrics& metrics;
    Executor& main;
    const AppSettings& settings;
    // Whether the window system offers a blur behind windows.
    std::function<bool()> blurAvailable;
    // Sets the blur radius behind a window (0 removes it); true when it was applied.
    std::function<bool(int radius, int windowNumber)> setBackgroundBlur;
    // The system's reduce-transparency setting.
    std::function<bool()> reduceTransparency;
    // The build text of a build that is not released; none for a released build.
    std::function<std::optional<std::string>()> buildDescription;
    // Shows the text cursor (true) or the arrow (false).
    std::function<void(bool)> setTextCursor;
    // Whether the application is active (for the dismiss log).
    std::function<bool()> applicationIsActive;
  };

  // The window the view is in, as it tells the view.
  struct WindowFacts {
    int number = 0;
    double backingScale = 0;
    bool isKey = false;
    // The pointer's location in the view, when known.
    std::optional<Point> pointer;
  };

  // A plain coloured layer (backdrop, veil).
  struct ChromeLayer {
    bool hidden = false;
    ChromeAnimation alpha{1};
    AppSettings::Rgb color{0, 0, 0};
  };

  // A one-line text label (tip, hint, build badge).
  struct ChromeLabel {
    CapsuleText text;
    Rect frame;
    bool hidden = false;
    ChromeAnimation alpha{1};
  };

  static constexpr const char* kSearchPlaceholder = "Search windows";
  static constexpr const char* kSearchTipText = "Press space to search";
  static constexpr const char* kStackTipText = "Use arrow keys to hop over a stack";
  static constexpr const char* kNothingToSwitch = "Nothing to switch to.";
  static constexpr const char* kNeedsScreenRecording = "The switcher needs Screen Recording to show your windows.";
  static constexpr const char* kGrantHint = "Open Settings to grant it, then relaunch the app.";

  explicit OverlayContentView(Services services);
  OverlayContentView(const OverlayContentView&) = delete;
  OverlayContentView& operator=(const OverlayContentView&) = delete;

  // ---- Views and layout ----
  OverlayContentViewDelegate* overlayDelegate = nullptr;
  std::optional<WindowFacts> window;
  // Called whenever what the chrome shows changed or one of its animations started (a title, the
  // tip, the empty state, the search capsule's look, text or caret, the layout), so that whoever
  // draws the chrome paints it again while the animations run. Never called during painting.
  std::function<void()> onChromeChange;

  // Re-reads the settings before a summon.
  void configure(bool applyBackdrop, double fallbackScale);
  void setFrameSize(Size size);
  Size bounds() const { return bounds_; }
  void layout();
  void showTitle(const std::string& title);
  void hideTitle();
  void showEmptyState(std::optional<bool> screenRecordingGranted);
  void hideEmptyState() { showEmptyState(std::nullopt); }
  void setSearchText(const std::string& text, int caret);
  void setSearchCaret(int index);
  void setSelectionInStack(bool inStack);
  void beginSearch();
  void endSearch();
  void updateTip(bool animated);
  // Whether the backdrop is the desktop (live-desktop mode without reduce transparency): the
  // controller then asks for a still of it at each summon.
  bool wantsDesktopStill() const { return wantsDesktopStill_; }
  // Shows `still` (the desktop, blurred, before the dim veil) over the plain backdrop, fading in.
  void showDesktopStill(std::shared_ptr<const DesktopStill> still);

  // The capsule frame of `text` in `font` for the title (or, with `emptyState`, the empty state).
  Rect capsuleFrame(const CapsuleText& text, bool emptyState) const;
  // The search capsule's frame and scale for the current search state.
  std::pair<Rect, double> searchCapsuleFrame() const;

  // ---- Input ----
  void keyDown(const OverlayKeyEvent& event);
  void scrollWheel(const OverlayScrollEvent& event);
  void mouseDown(const OverlayPointerEvent& event);
  void mouseDragged(const OverlayPointerEvent& event);
  void mouseUp(const OverlayPointerEvent& event);
  void otherMouseDown(const OverlayPointerEvent& event);
  void otherMouseUp(const OverlayPointerEvent& event);
  void mouseMoved(const OverlayPointerEvent& event);
  void mouseExited();
  // Drags of files or links over the overlay; the answers are whether a link would be accepted.
  bool draggingEntered(Point location);
  bool draggingUpdated(Point location);
  void draggingExited();
  void draggingEnded();
  bool performDragOperation(Point location);
  // Re-seeds the hover gate at the pointer's location.
  void resetTracking();
  // Whether drags of files and links are registered (dragToSwitch on).
  bool acceptsDrags() const { return acceptsDrags_; }

  // The dismiss-key action on this view (Escape, the cancel key): leaves the search, else cancels.
  // Returns the outcome (0 left the search, 1 dismissed).
  int dismissKeyAction();

  // ---- State, read by the controller, the renderer and tests ----
  SurfaceHostView surfaceHost;
  GlassCapsule titleCapsule;
  GlassCapsule searchCapsule;
  GlassCapsule emptyCapsule;
  ChromeLayer solidBackdrop;
  ChromeLayer backdrop;
  ChromeLayer dimView;
  // The still of the desktop between the plain backdrop and the dim veil, with its picture (none
  // until it comes in; cleared at every summon).
  ChromeLayer desktopStill;
  std::shared_ptr<const DesktopStill> desktopStillPicture;
  ChromeLabel tipLabel;
  ChromeLabel emptyHintLabel;
  std::optional<ChromeLabel> buildBadgeLabel;

  bool searchActive() const { return searchActive_; }
  const SearchTextMetrics& searchMetrics() const { return searchMetrics_; }
  bool searchEnabled() const { return searchEnabled_; }
  bool showsTips() const { return showsTips_; }
  bool showsHeroTitle() const { return showsHeroTitle_; }
  bool selectionInStack() const { return selectionInStack_; }
  std::optional<OverlayTip> shownTip() const { return shownTip_; }
  const std::optional<HotkeyBinding>& cancelBinding() const { return cancelBinding_; }
  bool vimKeys() const { return vimKeys_; }
  bool aboveTabStepsBackward() const { return aboveTabStepsBackward_; }
  bool hoverSelects() const { return hoverSelects_; }
  bool middleClickCloses() const { return middleClickCloses_; }
  bool dragToSwitch() const { return dragToSwitch_; }
  bool flipStacksBySwiping() const { return flipStacksBySwiping_; }
  double titleCentreFraction() const { return titleCentreFraction_; }
  const OverlayFont& titleFont() const { return titleFont_; }
  const HoverGate& hoverGate() const { return hoverGate_; }
  const AxisClaim& scrollAxis() const { return scrollAxis_; }
  const AxisClaim& dragAxis() const { return dragAxis_; }
  const GestureTuning& gestureTuning() const { return gestureTuning_; }
  bool showingIBeam() const { return showingIBeam_; }
  int titleFadeGeneration() const { return titleFadeGeneration_; }
  int tipFadeGeneration() const { return tipFadeGeneration_; }
  int emptyFadeGeneration() const { return emptyFadeGeneration_; }
  // The flick velocity (steps a second) the samples give at `now`.
  double flickVelocity(double now) const;

  static OverlayFont searchFont() { return {16, FontWeight::regular}; }
  static OverlayFont emptyStateFont() { return {14, FontWeight::semibold}; }
  static OverlayFont tipFont() { return {11, FontWeight::medium}; }

 private:
  struct GestureSample {
    double delta = 0;
    double time = 0;
  };

  Instant now() const { return services_.main.clock().now(); }
  void chromeChanged() {
    if (onChromeChange) onChromeChange();
  }
  double backingScale() const { return window ? window->backingScale : 0; }
  void applyBackdrop();
  void layoutTitle();
  void layoutSearchAndTip();
  void layoutTip(const Rect& searchFrame, double searchScale);
  void layoutEmptyState();
  void updateBuildBadge();
  void resetSearchChrome();
  void idleSearchLook();
  void activeSearchLook(const std::string& query, std::optional<double> crossFade, Size size);
  void placeCaret(int index);
  void showTip(bool animated);
  Size labelFittingSize(const ChromeLabel& label) const;
  // Runs `completion` after `seconds` on the main queue while the view lives.
  void after(double seconds, std::function<void(OverlayContentView&)> completion);

  void cancelAction();
  void typed(const OverlayKeyEvent& event);
  bool placeCaretAt(Point location);
  void applyScroll(GestureAxis axis, double delta, double time);
  void recordSample(double units, double time);
  void flick(std::optional<GestureAxis> axis, double now);
  void resetGesture();
  Point hostPoint(Point location) const { return location; }
  Size hostSize() const { return surfaceHost.bounds; }

  Services services_;
  Size bounds_;
  bool wantsDesktopStill_ = false;
  bool searchActive_ = false;
  SearchTextMetrics searchMetrics_;
  bool pressWentToSearchBar_ = false;
  bool showingIBeam_ = false;
  bool searchEnabled_ = true;
  bool showsTips_ = true;
  bool selectionInStack_ = false;
  std::optional<OverlayTip> shownTip_;
  int tipFadeGeneration_ = 0;
  bool tipIsFirstOfSummon_ = true;
  std::optional<HotkeyBinding> cancelBinding_;
  // The modifiers of each summon shortcut: held with a key, they are still the shortcut's (the user
  // keeps holding them while the switcher is up), so they make no "mod" of their own.
  std::vector<int64_t> shortcutModifiers_;
  bool hasMod(int64_t flags) const;
  bool vimKeys_ = false;
  bool aboveTabStepsBackward_ = true;
  bool hoverSelects_ = true;
  bool middleClickCloses_ = false;
  std::optional<Point> middleDownLocation_;
  bool dragToSwitch_ = true;
  bool acceptsDrags_ = false;
  HoverGate hoverGate_;
  std::vector<GestureSample> samples_;
  bool didFlickCurrentGesture_ = false;
  std::optional<Point> mouseDownLocation_;
  GestureTuning gestureTuning_;
  AxisClaim scrollAxis_;
  AxisClaim dragAxis_;
  bool flipStacksBySwiping_ = true;
  bool showsHeroTitle_ = true;
  double titleCentreFraction_ = 0.15;
  OverlayFont titleFont_{14, FontWeight::semibold};
  int titleFadeGeneration_ = 0;
  int emptyFadeGeneration_ = 0;
  std::shared_ptr<OverlayContentView*> self_ = std::make_shared<OverlayContentView*>(this);
};

}  // namespace quorvel
