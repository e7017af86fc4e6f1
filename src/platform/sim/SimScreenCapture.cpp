#include "platform/sim/SimScreenCapture.h"

#include <algorithm>
#include <cmath>

#include "platform/sim/SimWorld.h"

namespace quorvel {

namespace {

class SimCaptureStream;

PixelBuffer paint(int width, int height, const SimPicture& picture) {
  PixelBuffer buffer = PixelBuffer::filled(std::max(width, 1), std::max(height, 1), picture.bgra);
  auto* bytes = const_cast<uint8_t*>(buffer.bytes.get());
  const int right = std::clamp(picture.transparentRightColumns, 0, buffer.width);
  const int bottom = std::clamp(picture.transparentBottomRows, 0, buffer.height);
  for (int y = 0; y < buffer.height; ++y) {
    for (int x = 0; x < buffer.width; ++x) {
      if (x >= buffer.width - right || y >= buffer.height - bottom)
        std::fill_n(bytes + static_cast<size_t>(y) * buffer.bytesPerRow + static_cast<size_t>(x) * 4, 4, 0);
    }
  }
  return buffer;
}

}  // namespace

struct SimScreenCapture::Shared : std::enable_shared_from_this<SimScreenCapture::Shared> {
  std::shared_ptr<SimWorld> world;
  mutable std::mutex mutex;
  std::map<uint32_t, SimPicture> pictures;
  std::map<uint32_t, int> windowFailures;
  bool displayFailure = false;
  Duration delay{0};
  bool excludesOwn = true;
  bool streamSetupFails = false;
  bool streamStartFails = false;
  bool holdStarts = false;
  bool firstFrame = false;
  std::vector<std::function<void()>> heldStarts;
  std::map<uint32_t, int> windowCaptureCounts;
  int windowCaptureTotal = 0;
  int displayCaptureCount = 0;
  std::optional<uint32_t> lastDisplay;
  int started = 0;
  int inFlight = 0;
  int maxInFlight = 0;
  struct Running {
    std::weak_ptr<CaptureStream> stream;
    uint32_t window = 0;
    StreamConfiguration configuration;
    StreamHandlers handlers;
  };
  std::vector<Running> running;

  SimPicture pictureOf(uint32_t window) const {
    auto it = pictures.find(window);
    return it != pictures.end() ? it->second : SimPicture{SimScreenCapture::defaultColor(window)};
  }

  void answer(std::function<void()> job) {
    Executor& pool = world->runtime.pool();
    Duration d{0};
    {
      std::lock_guard guard(mutex);
      d = delay;
    }
    if (d > Duration::zero()) pool.postAfter(d, std::move(job));
    else pool.post(std::move(job));
  }
};

namespace {

class SimCaptureStream final : public CaptureStream {
 public:
  SimCaptureStream(std::shared_ptr<SimScreenCapture::Shared> shared, uint32_t window, StreamConfiguration configuration,
                   StreamHandlers handlers)
      : shared_(std::move(shared)), window_(window), configuration_(configuration), handlers_(std::move(handlers)) {}

  void startCapture(std::function<void(std::optional<std::string>)> completion) override {
    auto self = weakSelf_.lock();
    std::function<void()> finish = [shared = shared_, self, completion = std::move(completion)] {
      std::optional<std::string> error;
      bool first = false;
      SimPicture picture;
      {
        std::lock_guard guard(shared->mutex);
        if (shared->streamStartFails) {
          error = "The stream could not start";
        } else {
          shared->started += 1;
          shared->running.push_back({self, self->window_, self->configuration_, self->handlers_});
          first = shared->firstFrame;
          picture = shared->pictureOf(self->window_);
        }
      }
      if (first && self->handlers_.onFrame) {
        StreamFrame frame;
        frame.picture = paint(self->configuration_.width, self->configuration_.height, picture);
        self->handlers_.onFrame(std::move(frame));
      }
      completion(error);
    };
    {
      std::lock_guard guard(shared_->mutex);
      if (shared_->holdStarts) {
        shared_->heldStarts.push_back(std::move(finish));
        return;
      }
    }
    shared_->answer(std::move(finish));
  }

  void stopCapture(std::function<void(std::optional<std::string>)> completion) override {
    {
      std::lock_guard guard(shared_->mutex);
      std::erase_if(shared_->running, [&](const auto& r) { return r.stream.lock().get() == this; });
    }
    shared_->answer([completion = std::move(completion)] { completion(std::nullopt); });
  }

  std::weak_ptr<SimCaptureStream> weakSelf_;

