#include "platform/sim/SimDisplays.h"

#include "platform/sim/SimWorld.h"

namespace quorvel {

std::vector<ScreenInfo> SimDisplays::screens() {
  return world_->read([&] {
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
}

uint32_t SimDisplays::mainDisplayID() {
  return world_->read([&] { return world_->mainDisplayID; });
}

bool SimDisplays::screensHaveSeparateSpaces() {
  return world_->read([&] { return world_->separateSpaces; });
}

}  // namespace quorvel
