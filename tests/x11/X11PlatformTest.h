#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "X11SessionTest.h"
#include "base/ThreadRuntime.h"
#include "platform/x11/X11Platform.h"

namespace quorvel {

// A test with its own X session and the whole X11 platform on it, running on real threads: the
// test's thread drives the runtime's main queue, where workspace notifications arrive.
class X11PlatformTest : public X11SessionTest {
 protected:
  void SetUp() override {
    X11SessionTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    runtime = std::make_unique<ThreadRuntime>();
    platform = X11Platform::open(*runtime, session->display());
    ASSERT_TRUE(platform) << "cannot open the platform on " << session->display();
  }
  void TearDown() override {
    platform.reset();
    runtime.reset();
  }

  // Runs the main queue until `condition` holds or the time runs out. The condition is looked at
  // every 20 ms too, since what it waits for may happen on another thread without a main-queue job.
  bool runUntil(const std::function<bool()>& condition,
                std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      if (runtime->runMainUntil(condition, std::chrono::milliseconds(20))) return true;
      if (std::chrono::steady_clock::now() >= deadline) return condition();
    }
  }
  // Activates a window and waits until the window manager reports it active.
  bool activate(uint32_t id) {
    return actions->activate(id) && X11Session::waitUntil([&] { return desktops->activeWindow() == id; });
  }

  template <class T, class P>
  static const T* findIn(const std::vector<T>& items, P predicate) {
    auto it = std::find_if(items.begin(), items.end(), predicate);
    return it == items.end() ? nullptr : &*it;
  }

  std::unique_ptr<ThreadRuntime> runtime;
  std::unique_ptr<X11Platform> platform;
};

}  // namespace quorvel
