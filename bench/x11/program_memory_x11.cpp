// The program's memory and its summon on screens of different sizes: the real program (the build's
// quorvel, or the one named by QUORVEL_BENCH_PROGRAM) in a private X session (Xvfb and openbox,
// started by the benchmark) of 1920 × 1080, 3840 × 2160 and 7680 × 4320, with the same ten windows
// of the test client (900 × 600) open, past the first-run tour and otherwise with the default
// settings. Ten summons with Alt+Tab through XTest, each held until the overlay is up and a little
// longer, then released (which brings the window chosen forward); then 30 s at rest.
//
//   rest_MB       the program's resident size (VmRSS) 30 s after the tenth summon has gone
//   peak_MB       its highest resident size (VmHWM) over the whole run
//   up_ms_*       from the shortcut's key-down to the overlay's first frame on screen (its mapped
//                 window no longer black in the screen's corner), the fastest, median and slowest
//                 of the ten summons
//
// Run one size alone with --benchmark_filter=/3840; skips when Xvfb is not installed.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "BenchSession.h"
#include "X11Session.h"
#include "platform/x11/X11KeyCodes.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A field of /proc/<pid>/status in kB ("VmRSS"), none when the process is gone.
std::optional<double> statusKilobytes(pid_t pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind(field + ":", 0) == 0) return std::strtod(line.c_str() + field.size() + 1, nullptr);
  return std::nullopt;
}

// Whether the screen's bottom right corner (clear of the windows and of the overlay's chrome) shows
// something other than black: the overlay window shows black from its mapping to its first frame,
// whose backdrop is never black.
bool cornerDrawn(X11Connection& x) {
  const xcb_screen_t* screen = x.screen();
  const auto left = static_cast<int16_t>(screen->width_in_pixels - 40), top = static_cast<int16_t>(screen->height_in_pixels - 8);
  auto* image = xcb_get_image_reply(
      x.xcb(), xcb_get_image(x.xcb(), XCB_IMAGE_FORMAT_Z_PIXMAP, x.root(), left, top, 32, 1, ~0u), nullptr);
  if (!image) return false;
  const auto* p = reinterpret_cast<const uint32_t*>(xcb_get_image_data(image));
  const int count = xcb_get_image_data_length(image) / 4;
  const bool drawn = count > 0 && std::all_of(p, p + count, [](uint32_t pixel) { return (pixel & 0xffffff) != 0; });
  std::free(image);
  return drawn;
}

// Whether a window of class "quorvel-overlay" is mapped on the root.
bool overlayMapped(X11Connection& x) {
  xcb_connection_t* c = x.xcb();
  auto* tree = xcb_query_tree_reply(c, xcb_query_tree(c, x.root()), nullptr);
  if (!tree) return false;
  bool found = false;
  const xcb_window_t* children = xcb_query_tree_children(tree);
  for (int i = 0; i < xcb_query_tree_children_length(tree) && !found; ++i) {
    auto* attributes = xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, children[i]), nullptr);
    const bool viewable = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    std::free(attributes);
    if (!viewable) continue;
    auto* cls = xcb_get_property_reply(c, xcb_get_property(c, 0, children[i], XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 64),
                                       nullptr);
    if (cls) {
      const std::string value(static_cast<const char*>(xcb_get_property_value(cls)),
                              static_cast<size_t>(xcb_get_property_value_length(cls)));
      found = value.starts_with("quorvel-overlay");
    }
    std::free(cls);
  }
  std::free(tree);
  return found;
}

