#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "X11SessionTest.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;

// Every value _NET_ACTIVE_WINDOW takes, as the X server reports its changes, in order.
class ActiveWindowLog {
 public:
  explicit ActiveWindowLog(const std::string& display) {
    connection_ = xcb_connect(display.c_str(), nullptr);
    if (xcb_connection_has_error(connection_)) return;
    root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    const char name[] = "_NET_ACTIVE_WINDOW";
    auto* reply = xcb_intern_atom_reply(connection_, xcb_intern_atom(connection_, 0, sizeof name - 1, name), nullptr);
    atom_ = reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    std::free(reply);
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection_);
    thread_ = std::thread([this] { watch(); });
  }
  ~ActiveWindowLog() {
    stopping_ = true;
    // A change of our own wakes the thread's wait.
    xcb_change_property(connection_, XCB_PROP_MODE_APPEND, root_, atom_, XCB_ATOM_WINDOW, 32, 0, nullptr);
    xcb_flush(connection_);
    if (thread_.joinable()) thread_.join();
    xcb_disconnect(connection_);
  }

  std::vector<uint32_t> values() const {
    std::lock_guard lock(mutex_);
    return values_;
  }
  // The values since `mark` (an index into values()).
  std::vector<uint32_t> since(size_t mark) const {
    std::vector<uint32_t> all = values();
    return mark < all.size() ? std::vector<uint32_t>(all.begin() + static_cast<long>(mark), all.end())
                             : std::vector<uint32_t>{};
  }

 private:
  void watch() {
    while (!stopping_) {
      xcb_generic_event_t* event = xcb_wait_for_event(connection_);
      if (!event) return;
      const bool ours = (event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY &&
                        reinterpret_cast<xcb_property_notify_event_t*>(event)->atom == atom_;
      std::free(event);
      if (!ours || stopping_) continue;
      auto* reply = xcb_get_property_reply(
          connection_, xcb_get_property(connection_, 0, root_, atom_, XCB_ATOM_WINDOW, 0, 1), nullptr);
      uint32_t value = 0;
      if (reply && xcb_get_property_value_length(reply) >= 4) value = *static_cast<uint32_t*>(xcb_get_property_value(reply));
      std::free(reply);
      std::lock_guard lock(mutex_);
      values_.push_back(value);
    }
  }

  xcb_connection_t* connection_ = nullptr;
  xcb_window_t root_ = 0;
  xcb_atom_t atom_ = XCB_ATOM_NONE;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
  mutable std::mutex mutex_;
  std::vector<uint32_t> values_;
};

// D-Bus launchers and daemons started for this X display (they carry its DISPLAY in their
// environment).
std::vector<pid_t> busProcessesOn(const std::string& display) {
  std::vector<pid_t> found;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
    const std::string name = entry.path().filename();
    if (name.empty() || !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; })) continue;
    std::string command, environment;
    std::getline(std::ifstream(entry.path() / "cmdline"), command, '\0');
    if (command.find("dbus-launch") == std::string::npos && command.find("dbus-daemon") == std::string::npos) continue;
    std::ifstream file(entry.path() / "environ");
    for (std::string variable; std::getline(file, variable, '\0');) {
      if (variable == "DISPLAY=" + display) found.push_back(static_cast<pid_t>(std::stoi(name)));
    }
  }
  return found;
}

// The real program in a private X session (Xvfb and openbox without key bindings of its own), with
// xterms and the test client as the windows to switch between, driven by XTest key events.
class QuorvelProgramTest : public X11SessionTest {
 protected:
  void SetUp() override {
    X11SessionTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    // Launched and then activated in this order: the last is in front, the one before it was used
    // before that, and so on.
    // The titles differ in a word the search can pick out.
    for (const char* title : {"first xterm", "zulu xterm", "third xterm"}) {
      pid_t pid = 0;
      std::optional<uint32_t> id = session->launchXterm(title, "QuorvelTerm", &pid);
      ASSERT_TRUE(id) << session->log("xterm");
      windowIDs.push_back(*id);
      xtermPIDs.push_back(pid);
    }
    windowIDs.push_back(launch({"--title", "test client", "--class", "client,Client", "--geometry", "640x480+100+100"}));
    ASSERT_NE(windowIDs.back(), 0u);
    for (uint32_t id : windowIDs) ASSERT_TRUE(activate(id));
  }

