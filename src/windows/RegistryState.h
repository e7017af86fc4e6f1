#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "ax/AXHandle.h"
#include "ax/WindowAXInfo.h"
#include "base/Clock.h"
#include "base/Geometry.h"
#include "base/Lock.h"
#include "windows/CardOrdering.h"
#include "windows/LeaveCaptures.h"
#include "windows/RecencyOrder.h"
#include "windows/TabCache.h"
#include "windows/WindowCard.h"

namespace quorvel {

class TabIdentityStore;

// The window registry's fields and the one lock that guards them. The registry and the steps of its
// refresh pass share this record: every read or write of a field happens under `lock`, held only for
// in-memory copies and stores, never across an await, an Accessibility call, a window-server call or
// a sink call. The recency order, the leave captures and the tab cache are owners that keep their
// own invariants; the rest are plain fields. The tab identity store is the exception: only the running pass uses it, one pass at a
// time, so it needs no lock.
class RegistryState {
 public:
  // ---- Value types of the fields ----

  using RecencyEntry = RecencyOrder::Entry;
  // The window the activator raised last.
  struct RaisedWindow {
    uint32_t id = 0;
    int32_t pid = 0;
    Instant at{};
  };
  // Remembered Accessibility answers: windows Accessibility has listed in an earlier pass, and
  // windows that lay on some desktop in an earlier pass.
  struct PriorAnswers {
    std::unordered_set<uint32_t> axNamed;
    std::unordered_set<uint32_t> placedOnASpace;
  };
  // The last Accessibility handle seen for each window.
  struct LastKnownHandles {
    std::unordered_map<uint32_t, AXHandleRef> handles;
  };
  struct CachedAXTitles {
    int64_t fingerprint = 0;
  };
  // One application's Accessibility windows, with the fingerprint of its shareable windows then.
  struct CachedAppAX {
    int64_t subFingerprint = 0;
    std::unordered_map<uint32_t, WindowAXInfo> windows;
  };
  // A running application with the regular activation policy.
  struct RegularApp {
    int32_t pid = 0;
    std::optional<std::string> bundleID;
    std::string name;
  };
  // One shareable window of a pass before it becomes a card.
  struct RawWindow {
    uint32_t id = 0;
    std::string title;
    std::string appName;
    std::optional<std::string> bundleID;  // none when empty
    int32_t pid = 0;
    Rect frame;  // global, top-left origin
    bool isOnScreen = false;
    std::optional<uint32_t> openingOrder;  // when the window model knows the order windows opened in
  };

  using TabCardSink = std::function<void(std::vector<WindowCard> tabCards, bool resolveSiteIcons)>;
  using LeaveCaptureSink = LeaveCaptures::Sink;

  static constexpr size_t kTabTouchLimit = 512;
  static constexpr int64_t kUnavailableFingerprint = std::numeric_limits<int64_t>::min();

  RegistryState();
  ~RegistryState();
  RegistryState(const RegistryState&) = delete;
  RegistryState& operator=(const RegistryState&) = delete;

  Lock lock;

  // ---- Guarded by `lock` ----
  // The last committed pass, in the pass's order, with its tab cards and tab use below. Each commit
  // publishes new immutable values, so a reader takes them with a pointer copy under the lock and
  // reads them after releasing it. Never null.
  std::shared_ptr<const std::vector<WindowCard>> cards = std::make_shared<const std::vector<WindowCard>>();
  // The text ranks of `cards` for the summon's sorts, made once per committed list: by the commit,
  // or by the first summon that finds them made for another list (`textRanksOf` names the list
  // they rank).
  std::shared_ptr<const CardOrdering::TextRanks> textRanks;
  std::weak_ptr<const std::vector<WindowCard>> textRanksOf;
  RecencyOrder recency;
  std::optional<Instant> lastWorkspaceNotification;
  std::optional<Duration> lastInterval;
  std::optional<int32_t> lastDeepVerified;
  std::optional<RaisedWindow> lastRaise;
  std::optional<int64_t> lastFingerprint;
  int passesSinceForcedRefresh = 0;  // 0 to 14
  bool mustRunNextPass = false;
  int64_t lastGateSettings = 0;
  std::unordered_map<int32_t, CachedAppAX> axCacheByPID;
  std::map<uint32_t, WindowCard> retainedHidden;
  std::shared_ptr<const CardOrdering::TabTable> tabCards = std::make_shared<const CardOrdering::TabTable>();
  std::unordered_map<uint32_t, uint32_t> showingTabByHost;
  TabCache tabCache;
  std::unordered_set<uint32_t> axPrivateWindows;
  std::unordered_map<int32_t, CachedAXTitles> axTitleCacheByPID;
  PriorAnswers priorAnswers;
  LastKnownHandles lastKnownHandles;
  std::vector<uint32_t> pendingTabTouches;  // at most 512
  std::shared_ptr<const CardOrdering::TabRecency> tabRecency = std::make_shared<const CardOrdering::TabRecency>();
  TabCardSink tabCardSink;
  LeaveCaptures leaveCaptures;

  // ---- Used by the running pass only ----
  TabIdentityStore& tabIdentity() { return *tabIdentity_; }

 private:
  const std::unique_ptr<TabIdentityStore> tabIdentity_;
};

}  // namespace quorvel
