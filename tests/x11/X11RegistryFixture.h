#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>

#include "X11PlatformTest.h"
#include "ax/AXFunnel.h"
#include "base/DefaultsStore.h"
#include "platform/DesktopServer.h"
#include "platform/Workspace.h"
#include "settings/AppSettings.h"
#include "tabs/TabAdapter.h"
#include "tabs/TabWalker.h"
#include "windows/ActivatorHooks.h"
#include "windows/ChromeWindowCensus.h"
#include "windows/FocusObserver.h"
#include "windows/RegistryServices.h"
#include "windows/WindowRegistry.h"

namespace quorvel {

// The window registry running on the X11 platform and real threads, as the program runs it: its
// loop ticks on its own, workspace and focus notifications come from the X session.
class X11RegistryFixture : public X11PlatformTest {
 protected:
  using Ids = std::vector<uint32_t>;

  // The registry and every neighbour it is given, all made after the platform and gone before it.
  struct Registry {
    explicit Registry(ThreadRuntime& runtime, X11Platform& platform) : runtime(runtime), platform(platform) {
      settings.registerDefaults();
      store.setMany({{AppSettings::Key::windowOrder, "recent"},
                     {AppSettings::Key::groupByApp, false},
                     {AppSettings::Key::otherSpacesDisplay, "show"},
                     {AppSettings::Key::minimizedDisplay, "show"},
                     {AppSettings::Key::hiddenAppsDisplay, "show"},
                     {AppSettings::Key::windowlessAppsDisplay, "show"},
                     {AppSettings::Key::privateWindowsDisplay, "show"},
                     {AppSettings::Key::tabsDisplay, "off"}});
      registry = WindowRegistry::create(
          RegistryServices{runtime, platform.services(), funnel, settings, *focus, walker, nudges, census, hooks});
    }

    ThreadRuntime& runtime;
    X11Platform& platform;
    DefaultsStore store;
    AppSettings settings{store};
    AXFunnel funnel{runtime};
    std::shared_ptr<FocusObserver> focus = FocusObserver::create(runtime, platform.services().accessibility, funnel);
    TabAdapter::NudgeRecord nudges{platform.services().accessibility, runtime.clock()};
    TabWalker walker{platform.services().accessibility, nudges};
    ChromeWindowCensus census;
    ActivatorHooks hooks;
    std::shared_ptr<WindowRegistry> registry;
  };

  void SetUp() override {
    X11PlatformTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    core = std::make_unique<Registry>(*runtime, *platform);
  }
  void TearDown() override {
    if (core) {
      std::weak_ptr<WindowRegistry> weak = core->registry;
      core->registry.reset();
      // A pass under way holds the registry until it ends, which on a busy machine takes a while;
      // its neighbours must outlive it.
      EXPECT_TRUE(runUntil([&] { return weak.expired(); }, std::chrono::milliseconds(30000))) << "the registry outlived its test";
      core.reset();
    }
    X11PlatformTest::TearDown();
  }

  WindowRegistry& registry() { return *core->registry; }
  std::vector<WindowCard> cards() {
    return registry().lock().withLock([&] { return *registry().state().cards; });
  }
  std::optional<WindowCard> card(uint32_t id) {
    for (WindowCard& c : cards()) {
      if (c.id == id) return c;
    }
    return std::nullopt;
  }
  Ids recency() {
    return registry().lock().withLock([&] {
      Ids ids;
      for (const auto& entry : registry().state().recency.entries()) ids.push_back(entry.id);
      return ids;
    });
  }
  // Drives the main queue until the registry's cards satisfy `condition` (its loop and its
  // notifications make the passes).
  bool cardsBecome(const std::function<bool()>& condition, std::chrono::milliseconds timeout = std::chrono::milliseconds(8000)) {
    return runUntil(condition, timeout);
  }
  // Asks for a pass that may not be skipped and waits until it has run.
  bool passNow() {
    TaskHandle<void> task = registry().lock().withLock([&] {
      registry().state().mustRunNextPass = true;
      return registry().requestRefresh();
    });
    return runUntil([&] { return task.isDone(); }, std::chrono::milliseconds(8000));
  }

  std::unique_ptr<Registry> core;
};

}  // namespace quorvel
