// The input half of the overlay's content view: keys, scrolls, clicks, hovers and drags.
#include <algorithm>
#include <cmath>

#include "overlay/OverlayContentView.h"
#include "overlay/OverlayKeyboardState.h"

namespace quorvel {

namespace {

constexpr int64_t kEscape = 53, kReturn = 36, kEnter = 76, kTab = 48;
constexpr int64_t kLeft = 123, kRight = 124, kUp = 126, kDown = 125;
constexpr int64_t kH = 4, kL = 37, kK = 40, kJ = 38, kW = 13, kM = 46, kSpace = 49;
constexpr int64_t kDelete = 51, kForwardDelete = 117;
constexpr double kClickSlop = 4;
constexpr double kSampleWindow = 0.1;
constexpr double kRestedAfter = 0.08;
constexpr double kMaxFlick = 30;


// The first Unicode scalar of UTF-8 text (U+FFFD for a broken sequence).
char32_t firstScalar(const std::string& text) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  if (n == 0) return 0;
  if (s[0] < 0x80) return s[0];
  int extra = s[0] >= 0xF0 ? 3 : s[0] >= 0xE0 ? 2 : s[0] >= 0xC0 ? 1 : -1;
  if (extra < 0 || n < static_cast<size_t>(extra) + 1) return 0xFFFD;
  char32_t c = s[0] & (0x3F >> extra);
  for (int i = 1; i <= extra; ++i) {
    if ((s[i] & 0xC0) != 0x80) return 0xFFFD;
    c = (c << 6) | (s[i] & 0x3F);
  }
  return c;
}

}  // namespace

// ---- Keys ----

// Command or Control held beyond the modifiers of a summon shortcut: Space with Ctrl+Alt of the
// shortcut Ctrl+Alt+K still held starts the search, and letters typed so go into it.
bool OverlayContentView::hasMod(int64_t flags) const {
  const int64_t held = flags & (OverlayModifiers::command | OverlayModifiers::control);
  if (held == 0) return false;
  return std::none_of(shortcutModifiers_.begin(), shortcutModifiers_.end(),
                      [held](int64_t required) { return (held & ~required) == 0; });
}

void OverlayContentView::keyDown(const OverlayKeyEvent& event) {
  const int64_t code = event.keyCode;
  const int64_t flags = event.modifierFlags;
  if (cancelBinding_) {
    const int64_t held = flags & (HotkeyBinding::modifierMask | OverlayModifiers::shift);
    const int64_t required = cancelBinding_->requiredFlags;
    const bool requiredHeld = (held & required) == required;
    const bool nothingBeyond = (held & HotkeyBinding::modifierMask & ~required) == 0;
    if (code == cancelBinding_->keyCode && requiredHeld && nothingBeyond) {
      cancelAction();
      return;
    }
  }
  const bool mod = hasMod(flags);
  OverlayContentViewDelegate* d = overlayDelegate;
  switch (code) {
    case kEscape:
      cancelAction();
      return;
    case kReturn:
    case kEnter:
      if (d) d->commitSelection();
      return;
    case kTab:
      if (d) d->step((flags & OverlayModifiers::shift) ? -1 : 1);
      return;
    case kLeft:
    case kRight:
    case kUp:
    case kDown:
      if (d) d->move(code == kLeft ? 0 : code == kRight ? 1 : code == kUp ? 2 : 3);
      return;
    case kH:
    case kL:
    case kK:
    case kJ:
      if (vimKeys_ && !searchActive_ && !mod) {
        if (d) d->move(code == kH ? 0 : code == kL ? 1 : code == kK ? 2 : 3);
      } else {
        typed(event);
      }
      return;
    case kW:
    case kM:
      if (searchActive_) {
        typed(event);
      } else if (!mod && d) {
        d->windowAction(code == kW ? 0 : 1);
      }
      return;
    case kSpace:
      if (searchActive_) {
        if (d) d->insertSearchText(" ");
      } else if (!mod && searchEnabled_) {
        beginSearch();
      }
      return;
    case kDelete:
      if (searchActive_ && d) d->deleteBackward();
      return;
    case kForwardDelete:
      if (searchActive_ && d) d->deleteForward();
      return;
    default:
      break;
  }
  if (AppSettings::backwardKeyCodes().contains(code)) {
    if (aboveTabStepsBackward_) {
      if (d) d->step(-1);
    } else if (searchActive_) {
      typed(event);
    }
    return;
  }
  typed(event);
}

void OverlayContentView::typed(const OverlayKeyEvent& event) {
  if (!searchActive_ || hasMod(event.modifierFlags)) return;
  if (!event.characters || event.characters->empty()) return;
  const char32_t first = firstScalar(*event.characters);
  if (first < 0x20 || (first >= 0xF700 && first <= 0xF8FF)) return;
  if (overlayDelegate) overlayDelegate->insertSearchText(*event.characters);
}

