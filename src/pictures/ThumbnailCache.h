#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/Clock.h"
#include "base/Executor.h"
#include "base/Geometry.h"
#include "base/Lock.h"
#include "gpu/GpuCommandBuffer.h"
#include "gpu/GpuResources.h"
#include "pictures/CaptureExtent.h"
#include "pictures/CaptureStamp.h"
#include "pictures/CardPicture.h"
#include "pictures/GpuContext.h"
#include "pictures/IdleTrim.h"
#include "pictures/PicturePreparer.h"
#include "platform/PixelBuffer.h"
#include "platform/ShareableContent.h"
#include "windows/WindowCard.h"

namespace quorvel {

// One GPU picture for every window id and browser-tab id a card may show. Made once by the
// application and kept for the whole process.
//
// Threads and locks: every operation may run on any thread. Three locks, never two at once:
// `lock_` guards the tables, the sequences, the retire lists, the session, the presentation fields
// and the live ring; `textureCacheLock_` the frame wrapping; `streamLock_` the live slot. GPU work,
// demotions, the favicon sink and the scene wake always start after the lock is released.
//
// Lifetime of a picture: a picture that leaves the table is never released at once but retired,
// and stays referenced until the second following session begins (or an explicit flush or the
// idle trim, with nothing presented). Together with the GPU layer's keep-alive of every texture a
// committed command buffer uses, no picture is freed while a frame in flight may sample it.
class ThumbnailCache {
 public:
  static constexpr int64_t kIdleBudget = 104'857'600;      // 100 MiB
  static constexpr int64_t kPresentedBudget = 262'144'000;  // 250 MiB
  static constexpr Duration kIdleDelay = std::chrono::seconds(900);
  // From flushRetired to handing the heap's free pages back to the system.
  static constexpr Duration kReturnMemoryDelay = std::chrono::seconds(2);
  static constexpr size_t kLiveRingCapacity = 3;
  static constexpr size_t kMaxCropTargets = 40;

  // Where a picture came from: a photograph of the window (with the tab that was showing, if
  // any), or a picture banked under a tab's id after its window got a newer one (with the
  // window's group id).
  struct Provenance {
    enum class Kind : uint8_t { photograph, banked } kind = Kind::photograph;
    std::optional<uint32_t> payload;
    bool operator==(const Provenance&) const = default;
    static Provenance photograph(std::optional<uint32_t> tab) { return {Kind::photograph, tab}; }
    static Provenance banked(uint32_t group) { return {Kind::banked, group}; }
    // The stored form: the 32-bit payload (little-endian), then a byte whose top bit is the kind
    // and whose lowest bit marks a photograph without a tab.
    std::array<uint8_t, 5> encoded() const;
    static Provenance decoded(const std::array<uint8_t, 5>& bytes);
  };

  struct Entry {
    std::shared_ptr<GpuTexture> texture;
    // The captured frame a wrapped picture shows; keeps the wrapping alive. Set only for live
    // frames wrapped without a copy.
    std::shared_ptr<const void> pixelBuffer;
    int64_t bytes = 0;
    int64_t lastPresentedSession = 0;
    int generation = 0;
    Provenance provenance;
    CaptureExtent contentExtent;
    // Every texel's alpha is 255 (read from the captured pixels; kept by scaling, blurring, mips).
    bool opaque = false;

    // width × height × 4, or × 16 / 3 with two or more mip levels.
    static int64_t bytesOf(const GpuTexture& texture);
  };

  struct CropTarget {
    uint32_t tab = 0;
    Rect unit;  // in unit coordinates of the host window's picture
  };
  struct CropBatch {
    Rect hostFrame;
    std::vector<CropTarget> targets;
  };

  enum class InstallKind { still, live, demotion };

  struct TrimReport {
    size_t kept = 0, dropped = 0, demoted = 0;
    bool stoppedShort = false;
    size_t exempt = 0, spared = 0;
    int64_t freedBytes = 0;
    size_t retired = 0;
    int64_t retiredBytes = 0, beforeBytes = 0;
    std::vector<IdleTrim::Demotion> demotions;
  };

  using FaviconSink = std::function<void(uint32_t tab, std::shared_ptr<GpuTexture> texture)>;

  // `idleExecutor` runs the idle trim; the 900 s are read on `idleClock`, which must count
  // suspended time (BootTimeClock in the program, the virtual clock in tests), and so must the
  // executor's waits (BootTimeExecutor): the trim is one wait, for the whole 900 s. `wakeScene`
  // bumps the scene wake (may be empty).
  ThumbnailCache(std::shared_ptr<GpuContext> context, Executor& idleExecutor, const Clock& idleClock,
                 std::function<void()> wakeScene);
  ~ThumbnailCache();
  ThumbnailCache(const ThumbnailCache&) = delete;
  ThumbnailCache& operator=(const ThumbnailCache&) = delete;