  // Asks the window manager to activate the window (again when a request is lost to a window it
  // was still taking on) until it is active.
  bool activate(uint32_t id) {
    for (int attempt = 0; attempt < 3; ++attempt) {
      if (actions->activate(id) && X11Session::waitUntil([&] { return desktops->activeWindow() == id; }, 3s))
        return true;
    }
    return false;
  }
  void type(const std::vector<std::string>& keys) {
    std::vector<std::string> argv{"xdotool"};
    argv.insert(argv.end(), keys.begin(), keys.end());
    ASSERT_TRUE(session->runTool(argv)) << "xdotool failed";
  }
  // The overlay window, when one is mapped (with `mappedOnly` false: when one exists).
  std::optional<uint32_t> mappedOverlay(bool mappedOnly = true) {
    xcb_connection_t* c = x().xcb();
    auto* tree = xcb_query_tree_reply(c, xcb_query_tree(c, x().root()), nullptr);
    if (!tree) return std::nullopt;
    std::optional<uint32_t> found;
    const xcb_window_t* children = xcb_query_tree_children(tree);
    for (int i = 0; i < xcb_query_tree_children_length(tree) && !found; ++i) {
      auto* attributes = xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, children[i]), nullptr);
      const bool viewable = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
      std::free(attributes);
      if (mappedOnly && !viewable) continue;
      auto* cls = xcb_get_property_reply(
          c, xcb_get_property(c, 0, children[i], XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 64), nullptr);
      if (cls) {
        std::string value(static_cast<const char*>(xcb_get_property_value(cls)),
                          static_cast<size_t>(xcb_get_property_value_length(cls)));
        if (value.starts_with("quorvel-overlay")) found = children[i];
      }
      std::free(cls);
    }
    std::free(tree);
    return found;
  }

  // The window that has the input focus.
  std::optional<uint32_t> inputFocus() {
    auto* reply = xcb_get_input_focus_reply(x().xcb(), xcb_get_input_focus(x().xcb()), nullptr);
    if (!reply) return std::nullopt;
    const uint32_t focus = reply->focus;
    std::free(reply);
    return focus;
  }

  // The share of the screen that is not black (of its top `band`, a fraction of its height). With
  // no compositing manager the overlay's see-through backdrop is near black, so what is not is
  // what the overlay drew: the cards and the chrome.
  double drawnShare(double band = 1.0) {
    const xcb_screen_t* screen = x().screen();
    const auto rows = static_cast<uint16_t>(std::clamp(band, 0.0, 1.0) * screen->height_in_pixels);
    auto* image = xcb_get_image_reply(x().xcb(),
                                      xcb_get_image(x().xcb(), XCB_IMAGE_FORMAT_Z_PIXMAP, x().root(), 0, 0,
                                                    screen->width_in_pixels, rows, ~0u),
                                      nullptr);
    if (!image) return 0;
    const uint8_t* p = xcb_get_image_data(image);
    const size_t pixels = static_cast<size_t>(xcb_get_image_data_length(image)) / 4;
    size_t drawn = 0, looked = 0;
    for (size_t i = 0; i < pixels; i += 97, ++looked) drawn += (p[i * 4] | p[i * 4 + 1] | p[i * 4 + 2]) > 16;
    std::free(image);
    return looked ? static_cast<double>(drawn) / static_cast<double>(looked) : 0;
  }

  // Starts the program with the cards in recency order, ungrouped, so that the order follows the
  // activations the test makes.
  pid_t startQuorvel() {
    const std::string config = session->folder() + "/config";
    std::filesystem::create_directories(config + "/quorvel");
    std::ofstream(config + "/quorvel/defaults.json") << R"({"groupByApp": false, "windowOrder": "recent"})";
    // A session without a bus: neither one named nor the user's socket.
    const std::string runtime = session->folder() + "/runtime";
    std::filesystem::create_directories(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    return session->launchProgram("quorvel", {"env", "-u", "DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR=" + runtime,
                                              "XDG_CONFIG_HOME=" + config, "HOME=" + session->folder(),
                                              "QUORVEL_LOG=debug", QUORVEL_PROGRAM});
  }
  bool waitForLog(const std::string& line, std::chrono::milliseconds timeout = 60s) {
    return waitForLogSince(0, line, timeout);
  }
  // The same, in what the program logged after the first `mark` characters of its log.
  bool waitForLogSince(size_t mark, const std::string& line, std::chrono::milliseconds timeout) {
    return X11Session::waitUntil([&] { return session->log("quorvel").find(line, mark) != std::string::npos; },
                                 timeout);
  }
  size_t logMark() const { return session->log("quorvel").size(); }
  // Starts the program, waits until its shortcut is live and lets it see the windows used once
  // more in their order.
  pid_t startQuorvelAndUseWindows() {
    const pid_t pid = startQuorvel();
    if (pid <= 0 || !waitForLog("Shortcut event tap installed")) return -1;
    for (uint32_t id : windowIDs) {
      if (!activate(id)) return -1;
      std::this_thread::sleep_for(100ms);
    }
    return pid;
  }
  // Waits for the process to end; its exit status, or none on a time-out or a death by signal.
  static std::optional<int> exitStatus(pid_t pid, std::chrono::milliseconds timeout) {
    std::optional<int> status;
    X11Session::waitUntil(
        [&] {
          int raw = 0;
          if (::waitpid(pid, &raw, WNOHANG) != pid) return false;
          if (WIFEXITED(raw)) status = WEXITSTATUS(raw);
          return true;
        },
        timeout);
    return status;
  }

  std::vector<uint32_t> windowIDs;
  std::vector<pid_t> xtermPIDs;
};

