#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "platform/ScreenCapture.h"

namespace quorvel {

class SimWorld;

// What a simulated window looks like in a picture: one colour (B in the lowest byte, alpha in the
// highest), with fully transparent columns at its right edge and rows at its bottom edge.
struct SimPicture {
  uint32_t bgra = 0xFF808080;
  int transparentRightColumns = 0;
  int transparentBottomRows = 0;
};

// The simulated picture service. A window's still is its picture at the asked size; a display
// picture shows the on-screen windows as they stack (higher layers in front, then front to back)
// over a dark grey desktop (kDesktopColor), within the display's frame; beyond it, black. Permission is the world's Screen Recording grant.
// Completions and frames run on the runtime's pool; a capture that fails or names a closed window
// answers an error.
//
// Streams are driven by the test: emitFrame delivers one frame of the window's running stream,
// endStream ends it as if the service had stopped it. Starts may be held back (holdStreamStarts)
// to test what happens while a start is on its way.
class SimScreenCapture final : public ScreenCapture {
 public:
  static constexpr uint32_t kDesktopColor = 0xFF303030;

  explicit SimScreenCapture(std::shared_ptr<SimWorld> world);
  ~SimScreenCapture() override;

  bool preflightAccess() override;
  bool excludesOwnWindows() override;
  void captureWindow(uint32_t windowID, CaptureConfiguration configuration,
                     std::function<void(CaptureResult)> completion) override;
  void captureDisplay(uint32_t displayID, Rect sourceRect, CaptureConfiguration configuration,
                      std::function<void(CaptureResult)> completion) override;
  std::shared_ptr<CaptureStream> makeStream(uint32_t windowID, StreamConfiguration configuration,
                                            StreamHandlers handlers) override;

  // --- The test's controls ---
  // A window without a picture of its own shows defaultColor(window).
  void setPicture(uint32_t window, SimPicture picture);
  static uint32_t defaultColor(uint32_t window);
  // Stills of the window fail (`times` captures, or always: -1; 0 clears).
  void failWindowCaptures(uint32_t window, int times = -1);
  void failDisplayCaptures(bool fail);
  // Every capture answers this long after the call.
  void setCaptureDelay(Duration delay);
  void setExcludesOwnWindows(bool excludes);
  // makeStream answers none / startCapture fails.
  void failStreamSetup(bool fail);
  void failStreamStart(bool fail);
  // While held, startCapture completes only at releaseStreamStarts.
  void holdStreamStarts(bool hold);
  // A starting stream delivers its first frame at once, before its start has completed, as a
  // stream that reads the window as it starts does.
  void setFirstFrameOnStart(bool first);
  void releaseStreamStarts();

  // Delivers one frame of the window's running stream (its picture at the stream's size when
  // complete); false when no stream of it runs.
  bool emitFrame(uint32_t window, StreamFrameStatus status = StreamFrameStatus::complete,
                 std::optional<Rect> contentRect = std::nullopt, std::optional<double> scale = std::nullopt);
  // Ends the window's running stream with an error, as the service would.
  bool endStream(uint32_t window, std::string error = "The stream stopped");

  // --- Counters ---
  int windowCaptures(uint32_t window) const;
  int windowCapturesTotal() const;
  int displayCaptures() const;
  std::optional<uint32_t> lastDisplayCaptured() const;
  // Streams started and not stopped, and every stream ever started.
  int runningStreams() const;
  int streamsStarted() const;
  std::vector<uint32_t> runningStreamWindows() const;
  // The most stills in flight at once so far.
  int maxStillsInFlight() const;

  struct Shared;

 private:
  std::shared_ptr<Shared> shared_;
};

}  // namespace quorvel