  void setFaviconSink(FaviconSink sink);

  // --- Under the caller's hold of lock() ---
  // The picture of an id, marked presented in this session; none for an unknown id.
  std::optional<CardPicture> entry(uint32_t id);
  // Starts a presentation session: rotates the retire lists and rebuilds the id sets and crops.
  void beginSession(const std::vector<WindowCard>& cards);
  std::unordered_map<uint32_t, Provenance> bankedProvenances() const;
  void forgetStamps(const std::unordered_set<uint32_t>& ids);
  // Evicts over-budget pictures into the retire list; gives the demotions to carry out after the
  // lock is released. Under the trimmed budget (100 MiB) a picture that cannot be captured again
  // is demoted but never evicted.
  std::vector<IdleTrim::Demotion> enforceBudget();
  std::vector<IdleTrim::Candidate> trimCandidates() const;
  // The idle trim for generation `generation`; none when a presentation is open, the generation
  // moved on or a live stream runs.
  std::optional<TrimReport> idleTrim(uint64_t generation, bool liveRunning);
  Lock& lock() { return lock_; }
  // What the capture passes plan with, under the caller's hold of lock().
  bool hasPicture(uint32_t id) const { return entries_.count(id) > 0; }
  bool hasPendingJob(uint32_t id) const { return pendingStills_.count(id) > 0; }
  std::optional<CaptureStamp> stampOf(uint32_t id) const;
  void stampLocked(uint32_t id, CaptureStamp stamp) { captureStamps_[id] = stamp; }
  int64_t presentationDepth() const { return presentationDepth_; }

  // --- Taking the lock themselves ---
  size_t countCached(const std::vector<uint32_t>& ids);
  void prune(const std::unordered_set<uint32_t>& keeping);
  void enforceBudgetNow();
  // The one way a still, a demotion or a live picture enters the table. With a sequence, only
  // the id's pending job may install; anything else is retired unseen and false is returned.
  bool install(Entry entry, uint32_t id, std::optional<uint64_t> sequence, InstallKind kind);
  // Draws the next job number for `id`; only that job's result may be installed afterwards.
  uint64_t beginJob(uint32_t id);
  void setCaptureStamp(uint32_t id, CaptureStamp stamp);
  std::optional<CaptureStamp> captureStamp(uint32_t id);
  std::optional<CropBatch> cropBatch(uint32_t host);
  void beginPresentation();
  void endPresentation();
  void flushRetired();
  // Builds the smaller pictures on the GPU; call with no lock held.
  void demote(const std::vector<IdleTrim::Demotion>& demotions);

  // --- Upload and GPU preparation (any thread; call with no cache lock held) ---
  //
  // A captured still enters the table in two steps: makeEntry uploads the buffer into a texture
  // (the source), then prepare scales it to half size on the GPU, blurs it when asked, builds its
  // mips and cuts its tab crops in one command buffer, and installs the result when the GPU has
  // finished, with a job number drawn after the work was encoded: a newer job for the same id, a
  // live frame or a prune makes it stale, and a stale result is retired unseen. storeCopied is
  // the route without preparation (full size, never blurred).
  //
  // Privacy: a still asked to be blurred is stored blurred or not at all. prepare(blur) answers
  // false when the blur cannot be encoded, and then nothing of the picture reaches the table; the
  // caller must not fall back to an unblurred route. No tab crops are cut from a picture that is
  // blurred (a crop of the unblurred source would carry the picture out).

  // The buffer uploaded into a one-level texture of its size; keeps the buffer as `pixelBuffer`.
  // None for a buffer without pixels, with rows narrower than its width or a side above 16384,
  // or when the texture cannot be made or filled. Waits for the upload. Takes no cache lock (the
  // device is safe on any thread), so a live frame's wrapper, which runs under the texture cache's
  // lock, may call it.
  std::optional<Entry> makeEntry(const PixelBuffer& buffer, const Provenance& provenance, const CaptureExtent& extent);
  // Schedules the preparation of `source` (from makeEntry) as the picture of `id`: half size
  // (width / 2 and height / 2, at least 1), a Gaussian blur with blurSigma of that size when `blur`
  // is set, a full mip chain, and with `cropTabs` (and no blur) the tab crops of the id's crop
  // batch, delivered to the favicon sink once the picture is installed. True when the work was
  // committed; false when a texture, a command buffer, an encoder or the blur could not be made,
  // and then nothing is recorded. The source's extent is kept.
  bool prepare(const Entry& source, uint32_t id, bool cropTabs, bool blur, const Provenance& provenance);
  // The copy route: the buffer at full size with a mip chain built on the GPU (installed when the
  // mips are done), or at once with level 0 alone when no command buffer can be had. True when a
  // picture was stored or scheduled; false for a buffer makeEntry refuses or a texture that cannot
  // be made.
  bool storeCopied(const PixelBuffer& buffer, uint32_t id, const Provenance& provenance);
  // The tab crops of `id`'s batch that fit a picture of `width` × `height` pixels; none without a
  // favicon sink, without a batch, or when the picture's aspect does not match the host frame's.
  std::vector<PicturePreparer::CropRequest> cropRequests(uint32_t width, uint32_t height, uint32_t id);