TEST_F(QuorvelProgramTest, SummonStepCommitThenCancelThenReopenThenEndOnSIGTERM) {
  ActiveWindowLog active(session->display());
  const std::vector<pid_t> busesBefore = busProcessesOn(session->display());
  const pid_t pid = startQuorvelAndUseWindows();
  ASSERT_GT(pid, 0) << session->log("quorvel");

  // Alt+Tab summons with the front window selected (the hold style that stays on the current
  // card); Tab steps once; the release of Alt commits: the window used before the front one.
  const uint32_t expected = windowIDs[windowIDs.size() - 2];
  size_t mark = active.values().size();
  type({"keydown", "Alt_L", "key", "Tab"});
  ASSERT_TRUE(X11Session::waitUntil([&] { return mappedOverlay().has_value(); }, 30s))
      << "the overlay did not show\n" << session->log("quorvel");
  // The overlay covers the screen with its cards, not with a black sheet.
  EXPECT_TRUE(X11Session::waitUntil([&] { return drawnShare() > 0.1; }, 20s)) << "drawn: " << drawnShare();
  type({"key", "Tab", "keyup", "Alt_L"});
  EXPECT_TRUE(X11Session::waitUntil([&] { return desktops->activeWindow() == expected; }, 10s))
      << session->log("quorvel");
  EXPECT_TRUE(X11Session::waitUntil([&] { return !mappedOverlay(); }, 10s)) << "the overlay stayed mapped";
  std::this_thread::sleep_for(500ms);
  std::vector<uint32_t> changes;
  for (uint32_t value : active.since(mark)) {
    if (value != 0 && (changes.empty() || changes.back() != value)) changes.push_back(value);
  }
  EXPECT_EQ(changes, std::vector<uint32_t>{expected}) << "exactly one window was activated";

  // Alt+Tab, a step, then Escape while Alt is held: the overlay goes, and no other window comes
  // forward (a release that committed would bring the stepped-to window).
  mark = active.values().size();
  type({"keydown", "Alt_L", "key", "Tab"});
  ASSERT_TRUE(X11Session::waitUntil([&] { return mappedOverlay().has_value(); }, 30s)) << session->log("quorvel");
  type({"key", "Tab"});
  std::this_thread::sleep_for(300ms);
  type({"key", "Escape"});
  EXPECT_TRUE(waitForLog("dismissed the switcher", 10s)) << session->log("quorvel");
  type({"keyup", "Alt_L"});
  EXPECT_TRUE(X11Session::waitUntil([&] { return !mappedOverlay(); }, 10s)) << "the overlay stayed mapped";
  std::this_thread::sleep_for(500ms);
  for (uint32_t value : active.since(mark)) {
    EXPECT_TRUE(value == 0 || value == expected) << "window " << value << " was activated by a cancel";
  }
  EXPECT_EQ(desktops->activeWindow(), expected);

  // A second start on the same display leaves at once, and the running program opens its settings.
  const pid_t second = startQuorvel();
  ASSERT_GT(second, 0);
  EXPECT_EQ(exitStatus(second, 60s), 0) << session->log("quorvel");
  EXPECT_TRUE(X11Session::waitUntil(
      [&] { return session->runTool({"xdotool", "search", "--name", "^Quorvel Settings$"}); }, 30s))
      << "the settings window did not open";

  ASSERT_EQ(::kill(pid, SIGTERM), 0);
  EXPECT_EQ(exitStatus(pid, 20s), 0) << session->log("quorvel");

  // With no session bus, no start left a bus of its own behind.
  for (pid_t stray : busProcessesOn(session->display())) {
    if (std::find(busesBefore.begin(), busesBefore.end(), stray) != busesBefore.end()) continue;
    ADD_FAILURE() << "a D-Bus process was left running: " << stray;
    ::kill(stray, SIGTERM);
  }
}

