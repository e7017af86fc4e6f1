#include "platform/sim/SimOwnApplication.h"

#include "platform/sim/SimWorld.h"

namespace quorvel {

std::vector<OwnWindow> SimOwnApplication::windows() {
  return world_->read([&] {
    std::vector<OwnWindow> list;
    for (const auto& [number, w] : world_->windows) {
      if (w.pid == world_->ownPid) list.push_back(OwnWindow{number, w.minimized});
    }
    return list;
  });
}

bool SimOwnApplication::unminimize(uint32_t number) {
  return world_->change([&](SimEffects& fx) {
    const SimWindowState* w = world_->window(number);
    if (!w || w->pid != world_->ownPid) return false;
    return world_->minimize(number, false, fx);
  });
}

bool SimOwnApplication::minimize(uint32_t number) {
  return world_->change([&](SimEffects& fx) {
    const SimWindowState* w = world_->window(number);
    if (!w || w->pid != world_->ownPid) return false;
    return world_->minimize(number, true, fx);
  });
}

bool SimOwnApplication::performClose(uint32_t number) {
  return world_->change([&](SimEffects& fx) {
    const SimWindowState* w = world_->window(number);
    if (!w || w->pid != world_->ownPid) return false;
    return world_->close(number, fx);
  });
}

bool SimOwnApplication::raiseAndFocus(uint32_t number) {
  return world_->change([&](SimEffects& fx) {
    const SimWindowState* w = world_->window(number);
    if (!w || w->pid != world_->ownPid) return false;
    ++world_->ownKeyWindowRequests;
    return world_->raise(number, fx);
  });
}

void SimOwnApplication::activateProgram() {
  world_->change([&](SimEffects& fx) {
    ++world_->ownActivations;
    world_->activate(world_->ownPid, false, fx);
  });
}

}  // namespace quorvel
