#pragma once

#include <memory>
#include <unordered_map>

#include "base/Lock.h"
#include "pictures/ChromeServices.h"
#include "pictures/ChromeTexture.h"
#include "platform/Raster.h"
#include "windows/CardAction.h"

namespace quorvel {

// The round window-action buttons of a card (close and minimize), each plain and hovered: four
// 128 × 128 textures drawn once at launch and kept for the whole run.
//
// Threads and lock: prewarm runs on the main queue (checked), tests and stores under the lock and
// draws outside it; texture() runs on any thread (the render thread), takes the lock only for the
// read and never draws.
class ActionBadgeCache {
 public:
  static constexpr int kSide = 128;
  static constexpr const char* kMipLabel = "Quorvel action badge mipmaps";

  struct Key {
    CardAction action = CardAction::close;
    bool hovered = false;
    bool operator==(const Key&) const = default;
  };
  struct KeyHash {
    size_t operator()(const Key& key) const { return static_cast<size_t>(key.action) * 2 + (key.hovered ? 1 : 0); }
  };

  // The colours of the buttons (sRGB), made once and shared.
  static const RasterColor& closeDisc();
  static const RasterColor& minimizeDisc();
  static const RasterColor& discOutline();
  static const RasterColor& glyphStroke();
  // A disc colour as a hovered button shows it: red, green and blue each 15 % of the way to white.
  static RasterColor hoveredColor(RasterColor color);

  explicit ActionBadgeCache(ChromeServices services);

  // Main queue: draws and stores every missing key in the order (close, plain), (close, hovered),
  // (minimize, plain), (minimize, hovered).
  void prewarm();
  // Any thread: the button's texture; nothing before it is drawn.
  ChromeTextureRef texture(CardAction action, bool hovered);

  // Draws one button into a 128 × 128 canvas (exposed for the badge sheet and tests).
  static void draw(RasterCanvas& canvas, Key key);

 private:
  ChromeServices services_;
  Lock lock_;
  std::unordered_map<Key, ChromeTextureRef, KeyHash> textures_;
};

}  // namespace quorvel