// Space opens the search while Alt is still held; typed letters narrow the cards to the one window
// whose title holds them, and Return brings that window forward. The keyboard layout changes after
// the program started, so the letters must be read with the layout of the moment, and one of them
// is typed with a dead key.
TEST_F(QuorvelProgramTest, TypingNarrowsTheCardsAndReturnRaisesTheMatch) {
  // The first xterm is renamed "zéro xterm"; "zulu xterm" stays as the decoy.
  const uint32_t zero = windowIDs[0];
  const std::string title = "z\u00e9ro xterm";
  xcb_change_property(x().xcb(), XCB_PROP_MODE_REPLACE, zero, x().atom("_NET_WM_NAME"), x().atom("UTF8_STRING"), 8,
                      static_cast<uint32_t>(title.size()), title.data());
  x().flush();
  ActiveWindowLog active(session->display());
  const pid_t pid = startQuorvelAndUseWindows();
  ASSERT_GT(pid, 0) << session->log("quorvel");
  // The overlay's window is made ahead of the first summon, with the keyboard of that moment.
  ASSERT_TRUE(X11Session::waitUntil([&] { return mappedOverlay(false).has_value(); }, 30s));
  ASSERT_TRUE(session->runTool({"setxkbmap", "de"})) << "setxkbmap failed";

  const size_t logged = logMark();
  const size_t mark = active.values().size();
  type({"keydown", "Alt_L", "key", "Tab"});
  ASSERT_TRUE(X11Session::waitUntil([&] { return mappedOverlay().has_value(); }, 30s)) << session->log("quorvel");
  // Keys typed before the overlay has the input focus go to the window that had it.
  ASSERT_TRUE(X11Session::waitUntil([&] { return inputFocus() == mappedOverlay(); }, 30s)) << "the overlay has no focus";
  // The search capsule at the top of the screen: a small idle pill (once the cards have flown in
  // below it) until Space opens it wide.
  constexpr double kSearchBand = 0.15;
  double idle = 1;
  EXPECT_TRUE(X11Session::waitUntil([&] { return (idle = drawnShare(kSearchBand)) < 0.03; }, 10s)) << idle;
  // "zé", too short for the search's tolerance of typos, matches only "zéro xterm". Read with the
  // US keyboard of the start, the "z" key types "y" (no card matches); without the dead key's
  // accent, "ze" matches "zulu xterm" too.
  type({"key", "space", "type", "--delay", "30", "z"});
  type({"key", "dead_acute", "e"});
  EXPECT_TRUE(waitForLogSince(logged, ", 1 cards in 1 places", 10s)) << "the cards did not narrow to one\n"
                                                                      << session->log("quorvel").substr(logged);
  EXPECT_TRUE(X11Session::waitUntil([&] { return drawnShare(kSearchBand) > 2 * idle + 0.01; }, 5s))
      << "the search capsule did not open: " << idle << " then " << drawnShare(kSearchBand);
  type({"key", "Return"});
  EXPECT_TRUE(X11Session::waitUntil([&] { return desktops->activeWindow() == zero; }, 10s)) << session->log("quorvel");
  EXPECT_TRUE(X11Session::waitUntil([&] { return !mappedOverlay(); }, 10s)) << "the overlay stayed mapped";
  type({"keyup", "Alt_L"});
  std::this_thread::sleep_for(300ms);
  std::vector<uint32_t> changes;
  for (uint32_t value : active.since(mark)) {
    if (value != 0 && (changes.empty() || changes.back() != value)) changes.push_back(value);
  }
  EXPECT_EQ(changes, std::vector<uint32_t>{zero}) << "exactly the matching window was activated";
  ASSERT_EQ(::kill(pid, SIGTERM), 0);
  EXPECT_EQ(exitStatus(pid, 20s), 0) << session->log("quorvel");
}

