#pragma once

#include <array>
#include <memory>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "base/Lock.h"
#include "pictures/ChromeServices.h"
#include "pictures/ChromeTexture.h"
#include "windows/CardStatus.h"

namespace quorvel {

class Raster;
class RasterCanvas;

// The square badges that say why a card's window is not simply on the current desktop: on another
// desktop (with its number from 1 to 20, or a full-screen mark, inside the display symbol),
// minimized, hidden, an application without windows, or a browser tab. Each is a dark rounded
// plate with a white symbol, 192 × 192 pixels, uploaded with mips and kept.
//
// Threads and lock: prewarm and the queued drawings run on the main queue (checked), drawing
// outside the lock. texture() runs on any thread (the render thread) and holds the lock only for
// its reads; a missing numbered or full-screen badge is queued once and the plain display badge
// stands in for it. setPlateOpacity takes the lock itself (unlike the label cache's).
class StatusBadgeCache : public std::enable_shared_from_this<StatusBadgeCache> {
 public:
  static constexpr double kDefaultPlateOpacity = 0.8533392676479687;
  static constexpr int kSide = 192;
  static constexpr const char* kMipLabel = "Quorvel status badge mipmaps";

  // The plain badges, in this order, each with the symbol it shows (symbolName).
  enum class State { onOtherSpace, minimized, hiddenApp, windowlessApp, browserTab };
  static constexpr std::array<State, 5> kAllStates = {State::onOtherSpace, State::minimized, State::hiddenApp,
                                                      State::windowlessApp, State::browserTab};
  static const char* symbolName(State state);

  // A badge that shows something inside the display symbol's screen: a desktop number or the
  // full-screen mark.
  struct Inside {
    enum class Kind { desktop, fullScreen } kind = Kind::fullScreen;
    int desktop = 0;  // for `desktop`
    bool operator==(const Inside&) const = default;
    static Inside desktopNumber(int n) { return {Kind::desktop, n}; }
    static Inside fullScreen() { return {Kind::fullScreen, 0}; }
  };
  struct InsideHash {
    size_t operator()(const Inside& inside) const {
      return inside.kind == Inside::Kind::desktop ? static_cast<size_t>(inside.desktop) * 2 + 1 : 0;
    }
  };

  // What a card status shows: nothing, a plain badge, or an inside badge.
  struct Choice {
    std::optional<State> plain;
    std::optional<Inside> inside;
    bool operator==(const Choice&) const = default;
  };
  static Choice choose(const CardStatus& status);

  static std::shared_ptr<StatusBadgeCache> make(ChromeServices services);
  StatusBadgeCache(const StatusBadgeCache&) = delete;
  StatusBadgeCache& operator=(const StatusBadgeCache&) = delete;

  // Main queue: draws and stores every plain badge not stored yet, in case order.
  void prewarm();
  // Takes the lock: a new opacity empties every table and queue and answers true (the caller then
  // pre-warms again); the current value changes nothing and answers false.
  bool setPlateOpacity(double opacity);
  // Any thread: the badge of a card status, or nothing (see the class comment).
  ChromeTextureRef texture(const CardStatus& status);

  // Draws one badge into a 192 × 192 canvas (exposed for the badge sheet and tests).
  static void drawPlain(RasterCanvas& canvas, State state, double plateOpacity);
  static void drawInside(RasterCanvas& canvas, Raster& raster, Inside inside, double plateOpacity);
  // The size of a desktop number's text: 0.3 × side for one character, 0.26 × side otherwise.
  static double numberFontSize(int desktop);

  size_t plainCount();
  size_t insideCount();

 private:
  explicit StatusBadgeCache(ChromeServices services);
  ChromeTextureRef drawAndUpload(std::optional<State> plain, std::optional<Inside> inside);
  void queueInside(Inside inside);
  void wake();

  ChromeServices services_;
  Lock lock_;
  double plateOpacity_ = kDefaultPlateOpacity;
  std::unordered_map<State, ChromeTextureRef> textures_;
  std::unordered_map<Inside, ChromeTextureRef, InsideHash> insideTextures_;
  std::unordered_set<Inside, InsideHash> requestedInside_;
};

}  // namespace quorvel
