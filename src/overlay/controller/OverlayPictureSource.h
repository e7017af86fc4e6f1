#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <unordered_map>
#include <vector>

#include "windows/WindowCard.h"

namespace quorvel {

// What the overlay controller asks of the window pictures: the presentation brackets, the flush of
// retired pictures, still captures of the cards without a picture, and the live stream of the
// selected window.
//
// The live stream's start and stop may run on other executors than the one that decided them, in
// either order. Each request therefore carries a sequence number drawn on the main thread at the
// moment it is decided (nextLiveSequence); the capture side honours only the newest number it has
// seen, so a start that arrives after a later stop does nothing. Main thread only, except where a
// callback says otherwise.
class OverlayPictureSource {
 public:
  virtual ~OverlayPictureSource() = default;
  // The overlay is being shown / was hidden (the idle trim waits while a presentation is open).
  virtual void beginPresentation() = 0;
  virtual void endPresentation() = 0;
  // Releases the pictures retired during the last two cycles.
  virtual void flushRetired() = 0;
  // Captures still pictures of the cards that have none; `done` runs on the main queue when the
  // captures ended. Returns the cancel of the captures (no new still starts after it).
  virtual std::function<void()> captureStills(const std::vector<WindowCard>& cards,
                                              const std::unordered_map<uint32_t, uint32_t>& showingTabByHost,
                                              const std::unordered_map<uint32_t, uint64_t>& visitTicks,
                                              std::function<void()> done) = 0;
  // Captures the pictures of a refreshed card list (the refresh after a summon).
  virtual void refreshCaptures(const std::vector<WindowCard>& cards,
                               const std::unordered_map<uint32_t, uint32_t>& showingTabByHost,
                               const std::unordered_map<uint32_t, uint64_t>& visitTicks) = 0;
  // The next number of a live-stream request (strictly increasing).
  virtual uint64_t nextLiveSequence() = 0;
  // Starts the live stream of `windowID` (stopping a previous one) unless a newer request was seen;
  // `started` runs on the main queue with whether the stream runs.
  virtual void startLiveHero(uint64_t sequence, uint32_t windowID, std::optional<uint32_t> showingTab,
                             std::function<void(bool running)> started) = 0;
  // Stops the live stream unless a newer request was seen.
  virtual void stopLiveHero(uint64_t sequence) = 0;
  // The window of the running live stream, if any.
  virtual std::optional<uint32_t> liveWindowID() = 0;
};

}  // namespace quorvel