 private:
  std::shared_ptr<SimScreenCapture::Shared> shared_;
  uint32_t window_;
  StreamConfiguration configuration_;
  StreamHandlers handlers_;
};

}  // namespace

SimScreenCapture::SimScreenCapture(std::shared_ptr<SimWorld> world) : shared_(std::make_shared<Shared>()) {
  shared_->world = std::move(world);
}

SimScreenCapture::~SimScreenCapture() = default;

uint32_t SimScreenCapture::defaultColor(uint32_t window) {
  // Bright, distinct colours: each channel from 64 to 255.
  const uint32_t h = window * 2654435761u;
  const uint32_t b = 64 + (h & 0xBF), g = 64 + ((h >> 8) & 0xBF), r = 64 + ((h >> 16) & 0xBF);
  return 0xFF000000u | r << 16 | g << 8 | b;
}

bool SimScreenCapture::preflightAccess() {
  return shared_->world->read([&] { return shared_->world->screenRecording; });
}

bool SimScreenCapture::excludesOwnWindows() {
  std::lock_guard guard(shared_->mutex);
  return shared_->excludesOwn;
}

void SimScreenCapture::captureWindow(uint32_t windowID, CaptureConfiguration configuration,
                                     std::function<void(CaptureResult)> completion) {
  std::shared_ptr<Shared> shared = shared_;
  {
    std::lock_guard guard(shared->mutex);
    shared->windowCaptureCounts[windowID] += 1;
    shared->windowCaptureTotal += 1;
    shared->inFlight += 1;
    shared->maxInFlight = std::max(shared->maxInFlight, shared->inFlight);
  }
  shared->answer([shared, windowID, configuration, completion = std::move(completion)] {
    CaptureResult result;
    const bool exists = shared->world->read([&] { return shared->world->window(windowID) != nullptr; });
    SimPicture picture;
    {
      std::lock_guard guard(shared->mutex);
      shared->inFlight -= 1;
      picture = shared->pictureOf(windowID);
      auto failure = shared->windowFailures.find(windowID);
      if (!exists) {
        result.error = "The window is gone";
      } else if (failure != shared->windowFailures.end() && failure->second != 0) {
        result.error = "The capture failed";
        if (failure->second > 0 && --failure->second == 0) shared->windowFailures.erase(failure);
      }
    }
    if (!result.error) result.picture = paint(configuration.width, configuration.height, picture);
    completion(std::move(result));
  });
}

void SimScreenCapture::captureDisplay(uint32_t displayID, Rect sourceRect, CaptureConfiguration configuration,
                                      std::function<void(CaptureResult)> completion) {
  std::shared_ptr<Shared> shared = shared_;
  {
    std::lock_guard guard(shared->mutex);
    shared->displayCaptureCount += 1;
    shared->lastDisplay = displayID;
  }
  shared->answer([shared, displayID, sourceRect, configuration, completion = std::move(completion)] {
    CaptureResult result;
    struct Layer {
      Rect frame;
      uint32_t window;
    };
    std::optional<Rect> displayFrame;
    std::vector<Layer> layers;  // front to back
    shared->world->read([&] {
      for (const auto& d : shared->world->displayList)
        if (d.spec.id == displayID) displayFrame = d.spec.frame;
      for (uint32_t n : shared->world->onScreenOrder()) layers.push_back({shared->world->windows.at(n).frame, n});
    });
    bool fail = false;
    std::map<uint32_t, uint32_t> colours;
    {
      std::lock_guard guard(shared->mutex);
      fail = shared->displayFailure;
      for (const auto& l : layers) colours[l.window] = shared->pictureOf(l.window).bgra;
    }
    if (fail || !displayFrame) {
      result.error = "The display could not be captured";
      completion(std::move(result));
      return;
    }
    const int w = std::max(configuration.width, 1), h = std::max(configuration.height, 1);
    std::vector<uint8_t> pixels(static_cast<size_t>(w) * h * 4);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const Point p{displayFrame->x + sourceRect.x + (x + 0.5) * sourceRect.width / w,
                      displayFrame->y + sourceRect.y + (y + 0.5) * sourceRect.height / h};
        // Only the display's own area shows; beyond it the picture is black.
        uint32_t colour = 0xFF000000;
        if (displayFrame->containsPoint(p)) {
          colour = kDesktopColor;
          for (const auto& l : layers) {
            if (l.frame.containsPoint(p)) {
              colour = colours[l.window];
              break;
            }
          }
        }
        uint8_t* px = pixels.data() + (static_cast<size_t>(y) * w + x) * 4;
        for (int i = 0; i < 4; ++i) px[i] = static_cast<uint8_t>(colour >> (8 * i));
      }
    }
    result.picture = PixelBuffer::adopting(w, h, std::move(pixels));
    completion(std::move(result));
  });
}

std::shared_ptr<CaptureStream> SimScreenCapture::makeStream(uint32_t windowID, StreamConfiguration configuration,
                                                            StreamHandlers handlers) {
  {
    std::lock_guard guard(shared_->mutex);
    if (shared_->streamSetupFails) return nullptr;
  }
  auto stream = std::make_shared<SimCaptureStream>(shared_, windowID, configuration, std::move(handlers));
  stream->weakSelf_ = stream;
  return stream;
}

void SimScreenCapture::setPicture(uint32_t window, SimPicture picture) {
  std::lock_guard guard(shared_->mutex);
  shared_->pictures[window] = picture;
}