void BM_ProgramMemoryAfterSummons(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
  auto session = startBenchSession(state, {.width = width, .height = height, .desktops = 1});
  if (!session) return;
  const char* colours[] = {"3080c0", "c08030", "30c080", "8030c0", "c03080"};
  for (int i = 0; i < 10; ++i) {
    const std::string geometry = "900x600+" + std::to_string(i * 90) + "+" + std::to_string(i * 40);
    if (!session->launchClient({"--title", "Window " + std::to_string(i), "--color", colours[i % 5], "--geometry",
                                geometry})) {
      state.SkipWithError("the test client did not come up");
      return;
    }
  }
  const std::string config = session->folder() + "/config";
  std::filesystem::create_directories(config + "/quorvel");
  std::ofstream(config + "/quorvel/defaults.json") << R"({"hasCompletedWelcome": true})";
  const std::string runtimeFolder = session->folder() + "/runtime";
  std::filesystem::create_directories(runtimeFolder);
  std::filesystem::permissions(runtimeFolder, std::filesystem::perms::owner_all);
  const char* chosen = std::getenv("QUORVEL_BENCH_PROGRAM");
  const std::string program = chosen && *chosen ? chosen : QUORVEL_PROGRAM;
  const pid_t pid = session->launchProgram(
      "quorvel", {"env", "-u", "DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR=" + runtimeFolder,
                  "XDG_CONFIG_HOME=" + config, "HOME=" + session->folder(), "QUORVEL_LOG=debug", program});
  const auto logged = [&](const std::string& line) {
    return X11Session::waitUntil([&] { return session->log("quorvel").find(line) != std::string::npos; }, 60s);
  };
  if (pid <= 0 || !logged("Shortcut event tap installed")) {
    state.SkipWithError("the program did not start");
    return;
  }
  X11Connection& x = session->connection();
  const uint8_t alt = *X11KeyCodes::xKeyCode(58), tab = *X11KeyCodes::xKeyCode(48);
  const auto key = [&](uint8_t code, bool down) {
    xcb_test_fake_input(x.xcb(), down ? XCB_KEY_PRESS : XCB_KEY_RELEASE, code, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    x.flush();
  };
  std::vector<double> upTimes;
  double rest = 0, peak = 0;
  for (auto _ : state) {
    for (int summon = 0; summon < 10; ++summon) {
      std::this_thread::sleep_for(500ms);  // the window brought forward settles
      key(alt, true);
      const Clock::time_point pressed = Clock::now();
      key(tab, true);
      key(tab, false);
      bool up = false;
      while (!up && Clock::now() - pressed < 30s) {
        up = overlayMapped(x) && cornerDrawn(x);
        if (!up) std::this_thread::sleep_for(2ms);
      }
      if (!up) {
        key(alt, false);
        state.SkipWithError("the overlay did not come up");
        return;
      }
      upTimes.push_back(std::chrono::duration<double, std::milli>(Clock::now() - pressed).count());
      std::this_thread::sleep_for(700ms);
      key(alt, false);
      if (!X11Session::waitUntil([&] { return !overlayMapped(x); }, 10s)) {
        state.SkipWithError("the overlay did not go");
        return;
      }
    }
    std::this_thread::sleep_for(30s);
    const std::optional<double> rss = statusKilobytes(pid, "VmRSS"), hwm = statusKilobytes(pid, "VmHWM");
    if (!rss || !hwm) {
      state.SkipWithError("the program ended");
      return;
    }
    rest = *rss / 1024;
    peak = *hwm / 1024;
  }
  ::kill(pid, SIGTERM);
  session->waitForExit(pid, 10s);
  std::sort(upTimes.begin(), upTimes.end());
  state.counters["rest_MB"] = rest;
  state.counters["peak_MB"] = peak;
  state.counters["up_ms_min"] = upTimes.front();
  state.counters["up_ms_median"] = upTimes[upTimes.size() / 2];
  state.counters["up_ms_max"] = upTimes.back();
  state.SetLabel(std::to_string(width) + "x" + std::to_string(height));
}
BENCHMARK(BM_ProgramMemoryAfterSummons)
    ->Args({1920, 1080})
    ->Args({3840, 2160})
    ->Args({7680, 4320})
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->Iterations(1);

}  // namespace
}  // namespace quorvel

BENCHMARK_MAIN();