  // --- The live slot ---
  struct LiveSlot {
    std::optional<uint32_t> windowID, showingTab;
    std::optional<Rect> windowFrame, region;
  };
  void setLiveWindow(uint32_t windowID, std::optional<uint32_t> showingTab);
  // The window of the live slot, none when it is empty.
  std::optional<uint32_t> liveWindowID();
  void setLiveGeometry(const std::vector<ShareableWindow>& windows);
  // Empties the slot; gives back the window and showing tab it held.
  std::optional<std::pair<uint32_t, std::optional<uint32_t>>> takeLiveStream();
  // The extent of a live frame of `bufferWidth` × `bufferHeight` pixels with its content
  // rectangle (points) and scale, given the live window's frame and the card's region.
  static CaptureExtent liveFrameExtent(double bufferWidth, double bufferHeight, std::optional<Rect> contentRect,
                                       std::optional<double> scale, const std::optional<Rect>& windowFrame,
                                       const std::optional<Rect>& region);
  // Stores a live frame as the window's picture. `wrap` makes the entry from the frame for the
  // given extent and provenance (none drops the frame); it runs under no cache lock but the
  // texture cache's.
  using FrameWrapper = std::function<std::optional<Entry>(const CaptureExtent&, const Provenance&)>;
  void storeLiveFrame(double bufferWidth, double bufferHeight, uint32_t id, std::optional<Rect> contentRect,
                      std::optional<double> scale, const FrameWrapper& wrap);
  // The same for a captured frame, uploaded by makeEntry.
  void storeLiveFrame(const PixelBuffer& buffer, uint32_t id, std::optional<Rect> contentRect,
                      std::optional<double> scale);
  void clearLiveRing();

  // For tests and diagnostics.
  struct Counts {
    size_t entries = 0, pending = 0, retiredThisCycle = 0, retiredPreviousCycle = 0, liveRing = 0;
    int64_t presentedSession = 0, presentationDepth = 0;
    bool trimmedWhileHidden = false;
    int64_t totalBytes = 0;
  };
  Counts counts();
  std::optional<Entry> entryCopy(uint32_t id);

  const std::shared_ptr<GpuContext> context;

 private:
  std::optional<Entry> replace(Entry entry, uint32_t id, InstallKind kind);
  // The end of a still's GPU job: installs it and, when it was installed, delivers its crops.
  void finishStill(Entry entry, uint32_t id, uint64_t sequence, std::vector<PicturePreparer::TabCrop> crops);
  void runIdle(uint64_t generation);
  // Waits on the idle executor until `deadline` on the idle clock, then runs the trim.
  TimerId scheduleIdle(uint64_t generation, Instant deadline);
  void wake();

  std::shared_ptr<GpuCommandQueue> prepQueue_;
  std::unique_ptr<PicturePreparer> preparer_;
  Executor& idleExecutor_;
  const Clock& idleClock_;
  std::function<void()> wakeScene_;

  Lock lock_;
  std::unordered_map<uint32_t, Entry> entries_;
  uint64_t stillSequence_ = 0;
  std::unordered_map<uint32_t, uint64_t> pendingStills_;
  std::vector<Entry> retiredThisCycle_, retiredPreviousCycle_;
  int64_t presentedSession_ = 0;
  std::unordered_set<uint32_t> currentSpaceIDs_, minimizedIDs_;
  std::unordered_map<uint32_t, uint32_t> groupByWindow_;
  std::unordered_map<uint32_t, CaptureStamp> captureStamps_;
  std::unordered_map<uint32_t, CropBatch> cropTargets_;
  FaviconSink faviconSink_;
  int64_t presentationDepth_ = 0;
  uint64_t idleGeneration_ = 0;
  std::optional<TimerId> idleTrimTask_;
  bool trimmedWhileHidden_ = false;
  int64_t demotionsInFlight_ = 0;
  std::vector<Entry> liveRetirementRing_;
  std::vector<uint32_t> doomedScratch_;

  Lock textureCacheLock_;

  Lock streamLock_;
  LiveSlot live_;
  uint64_t liveGeneration_ = 0;

  // The idle task and demotion completions hold this weakly: they do nothing once the cache is
  // gone. The destructor waits for the GPU, so no completion runs during it.
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace quorvel
