#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "ActiveWindowLog.h"
#include "X11SessionTest.h"
#include "XdndSource.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;

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

// The stored flags of a shortcut on Alt, or on Ctrl+Alt.
uint64_t shortcutFlags(bool withControl) { return 0x80000 | (withControl ? 0x40000 : 0); }

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

  // The share of the screen that is not black (of its top `band`, a fraction of its height). The
  // program runs with a black backdrop (startQuorvel), so what is not is what the overlay drew: the
  // cards and the chrome.
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
  // activations the test makes, past the first-run tour, on a black backdrop (see drawnShare).
  // `settings`: more keys for the settings file, each line "key": value.
  // `environment`: more variables for the program, each "NAME=value".
  pid_t startQuorvel(const std::string& settings = "", const std::vector<std::string>& environment = {}) {
    const std::string config = session->folder() + "/config";
    std::filesystem::create_directories(config + "/quorvel");
    if (!std::filesystem::exists(config + "/quorvel/defaults.json"))
      std::ofstream(config + "/quorvel/defaults.json")
          << R"({"hasCompletedWelcome": true, "groupByApp": false, "windowOrder": "recent", )"
          << R"("backdropStyle": "solidColor", "backdropColor": "#000000")" << (settings.empty() ? "" : ", " + settings)
          << "}";
    // A session without a bus: neither one named nor the user's socket.
    const std::string runtime = session->folder() + "/runtime";
    std::filesystem::create_directories(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    std::vector<std::string> argv{"env", "-u", "DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR=" + runtime,
                                  "XDG_CONFIG_HOME=" + config, "HOME=" + session->folder(), "QUORVEL_LOG=debug"};
    argv.insert(argv.end(), environment.begin(), environment.end());
    argv.push_back(QUORVEL_PROGRAM);
    return session->launchProgram("quorvel", argv);
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
  // Waits until the camera has come to rest on the card at `index`, after the first `mark`
  // characters of the log: the card the selection moved to stands in front.
  bool waitForRestOn(size_t mark, int index) {
    return waitForLogSince(mark, "camera at rest on card " + std::to_string(index) + " of ", 30s);
  }
  // Starts the program, waits until its shortcut is live and lets it see the windows used once
  // more in their order: each activation once the program has counted the one before as a visit.
  pid_t startQuorvelAndUseWindows(const std::string& settings = "", const std::vector<std::string>& environment = {}) {
    const pid_t pid = startQuorvel(settings, environment);
    if (pid <= 0 || !waitForLog("Shortcut event tap installed")) return -1;
    for (uint32_t id : windowIDs) {
      const size_t mark = logMark();
      char visit[64];
      std::snprintf(visit, sizeof visit, "Visit of window 0x%x", id);
      if (!activate(id) || !waitForLogSince(mark, visit, 30s)) return -1;
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

  // The key code that types `keysym` on the session's keyboard (0 when none does).
  uint8_t keycodeOf(uint32_t keysym) {
    const xcb_setup_t* setup = xcb_get_setup(x().xcb());
    const uint8_t count = static_cast<uint8_t>(setup->max_keycode - setup->min_keycode + 1);
    auto* map = xcb_get_keyboard_mapping_reply(
        x().xcb(), xcb_get_keyboard_mapping(x().xcb(), setup->min_keycode, count), nullptr);
    if (!map) return 0;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(map);
    uint8_t found = 0;
    for (int i = 0; i < count * map->keysyms_per_keycode && !found; ++i) {
      if (syms[i] == keysym) found = static_cast<uint8_t>(setup->min_keycode + i / map->keysyms_per_keycode);
    }
    std::free(map);
    return found;
  }
  // Sends the key events in one go through XTest: the server has them all within a millisecond.
  void fakeKeys(const std::vector<std::pair<uint8_t, bool>>& keys) {
    for (const auto& [code, down] : keys) {
      xcb_test_fake_input(x().xcb(), down ? XCB_KEY_PRESS : XCB_KEY_RELEASE, code, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    }
    x().flush();
  }
  bool overlayHasFocus() {
    const std::optional<uint32_t> overlay = mappedOverlay();
    auto* focus = xcb_get_input_focus_reply(x().xcb(), xcb_get_input_focus(x().xcb()), nullptr);
    const bool ours = overlay && focus && focus->focus == *overlay;
    std::free(focus);
    return ours;
  }

  // The managed window of that title (with `viewableOnly`: once it is on the screen).
  std::optional<uint32_t> windowTitled(const std::string& title, bool viewableOnly = false) {
    for (const X11Window& window : windows->readClients()) {
      if (window.title == title && (window.isViewable || !viewableOnly)) return window.id;
    }
    return std::nullopt;
  }

  // Whether another client holds the whole keyboard. The grab is asked for with a time a minute
  // ahead of the server's clock: the server answers that another client holds the keyboard, or
  // else that the time has not come, and grabs nothing, so the question never takes the keyboard
  // from the program at the moment it asks for it (one granted all the same is let go of at once).
  bool keyboardHeldElsewhere() {
    const std::optional<uint32_t> now = x().serverTime();
    if (!now) return false;
    xcb_connection_t* c = x().xcb();
    auto* reply = xcb_grab_keyboard_reply(
        c, xcb_grab_keyboard(c, 0, x().root(), *now + 60000, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC), nullptr);
    const bool held = reply && reply->status == XCB_GRAB_STATUS_ALREADY_GRABBED;
    if (reply && reply->status == XCB_GRAB_STATUS_SUCCESS) xcb_ungrab_keyboard(c, XCB_CURRENT_TIME);
    std::free(reply);
    x().flush();
    return held;
  }

  // The environment that preloads `library` into the program (and lets a sanitizer build take it).
  static std::vector<std::string> preloaded(const std::string& library) {
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string options = asan && asan[0] ? std::string(asan) + ":" : "";
    return {"LD_PRELOAD=" + library, "ASAN_OPTIONS=" + options + "verify_asan_link_order=0"};
  }
  static std::string fileText(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static void expectNoSanitizerReport(const std::string& log) {
    for (const char* report : {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "WARNING: ThreadSanitizer", "runtime error"})
      EXPECT_EQ(log.find(report), std::string::npos) << log;
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
  size_t mark = active.mark();
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
  EXPECT_EQ(changes, std::vector<uint32_t>{expected}) << "exactly one window was activated\n"
                                                      << session->log("quorvel");

  // Alt+Tab, a step, then Escape while Alt is held: the overlay goes, and no other window comes
  // forward (a release that committed would bring the stepped-to window).
  mark = active.mark();
  type({"keydown", "Alt_L", "key", "Tab"});
  ASSERT_TRUE(X11Session::waitUntil([&] { return mappedOverlay().has_value(); }, 30s)) << session->log("quorvel");
  const size_t stepped = logMark();
  type({"key", "Tab"});
  EXPECT_TRUE(waitForRestOn(stepped, 1)) << session->log("quorvel").substr(stepped);
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
      [&] { return session->runTool({"xdotool", "search", "--name", "^General \u2014 Quorvel Settings$"}); }, 30s))
      << "the settings window did not open";

  ASSERT_EQ(::kill(pid, SIGTERM), 0);
  EXPECT_EQ(exitStatus(pid, 20s), 0) << session->log("quorvel");
  // It says why it ended: the signal, and who sent it.
  std::string name;
  std::getline(std::ifstream("/proc/self/comm"), name);
  EXPECT_NE(session->log("quorvel").find("Quorvel ends: SIGTERM from process " + std::to_string(::getpid()) + " (" +
                                          name + ")"),
            std::string::npos)
      << session->log("quorvel");

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
  const size_t mark = active.mark();
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
  ASSERT_TRUE(waitForRestOn(logged, 1)) << session->log("quorvel").substr(logged);
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
  EXPECT_TRUE(waitForLogSince(logged, "the closed windows are gone", 30s)) << session->log("quorvel").substr(logged);
  EXPECT_TRUE(mappedOverlay().has_value()) << "the switcher left after a close that worked";
  EXPECT_EQ(session->log("quorvel").find("a closed window is still there", logged), std::string::npos);
  type({"keyup", "Alt_L"});
  EXPECT_TRUE(X11Session::waitUntil([&] { return desktops->activeWindow() == second; }, 10s))
      << session->log("quorvel");
  EXPECT_TRUE(X11Session::waitUntil([&] { return !mappedOverlay(); }, 10s)) << "the overlay stayed mapped";
  ASSERT_EQ(::kill(pid, SIGTERM), 0);
  EXPECT_EQ(exitStatus(pid, 20s), 0) << session->log("quorvel");
}

// A second start opens the settings window on its Shortcuts pane; the recorder takes the pressed
// keys while the global shortcut rests (Alt+Tab does not summon the switcher then), the settings
// file holds the new shortcut, which summons the switcher from then on, while Alt+Tab goes on to
// the application in front.
TEST_F(QuorvelProgramTest, TheShortcutsPaneRecordsANewShortcutThatSummonsFromThenOn) {
  const std::string typedPath = session->folder() + "/typed";
  const std::optional<uint32_t> terminal = session->launchXterm(
      "Recorder", "Recorder", {"-xrm", "*metaSendsEscape: true"}, {"sh", "-c", "stty raw -echo; exec cat > '" + typedPath + "'"});
  ASSERT_TRUE(terminal) << session->log("xterm");
  const auto typed = [&] {
    std::ifstream in(typedPath);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  const pid_t pid = startQuorvel(R"("settingsTab": "shortcuts")");
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(waitForLog("Shortcut event tap installed")) << session->log("quorvel");
  ASSERT_GT(startQuorvel(), 0);
  // The window is clicked once it is on the screen (the focus may come to it later).
  std::optional<uint32_t> settingsWindow;
  ASSERT_TRUE(X11Session::waitUntil(
      [&] { return (settingsWindow = windowTitled("Shortcuts \u2014 Quorvel Settings", true)).has_value(); }, 30s))
      << "the settings window did not open";
  // The record button of "Keyboard shortcut": right of the sidebar, in the pane's first row. A
  // recording takes the whole keyboard: the keys go to the recorder from then on.
  const std::vector<std::string> clickRecord = {"mousemove", "--window", std::to_string(*settingsWindow), "432", "85",
                                                "click", "1"};
  const auto record = [&] {
    type(clickRecord);
    return X11Session::waitUntil([&] { return keyboardHeldElsewhere(); }, 30s);
  };
  ASSERT_TRUE(record()) << "the click did not start a recording\n" << session->log("quorvel");
  type({"key", "alt+Tab"});
  const std::string file = session->folder() + "/config/quorvel/defaults.json";
  const auto stored = [&] {
    std::ifstream in(file);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  EXPECT_TRUE(X11Session::waitUntil(
      [&] { return stored().find(R"("hotkeyBinding1": {"flags":524288,"keyCode":48})") != std::string::npos; }, 10s))
      << "the recorder did not get Alt+Tab: " << stored();
  EXPECT_FALSE(mappedOverlay()) << "Alt+Tab summoned the switcher while a shortcut was being recorded";
  // The recording ends with the key it took, and lets go of the keyboard.
  ASSERT_TRUE(X11Session::waitUntil([&] { return !keyboardHeldElsewhere(); }, 10s));
  ASSERT_TRUE(record()) << "the click did not start a recording\n" << session->log("quorvel");
  type({"key", "ctrl+alt+k"});
  ASSERT_TRUE(X11Session::waitUntil([&] { return stored().find(R"("hotkeyBinding1": {"flags":786432,"keyCode":40})") != std::string::npos; }, 10s))
      << stored();

  // Alt+Tab now reaches the application in front; Ctrl+Alt+K summons the switcher.
  ASSERT_TRUE(activate(*terminal));
  ASSERT_TRUE(X11Session::waitUntil([&] {
    type({"key", "a"});
    return typed().find('a') != std::string::npos;
  }));
  std::this_thread::sleep_for(300ms);
  const size_t before = typed().size();
  type({"key", "alt+Tab"});
  EXPECT_TRUE(X11Session::waitUntil([&] { return typed().substr(before).find('\t') != std::string::npos; }, 10s))
      << "the terminal did not get Alt+Tab";
  EXPECT_FALSE(mappedOverlay());
  type({"keydown", "ctrl", "keydown", "alt", "key", "k"});
  EXPECT_TRUE(X11Session::waitUntil([&] { return mappedOverlay().has_value(); }, 30s))
      << "Ctrl+Alt+K did not summon the switcher\n" << session->log("quorvel");
  type({"key", "Escape", "keyup", "alt", "keyup", "ctrl"});
  EXPECT_TRUE(X11Session::waitUntil([&] { return !mappedOverlay(); }, 10s));
  ASSERT_EQ(::kill(pid, SIGTERM), 0);
  EXPECT_EQ(exitStatus(pid, 20s), 0) << session->log("quorvel");
}


// A frame saved on a taller screen comes back with the window manager's frame, title bar included,
// inside the screen; a move of the window is stored while the program runs.
TEST_F(QuorvelProgramTest, TheSettingsWindowComesBackWithItsTitleBarOnScreenAndKeepsAMove) {
  const pid_t pid = startQuorvel(R"("settingsTab": "general", "settingsWindowFrame": [300, 0, 779, 3000])");
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(waitForLog("Shortcut event tap installed")) << session->log("quorvel");
  ASSERT_GT(startQuorvel(), 0);
  // The managed window of that title.
  const auto settingsWindow = [&]() -> std::optional<xcb_window_t> {
    const auto clients = x().property(x().root(), x().atom("_NET_CLIENT_LIST"));
    if (!clients) return std::nullopt;
    for (uint32_t id : clients->values32()) {
      const auto name = x().property(id, x().atom("_NET_WM_NAME"));
      if (name && std::string(name->bytes.begin(), name->bytes.end()) == "General \u2014 Quorvel Settings") return id;
    }
    return std::nullopt;
  };
  ASSERT_TRUE(X11Session::waitUntil([&] { return settingsWindow().has_value(); }, 30s))
      << "the settings window did not open";
  const xcb_window_t window = *settingsWindow();
  // The outermost window below the root that holds it: the frame openbox draws.
  const auto frameOf = [&](xcb_window_t w) {
    for (;;) {
      auto* tree = xcb_query_tree_reply(x().xcb(), xcb_query_tree(x().xcb(), w), nullptr);
      if (!tree) return w;
      const xcb_window_t parent = tree->parent;
      std::free(tree);
      if (parent == x().root()) return w;
      w = parent;
    }
  };
  const auto geometry = [&](xcb_window_t w) {
    std::array<int, 4> g{};
    auto* reply = xcb_get_geometry_reply(x().xcb(), xcb_get_geometry(x().xcb(), w), nullptr);
    if (reply) g = {reply->x, reply->y, reply->width + 2 * reply->border_width, reply->height + 2 * reply->border_width};
    std::free(reply);
    return g;
  };
  const int screenHeight = x().screen()->height_in_pixels;
  // The window is fitted once the manager has framed it.
  EXPECT_TRUE(X11Session::waitUntil(
      [&] {
        const std::array<int, 4> frame = geometry(frameOf(window));
        return frameOf(window) != window && frame[1] >= 0 && frame[1] + frame[3] <= screenHeight;
      },
      10s))
      << "frame " << geometry(frameOf(window))[1] << " + " << geometry(frameOf(window))[3] << " on a screen "
      << screenHeight << " high";
  const std::array<int, 4> inside = geometry(window);
  EXPECT_GT(inside[1], 0) << "the title bar takes no room above the content";

  const std::string file = session->folder() + "/config/quorvel/defaults.json";
  const auto stored = [&] {
    std::ifstream in(file);
    return nlohmann::json::parse(in, nullptr, false).value("settingsWindowFrame", nlohmann::json());
  };
  ASSERT_TRUE(session->runTool({"xdotool", "windowmove", std::to_string(window), "500", "200"}));
  EXPECT_TRUE(X11Session::waitUntil([&] { return stored().is_array() && stored()[0] != 300; }, 10s))
      << "the moved frame was not stored: " << stored();
  ASSERT_EQ(::kill(pid, SIGTERM), 0);
  EXPECT_EQ(exitStatus(pid, 20s), 0) << session->log("quorvel");
}

}  // namespace
}  // namespace quorvel

namespace quorvel {
namespace {

// A file dragged from another program over the switcher: resting on a card brings that card's
// window forward and the overlay stands aside, so the drag goes on to that window and the drop
// lands there. The overlay takes part in the drag (it is a drag-aware window the drag enters) but
// never receives the drop.
TEST_F(QuorvelProgramTest, ADragRestingOnACardBringsItsWindowForwardAndTheDropLandsThere) {
  // A drop target that covers the middle of the screen, used just before the front window.
  const uint32_t target = launch({"--title", "drop target", "--class", "target,Target", "--geometry",
                                  "1200x800+360+140", "--xdnd-target"});
  ASSERT_NE(target, 0u);
  windowIDs.insert(windowIDs.end() - 1, target);
  const pid_t pid = startQuorvelAndUseWindows(R"("dragCommitMode": "dwell", "dragRestTime": "normal")");
  ASSERT_GT(pid, 0) << session->log("quorvel");

  // Alt+Tab shows the front window in the middle; Tab moves the drop target's card there.
  type({"keydown", "Alt_L", "key", "Tab"});
  ASSERT_TRUE(X11Session::waitUntil([&] { return mappedOverlay().has_value(); }, 30s)) << session->log("quorvel");
  const uint32_t overlay = *mappedOverlay();
  const size_t stepped = logMark();
  type({"key", "Tab"});
  ASSERT_TRUE(waitForRestOn(stepped, 1)) << "the camera did not come to rest on the drop target's card\n"
                                         << session->log("quorvel").substr(stepped);
  type({"mousemove", "960", "540"});

  // The drag rests on the card in the middle, moving a little as a hand does.
  XdndSource drag(session->display());
  int wobble = 0;
  auto moveAndSee = [&](const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    return X11Session::waitUntil([&] {
      drag.moveTo(960 + (wobble++ % 2), 540);
      return condition();
    }, timeout);
  };
  EXPECT_TRUE(moveAndSee([&] { return drag.target() == overlay && drag.accepted(); }, 5s))
      << "the overlay did not take the drag over a card";
  EXPECT_TRUE(moveAndSee([&] { return desktops->activeWindow() == target; }, 10s))
      << "the card's window did not come forward\n" << session->log("quorvel");
  EXPECT_TRUE(moveAndSee([&] { return drag.target() == target && drag.accepted(); }, 10s))
      << "the drag did not go on to the window";
  EXPECT_EQ(drag.drop(), std::optional<uint32_t>(target));
  char expected[64];
  std::snprintf(expected, sizeof expected, "xdnd drop on 0x%x", target);
  EXPECT_TRUE(X11Session::waitUntil(
      [&] { return session->log("x11_test_client").find(expected) != std::string::npos; }, 5s))
      << session->log("x11_test_client");
  EXPECT_TRUE(X11Session::waitUntil([&] {
    drag.readAnswers();
    return !drag.finished().empty();
  }, 5s));
  EXPECT_EQ(drag.finished(), (std::vector<std::pair<uint32_t, bool>>{{target, true}})) << "only the window got the drop";
  EXPECT_EQ(drag.entered().front(), overlay);
  EXPECT_TRUE(X11Session::waitUntil([&] { return !mappedOverlay(); }, 5s)) << "the overlay stayed mapped";
  type({"keyup", "Alt_L"});
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(desktops->activeWindow(), target) << "the release of Alt after the drag changed nothing";

  ASSERT_EQ(::kill(pid, SIGTERM), 0);
  EXPECT_EQ(exitStatus(pid, 20s), 0) << session->log("quorvel");
}

// A step, Escape and the release of Alt, sent within a millisecond of each other, many times over:
// the step's Tab and the release reach the program through the shortcut's key stream, the Escape
// through the overlay's own connection, and each acts in the order typed: every round steps, then
// cancels, and no other window comes forward.
TEST_F(QuorvelProgramTest, EscapeJustBeforeTheReleaseOfAltAlwaysCancels) {
  ActiveWindowLog active(session->display());
  const pid_t pid = startQuorvelAndUseWindows();
  ASSERT_GT(pid, 0) << session->log("quorvel");
  const uint8_t alt = keycodeOf(0xffe9), tab = keycodeOf(0xff09), escape = keycodeOf(0xff1b);
  ASSERT_TRUE(alt && tab && escape);
  const uint32_t front = windowIDs.back();
  ASSERT_EQ(desktops->activeWindow(), front);
  const size_t mark = active.mark();
  constexpr int kRounds = 40;
  int committed = 0;
  for (int round = 0; round < kRounds; ++round) {
    fakeKeys({{alt, true}, {tab, true}, {tab, false}});
    ASSERT_TRUE(X11Session::waitUntil([&] { return overlayHasFocus(); }, 30s))
        << "round " << round << ": the overlay did not take the keyboard\n" << session->log("quorvel");
    fakeKeys({{tab, true}, {tab, false}, {escape, true}, {escape, false}, {alt, false}});
    ASSERT_TRUE(X11Session::waitUntil([&] { return !mappedOverlay(); }, 10s)) << "round " << round;
    if (desktops->activeWindow() != front) {
      ++committed;
      ASSERT_TRUE(activate(front));
    }
  }
  EXPECT_EQ(committed, 0) << committed << " of " << kRounds << " rounds brought another window forward";
  const std::vector<uint32_t> changes = active.since(mark);
  EXPECT_EQ(std::count_if(changes.begin(), changes.end(), [&](uint32_t v) { return v != 0 && v != front; }), 0)
      << "another window was active for a moment: " << ::testing::PrintToString(changes) << " of "
      << ::testing::PrintToString(windowIDs) << "\n"
      << session->log("quorvel");
  ASSERT_EQ(::kill(pid, SIGTERM), 0);
  EXPECT_EQ(exitStatus(pid, 20s), 0) << session->log("quorvel");
}

// The window managers as a new user has them, their key bindings kept (openbox's Alt+Escape,
// Alt+Space and Ctrl+Alt+Tab; metacity's and IceWM's Alt+Escape; i3's Alt+Space and Alt+letters).
// While the overlay is up it holds the whole keyboard, so none of them takes a key typed to it.
class QuorvelUnderStockManagerTest : public QuorvelProgramTest,
                                     public ::testing::WithParamInterface<X11Session::Manager> {
 protected:
  X11Session::Options sessionOptions() const override {
    X11Session::Options options;
    options.manager = GetParam();
    options.stock = true;
    return options;
  }
};

// The shortcut is one the manager leaves free: Alt+K, or Ctrl+Alt+K under i3 (which binds Alt+K),
// so that the search also runs with Ctrl held. Each round summons, steps with Tab, and sends
// Escape and the release of the shortcut's modifiers at once: the switcher cancels and nothing
// comes forward. Then Space and letters with the modifiers still held search, and the release
// brings the match forward.
TEST_P(QuorvelUnderStockManagerTest, EscapeWithTheModifiersHeldCancelsAndSpaceSearches) {
  const bool withControl = GetParam() == X11Session::Manager::i3;
  const uint64_t flags = shortcutFlags(withControl);
  ActiveWindowLog active(session->display());
  const pid_t pid = startQuorvelAndUseWindows(
      R"("hotkeyBinding1": {"keyCode": 40, "flags": )" + std::to_string(flags) + "}");
  ASSERT_GT(pid, 0) << session->log("quorvel");
  const uint8_t alt = keycodeOf(0xffe9), control = keycodeOf(0xffe3), k = keycodeOf(0x6b), tab = keycodeOf(0xff09),
                escape = keycodeOf(0xff1b), space = keycodeOf(0x20), z = keycodeOf(0x7a), u = keycodeOf(0x75);
  ASSERT_TRUE(alt && control && k && tab && escape && space && z && u);
  std::vector<std::pair<uint8_t, bool>> hold{{alt, true}}, letGo{{alt, false}};
  if (withControl) {
    hold.insert(hold.begin(), std::make_pair(control, true));
    letGo.push_back(std::make_pair(control, false));
  }
  auto summon = [&] {
    std::vector<std::pair<uint8_t, bool>> keys = hold;
    keys.insert(keys.end(), {{k, true}, {k, false}});
    fakeKeys(keys);
    // The overlay has the focus, and the keyboard grab it asks for at its next turn when another
    // client held the keyboard at its first ask: keys typed before that reach the manager's bindings.
    return X11Session::waitUntil([&] { return overlayHasFocus() && keyboardHeldElsewhere(); }, 30s);
  };
  const uint32_t front = windowIDs.back();
  ASSERT_EQ(desktops->activeWindow(), front);
  const size_t mark = active.mark();
  // IceWM asks for Shift+Escape itself: fifty summons there, and not one line about Escape.
  const int rounds = GetParam() == X11Session::Manager::icewm ? 50 : 25;
  int committed = 0, stayed = 0;
  for (int round = 0; round < rounds; ++round) {
    ASSERT_TRUE(summon()) << "round " << round << ": the overlay did not take the keyboard\n"
                          << session->log("quorvel");
    std::vector<std::pair<uint8_t, bool>> keys{{tab, true}, {tab, false}, {escape, true}, {escape, false}};
    keys.insert(keys.end(), letGo.begin(), letGo.end());
    fakeKeys(keys);
    if (!X11Session::waitUntil([&] { return !mappedOverlay(); }, 10s)) {
      ++stayed;
      fakeKeys({{escape, true}, {escape, false}});
      ASSERT_TRUE(X11Session::waitUntil([&] { return !mappedOverlay(); }, 10s)) << "round " << round;
    }
    if (desktops->activeWindow() != front) {
      ++committed;
      ASSERT_TRUE(activate(front));
    }
  }
  EXPECT_EQ(committed + stayed, 0) << committed << " of " << rounds << " rounds brought another window forward, "
                                   << stayed << " left the switcher up";
  // (metacity names a window of its own active while the overlay has the focus: only the windows
  // to switch between count.)
  const std::vector<uint32_t> changes = active.since(mark);
  EXPECT_EQ(std::count_if(changes.begin(), changes.end(),
                          [&](uint32_t v) {
                            return v != front && std::find(windowIDs.begin(), windowIDs.end(), v) != windowIDs.end();
                          }),
            0)
      << "another window was active for a moment: " << ::testing::PrintToString(changes) << " of "
      << ::testing::PrintToString(windowIDs) << "\n"
      << session->log("quorvel");
  EXPECT_EQ(session->log("quorvel").find("taken by another program"), std::string::npos) << session->log("quorvel");

  // Space, then letters, with the shortcut's modifiers still held: "zu" leaves "zulu xterm" alone,
  // and Return brings it forward.
  const size_t logged = logMark();
  ASSERT_TRUE(summon()) << session->log("quorvel");
  fakeKeys({{space, true}, {space, false}, {z, true}, {z, false}, {u, true}, {u, false}});
  EXPECT_TRUE(waitForLogSince(logged, ", 1 cards in 1 places", 10s)) << "the cards did not narrow to one\n"
                                                                      << session->log("quorvel").substr(logged);
  const uint8_t enter = keycodeOf(0xff0d);
  fakeKeys({{enter, true}, {enter, false}});
  EXPECT_TRUE(X11Session::waitUntil([&] { return desktops->activeWindow() == windowIDs[1]; }, 10s))
      << session->log("quorvel").substr(logged);
  fakeKeys(letGo);
  ASSERT_TRUE(X11Session::waitUntil([&] { return !mappedOverlay(); }, 10s));

  // Tab steps: a summon, one Tab and the release bring another window forward.
  ASSERT_TRUE(activate(front));
  ASSERT_TRUE(summon()) << session->log("quorvel");
  std::vector<std::pair<uint8_t, bool>> step{{tab, true}, {tab, false}};
  step.insert(step.end(), letGo.begin(), letGo.end());
  fakeKeys(step);
  EXPECT_TRUE(X11Session::waitUntil([&] { return !mappedOverlay() && desktops->activeWindow() != front; }, 10s))
      << session->log("quorvel");
  ASSERT_EQ(::kill(pid, SIGTERM), 0);
  EXPECT_EQ(exitStatus(pid, 20s), 0) << session->log("quorvel");
}

INSTANTIATE_TEST_SUITE_P(Managers, QuorvelUnderStockManagerTest,
                         ::testing::Values(X11Session::Manager::openbox, X11Session::Manager::metacity,
                                           X11Session::Manager::icewm, X11Session::Manager::i3),
                         [](const auto& info) { return std::string(X11Session::name(info.param)); });

// Openbox, metacity and IceWM as they come hold Alt+Tab. The user closes the "Shortcut needed"
// window and then does what the advice says (openbox: a copy of the system's rc.xml without the
// binding, and a reconfigure; metacity: the two gsettings commands, and its restart; IceWM: its
// commands, run as they stand): at the next ask the shortcut is the program's, the log says so, and
// Alt+Tab summons.
class QuorvelStockShortcutTest : public QuorvelUnderStockManagerTest {
 protected:
  X11Session::Options sessionOptions() const override {
    X11Session::Options options = QuorvelUnderStockManagerTest::sessionOptions();
    options.sessionBus = GetParam() == X11Session::Manager::metacity;
    return options;
  }
  // Frees Alt+Tab as the advice says.
  void freeAltTab() {
    if (GetParam() == X11Session::Manager::icewm) {
      // The advice's commands, each on a line of its own in the log, typed into a shell.
      const std::string log = session->log("quorvel");
      size_t at = log.find("Alt+Tab is held by the window manager, IceWM.");
      ASSERT_NE(at, std::string::npos);
      std::vector<std::string> commands;
      while (commands.empty() || commands.back() != "icewm -r") {
        at = log.find("\n    ", at);
        ASSERT_NE(at, std::string::npos) << log;
        at += 5;
        commands.push_back(log.substr(at, log.find('\n', at) - at));
      }
      for (const std::string& command : commands) ASSERT_TRUE(session->runTool({"sh", "-c", command})) << command;
      return;
    }
    if (GetParam() == X11Session::Manager::metacity) {
      for (const char* key : {"switch-applications", "switch-applications-backward"}) {
        ASSERT_TRUE(session->runTool({"gsettings", "set", "org.gnome.desktop.wm.keybindings", key, "[]"}));
      }
      // A running metacity lets go of nothing when a binding becomes empty: it reads the change
      // when it starts again.
      ASSERT_GT(session->launchProgram("metacity", {"metacity", "--replace"}), 0);
      return;
    }
    std::ifstream system("/etc/xdg/openbox/rc.xml");
    std::string rc((std::istreambuf_iterator<char>(system)), std::istreambuf_iterator<char>());
    const size_t bind = rc.find("<keybind key=\"A-Tab\">");
    ASSERT_NE(bind, std::string::npos);
    const size_t end = rc.find("</keybind>", bind);
    ASSERT_NE(end, std::string::npos);
    rc.erase(bind, end + std::string("</keybind>").size() - bind);
    std::filesystem::create_directories(session->folder() + "/config/openbox");
    std::ofstream(session->folder() + "/config/openbox/rc.xml") << rc;
    ASSERT_TRUE(session->runTool({"openbox", "--reconfigure"}));
  }
};

TEST_P(QuorvelStockShortcutTest, AShortcutFreedAsTheAdviceSaysComesBackByItself) {
  const pid_t pid = startQuorvel();
  ASSERT_GT(pid, 0);
  const std::string manager = GetParam() == X11Session::Manager::metacity ? "Metacity"
                              : GetParam() == X11Session::Manager::icewm  ? "IceWM"
                                                                          : "Openbox";
  ASSERT_TRUE(waitForLog("Alt+Tab is held by the window manager, " + manager + ". In " + manager + ","))
      << session->log("quorvel");
  std::optional<uint32_t> needed;
  ASSERT_TRUE(X11Session::waitUntil([&] { return (needed = windowTitled("Shortcut needed")).has_value(); }, 30s))
      << session->log("quorvel");
  ASSERT_TRUE(actions->close(*needed));
  ASSERT_TRUE(X11Session::waitUntil([&] { return !windowTitled("Shortcut needed"); }, 10s));

  const size_t mark = logMark();
  freeAltTab();
  if (HasFatalFailure()) return;
  // The next ask (they come every 2 s) finds it free, and the look a moment later takes it; no
  // window is on screen to ask sooner.
  ASSERT_TRUE(waitForLogSince(mark, "Alt+Tab was let go of by the program that held it; the shortcut works now", 10s))
      << session->log("quorvel").substr(mark);
  type({"keydown", "Alt_L", "key", "Tab"});
  EXPECT_TRUE(X11Session::waitUntil([&] { return mappedOverlay().has_value(); }, 30s)) << session->log("quorvel");
  type({"keyup", "Alt_L"});
  ASSERT_EQ(::kill(pid, SIGTERM), 0);
  EXPECT_EQ(exitStatus(pid, 20s), 0) << session->log("quorvel");
}

// Openbox started with a file of its own that binds no key (the session's), while the system's
// rc.xml binds Alt+Tab, and a client holding Alt+Tab: the advice reads the file on openbox's
// command line and names the other program, so nothing it says touches openbox's bindings.
TEST_F(QuorvelProgramTest, AKeyHeldBesideAManagerStartedWithAFileOfItsOwnIsAnotherProgramsKey) {
  ASSERT_TRUE(x().check(xcb_grab_key_checked(x().xcb(), 0, x().root(), XCB_MOD_MASK_1, keycodeOf(0xff09),
                                             XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)));
  ASSERT_GT(startQuorvel(), 0);
  EXPECT_TRUE(waitForLog("Alt+Tab is held by another program, not by the window manager: Openbox's own key "
                         "bindings leave it free."))
      << session->log("quorvel");
}

// The X server dies while the switcher is on screen and its render thread is drawing: the program
// ends on its own, by exiting rather than by a crash, with nothing read after it was freed, and its
// log ends as every end does, once, with the status it ended with.
TEST_F(QuorvelProgramTest, TheXServerDyingWithTheSwitcherUpEndsTheProgramCleanly) {
  const pid_t pid = startQuorvelAndUseWindows();
  ASSERT_GT(pid, 0) << session->log("quorvel");
  type({"keydown", "Alt_L", "key", "Tab"});
  ASSERT_TRUE(X11Session::waitUntil([&] { return mappedOverlay().has_value(); }, 30s)) << session->log("quorvel");
  ASSERT_TRUE(X11Session::waitUntil([&] { return drawnShare() > 0.1; }, 20s)) << "drawn: " << drawnShare();
  ASSERT_TRUE(session->killServer());
  const std::optional<int> status = exitStatus(pid, 30s);
  const std::string log = session->log("quorvel");
  ASSERT_TRUE(status.has_value()) << "the program did not exit (it crashed or hangs)\n" << log;
  EXPECT_NE(log.find("Quorvel ends: the toolkit ends the process"), std::string::npos) << log;
  const std::string ended = "Quorvel has ended (status " + std::to_string(*status) + ")";
  const size_t at = log.find(ended);
  EXPECT_NE(at, std::string::npos) << log;
  EXPECT_EQ(log.find("Quorvel has ended", at + 1), std::string::npos) << "said twice\n" << log;
  // (A process the toolkit ends from its event loop leaves the toolkit's own memory unfreed: leaks
  // are not what is looked for here.)
  EXPECT_EQ(log.find("ERROR: AddressSanitizer"), std::string::npos) << log;
  EXPECT_EQ(log.find("runtime error"), std::string::npos) << log;
}

// The GPU holds a frame up as the program ends (the render thread's submissions and presents take
// a second, or never return, from a frame that has truly begun to wait) while the switcher draws,
// or it stops completing work at all (its device and queue waits never return): the program
// neither crashes nor waits for good. It ends within seconds, with the status of its end, nothing
// read after it was freed, and the end's line last in its log; a frame that never returns is named
// there. The end by a signal and the end by the X server going away are one and the same.
TEST_F(QuorvelProgramTest, AFrameTheGpuHoldsUpAsTheProgramEndsNeitherCrashesItNorHoldsItUp) {
  struct Case {
    const char* stall;  // the render thread's; none: the device's waits never return instead
    bool serverDies;    // else SIGTERM
    int status;
  };
  const std::string stallFile = session->folder() + "/stall";
  const std::string heldFile = stallFile + ".held";
  for (const Case& c : {Case{"1000", false, 0}, Case{"forever", false, 0}, Case{nullptr, false, 0},
                        Case{"forever", true, 1}}) {
    SCOPED_TRACE(std::string(c.stall ? c.stall : "device waits") + (c.serverDies ? ", the X server dies" : ", SIGTERM"));
    std::filesystem::remove(stallFile);
    std::filesystem::remove(heldFile);
    const size_t mark = logMark();
    std::vector<std::string> environment = preloaded(QUORVEL_VULKAN_STALL);
    environment.push_back("QUORVEL_STALL_FILE=" + stallFile);
    environment.push_back("QUORVEL_STALL_THREAD=quorvel.render");
    if (!c.stall) environment.push_back("QUORVEL_STALL_DEVICE_WAIT=forever");
    const pid_t pid = startQuorvelAndUseWindows("", environment);
    ASSERT_GT(pid, 0) << session->log("quorvel").substr(mark);
    type({"keydown", "Alt_L", "key", "Tab"});
    ASSERT_TRUE(X11Session::waitUntil([&] { return mappedOverlay().has_value(); }, 30s));
    ASSERT_TRUE(X11Session::waitUntil([&] { return drawnShare() > 0.1; }, 20s)) << "drawn: " << drawnShare();
    if (c.stall) {
      std::ofstream(stallFile) << c.stall;
      // A step: the render thread draws its flight, and its next submission or present waits.
      type({"key", "Tab"});
      ASSERT_TRUE(X11Session::waitUntil([&] { return fileText(heldFile).find("quorvel.render") != std::string::npos; },
                                        20s))
          << "no frame of the render thread began to wait\n" << session->log("quorvel").substr(mark);
    }
    if (c.serverDies) ASSERT_TRUE(session->killServer());
    else ASSERT_EQ(::kill(pid, SIGTERM), 0);
    const std::optional<int> status = exitStatus(pid, 20s);
    const std::string log = session->log("quorvel").substr(mark);
    ASSERT_TRUE(status.has_value()) << "the program did not exit within 20 s (it crashed or hangs)\n" << log;
    EXPECT_EQ(*status, c.status) << log;
    const std::string ended = "Quorvel has ended (status " + std::to_string(c.status) + ")\n";
    EXPECT_TRUE(log.ends_with(ended)) << "the end's line is not the last\n" << log;
    EXPECT_EQ(log.find("Quorvel has ended") + ended.size(), log.size()) << "said twice\n" << log;
    if (c.stall && std::string_view(c.stall) == "forever") {
      EXPECT_NE(log.find("net.tarmeq.quorvel.render (thread "), std::string::npos) << "the thread left is not named\n" << log;
    }
    expectNoSanitizerReport(log);
    if (c.serverDies) break;
    type({"keyup", "Alt_L"});
  }
}

// The program ends while the switcher's pictures are still being read, each read slow (as a big
// window or a busy X server makes it): the read under way finishes and those not begun are dropped,
// so no completion runs after what it calls into has gone (the still of the desktop behind the
// cards among them). The end is clean, with its status and its line last.
TEST_F(QuorvelProgramTest, AnEndWhilePicturesAreBeingReadCallsNothingThatHasGone) {
  const std::string config = session->folder() + "/config/quorvel";
  std::filesystem::create_directories(config);
  std::ofstream(config + "/defaults.json")
      << R"({"hasCompletedWelcome": true, "groupByApp": false, "windowOrder": "recent", "backdropStyle": "liveDesktop"})";
  std::vector<std::string> environment = preloaded(QUORVEL_SLOW_PICTURE_READS);
  environment.push_back("QUORVEL_SLOW_READS=500");
  const pid_t pid = startQuorvelAndUseWindows("", environment);
  ASSERT_GT(pid, 0) << session->log("quorvel");
  type({"keydown", "Alt_L", "key", "Tab"});
  ASSERT_TRUE(waitForLog("present: ", 30s)) << session->log("quorvel");
  ASSERT_EQ(::kill(pid, SIGTERM), 0);
  const std::optional<int> status = exitStatus(pid, 20s);
  type({"keyup", "Alt_L"});
  const std::string log = session->log("quorvel");
  ASSERT_TRUE(status.has_value()) << "the program did not exit within 20 s (it crashed or hangs)\n" << log;
  EXPECT_EQ(*status, 0) << log;
  EXPECT_TRUE(log.ends_with("Quorvel has ended (status 0)\n")) << log;
  // What the test is about: the end came with reads still queued.
  const std::regex dropped("window pictures stopped: ([0-9]+) reads not begun were dropped");
  std::smatch found;
  ASSERT_TRUE(std::regex_search(log, found, dropped)) << log;
  EXPECT_GT(std::stoi(found[1]), 0) << log;
  expectNoSanitizerReport(log);
}

INSTANTIATE_TEST_SUITE_P(Managers, QuorvelStockShortcutTest,
                         ::testing::Values(X11Session::Manager::openbox, X11Session::Manager::metacity,
                                           X11Session::Manager::icewm),
                         [](const auto& info) { return std::string(X11Session::name(info.param)); });

}  // namespace
}  // namespace quorvel
