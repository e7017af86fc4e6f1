#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/Lock.h"
#include "pictures/CardLabel.h"
#include "pictures/ChromeServices.h"
#include "pictures/ChromeTexture.h"
#include "pictures/PlateTable.h"
#include "platform/Raster.h"

namespace quorvel {

// The text plates of the cards: a label (the application name over where the window is), a title
// (the window title) and a count badge (a number), each drawn once as white text on a dark rounded
// plate, uploaded as a mipmapped single-channel coverage texture (PlateCoverage) and kept for reuse.
//
// Size: a plate is drawn at the size it is shown at on the summon's screen (setPlateScreen), its
// fonts, insets and corners scaled together from their nominal sizes: a title or count plate as
// high as the chrome row shows it, a label as high as a large card shows it. Until a screen is set
// plates are drawn at their nominal sizes.
//
// Threads and lock: prepareLabels, prepareTitles, queueLabels, queueTitles and the queued drawings
// run on the main queue (checked). The lookups (labelTexture, titleTexture, countTexture) and the
// requests run on any thread, the render thread among them: they take `lock()` only briefly and
// never draw; a miss queues the drawing on the main queue.
//
// Queued drawings (requests and queueLabels/queueTitles) wait in one list, and one plate of it is
// drawn per turn of the main queue, each turn posting the next: whatever else is posted to the
// main queue meanwhile (input above all) waits for one plate at most, never for the whole list. Drawing and upload happen outside the lock, which is taken
// to test and again to store; the scene is woken with the lock released. setPlateOpacity is the
// one call that expects its caller to hold `lock()` (the overlay holds it around the call).
//
// Bounds: labels without a tab title keep at most 64 plates, labels with one 64 and titles 46,
// evicting the first inserted, except that a plate asked for since the summon began
// (beginSummon) is kept until a later summon: a summon that shows more than the bound draws each
// of its plates once. A queued key stays queued until its eviction or a plate opacity change, so a
// drawing that failed is not retried before then.
class CardLabelCache : public std::enable_shared_from_this<CardLabelCache> {
 public:
  static constexpr double kDefaultPlateOpacity = 0.8533392676479687;
  static constexpr size_t kMaxLabels = 64;
  static constexpr size_t kMaxTabLabels = 64;
  static constexpr size_t kMaxTitles = 46;
  static constexpr const char* kMipLabel = "Quorvel card label mipmaps";

  enum class PlateKind { label, title, count };
  // The geometry of a kind of plate, in pixels.
  struct PlateMetrics {
    double measuringWidth;
    double margin;
    double horizontalInset;
    double verticalInset;
    // The corner radius for a plate of this height.
    double cornerRadius(double plateHeight) const;
    PlateKind kind;
  };

  // The screen plates are shown on: its pixels per point, its height in pixels and the scale of the
  // cards' chrome. A pixels-per-point of 0 (the default) draws plates at their nominal sizes.
  struct PlateScreen {
    double pixelsPerPoint = 0;
    double heightPixels = 0;
    double chromeScale = 1;
    bool operator==(const PlateScreen&) const = default;
  };
  // How high each kind of plate is shown at most, in points of the chrome row (a title half the
  // count badge's 68, a count the badge, both enlarged by the focused card's 2.5 %), and for a label
  // the share of the screen's height (0.3 of a card of at most 0.6 of the screen).
  static constexpr double kTitleShownPoints = 34 * 1.025;
  static constexpr double kCountShownPoints = 68 * 1.025;
  static constexpr double kLabelShownShare = 0.3 * 0.6;

  static std::shared_ptr<CardLabelCache> make(ChromeServices services);
  CardLabelCache(const CardLabelCache&) = delete;
  CardLabelCache& operator=(const CardLabelCache&) = delete;

  // Main queue: draws and stores each plate not stored yet, in order, synchronously.
  void prepareLabels(const std::vector<CardLabel>& labels);
  void prepareTitles(const std::vector<CardTitle>& titles);
  // Main queue: the same drawings, queued (see Threads): each plate not stored yet is drawn on a
  // later turn of the main queue, in order.
  void queueLabels(const std::vector<CardLabel>& labels);
  void queueTitles(const std::vector<CardTitle>& titles);

