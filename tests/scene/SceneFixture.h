#pragma once

#include <functional>
#include <vector>

#include "base/VirtualClock.h"
#include "scene/LayoutFactory.h"
#include "scene/SceneState.h"
#include "scene/SceneWake.h"

namespace quorvel::testing {

// One overlay screen's scene driven frame by frame on a virtual clock: the main-thread side runs
// mutations through the wake counter, the render side steps frames and keeps what they handed out.
class SceneFixture {
 public:
  SceneFixture() : wake(clock) {}

  static CardSnapshot card(uint32_t id, bool withWindowRect = true) {
    CardSnapshot c;
    c.id = id;
    c.pid = static_cast<int32_t>(100 + id);
    if (withWindowRect) c.windowRect = {{0.1f, 0.2f}, {0.3f, 0.25f}};
    return c;
  }
  static std::vector<CardSnapshot> cards(int n, bool withWindowRect = true, uint32_t firstID = 1) {
    std::vector<CardSnapshot> list;
    for (int i = 0; i < n; ++i) list.push_back(card(firstID + static_cast<uint32_t>(i), withWindowRect));
    return list;
  }

  template <class F>
  decltype(auto) mutate(F&& f) {
    return state.withLock([&](SceneState::Storage& s) -> decltype(auto) { return wake.wake(s, f); });
  }
  template <class F>
  decltype(auto) read(F&& f) {
    return state.withLock([&](SceneState::Storage& s) -> decltype(auto) { return f(s); });
  }

  SceneState::Completion install(std::vector<CardSnapshot> list, SceneState::InstallOptions options = {}) {
    options.snapshots = std::move(list);
    return mutate([&](SceneState::Storage& s) { return SceneState::install(s, std::move(options)); });
  }
  void style(AppSettings::SwitcherStyle style, OrbitCamera::FocusMode mode, bool animated = false) {
    mutate([&](SceneState::Storage& s) {
      SceneState::applyStyle(s, mode, animated, LayoutFactory::makeLayout(style, 1.0f), 0.92);
    });
  }

  // One display-link frame of dt seconds; the clock moves with it.
  SceneFrame frame(double dt = 1.0 / 60) {
    clock.advance(fromSeconds(dt > 0 && dt < 10 ? dt : 0));
    SceneFrame f = state.withLock([&](SceneState::Storage& s) { return SceneState::advanceFrame(s, dt, buffer); });
    if (f.focusChange) focusChanges.push_back(*f.focusChange);
    if (f.completion) {
      ++completionsHandedOut;
      f.completion();
    }
    return f;
  }
  // Frames until the scene rests (at most `limit`); returns the last frame.
  SceneFrame settle(int limit = 2000) {
    SceneFrame f;
    for (int i = 0; i < limit; ++i) {
      f = frame();
      if (f.isAtRest) break;
    }
    return f;
  }
  double focus() { return read([](SceneState::Storage& s) { return s.orbit.focus; }); }
  double target() { return read([](SceneState::Storage& s) { return s.orbit.target; }); }

  VirtualClock clock;
  SceneWake wake;
  SceneState state;
  MorphBuffer buffer;
  std::vector<SceneFrame::FocusChange> focusChanges;
  int completionsHandedOut = 0;
};

}  // namespace quorvel::testing
