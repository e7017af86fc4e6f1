// The window model on a real X session (Xvfb and openbox, started by the benchmark itself), with 10,
// 50 and 200 managed windows made by a helper connection. A "pass" is what the registry's refresh
// pass asks of the window services: the shareable windows, the on-screen window list, the desktops
// with the desktops of every window, and the running applications.
//
//   BM_WarmFullPass     every window read again (the model invalidated, its lists known)
//   BM_ColdPass         the model forgotten: the first read of a session
//   BM_SkippedPass      nothing changed
//   BM_TitleChangePass  one window renamed (by the helper, untimed) before each pass
//   BM_SummonXWork      the X work of a summon: the on-screen stacking order (window numbers only)
//
// Each reports `requests` per iteration (the connection's request counter). Skips when Xvfb is not
// installed.
//
// --idle-cpu [seconds] instead measures the resident platform's event thread: its CPU time with
// 200 windows over a quiet period, then with 500 windows while a helper flips the active window
// 100 times a second.

#include <benchmark/benchmark.h>
#include <dirent.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "X11Session.h"
#include "base/LogHub.h"
#include "base/ThreadRuntime.h"
#include "platform/x11/X11Backend.h"
#include "platform/x11/X11DesktopServer.h"
#include "platform/x11/X11Platform.h"
#include "platform/x11/X11ShareableContent.h"
#include "platform/x11/X11WindowActions.h"
#include "platform/x11/X11WindowServer.h"
#include "platform/x11/X11Workspace.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;

// A session with `count` managed windows, made on the session's own connection.
struct Desktop {
  std::unique_ptr<X11Session> session;
  std::vector<uint32_t> windows;

  bool start(size_t count, std::string& failure) {
    session = X11Session::start(failure);
    if (!session) return false;
    X11Connection& x = session->connection();
    xcb_connection_t* c = x.xcb();
    for (size_t i = 0; i < count; ++i) {
      const uint32_t id = xcb_generate_id(c);
      xcb_create_window(c, XCB_COPY_FROM_PARENT, id, x.root(), static_cast<int16_t>(i % 40 * 20),
                        static_cast<int16_t>(i / 40 * 20), 300, 200, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                        XCB_COPY_FROM_PARENT, 0, nullptr);
      rename(id, "window " + std::to_string(i));
      const std::string cls = "bench\0Bench" + std::to_string(i % 12) + std::string(1, '\0');
      xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                          static_cast<uint32_t>(cls.size()), cls.data());
      const uint32_t pid = 1000 + static_cast<uint32_t>(i % 12);
      xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, x.ewmh()->_NET_WM_PID, XCB_ATOM_CARDINAL, 32, 1, &pid);
      xcb_map_window(c, id);
      windows.push_back(id);
    }
    xcb_flush(c);
    const bool managed = X11Session::waitUntil(
        [&] {
          auto list = x.property(x.root(), x.ewmh()->_NET_CLIENT_LIST, XCB_ATOM_WINDOW, 8192);
          return list && list->values32().size() == count;
        },
        60s);
    if (!managed) failure = "the window manager did not take on every window";
    std::this_thread::sleep_for(300ms);  // its last property changes
    return managed;
  }
  void rename(uint32_t id, const std::string& title) {
    X11Connection& x = session->connection();
    xcb_change_property(x.xcb(), XCB_PROP_MODE_REPLACE, id, x.ewmh()->_NET_WM_NAME, x.ewmh()->UTF8_STRING, 8,
                        static_cast<uint32_t>(title.size()), title.data());
  }
};

// The window services of one backend, without an event thread: the benchmark's thread takes the
// events itself, as a service answering before the event thread would.
struct Services {
  std::shared_ptr<X11Backend> backend;
  std::unique_ptr<X11WindowServer> windowServer;
  std::unique_ptr<X11DesktopServer> desktopServer;

  explicit Services(const std::string& display) {
    backend = std::make_shared<X11Backend>(X11Connection::open(display));
    windowServer = std::make_unique<X11WindowServer>(backend);
    desktopServer = std::make_unique<X11DesktopServer>(backend);
  }
  size_t pass() {
    const ShareableContentResult content = X11ShareableContent::read(*backend, false, false);
    const auto onScreen = windowServer->onScreenWindows();
    const auto spaces = desktopServer->copyManagedDisplaySpaces();
    std::vector<uint32_t> ids;
    ids.reserve(content.windows.size());
    for (const ShareableWindow& w : content.windows) ids.push_back(w.windowID);
    const auto placed = desktopServer->copySpacesForWindows(ids, 7);
    const std::vector<RunningApplication> apps =
        X11Workspace::applications(backend->windowsInClientOrder(), std::nullopt);
    return content.windows.size() + (onScreen ? onScreen->size() : 0) + (spaces ? spaces->size() : 0) +
           (placed ? placed->size() : 0) + apps.size();
  }
};

