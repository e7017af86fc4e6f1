#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "actions/Activator.h"
#include "base/DefaultsStore.h"
#include "settings/AppSettings.h"
#include "tabs/TabActivation.h"
#include "tabs/TabFixture.h"
#include "windows/ActivatorHooks.h"

namespace quorvel {

// The simulated workspace with its activations counted, to tell one activation from two.
class CountingWorkspace final : public Workspace {
 public:
  explicit CountingWorkspace(Workspace& inner) : inner_(inner) {}
  std::vector<RunningApplication> runningApplications() override { return inner_.runningApplications(); }
  std::optional<RunningApplication> frontmostApplication() override { return inner_.frontmostApplication(); }
  Subscription addObserver(Event event, Observer observer) override {
    return inner_.addObserver(event, std::move(observer));
  }
  bool activate(int32_t pid, bool allWindows) override {
    activations.push_back(pid);
    return inner_.activate(pid, allWindows);
  }
  bool unhide(int32_t pid) override {
    unhides.push_back(pid);
    return inner_.unhide(pid);
  }
  bool openApplication(const std::string& bundleURL, bool activates) override {
    return inner_.openApplication(bundleURL, activates);
  }
  int32_t ownPid() override { return inner_.ownPid(); }

  std::vector<int32_t> activations;
  std::vector<int32_t> unhides;

 private:
  Workspace& inner_;
};

// An activator on the simulated desktop, with the registry's hooks recorded, the settings at their
// registered defaults, and everything on a virtual clock.
class ActivatorFixture : public TabFixture {
 protected:
  static constexpr int32_t kOwnPid = 1;  // the simulated desktop's default own process id
  static constexpr int32_t kEditorPid = 300;

  struct Raise {
    uint32_t window;
    int32_t pid;
    bool operator==(const Raise&) const = default;
  };
  struct Press {
    uint32_t tab;
    uint32_t host;
    bool operator==(const Press&) const = default;
  };

  ActivatorFixture() {
    settings.registerDefaults();
    hooks.setDidRaiseWindow([this](uint32_t window, int32_t pid) {
      events.push_back("raise " + std::to_string(window));
      raises.push_back({window, pid});
    });
    hooks.setDidPressTab([this](uint32_t tab, uint32_t host) {
      events.push_back("press " + std::to_string(tab));
      presses.push_back({tab, host});
    });
  }

  PlatformServices platform() {
    PlatformServices s = sim.services();
    return PlatformServices{s.windowServer,   s.shareableContent, s.displays, s.desktopServer,
                            s.accessibility,  workspace,          s.inputIdle, s.pointer,
                            s.ownApplication};
  }

  SimApp& editor() { return launch(kEditorPid, "com.example.editor", "Editor"); }

  WindowCard cardFor(const SimWindow& window, WindowState state = WindowState::onCurrentSpace) {
    WindowCard card;
    card.id = window.number;
    card.orderingID = window.number;
    card.title = "a window";
    card.pid = window.pid;
    for (const RunningApplication& app : sim.workspace().runningApplications()) {
      if (app.pid == window.pid) {
        card.appName = app.localizedName.value_or("");
        card.bundleID = app.bundleIdentifier;
      }
    }
    card.frame = window.frame().value_or(Rect{});
    card.ax = handle(window);
    card.state = state;
    return card;
  }

  // Picks the card and runs every job that is ready (not the retry, which waits 0.08 s).
  void pick(const WindowCard& card) {
    activator.pick(card);
    loop.runUntilIdle();
  }
  std::vector<std::string> activatorLog() { return logs.messages("Activator"); }
  void followFocus(bool on = true) { store.set(AppSettings::Key::cursorFollowsFocus, on); }

  DefaultsStore store;
  AppSettings settings{store};
  CountingWorkspace workspace{sim.workspace()};
  TabActivation tabActivation{sim.accessibility(), walker};
  ActivatorHooks hooks;
  std::vector<Raise> raises;
  std::vector<Press> presses;
  std::vector<std::string> events;
  Activator activator{ActivatorServices{loop, platform(), funnel, settings, tabActivation, hooks}};
};

}  // namespace quorvel
