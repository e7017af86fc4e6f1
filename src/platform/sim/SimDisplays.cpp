#include "platform/sim/SimDisplays.h"

#include "platform/sim/SimWorld.h"

namespace quorvel {

std::vector<ScreenInfo> SimDisplays::screens() {
  std::function<void(std::vector<ScreenInfo>&)> transform;
  auto screens = world_->read([&] {
    transform = world_->screensTransform;
    std::vector<ScreenInfo> screens;
    for (const auto* d : world_->orderedDisplays()) {
      screens.push_back(ScreenInfo{.screenNumber = d->spec.id,
                                   .uuid = d->spec.uuid,
                                   .frame = world_->flipped(d->spec.frame),
                                   .visibleFrame = world_->flipped(d->spec.visibleFrame.value_or(d->spec.frame)),
                                   .localizedName = d->spec.name});
    }
    return screens;
  });
  if (transform) transform(screens);
  return screens;
}

uint32_t SimDisplays::mainDisplayID() {
  return world_->read([&] { return world_->mainDisplayID; });
}

bool SimDisplays::screensHaveSeparateSpaces() {
  return world_->read([&] { return world_->separateSpaces; });
}

}  // namespace quorvel