template <class Setup>
void runPasses(benchmark::State& state, Setup beforeEach, bool summonOnly = false) {
  if (!X11Session::xvfbInstalled()) {
    state.SkipWithError("Xvfb is not installed");
    return;
  }
  LogHub::shared().setStandardErrorEnabled(false);
  Desktop desktop;
  std::string failure;
  if (!desktop.start(static_cast<size_t>(state.range(0)), failure)) {
    state.SkipWithError(failure.c_str());
    return;
  }
  Services services(desktop.session->display());
  services.pass();
  X11Connection& connection = services.backend->connection();
  uint64_t requests = 0;
  size_t round = 0;
  for (auto _ : state) {
    state.PauseTiming();
    beforeEach(desktop, services, round++);
    const uint64_t before = connection.requestCount();
    state.ResumeTiming();
    if (summonOnly) {
      benchmark::DoNotOptimize(services.windowServer->onScreenWindowNumbers());
    } else {
      benchmark::DoNotOptimize(services.pass());
    }
    requests += connection.requestCount() - before;
  }
  state.counters["requests"] = benchmark::Counter(static_cast<double>(requests), benchmark::Counter::kAvgIterations);
}

void BM_WarmFullPass(benchmark::State& state) {
  runPasses(state, [](Desktop&, Services& s, size_t) { s.backend->model().invalidate(); });
}
void BM_ColdPass(benchmark::State& state) {
  runPasses(state, [](Desktop&, Services& s, size_t) { s.backend->model().reset(); });
}
void BM_SkippedPass(benchmark::State& state) {
  runPasses(state, [](Desktop&, Services&, size_t) {});
}
void BM_TitleChangePass(benchmark::State& state) {
  runPasses(state, [](Desktop& d, Services&, size_t round) {
    d.rename(d.windows[round % d.windows.size()], "renamed " + std::to_string(round));
    // The change has reached the server, so its event is on its way to the model's connection.
    d.session->connection().sync();
  });
}
void BM_SummonXWork(benchmark::State& state) {
  runPasses(state, [](Desktop&, Services&, size_t) {}, true);
}

BENCHMARK(BM_WarmFullPass)->Arg(10)->Arg(50)->Arg(200)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ColdPass)->Arg(10)->Arg(50)->Arg(200)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SkippedPass)->Arg(10)->Arg(50)->Arg(200)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TitleChangePass)->Arg(10)->Arg(50)->Arg(200)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SummonXWork)->Arg(10)->Arg(50)->Arg(200)->Unit(benchmark::kMicrosecond);

// CPU seconds (user and system) of this process's thread named `name`; 0 when there is none.
double threadCpuSeconds(const std::string& name) {
  DIR* tasks = ::opendir("/proc/self/task");
  if (!tasks) return 0;
  double seconds = 0;
  while (dirent* entry = ::readdir(tasks)) {
    if (entry->d_name[0] == '.') continue;
    const std::string folder = std::string("/proc/self/task/") + entry->d_name;
    std::ifstream comm(folder + "/comm");
    std::string thread;
    std::getline(comm, thread);
    if (thread != name) continue;
    std::ifstream statFile(folder + "/stat");
    std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
      if (i == 14) utime = std::stoull(field);
      if (i == 15) stime = std::stoull(field);
    }
    seconds += double(utime + stime) / double(::sysconf(_SC_CLK_TCK));
  }
  ::closedir(tasks);
  return seconds;
}

int idleCpu(int seconds) {
  LogHub::shared().setStandardErrorEnabled(false);
  for (const size_t count : {size_t{200}, size_t{500}}) {
    const bool flipping = count == 500;
    Desktop desktop;
    std::string failure;
    if (!desktop.start(count, failure)) {
      std::fprintf(stderr, "%s\n", failure.c_str());
      return 1;
    }
    ThreadRuntime runtime;
    std::unique_ptr<X11Platform> platform = X11Platform::open(runtime, desktop.session->display());
    if (!platform) return 1;
    std::this_thread::sleep_for(1s);
    const double before = threadCpuSeconds("quorvel.x11");
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::seconds(seconds);
    size_t flips = 0;
    if (flipping) {
      X11WindowActions flipper(desktop.session->connection());
      auto next = start;
      while (std::chrono::steady_clock::now() < end) {
        flipper.activate(desktop.windows[flips++ % 2]);
        desktop.session->connection().flush();
        next += 10ms;
        std::this_thread::sleep_until(next);
        // The main queue carries the workspace notifications; drain it as the program would.
        runtime.runMainUntil([] { return false; }, 0ms);
      }
    } else {
      while (std::chrono::steady_clock::now() < end) runtime.runMainUntil([] { return false; }, 100ms);
    }
    const double used = threadCpuSeconds("quorvel.x11") - before;
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%zu windows%s: event thread %.3f s of CPU over %.1f s = %.3f %% of a core\n", count,
                flipping ? ", active window flipped 100 times a second" : ", quiet", used, elapsed,
                100.0 * used / elapsed);
  }
  return 0;
}

}  // namespace
}  // namespace quorvel

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--idle-cpu") == 0) {
    return quorvel::idleCpu(argc >= 3 ? std::atoi(argv[2]) : 60);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
