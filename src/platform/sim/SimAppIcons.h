#pragma once

#include <cstdint>
#include <mutex>
#include <unordered_map>

#include "platform/AppIconSource.h"

namespace quorvel {

class Workspace;

// The simulated desktop's application icons: a test gives an icon to a process id; the icon is
// answered while that process runs in the workspace. Counts the questions asked.
class SimAppIcons final : public AppIconSource {
 public:
  explicit SimAppIcons(Workspace& workspace) : workspace_(workspace) {}

  void setIcon(int32_t pid, AppIcon icon);
  void removeIcon(int32_t pid);
  // A square icon of one colour (straight 0xAARRGGBB), `side` pixels on a side.
  static AppIcon solid(uint32_t argb, int side = 16);

  std::optional<AppIcon> icon(int32_t pid) override;
  size_t lookups() const;

 private:
  Workspace& workspace_;
  mutable std::mutex mutex_;
  std::unordered_map<int32_t, AppIcon> icons_;
  size_t lookups_ = 0;
};

}  // namespace quorvel
