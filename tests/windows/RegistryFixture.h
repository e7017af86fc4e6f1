#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ax/AXFunnel.h"
#include "base/DefaultsStore.h"
#include "base/LogCapture.h"
#include "base/LogHub.h"
#include "base/ManualLoop.h"
#include "base/Task.h"
#include "platform/sim/SimApp.h"
#include "platform/sim/SimDesktop.h"
#include "platform/sim/SimWindow.h"
#include "settings/AppSettings.h"
#include "tabs/TabAdapter.h"
#include "tabs/TabWalker.h"
#include "windows/ActivatorHooks.h"
#include "windows/ChromeWindowCensus.h"
#include "windows/FocusObserver.h"
#include "windows/RegistryServices.h"
#include "windows/WindowRegistry.h"

namespace quorvel {

// A window registry on the simulated desktop, with every neighbour it is given, on a virtual clock.
// The settings start from the registered defaults with a plain baseline: recency order, no grouping,
// every category shown, private windows shown, no tab cards.
class RegistryFixture : public ::testing::Test {
 protected:
  static constexpr int32_t kOwnPid = 1;

  explicit RegistryFixture(SimDesktopOptions options = {}) : sim(loop, withOwnPid(options)) {
    LogHub::shared().setStandardErrorEnabled(false);
    settings.registerDefaults();
    store.setMany({{AppSettings::Key::windowOrder, "recent"},
                   {AppSettings::Key::groupByApp, false},
                   {AppSettings::Key::otherSpacesDisplay, "show"},
                   {AppSettings::Key::minimizedDisplay, "show"},
                   {AppSettings::Key::hiddenAppsDisplay, "show"},
                   {AppSettings::Key::windowlessAppsDisplay, "show"},
                   {AppSettings::Key::privateWindowsDisplay, "show"},
                   {AppSettings::Key::privateWindowNames, false},
                   {AppSettings::Key::tabsDisplay, "off"},
                   {AppSettings::Key::bunchAppWindows, false},
                   {AppSettings::Key::bunchTabs, false}});
    registry = WindowRegistry::create(services());
  }

  ~RegistryFixture() override {
    registry.reset();
    loop.runUntilIdle();
    LogHub::shared().setStandardErrorEnabled(true);
  }

  RegistryServices services() {
    return RegistryServices{loop,   sim.services(), funnel, settings, *focus, walker, nudges,
                            census, hooks};
  }

  // ---- Driving ----

  // One pass of the registry, run to its end (the loop is not involved).
  void pass() {
    auto task = spawn(loop.pool(), registry->performRefresh());
    loop.runUntilIdle();
    ASSERT_TRUE(task.isDone());
  }
  void start() {
    registry->start();
    loop.runUntilIdle();
  }
  // Every job that is ready, then the notifications and passes it caused.
  void settle() { loop.runUntilIdle(); }
  void set(const std::string& key, DefaultsStore::Value value) { store.set(key, std::move(value)); }

  SimApp& launch(int32_t pid, std::string name, std::optional<std::string> bundleID = std::nullopt) {
    if (!bundleID) bundleID = "com.example." + name;
    return sim.launchApp({.pid = pid, .bundleID = std::move(bundleID), .name = std::move(name)});
  }
  SimWindow& open(SimApp& app, std::string title, Rect frame = {100, 100, 800, 600}) {
    return app.openWindow({.title = std::move(title), .frame = frame});
  }

  // ---- Reading ----

  std::vector<WindowCard> cards() {
    return registry->lock().withLock([&] { return *registry->state().cards; });
  }
  std::vector<uint32_t> cardIDs() {
    std::vector<uint32_t> ids;
    for (const auto& card : cards()) ids.push_back(card.id);
    return ids;
  }
  std::optional<WindowCard> card(uint32_t id) {
    for (auto& c : cards()) {
      if (c.id == id) return c;
    }
    return std::nullopt;
  }
  std::vector<uint32_t> recencyIDs() {
    return registry->lock().withLock([&] {
      std::vector<uint32_t> ids;
      for (const auto& entry : registry->state().recency.entries()) ids.push_back(entry.id);
      return ids;
    });
  }
  template <class F>
  auto withState(F f) {
    return registry->lock().withLock([&] { return f(registry->state()); });
  }
  template <class Cards>
  static std::vector<uint32_t> idsOf(const Cards& list) {
    std::vector<uint32_t> ids;
    for (const auto& c : list) ids.push_back(c.id);
    return ids;
  }
  size_t skippedPasses() { return logs.traceEvents("Refresh").size(); }
  // Passes begun so far (skipped or not).
  size_t passesBegun() {
    size_t n = 0;
    for (const auto& record : logs.records()) {
      if (record.category == "Refresh" && record.trace == LogRecord::Trace::intervalBegin) ++n;
    }
    return n;
  }

  ManualLoop loop;
  SimDesktop sim;
  DefaultsStore store;
  AppSettings settings{store};
  AXFunnel funnel{loop};
  std::shared_ptr<FocusObserver> focus = FocusObserver::create(loop, sim.accessibility(), funnel);
  TabAdapter::NudgeRecord nudges{sim.accessibility(), loop.clock()};
  TabWalker walker{sim.accessibility(), nudges};
  ChromeWindowCensus census;
  ActivatorHooks hooks;
  LogCapture logs;
  std::shared_ptr<WindowRegistry> registry;

 private:
  static SimDesktopOptions withOwnPid(SimDesktopOptions options) {
    options.ownPid = kOwnPid;
    return options;
  }
};

}  // namespace quorvel
