#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "platform/x11/X11ScreenCapture.h"

namespace quorvel {

// The capture's worker held inside the completion of a read of `window` until let go (or until the
// holder goes), so that the reads asked for meanwhile queue behind it.
class HeldCaptureWorker {
 public:
  HeldCaptureWorker(X11ScreenCapture& capture, uint32_t window) {
    capture.captureWindow(window, {1, 1}, [this](CaptureResult result) {
      std::unique_lock lock(mutex_);
      inside_ = true;
      pictured_ = result.picture.has_value();
      changed_.notify_all();
      changed_.wait(lock, [&] { return released_; });
      finished_ = true;
      changed_.notify_all();
    });
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return inside_; });
  }
  // Lets go, and waits until the completion has returned.
  ~HeldCaptureWorker() {
    release();
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return finished_; });
  }
  HeldCaptureWorker(const HeldCaptureWorker&) = delete;
  HeldCaptureWorker& operator=(const HeldCaptureWorker&) = delete;

  void release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }
  // Whether the held read got its picture.
  bool pictured() {
    std::lock_guard lock(mutex_);
    return pictured_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool inside_ = false;
  bool pictured_ = false;
  bool released_ = false;
  bool finished_ = false;
};

}  // namespace quorvel
