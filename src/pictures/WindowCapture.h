#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/Task.h"
#include "pictures/PicturePreparation.h"
#include "pictures/ThumbnailCache.h"
#include "platform/ScreenCapture.h"
#include "platform/ShareableContent.h"
#include "windows/OccluderProbe.h"
#include "windows/WindowCard.h"

namespace quorvel {

// Still pictures of windows for the picture store, taken by three passes over a card list:
//
//   captureOnLeave    the windows the user just left, when their look changed or they were visited
//                     since their last still; only while no overlay is presented; at most 2 stills
//                     in flight; never this program's own windows nor a window with a still on its
//                     way.
//   captureMissing    the windows without a picture and without one on its way; 3 in flight.
//   refreshForSummon  opens a presentation session, drops the pictures no card needs any more,
//                     then every window whose picture is missing or out of date; 4 in flight.
//
// Every pass takes only windows on the current desktop, never a private window without blur, and
// never the window of the live stream. A window's capture stamp (CaptureStamp) is written when a
// pass plans it and forgotten when its still fails, so the next pass takes it again.
//
// A still is used when it shows the window: not nearly black and without wide transparent margins
// (StillAcceptance). Otherwise the window is cut out of a picture of the display it lies on most,
// when it is on screen, nothing covers it, and the display picture cannot show the overlay (no
// overlay presented, or the setting keeps the overlay out of captures and the service can), and
// only when the window is still there after the display picture (not minimized meanwhile). A
// window that lies on no display gets no picture from it. A window that vanishes between the list
// and its still gets no picture and no message.
//
// Threads: every pass is a task for any executor (never the main queue in the program); its stills
// run as tasks on the same executor. Capture calls are made with no lock held; the store's lock is
// taken only for planning and stamps. Cancelling the pass's task starts no new still. Keep the
// object (and its services) alive until every pass has finished.
class WindowCapture {
 public:
  using ShowingTabs = std::unordered_map<uint32_t, uint32_t>;  // host window id → id of the shown tab
  using VisitTicks = std::unordered_map<uint32_t, int64_t>;    // window id → visit counter
  using ZOrder = std::unordered_map<uint32_t, int>;            // window id → index from the front

  static constexpr int kLeaveLimit = 2, kMissingLimit = 3, kSummonLimit = 4;

  struct Services {
    ThumbnailCache& cache;
    PicturePreparation& preparation;
    ShareableContent& content;
    ScreenCapture& capture;
    int32_t ownPid = 0;
    // The "hideFromScreenSharing" setting, read at each display fallback (empty: off).
    std::function<bool()> hideFromScreenSharing;
    // The window list's stacking order, read once a pass (empty function or table: not known).
    std::function<ZOrder()> zOrder;
  };

  explicit WindowCapture(Services services) : s_(std::move(services)) {}

  Task<void> captureOnLeave(std::vector<WindowCard> cards, ShowingTabs showingTabByHost, VisitTicks visitTicks);
  Task<void> captureMissing(std::vector<WindowCard> cards, ShowingTabs showingTabByHost, VisitTicks visitTicks);
  Task<void> refreshForSummon(std::vector<WindowCard> cards, ShowingTabs showingTabByHost, VisitTicks visitTicks);

  // The shown tabs of the hosts that are cards of the list and not private.
  static ShowingTabs visibleShowingTabs(const ShowingTabs& showingTabByHost, const std::vector<WindowCard>& cards);
  // The ids whose pictures a summon keeps: every card not private without blur, every visible
  // shown tab, and every banked picture whose group is a card's id or ordering id but no tab host.
  static std::unordered_set<uint32_t> keepSet(const std::vector<WindowCard>& cards, const ShowingTabs& visibleTabs,
                                              const std::unordered_map<uint32_t, ThumbnailCache::Provenance>& banked);
  // The display that holds the largest part of `frame`; none when it overlaps none.
  static std::optional<ShareableDisplay> displayFor(const Rect& frame, const std::vector<ShareableDisplay>& displays);
  // Whether a window in front of `window` (by `zOrder`) overlaps it: normal windows of any process
  // and every window of this program count; other processes' panels, docks and menus do not. False
  // when the order does not hold the window.
  static bool isCovered(const ShareableWindow& window, const std::vector<OccluderProbe>& probes, const ZOrder& zOrder,
                        int32_t ownPid);

  struct Pass;

 private:
  enum class Kind { leave, missing, summon };
  Task<void> run(Kind kind, std::vector<WindowCard> cards, ShowingTabs showingTabByHost, VisitTicks visitTicks);
  static Task<void> runStills(std::shared_ptr<Pass> pass);
  static Task<void> stillWorker(std::shared_ptr<Pass> pass);
  static Task<bool> captureStill(std::shared_ptr<Pass> pass, ShareableWindow window);
  static Task<bool> displayFallback(std::shared_ptr<Pass> pass, ShareableWindow window, CaptureConfiguration configuration);
  static bool store(Pass& pass, const PixelBuffer& picture, uint32_t id, bool cropTabs);

  Services s_;
};

}  // namespace quorvel
