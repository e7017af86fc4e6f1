#pragma once

#include <functional>

namespace quorvel {

class ChromeUploader;
class Executor;
class Raster;

// What the four chrome texture caches draw and upload with. Every reference outlives the caches.
struct ChromeServices {
  // The main queue: drawing runs there, and a render-thread miss queues its drawing there.
  Executor& main;
  // 2D drawing and text measurement.
  Raster& raster;
  // The GPU upload with mips.
  ChromeUploader& uploader;
  // Bumps the shared scene wake so that a resting overlay draws again; called after every upload,
  // with no cache lock held. May be empty (nothing to wake).
  std::function<void()> wakeScene;
};

}  // namespace quorvel