int OverlayContentView::dismissKeyAction() {
  if (searchActive_) {
    endSearch();
    return 0;
  }
  if (overlayDelegate) overlayDelegate->cancel();
  return 1;
}

void OverlayContentView::cancelAction() {
  const int outcome = dismissKeyAction();
  OverlayKeyboardState::logDismiss(DismissLogRoute::local, static_cast<DismissOutcome>(outcome),
                                   window && window->isKey,
                                   services_.applicationIsActive && services_.applicationIsActive(), searchActive_);
}

// ---- Scroll wheel and trackpad ----

void OverlayContentView::scrollWheel(const OverlayScrollEvent& event) {
  if (event.momentumPhase != ScrollPhase::none) {
    if (event.momentumPhase & ScrollPhase::began) flick(scrollAxis_.axis, event.timestamp);
    return;
  }
  if (event.phase & ScrollPhase::began) resetGesture();
  const double dx = event.scrollingDeltaX != 0 ? event.scrollingDeltaX : event.deltaX;
  const double dy = event.scrollingDeltaY != 0 ? event.scrollingDeltaY : event.deltaY;
  if (dx != 0 || dy != 0) {
    if (event.phase == ScrollPhase::none) scrollAxis_ = AxisClaim::reset(0);
    if (auto claim = scrollAxis_.feed(dx, dy)) applyScroll(claim->first, claim->second, event.timestamp);
  }
  if (event.phase & (ScrollPhase::ended | ScrollPhase::cancelled)) {
    flick(scrollAxis_.axis, event.timestamp);
  } else if (event.phase == ScrollPhase::none && overlayDelegate) {
    if (scrollAxis_.axis == GestureAxis::upAndDown) {
      if (flipStacksBySwiping_) overlayDelegate->endFlip(0);
    } else {
      overlayDelegate->endScroll(0);
    }
  }
}

void OverlayContentView::applyScroll(GestureAxis axis, double delta, double time) {
  const AppSettings& settings = services_.settings;
  const double sign = settings.boolValue(AppSettings::Key::scrollDirectionNatural) ? -1 : 1;
  const double stored = settings.doubleValue(AppSettings::Key::scrollSpeed);
  const double speed = stored > 0 ? std::clamp(stored, 0.5, 2.0) : 1.0;
  const double perStep = gestureTuning_.pointsPerUnit / speed;
  if (axis == GestureAxis::sideways) {
    const double units = delta * sign / perStep;
    recordSample(units, time);
    if (overlayDelegate) overlayDelegate->scroll(units);
  } else if (flipStacksBySwiping_) {
    const double units = delta * sign / (perStep * gestureTuning_.flipScale);
    recordSample(units, time);
    if (overlayDelegate) overlayDelegate->flipStack(units);
  }
}

void OverlayContentView::recordSample(double units, double time) {
  samples_.push_back({units, time});
  while (samples_.size() > 2 && samples_[1].time < time - kSampleWindow) samples_.erase(samples_.begin());
}

double OverlayContentView::flickVelocity(double nowTime) const {
  if (samples_.empty()) return 0;
  if (nowTime - samples_.back().time > kRestedAfter) return 0;
  const double span = samples_.back().time - samples_.front().time;
  if (span <= 0.0001) return 0;
  double sum = 0;
  for (size_t i = 1; i < samples_.size(); ++i) sum += samples_[i].delta;
  const double v = sum / span;
  if (!std::isfinite(v)) return 0;
  return std::clamp(v, -kMaxFlick, kMaxFlick);
}

void OverlayContentView::flick(std::optional<GestureAxis> axis, double nowTime) {
  if (didFlickCurrentGesture_) return;
  didFlickCurrentGesture_ = true;
  const double velocity = flickVelocity(nowTime);
  if (!overlayDelegate) return;
  if (axis == GestureAxis::upAndDown) {
    if (flipStacksBySwiping_) overlayDelegate->endFlip(velocity);
  } else {
    overlayDelegate->endScroll(velocity);
  }
}

void OverlayContentView::resetGesture() {
  samples_.clear();
  didFlickCurrentGesture_ = false;
  scrollAxis_ = AxisClaim::reset(gestureTuning_.axisLockTravel);
}

// ---- Primary button ----

bool OverlayContentView::placeCaretAt(Point p) {
  if (!searchActive_ || searchCapsule.hidden || !searchCapsule.frame.containsPoint(p)) return false;
  const double x = std::max(0.0, p.x - searchCapsule.frame.x -
                                     searchCapsule.textClipRect({0, 0, searchCapsule.frame.width,
                                                                 searchCapsule.frame.height}).x +
                                     searchCapsule.textScroll);
  const int index = searchMetrics_.caretIndex(x);
  if (overlayDelegate) overlayDelegate->setSearchCaret(*this, index);
  return true;
}