// W on the selected card closes its xterm: the card leaves at once, the window really goes, the
// switcher stays up after its check that the window went, and the release brings forward the card
// that took the closed one's place.
TEST_F(QuorvelProgramTest, WClosesTheSelectedCardsWindowAndTheSwitcherStaysUp) {
  const pid_t pid = startQuorvelAndUseWindows();
  ASSERT_GT(pid, 0) << session->log("quorvel");
  // In recency order: the test client in front, then the third, second and first xterm.
  const uint32_t third = windowIDs[2];
  const uint32_t second = windowIDs[1];
  const size_t logged = logMark();
  type({"keydown", "Alt_L", "key", "Tab"});
  ASSERT_TRUE(X11Session::waitUntil([&] { return mappedOverlay().has_value(); }, 30s)) << session->log("quorvel");
  type({"key", "Tab"});
  std::this_thread::sleep_for(200ms);
  type({"key", "w"});
  EXPECT_TRUE(waitForLogSince(logged, ", 3 cards in 3 places", 10s)) << "the closed card stayed\n"
                                                                     << session->log("quorvel").substr(logged);
  EXPECT_TRUE(session->waitForExit(xtermPIDs[2], 10s)) << "the xterm did not end";
  EXPECT_TRUE(X11Session::waitUntil(
      [&] {
        const std::vector<uint32_t> clients = windows->clientList();
        return std::find(clients.begin(), clients.end(), third) == clients.end();
      },
      10s))
      << "the closed window is still managed";
  // The check 1.5 s after the close finds the window gone: the switcher stays.
  std::this_thread::sleep_for(2s);
  EXPECT_TRUE(mappedOverlay().has_value()) << "the switcher left after a close that worked";
  EXPECT_EQ(session->log("quorvel").find("a closed window is still there", logged), std::string::npos);
  type({"keyup", "Alt_L"});
  EXPECT_TRUE(X11Session::waitUntil([&] { return desktops->activeWindow() == second; }, 10s))
      << session->log("quorvel");
  EXPECT_TRUE(X11Session::waitUntil([&] { return !mappedOverlay(); }, 10s)) << "the overlay stayed mapped";
  ASSERT_EQ(::kill(pid, SIGTERM), 0);
  EXPECT_EQ(exitStatus(pid, 20s), 0) << session->log("quorvel");
}

}  // namespace
}  // namespace quorvel
