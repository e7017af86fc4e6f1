#pragma once

#include <memory>

#include "platform/ShareableContent.h"

namespace quorvel {

class SimWorld;

// The capture service's shareable windows: every window of every desktop, front to back, with
// its application. Answers on the runtime's pool, after the injected delay.
class SimShareableContent final : public ShareableContent {
 public:
  explicit SimShareableContent(std::shared_ptr<SimWorld> world) : world_(std::move(world)) {}

  void getShareableContent(bool excludeDesktopWindows, bool onScreenWindowsOnly,
                           std::function<void(ShareableContentResult)> completion) override;

 private:
  std::shared_ptr<SimWorld> world_;
};

}  // namespace quorvel
