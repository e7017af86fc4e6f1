#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "X11Session.h"
#include "platform/x11/X11Connection.h"
#include "platform/x11/X11DesktopReader.h"
#include "platform/x11/X11DisplayReader.h"
#include "platform/x11/X11WindowActions.h"
#include "platform/x11/X11WindowReader.h"

namespace quorvel {

// A test with its own X session (Xvfb and openbox) and the backend's readers on it. Skips only when
// Xvfb is not installed; any other failure to bring the session up fails the test.
class X11SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!X11Session::xvfbInstalled()) GTEST_SKIP() << "Xvfb is not installed, so there is no X session to test on";
    const X11Session::Options wanted = sessionOptions();
    if (!X11Session::installed(wanted.manager)) {
      GTEST_SKIP() << X11Session::name(wanted.manager) << " is not installed";
    }
    std::string failure;
    session = X11Session::start(failure, wanted);
    ASSERT_TRUE(session) << failure;
    displays = std::make_unique<X11DisplayReader>(x());
    windows = std::make_unique<X11WindowReader>(x(), *displays);
    desktops = std::make_unique<X11DesktopReader>(x());
    actions = std::make_unique<X11WindowActions>(x());
  }

  // The session a test runs in: openbox unless a test asks for another window manager.
  virtual X11Session::Options sessionOptions() const { return {}; }

  X11Connection& x() { return session->connection(); }
  std::optional<X11Window> read(uint32_t id) { return windows->read(id); }
  // Waits until the window reads as `predicate` says (false also when it is gone).
  template <class P>
  bool eventually(uint32_t id, P predicate) {
    return X11Session::waitUntil([&] {
      auto w = read(id);
      return w && predicate(*w);
    });
  }
  uint32_t launch(const std::vector<std::string>& arguments, pid_t* pid = nullptr) {
    auto id = session->launchClient(arguments, pid);
    EXPECT_TRUE(id) << "the test client did not come up: " << session->log("x11_test_client");
    return id.value_or(0);
  }

  std::unique_ptr<X11Session> session;
  std::unique_ptr<X11DisplayReader> displays;
  std::unique_ptr<X11WindowReader> windows;
  std::unique_ptr<X11DesktopReader> desktops;
  std::unique_ptr<X11WindowActions> actions;
};

}  // namespace quorvel
