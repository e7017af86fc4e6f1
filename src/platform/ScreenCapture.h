#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/Geometry.h"
#include "platform/PixelBuffer.h"

namespace quorvel {

// How a picture is taken: the size of the delivered buffer in pixels. The content is scaled to fit
// that size keeping its aspect, without the cursor and without a window's shadow.
struct CaptureConfiguration {
  int width = 1, height = 1;
};

// What a capture call answers: the picture, or the reason there is none. A window that went away
// answers an error, never a picture of something else.
struct CaptureResult {
  std::optional<PixelBuffer> picture;
  std::optional<std::string> error;
  // For a window's picture: whether the window had drawn into itself since it was last mapped when
  // the picture was taken (a window caught before it drew shows nothing of its own, however its
  // pixels look). None where the service cannot tell.
  std::optional<bool> drawnSinceMapped;
};

// The state of one frame of a stream: only `complete` frames carry a new picture; the others
// (nothing changed, nothing to show, the stream paused, started or stopped) carry none.
enum class StreamFrameStatus { complete, idle, blank, suspended, started, stopped };

struct StreamFrame {
  StreamFrameStatus status = StreamFrameStatus::complete;
  std::optional<PixelBuffer> picture;
  // The rectangle of the picture's content in points, and the points-to-pixels scale; either may
  // be unknown.
  std::optional<Rect> contentRect;
  std::optional<double> scale;
};

// A stream's settings: the size of its frames and the shortest time between two frames.
struct StreamConfiguration {
  int width = 1, height = 1;
  double minimumFrameInterval = 1.0 / 30;
  int queueDepth = 8;
};

// A running picture stream of one window. Frames are delivered one at a time, in order, on the
// stream's delivery thread; after `stopCapture`'s completion no further frame is delivered.
class CaptureStream {
 public:
  virtual ~CaptureStream() = default;
  // Starts delivering; the completion gets none, or the error that kept it from starting.
  virtual void startCapture(std::function<void(std::optional<std::string> error)> completion) = 0;
  // Stops delivering; the completion runs once no frame is being delivered any more (with the
  // error of the service, if any; the stream is stopped either way).
  virtual void stopCapture(std::function<void(std::optional<std::string> error)> completion) = 0;
};

// Frame and stop handlers of a stream. `onFrame` runs on the stream's delivery thread; `onStop`
// runs when the stream ended by itself (its window went away, the service failed), never after
// the owner's own stopCapture.
struct StreamHandlers {
  std::function<void(StreamFrame frame)> onFrame;
  std::function<void(std::string error)> onStop;
};

// The platform's picture service: stills of one window or of a part of one display, and a live
// stream of one window. Windows and displays are named by the ids of the shareable-content list.
// Every completion runs once, on a thread of the service's choosing, never inside the call.
class ScreenCapture {
 public:
  virtual ~ScreenCapture() = default;

  // Whether the program may take pictures of other programs' windows, asked afresh.
  virtual bool preflightAccess() = 0;

  // Whether pictures of a display leave out the program's own windows (the overlay). When they do
  // not, a display picture taken while the overlay is up would show the overlay.
  virtual bool excludesOwnWindows() = 0;

  // One picture of the window alone, whatever covers it and wherever it is.
  virtual void captureWindow(uint32_t windowID, CaptureConfiguration configuration,
                             std::function<void(CaptureResult)> completion) = 0;

  // One picture of `sourceRect` (points of the display, origin at its top-left) of a display as
  // it shows on screen, scaled to the configured size.
  virtual void captureDisplay(uint32_t displayID, Rect sourceRect, CaptureConfiguration configuration,
                              std::function<void(CaptureResult)> completion) = 0;

  // A stream of the window, not yet started; none when the stream cannot be set up.
  virtual std::shared_ptr<CaptureStream> makeStream(uint32_t windowID, StreamConfiguration configuration,
                                                    StreamHandlers handlers) = 0;
};

}  // namespace quorvel
