// One tab walk of a real browser window over the accessibility bus: firefox-esr (or chromium) in a
// private X session with its own session bus, one window with 50 local pages in tabs.
//
//   BM_TabWalkFifty/0  firefox-esr   TabWalker::walk of the window as the refresh pass makes it
//   BM_TabWalkFifty/1  chromium      (with the window's title and every tab's frame)
//
// Skips when Xvfb or the browser is not installed, or the browser does not come up.

#include <benchmark/benchmark.h>
#include <poll.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "BenchSession.h"
#include "X11Session.h"
#include "ax/AXHandle.h"
#include "base/LogHub.h"
#include "base/ThreadRuntime.h"
#include "platform/Accessibility.h"
#include "platform/x11/X11Platform.h"
#include "tabs/TabAdapter.h"
#include "tabs/TabWalker.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;

constexpr int kTabs = 50;

std::optional<std::string> startSessionBus(X11Session& session) {
  int out = -1;
  if (session.launchProgram("dbus", {"dbus-daemon", "--session", "--nofork", "--print-address=1"}, &out) <= 0) {
    return std::nullopt;
  }
  std::string address;
  pollfd p{out, POLLIN, 0};
  char buffer[512];
  while (address.find('\n') == std::string::npos && ::poll(&p, 1, 10000) > 0) {
    const ssize_t n = ::read(out, buffer, sizeof buffer);
    if (n <= 0) break;
    address.append(buffer, static_cast<size_t>(n));
  }
  ::close(out);
  if (address.find('\n') == std::string::npos) return std::nullopt;
  address.resize(address.find('\n'));
  return address;
}

void BM_TabWalkFifty(benchmark::State& state) {
  const bool firefox = state.range(0) == 0;
  const std::string program = firefox ? "firefox-esr" : "chromium";
  auto session = startBenchSession(state);
  if (!session) return;
  const std::optional<std::string> bus = startSessionBus(*session);
  if (!bus) {
    state.SkipWithError("no session bus");
    return;
  }
  ::setenv("DBUS_SESSION_BUS_ADDRESS", bus->c_str(), 1);
  ::unsetenv("AT_SPI_BUS_ADDRESS");

  ThreadRuntime runtime;
  std::unique_ptr<X11Platform> platform = X11Platform::open(runtime, session->display());
  if (!platform) {
    state.SkipWithError("cannot open the X11 platform");
    return;
  }
  Accessibility& ax = platform->services().accessibility;
  // Browsers read the assistive-technology switch when they start.
  ax.setAttributeValue(ax.applicationElement(::getpid()), "AXManualAccessibility", AXValue(true));

  const std::string profile = session->folder() + "/profile";
  std::filesystem::create_directories(profile);
  std::vector<std::string> argv;
  if (firefox) {
    std::ofstream(profile + "/user.js") << "user_pref(\"browser.startup.homepage_override.mstone\", \"ignore\");\n"
                                           "user_pref(\"datareporting.policy.firstRunURL\", \"\");\n"
                                           "user_pref(\"browser.aboutwelcome.enabled\", false);\n";
    argv = {"firefox-esr", "--profile", profile};
  } else {
    argv = {"chromium", "--user-data-dir=" + profile, "--no-first-run", "--no-default-browser-check",
            "--password-store=basic", "--disable-gpu"};
    if (::geteuid() == 0) argv.push_back("--no-sandbox");
  }
  for (int i = 1; i <= kTabs; ++i) {
    const std::string file = session->folder() + "/page" + std::to_string(i) + ".html";
    std::ofstream(file) << "<!doctype html><title>Page " << i << "</title><p>Page " << i << "</p>\n";
    argv.push_back("file://" + file);
  }
  const pid_t pid = session->launchProgram(program, argv);
  if (pid <= 0) {
    state.SkipWithError("the browser cannot be started");
    return;
  }

  TabAdapter::NudgeRecord nudges{ax, runtime.clock()};
  TabWalker walker{ax, nudges};
  const TabAdapter& adapter = *TabAdapter::find(firefox ? "x11.firefox-esr" : "x11.chromium");
  AXElementRef window;
  const bool ready = X11Session::waitUntil(
      [&] {
        const auto windows = ax.applicationWindows(pid, {});
        if (!windows || windows->empty()) return false;
        window = windows->front().element;
        return walker.walk(AXHandle(window), pid, adapter, true, true).tabs.size() >= size_t(kTabs);
      },
      120s);
  if (!ready) {
    state.SkipWithError((program + " did not show its 50 tabs: " + session->log(program)).c_str());
    return;
  }
  const AXHandle host(window);
  size_t tabs = 0;
  for (auto _ : state) {
    const TabWalker::Walk walked = walker.walk(host, pid, adapter, true, true);
    tabs = walked.tabs.size();
    benchmark::DoNotOptimize(walked);
  }
  state.counters["tabs"] = static_cast<double>(tabs);
}
BENCHMARK(BM_TabWalkFifty)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace
}  // namespace quorvel

BENCHMARK_MAIN();
