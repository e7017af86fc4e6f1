#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvel {

// An application's icon as the desktop offers it: either pixels that a window of it carries, or an
// image file of the user's icon theme that still has to be decoded.
struct AppIcon {
  // Straight-alpha 0xAARRGGBB pixels, row by row from the top; empty when `file` names the icon.
  int width = 0;
  int height = 0;
  std::vector<uint32_t> argb;
  // The path of an image file (PNG, SVG, XPM); empty when the pixels are the icon.
  std::string file;

  bool hasPixels() const { return width > 0 && height > 0 && !argb.empty(); }
};

// Finds the icon of a running application by its process id. Called on the main thread; it may
// read from the display server and the file system.
class AppIconSource {
 public:
  virtual ~AppIconSource() = default;
  // The icon of the application of process `pid`; none when no such application runs or it has
  // no icon.
  virtual std::optional<AppIcon> icon(int32_t pid) = 0;
};

}  // namespace quorvel