void SimScreenCapture::failWindowCaptures(uint32_t window, int times) {
  std::lock_guard guard(shared_->mutex);
  if (times == 0) shared_->windowFailures.erase(window);
  else shared_->windowFailures[window] = times;
}

void SimScreenCapture::failDisplayCaptures(bool fail) {
  std::lock_guard guard(shared_->mutex);
  shared_->displayFailure = fail;
}

void SimScreenCapture::setCaptureDelay(Duration delay) {
  std::lock_guard guard(shared_->mutex);
  shared_->delay = delay;
}

void SimScreenCapture::setExcludesOwnWindows(bool excludes) {
  std::lock_guard guard(shared_->mutex);
  shared_->excludesOwn = excludes;
}

void SimScreenCapture::failStreamSetup(bool fail) {
  std::lock_guard guard(shared_->mutex);
  shared_->streamSetupFails = fail;
}

void SimScreenCapture::failStreamStart(bool fail) {
  std::lock_guard guard(shared_->mutex);
  shared_->streamStartFails = fail;
}

void SimScreenCapture::holdStreamStarts(bool hold) {
  std::lock_guard guard(shared_->mutex);
  shared_->holdStarts = hold;
}

void SimScreenCapture::setFirstFrameOnStart(bool first) {
  std::lock_guard guard(shared_->mutex);
  shared_->firstFrame = first;
}

void SimScreenCapture::releaseStreamStarts() {
  std::vector<std::function<void()>> held;
  {
    std::lock_guard guard(shared_->mutex);
    held.swap(shared_->heldStarts);
  }
  for (auto& start : held) shared_->answer(std::move(start));
}

bool SimScreenCapture::emitFrame(uint32_t window, StreamFrameStatus status, std::optional<Rect> contentRect,
                                 std::optional<double> scale) {
  std::optional<Shared::Running> stream;
  SimPicture picture;
  {
    std::lock_guard guard(shared_->mutex);
    for (const auto& r : shared_->running)
      if (r.window == window) stream = r;
    picture = shared_->pictureOf(window);
  }
  if (!stream) return false;
  StreamFrame frame;
  frame.status = status;
  frame.contentRect = contentRect;
  frame.scale = scale;
  if (status == StreamFrameStatus::complete)
    frame.picture = paint(stream->configuration.width, stream->configuration.height, picture);
  std::shared_ptr<Shared> shared = shared_;
  shared_->world->runtime.pool().post([shared, stream = std::move(*stream), frame = std::move(frame)]() mutable {
    // A stream stopped meanwhile delivers nothing more.
    bool live = false;
    {
      std::lock_guard guard(shared->mutex);
      for (const auto& r : shared->running)
        if (r.stream.lock() == stream.stream.lock()) live = true;
    }
    if (live && stream.handlers.onFrame) stream.handlers.onFrame(std::move(frame));
  });
  return true;
}

bool SimScreenCapture::endStream(uint32_t window, std::string error) {
  std::optional<Shared::Running> stream;
  {
    std::lock_guard guard(shared_->mutex);
    auto it = std::find_if(shared_->running.begin(), shared_->running.end(),
                           [&](const auto& r) { return r.window == window; });
    if (it == shared_->running.end()) return false;
    stream = *it;
    shared_->running.erase(it);
  }
  shared_->world->runtime.pool().post([stream = std::move(*stream), error = std::move(error)] {
    if (stream.handlers.onStop) stream.handlers.onStop(error);
  });
  return true;
}

int SimScreenCapture::windowCaptures(uint32_t window) const {
  std::lock_guard guard(shared_->mutex);
  auto it = shared_->windowCaptureCounts.find(window);
  return it != shared_->windowCaptureCounts.end() ? it->second : 0;
}

int SimScreenCapture::windowCapturesTotal() const {
  std::lock_guard guard(shared_->mutex);
  return shared_->windowCaptureTotal;
}

int SimScreenCapture::displayCaptures() const {
  std::lock_guard guard(shared_->mutex);
  return shared_->displayCaptureCount;
}

std::optional<uint32_t> SimScreenCapture::lastDisplayCaptured() const {
  std::lock_guard guard(shared_->mutex);
  return shared_->lastDisplay;
}

int SimScreenCapture::runningStreams() const {
  std::lock_guard guard(shared_->mutex);
  return static_cast<int>(shared_->running.size());
}

int SimScreenCapture::streamsStarted() const {
  std::lock_guard guard(shared_->mutex);
  return shared_->started;
}

std::vector<uint32_t> SimScreenCapture::runningStreamWindows() const {
  std::lock_guard guard(shared_->mutex);
  std::vector<uint32_t> out;
  for (const auto& r : shared_->running) out.push_back(r.window);
  return out;
}

int SimScreenCapture::maxStillsInFlight() const {
  std::lock_guard guard(shared_->mutex);
  return shared_->maxInFlight;
}

}  // namespace quorvel
