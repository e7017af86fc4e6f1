#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "ax/AXFunnel.h"
#include "ax/AXHandle.h"
#include "base/LogCapture.h"
#include "base/LogHub.h"
#include "base/ManualLoop.h"
#include "base/Task.h"
#include "platform/sim/SimApp.h"
#include "platform/sim/SimDesktop.h"
#include "platform/sim/SimWindow.h"
#include "support/BrowserTrees.h"
#include "tabs/TabAdapter.h"
#include "tabs/TabWalker.h"
#include "windows/WindowCard.h"

namespace quorvel {

// Runs one job on the Accessibility queue from a task, as the registry and the activator do.
template <class F>
Task<std::invoke_result_t<F&>> onFunnel(AXFunnel& funnel, F job) {
  co_return co_await funnel.run([&job] { return job(); });  // the frame owns the job
}

// A simulated desktop with browsers on it, the Accessibility queue, and a tab walker over them;
// everything runs on a virtual clock.
class TabFixture : public ::testing::Test {
 protected:
  static constexpr int32_t kChromePid = 200;
  static constexpr int32_t kFirefoxPid = 201;
  static constexpr int32_t kSafariPid = 202;
  static constexpr int32_t kFinderPid = 203;

  TabFixture() { LogHub::shared().setStandardErrorEnabled(false); }
  ~TabFixture() override { LogHub::shared().setStandardErrorEnabled(true); }

  SimApp& launch(int32_t pid, std::string bundleID, std::string name) {
    return sim.launchApp({.pid = pid, .bundleID = std::move(bundleID), .name = std::move(name)});
  }
  SimApp& chrome() { return launch(kChromePid, "com.google.Chrome", "Google Chrome"); }
  SimApp& firefox() { return launch(kFirefoxPid, "org.mozilla.firefox", "Firefox"); }
  SimApp& safari() { return launch(kSafariPid, "com.apple.Safari", "Safari"); }
  SimApp& finder() { return launch(kFinderPid, "com.apple.finder", "Finder"); }

  SimWindow& openWindow(SimApp& app, std::string title, Rect frame = {100, 100, 1200, 800}) {
    return app.openWindow({.title = std::move(title), .frame = frame});
  }

  AXHandleRef handle(const SimWindow& window) { return AXHandle::make(window.ref()); }

  static const TabAdapter& adapterFor(const std::string& bundleID) {
    const TabAdapter* adapter = TabAdapter::find(bundleID);
    EXPECT_NE(adapter, nullptr) << bundleID;
    return *adapter;
  }

  // Runs `job` as one job of the Accessibility queue and hands back its result.
  template <class F>
  auto axJob(F job) -> std::invoke_result_t<F&> {
    Executor* queue = &funnel.queue();
    auto checked = [queue, job = std::move(job)]() mutable {
      EXPECT_TRUE(queue->isCurrent()) << "Accessibility work ran off the Accessibility queue";
      return job();
    };
    auto task = spawn(loop.main(), onFunnel(funnel, std::move(checked)));
    loop.runUntilIdle();
    auto result = task.result();
    EXPECT_TRUE(result.has_value());
    return std::move(*result);
  }

  TabWalker::Walk walk(const SimWindow& window, bool readTitle = false, bool readFrames = false) {
    return walkWith(window, readTitle, readFrames);
  }

  TabWalker::Walk walkWith(const SimWindow& window, bool readTitle, bool readFrames,
                           const TabAdapter* adapter = nullptr) {
    const TabAdapter& chosen = adapter ? *adapter : adapterForPid(window.pid);
    AXHandleRef host = handle(window);
    const int32_t pid = window.pid;
    return axJob([this, host, pid, &chosen, readTitle, readFrames] {
      return walker.walk(*host, pid, chosen, readTitle, readFrames);
    });
  }

  const TabAdapter& adapterForPid(int32_t pid) {
    for (const RunningApplication& app : sim.workspace().runningApplications()) {
      if (app.pid == pid && app.bundleIdentifier) return adapterFor(*app.bundleIdentifier);
    }
    ADD_FAILURE() << "no running application " << pid;
    return TabAdapter::table().front();
  }

  static std::vector<std::string> titles(const TabWalker::Walk& walked) {
    std::vector<std::string> out;
    for (const TabRecord& tab : walked.tabs) out.push_back(tab.title);
    return out;
  }

  // The card the registry would have made for tab `ordinal` of a walk of `window`.
  WindowCard tabCard(SimApp& app, const SimWindow& window, const TabWalker::Walk& walked, int ordinal,
                     uint32_t id = 0xC0000001u) {
    WindowCard host;
    host.id = window.number;
    host.orderingID = window.number;
    host.title = "";
    host.appName = "Browser";
    for (const RunningApplication& running : sim.workspace().runningApplications()) {
      if (running.pid == app.pid) host.bundleID = running.bundleIdentifier;
    }
    host.pid = app.pid;
    host.frame = window.frame().value_or(Rect{});
    host.ax = handle(window);
    const TabRecord& tab = walked.tabs.at(static_cast<size_t>(ordinal));
    WindowCard::TabFacts facts;
    facts.element = tab.element;
    facts.ordinal = tab.ordinal;
    facts.stripCount = static_cast<int>(walked.tabs.size());
    facts.isSelected = tab.isSelected;
    return WindowCard::tabCard(host, id, tab.title, facts);
  }

  LogCapture logs;
  ManualLoop loop;
  SimDesktop sim{loop};
  AXFunnel funnel{loop};
  TabAdapter::NudgeRecord nudges{sim.accessibility(), loop.clock()};
  TabWalker walker{sim.accessibility(), nudges};
};

}  // namespace quorvel
