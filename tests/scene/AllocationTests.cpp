// Counts heap allocations on the calling thread while a scope is armed, by replacing the global
// allocation functions of this test binary (they forward to malloc and free).
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "scene/SceneFixture.h"

namespace {
thread_local bool countAllocations = false;
thread_local long allocations = 0;

void* allocate(std::size_t size) {
  if (countAllocations) ++allocations;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace quorvel {
namespace {

using testing::SceneFixture;

struct CountingScope {
  CountingScope() {
    allocations = 0;
    countAllocations = true;
  }
  ~CountingScope() { countAllocations = false; }
  long count() const { return allocations; }
};

TEST(AdvanceFrame, AllocatesNothingOnItsCommonPath) {
  SceneFixture scene;
  const auto clusters = ClusterAssignment::build(
      {ClusterKey::app(1), ClusterKey::app(1), ClusterKey::alone(), ClusterKey::tabHost(4), ClusterKey::tabHost(4)});
  SceneState::InstallOptions options;
  options.clusters = clusters;
  options.flyIn = true;
  scene.install(SceneFixture::cards(5), options);
  scene.style(AppSettings::SwitcherStyle::coverArc, OrbitCamera::FocusMode::clamp, true);
  scene.frame();  // sizes the morph buffer

  MorphBuffer& buffer = scene.buffer;
  long counted = 0;
  auto frames = [&](int n) {
    for (int i = 0; i < n; ++i) {
      CountingScope scope;
      {
        SceneFrame f = scene.state.withLock(
            [&](SceneState::Storage& s) { return SceneState::advanceFrame(s, 1.0 / 120, buffer); });
        // The frame copy is dropped inside the scope too: releasing it must not allocate either.
      }
      counted += scope.count();
    }
  };
  frames(30);  // fly-in, style fade and camera moving
  scene.mutate([](SceneState::Storage& s) {
    SceneState::step(s, 2);
    SceneState::setPointerHighlight(s, 1);
  });
  frames(30);  // hop, pointer presence, highlight springs
  scene.mutate([](SceneState::Storage& s) { SceneState::move(s, LayoutEngine::right); });
  frames(200);  // to rest
  EXPECT_EQ(counted, 0);
  EXPECT_TRUE(scene.frame().isAtRest);

  // Sanity: the counter does count.
  CountingScope scope;
  auto* probe = new int(3);
  delete probe;
  EXPECT_EQ(scope.count(), 1);
}

}  // namespace
}  // namespace quorvel