  // Any thread. The stored plate; for a missing label with a tab title, the host label's plate (the
  // same name, state and privacy, the desktop number only on another desktop, no tab title) while
  // the exact one is queued; for a missing label with a desktop number, the same label without the
  // number while the exact one is queued; for any other missing label nothing, and nothing queued.
  // Without `request` nothing is queued either way.
  ChromeTextureRef labelTexture(const CardLabel& label, bool request = true);
  // Any thread. The stored title plate; a miss queues it when `request` is true.
  ChromeTextureRef titleTexture(const std::string& text, bool request);
  // Any thread. The stored count plate; a miss queues it.
  ChromeTextureRef countTexture(int count);

  // Any thread: a summon begins; the plates asked for from now on are kept until the next one.
  void beginSummon();

  // Any thread: queue one drawing on the main queue, once per key (see Bounds).
  void requestLabel(const CardLabel& label);
  void requestTitle(const std::string& text);
  void requestCount(int count);

  // Any thread: the screen of this summon; a change empties every table and queue like a new
  // opacity (the plates are drawn again at the new size). True when it changed anything.
  bool setPlateScreen(const PlateScreen& screen);
  PlateScreen plateScreen();
  // The factor a plate of this kind and nominal height (pixels) is drawn at on `screen`: at most 1.
  static double plateScale(PlateKind kind, double nominalHeight, const PlateScreen& screen);

  // The caller holds lock() (checked): a new plate opacity empties every table and queue so that
  // every plate is drawn again; true when it changed anything (false for the current value).
  bool setPlateOpacity(const std::unique_lock<Lock>& held, double opacity);
  Lock& lock() { return lock_; }
  double plateOpacity();

  // The text of each kind of plate, and the second line of a label (none for some states).
  static std::optional<std::string> caption(const CardLabel& label);
  static TextBlock labelText(const CardLabel& label);
  static TextBlock titleText(const std::string& text);
  static TextBlock countText(int count);
  // A count as the badge shows it: 0 to 999 as such, "999+" from 1000, "+12" for −12.
  static std::string countLabel(int64_t count);
  static const PlateMetrics& metrics(PlateKind kind);
  // The bitmap size of a plate around text of the measured size (whole pixels), with its metrics
  // scaled by `scale`.
  static std::pair<int, int> plateSize(PlateKind kind, Size measured, double scale = 1);

  // For tests and diagnostics: how many plates of each table are stored, and the insertion order
  // of the tab labels and titles.
  struct Counts {
    size_t labels, tabLabels, titles, counts, requestedLabels, requestedTitles, requestedCounts;
  };
  Counts counts();
  std::vector<CardLabel> tabOrder();
  std::vector<std::string> titleOrder();

 private:
  // Every plate and queued key goes (the plates are drawn anew at their next ask). Under lock_.
  void forgetPlatesLocked();
  explicit CardLabelCache(ChromeServices services);
  ChromeTextureRef drawPlate(PlateKind kind, const TextBlock& text);
  // Draw and store unless stored; `asked`: drawn for a lookup of this summon (see Bounds).
  void drawLabel(const CardLabel& label, bool asked);
  void drawTitle(const std::string& text, bool asked);
  void storeLabel(const CardLabel& label, ChromeTextureRef texture, bool asked);  // lock held
  void storeTitle(const std::string& text, ChromeTextureRef texture, bool asked);  // lock held
  void drawCount(int count);
  // One queued drawing: a label, a title or a count plate.
  struct PendingPlate {
    PlateKind kind;
    CardLabel label;
    std::string title;
    int count = 0;
    bool asked = false;  // queued by a lookup rather than drawn ahead
    bool sameKey(const PendingPlate& o) const {
      return kind == o.kind && label == o.label && title == o.title && count == o.count;
    }
  };
  // Adds the plates to the list and starts its turns unless they run already.
  void enqueue(std::vector<PendingPlate> plates);
  // One turn: draws the first plate of the list, then posts the next turn while any is left.
  void drawNextPending();
  void postPendingTurn();
  void checkMain(const char* where) const;
  void wake();

  ChromeServices services_;
  Lock lock_;
  double plateOpacity_ = kDefaultPlateOpacity;
  PlateScreen screen_;
  PlateTable<CardLabel> textures_{kMaxLabels};
  PlateTable<CardLabel> tabTextures_{kMaxTabLabels};
  std::unordered_set<CardLabel> requestedLabels_;
  std::unordered_set<std::string> requestedTitles_;
  PlateTable<std::string> titleTextures_{kMaxTitles};
  std::unordered_map<int, ChromeTextureRef> countTextures_;
  std::unordered_set<int> requestedCounts_;
  std::deque<PendingPlate> pending_;
  bool pendingTurnPosted_ = false;
};

}  // namespace quorvel