void OverlayContentView::mouseDown(const OverlayPointerEvent& event) {
  if (placeCaretAt(event.location)) {
    pressWentToSearchBar_ = true;
    return;
  }
  pressWentToSearchBar_ = false;
  mouseDownLocation_ = event.location;
  resetGesture();
  dragAxis_ = AxisClaim::reset(gestureTuning_.axisLockTravel);
}

void OverlayContentView::mouseDragged(const OverlayPointerEvent& event) {
  if (pressWentToSearchBar_) return;
  const auto claim = dragAxis_.feed(event.deltaX, event.deltaY);
  if (!claim) return;
  double units = 0;
  if (claim->first == GestureAxis::upAndDown) {
    if (!flipStacksBySwiping_) return;
    units = -claim->second / (gestureTuning_.pointsPerUnit * gestureTuning_.flipScale);
  } else {
    units = -claim->second / gestureTuning_.pointsPerUnit;
  }
  if (units == 0) return;
  recordSample(units, event.timestamp);
  if (!overlayDelegate) return;
  if (claim->first == GestureAxis::upAndDown) {
    overlayDelegate->flipStack(units);
  } else {
    overlayDelegate->scroll(units);
  }
}

void OverlayContentView::mouseUp(const OverlayPointerEvent& event) {
  if (pressWentToSearchBar_) {
    pressWentToSearchBar_ = false;
    return;
  }
  const Point down = mouseDownLocation_.value_or(event.location);
  mouseDownLocation_.reset();
  if (std::hypot(event.location.x - down.x, event.location.y - down.y) < kClickSlop) {
    if (overlayDelegate) overlayDelegate->click(hostPoint(event.location), hostSize());
  } else {
    flick(dragAxis_.axis, event.timestamp);
  }
}

// ---- Middle button ----

void OverlayContentView::otherMouseDown(const OverlayPointerEvent& event) {
  if (!middleClickCloses_ || event.buttonNumber != 2) return;
  middleDownLocation_ = event.location;
}

void OverlayContentView::otherMouseUp(const OverlayPointerEvent& event) {
  if (!middleClickCloses_ || event.buttonNumber != 2) return;
  const Point down = middleDownLocation_.value_or(event.location);
  middleDownLocation_.reset();
  if (std::hypot(event.location.x - down.x, event.location.y - down.y) < kClickSlop && overlayDelegate) {
    overlayDelegate->middleClick(hostPoint(event.location), hostSize());
  }
}

// ---- Pointer moves and hover ----

void OverlayContentView::mouseMoved(const OverlayPointerEvent& event) {
  const Point p = event.location;
  if (searchActive_ && !searchCapsule.hidden && searchCapsule.frame.containsPoint(p)) {
    if (services_.setTextCursor) services_.setTextCursor(true);
    showingIBeam_ = true;
  } else if (showingIBeam_) {
    if (services_.setTextCursor) services_.setTextCursor(false);
    showingIBeam_ = false;
  }
  if (overlayDelegate) overlayDelegate->hover(hostPoint(p), hostSize());
  if (hoverSelects_ && hoverGate_.admit(p.x, p.y, event.timestamp) && overlayDelegate &&
      overlayDelegate->hoverSelect(hostPoint(p), hostSize())) {
    hoverGate_.anchor = p;
    hoverGate_.travel = 10;
  }
}

void OverlayContentView::mouseExited() {
  if (showingIBeam_) {
    if (services_.setTextCursor) services_.setTextCursor(false);
    showingIBeam_ = false;
  }
}

void OverlayContentView::resetTracking() {
  hoverGate_ = HoverGate::reset(window ? window->pointer : std::nullopt);
}

// ---- Drag to switch ----

bool OverlayContentView::draggingEntered(Point location) {
  if (!dragToSwitch_) return false;
  if (overlayDelegate) overlayDelegate->dragEntered();
  return draggingUpdated(location);
}

bool OverlayContentView::draggingUpdated(Point location) {
  if (!dragToSwitch_ || !overlayDelegate) return false;
  return overlayDelegate->dragUpdate(hostPoint(location), hostSize());
}

void OverlayContentView::draggingExited() {
  if (overlayDelegate) overlayDelegate->dragExited();
}

void OverlayContentView::draggingEnded() { draggingExited(); }

bool OverlayContentView::performDragOperation(Point location) {
  if (dragToSwitch_ && overlayDelegate) overlayDelegate->drop(hostPoint(location), hostSize());
  return false;  // nothing is transferred
}

}  // namespace quorvel
