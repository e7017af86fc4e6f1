#pragma once

#include <memory>
#include <string>

#include "platform/ScreenCapture.h"

namespace quorvel {

// Pictures of windows and displays of an X session.
//
// It keeps a connection of its own for the life of the program, on which every top-level window
// is redirected off screen (Composite, automatic: the X server still draws the screen itself), so a
// window's full contents stay readable while other windows cover it; a second connection carries
// only the damage reports and window events. A window's still names a pixmap of its top-level
// frame window and reads the part of it the user sees as the window: the window with the
// decorations its manager reports, matching the frame of the shareable-content list, without an
// invisible resize border around them (metacity's) or a shadow the client draws itself. It reads
// through shared memory (MIT-SHM), or with plain image requests when the server offers no shared
// memory or the options turn it off, scales it to the asked size and frees the pixmap. Windows
// without an alpha channel read as opaque. A display picture reads the part of the root window
// under the display (the monitors of RandR, with the ids of X11Backend). A window that is not on
// the screen (unmapped, on another desktop, minimized, even while its frame is still mapped or its
// manager keeps it mapped) or gone answers an error: X keeps no picture of it.
//
// A stream watches its window with DAMAGE: after each change it reads the window again, at most
// once per frame interval, and delivers the frame on the stream's own thread. A stream whose window
// leaves the screen or is destroyed ends by itself, with no frame of it gone. Screen capture is always permitted on X11, and display
// pictures include the program's own windows.
//
// A window's still also tells whether the window has drawn since it was last mapped: every window
// made a child of the root after the capture opened is watched with DAMAGE from its creation on
// (its first drawing after each map is reported); a window that was there before is taken to have
// drawn. Without DAMAGE the still does not tell.
//
// Stills and display pictures are read on one worker thread, in order; completions run there.
// stop() ends every thread of the capture: from then on it calls nothing of its callers.
class X11ScreenCapture final : public ScreenCapture {
 public:
  struct Options {
    bool useSharedMemory = true;
  };

  // Opens the connection to `displayName` (DISPLAY when empty); none when the server cannot be
  // reached. Without Composite, window stills answer errors; display pictures still work.
  static std::unique_ptr<X11ScreenCapture> open(const std::string& displayName, Options options);
  static std::unique_ptr<X11ScreenCapture> open(const std::string& displayName = {}) {
    return open(displayName, Options{});
  }
  // Stops (stop()).
  ~X11ScreenCapture() override;

  // Ends the threads, after which no completion or handler of a caller runs: the read under way
  // finishes and its completion runs, reads not begun are dropped with their completions unrun, and
  // every stream ends (its stop completion runs; no frame comes after). A read or stream asked for
  // later is dropped the same way. Safe to call more than once; not from a completion.
  void stop();

  bool preflightAccess() override { return true; }
  bool excludesOwnWindows() override { return false; }
  void captureWindow(uint32_t windowID, CaptureConfiguration configuration,
                     std::function<void(CaptureResult)> completion) override;
  void captureDisplay(uint32_t displayID, Rect sourceRect, CaptureConfiguration configuration,
                      std::function<void(CaptureResult)> completion) override;
  std::shared_ptr<CaptureStream> makeStream(uint32_t windowID, StreamConfiguration configuration,
                                            StreamHandlers handlers) override;

  // Whether pictures are read through shared memory, and whether windows can be read at all.
  bool usesSharedMemory() const;
  bool hasComposite() const;
  // Frames read by every stream so far (for tests and benchmarks).
  uint64_t streamCaptures() const;
  // Whether the drawing watch has met `window` (its creation seen, or a picture of it read), for
  // tests that must know the watch saw a window made before they ask for its picture.
  bool watchesDrawing(uint32_t window) const;
  // Reads and stream starts waiting for the worker (for tests that must know a read is queued).
  size_t queuedJobs() const;

  // The same still, read on the calling thread (for benchmarks).
  CaptureResult captureWindowNow(uint32_t windowID, CaptureConfiguration configuration);

  struct Shared;

 private:
  explicit X11ScreenCapture(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}
  std::shared_ptr<Shared> shared_;
};

}  // namespace quorvel
