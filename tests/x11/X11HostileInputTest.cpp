#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "X11PlatformTest.h"
#include "base/LogCapture.h"
#include "platform/DesktopServer.h"
#include "platform/WindowServer.h"
#include "platform/x11/X11DesktopServer.h"
#include "platform/x11/X11Displays.h"
#include "platform/x11/X11Workspace.h"
#include "platform/x11/X11Text.h"
#include "platform/x11/X11WindowServer.h"

namespace quorvel {
namespace {

// Properties any client may write onto its own windows or the root window, whatever their type,
// format or length: every read stays safe and takes only what makes sense.
class X11HostileInputTest : public X11SessionTest {
 protected:
  // A window of our own that the window manager leaves alone (never mapped).
  uint32_t ownWindow() {
    const uint32_t id = xcb_generate_id(x().xcb());
    xcb_create_window(x().xcb(), XCB_COPY_FROM_PARENT, id, x().root(), 10, 20, 300, 200, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
    return id;
  }
  void set(uint32_t window, uint32_t property, uint32_t type, uint8_t format, const void* data, size_t items) {
    xcb_change_property(x().xcb(), XCB_PROP_MODE_REPLACE, window, property, type, format,
                        static_cast<uint32_t>(items), data);
  }
  void setBytes(uint32_t window, uint32_t property, uint32_t type, const std::string& bytes) {
    set(window, property, type, 8, bytes.data(), bytes.size());
  }
  void set32(uint32_t window, uint32_t property, uint32_t type, const std::vector<uint32_t>& values) {
    set(window, property, type, 32, values.data(), values.size());
  }
  xcb_ewmh_connection_t& ewmh() { return *x().ewmh(); }
};

std::string repeated(const std::string& piece, size_t bytes) {
  std::string text;
  text.reserve(bytes + piece.size());
  while (text.size() < bytes) text += piece;
  return text;
}

TEST_F(X11HostileInputTest, TitlesOfSeveralMegabytesAreCutToValidText) {
  const std::string dash = "\xE2\x80\x94";  // three bytes: no cut at a multiple of four ends on a boundary
  const uint32_t modern = ownWindow();
  setBytes(modern, ewmh()._NET_WM_NAME, ewmh().UTF8_STRING, repeated(dash, 4u << 20));
  const uint32_t legacy = ownWindow();
  setBytes(legacy, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, std::string(3u << 20, '\xE9'));
  ASSERT_TRUE(x().sync());

  auto m = read(modern);
  ASSERT_TRUE(m);
  EXPECT_GT(m->title.size(), 1000u);
  EXPECT_LE(m->title.size(), 64u * 1024);
  EXPECT_TRUE(X11Text::isValidUtf8(reinterpret_cast<const uint8_t*>(m->title.data()), m->title.size()));
  EXPECT_EQ(m->title, repeated(dash, m->title.size())) << "the character cut in two is dropped, not replaced";

  auto l = read(legacy);
  ASSERT_TRUE(l);
  EXPECT_GT(l->title.size(), 1000u);
  EXPECT_LE(l->title.size(), 128u * 1024);
  EXPECT_EQ(l->title, repeated("\xC3\xA9", l->title.size()));
}

TEST_F(X11HostileInputTest, MalformedClassListsNameNoApplication) {
  const uint32_t single = ownWindow();
  setBytes(single, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, "OnlyOneWord");
  const uint32_t unterminated = ownWindow();
  setBytes(unterminated, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, std::string("inst\0Cls", 8));
  const uint32_t empty = ownWindow();
  setBytes(empty, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, std::string("\0\0", 2));
  const uint32_t huge = ownWindow();
  setBytes(huge, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, std::string(1u << 20, 'k'));
  const uint32_t wide = ownWindow();
  const std::vector<uint32_t> words = {0x41414141, 0x42424242};
  set(wide, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 32, words.data(), words.size());
  ASSERT_TRUE(x().sync());

  auto s = read(single);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->instanceName, "OnlyOneWord");
  EXPECT_EQ(s->className, "");
  EXPECT_EQ(s->bundleIdentifier(), std::nullopt);

  auto u = read(unterminated);
  ASSERT_TRUE(u);
  EXPECT_EQ(u->instanceName, "inst");
  EXPECT_EQ(u->className, "Cls");

  auto e = read(empty);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->className, "");
  EXPECT_EQ(e->bundleIdentifier(), std::nullopt);

  auto h = read(huge);
  ASSERT_TRUE(h);
  EXPECT_LE(h->instanceName.size(), 64u * 1024);
  EXPECT_EQ(h->className, "");

  auto w = read(wide);
  ASSERT_TRUE(w);
  EXPECT_EQ(w->instanceName, "");
  EXPECT_EQ(w->className, "");
}

TEST_F(X11HostileInputTest, ShortOrMisformattedNumbersAreIgnored) {
  // Frame extents with two values instead of four, a process id in 16-bit items, a desktop property
  // with no items, states and types in the wrong format.
  const uint32_t id = ownWindow();
  set32(id, ewmh()._NET_FRAME_EXTENTS, XCB_ATOM_CARDINAL, {50, 50});
  const uint16_t shortPid[] = {1, 1};
  set(id, ewmh()._NET_WM_PID, XCB_ATOM_CARDINAL, 16, shortPid, 2);
  set32(id, ewmh()._NET_WM_DESKTOP, XCB_ATOM_CARDINAL, {});
  setBytes(id, ewmh()._NET_WM_STATE, XCB_ATOM_ATOM, "hidden");
  set32(id, ewmh()._NET_WM_WINDOW_TYPE, XCB_ATOM_ATOM, {0, 0xFFFFFF, ewmh()._NET_WM_WINDOW_TYPE_UTILITY});
  set32(id, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, {});
  ASSERT_TRUE(x().sync());

  auto w = read(id);
  ASSERT_TRUE(w);
  EXPECT_EQ(w->frame, (X11Rect{10, 20, 300, 200}));
  EXPECT_EQ(w->pid, static_cast<int32_t>(::getpid())) << "the X server's record of our own process stands in";
  EXPECT_EQ(w->desktop, std::nullopt);
  EXPECT_FALSE(w->onAllDesktops);
  EXPECT_FALSE(w->minimized);
  EXPECT_EQ(w->type, X11Window::Type::utility) << "unknown atoms before a known type are passed over";
  EXPECT_EQ(w->transientFor, 0u);

  // Extents beyond any screen are held to what a frame can be.
  set32(id, ewmh()._NET_FRAME_EXTENTS, XCB_ATOM_CARDINAL, {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF});
  const uint32_t zeroPid = 0;
  set(id, ewmh()._NET_WM_PID, XCB_ATOM_CARDINAL, 32, &zeroPid, 1);
  ASSERT_TRUE(x().sync());
  w = read(id);
  ASSERT_TRUE(w);
  EXPECT_GE(w->frame.width, 300);
  EXPECT_GE(w->frame.height, 200);
  EXPECT_LE(w->frame.width, 300 + 2 * 65535);
  EXPECT_EQ(w->pid, static_cast<int32_t>(::getpid()));
}

TEST_F(X11HostileInputTest, WindowsDestroyedDuringAReadAreLeftOutNotReadHalf) {
  // Another client destroys nine in ten of its windows while the reader's requests about them are
  // on their way, a little later each round so that the destroys land at different points of the
  // read: every window comes back whole (title and class) or not at all, and the tenth ones come back.
  std::unique_ptr<xcb_connection_t, void (*)(xcb_connection_t*)> other(
      xcb_connect(session->display().c_str(), nullptr), xcb_disconnect);
  ASSERT_FALSE(xcb_connection_has_error(other.get()));
  xcb_connection_t* c = other.get();
  const auto roundTrip = [c] { std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)); };
  const auto survives = [](size_t index) { return index % 10 == 5; };
  for (int round = 0; round < 20; ++round) {
    std::vector<uint32_t> ids;
    for (int i = 0; i < 300; ++i) {
      const uint32_t id = xcb_generate_id(c);
      xcb_create_window(c, XCB_COPY_FROM_PARENT, id, x().root(), 0, 0, 10, 10, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                        XCB_COPY_FROM_PARENT, 0, nullptr);
      xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, ewmh()._NET_WM_NAME, ewmh().UTF8_STRING, 8, 1, "t");
      xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, 4, "c\0C");
      ids.push_back(id);
    }
    roundTrip();
    std::thread destroyer([&] {
      std::this_thread::sleep_for(std::chrono::microseconds(250 * round));
      for (size_t i = 0; i < ids.size(); ++i) {
        if (!survives(i)) xcb_destroy_window(c, ids[i]);
      }
      xcb_flush(c);
    });
    size_t kept = 0;
    for (const X11Window& w : windows->read(ids)) {
      EXPECT_TRUE(w.title == "t" && w.className == "C") << "window " << w.id << " was read after it was gone";
      kept += survives(static_cast<size_t>(std::find(ids.begin(), ids.end(), w.id) - ids.begin()));
    }
    EXPECT_EQ(kept, ids.size() / 10);
    destroyer.join();
    for (size_t i = 0; i < ids.size(); ++i) {
      if (survives(i)) xcb_destroy_window(c, ids[i]);
    }
    roundTrip();
    ASSERT_FALSE(HasFailure()) << "round " << round;
  }
}

// The same on the root window, where the window manager keeps its lists, read through the services.
class X11HostileRootTest : public X11PlatformTest {
 protected:
  void set32(uint32_t property, uint32_t type, const std::vector<uint32_t>& values) {
    xcb_change_property(x().xcb(), XCB_PROP_MODE_REPLACE, x().root(), property, type, 32,
                        static_cast<uint32_t>(values.size()), values.data());
  }
  xcb_ewmh_connection_t& ewmh() { return *x().ewmh(); }
};

TEST_F(X11HostileRootTest, ClientListsWithRepeatsAndDeadIdsGiveEachLiveWindowOnce) {
  const uint32_t a = launch({"--title", "A"});
  const uint32_t b = launch({"--title", "B"});
  ASSERT_TRUE(a && b);
  const uint32_t dead = xcb_generate_id(x().xcb());
  set32(ewmh()._NET_CLIENT_LIST, XCB_ATOM_WINDOW, {a, 0, b, a, dead, b});
  set32(ewmh()._NET_CLIENT_LIST_STACKING, XCB_ATOM_WINDOW, {a, b, 0, a, dead});
  ASSERT_TRUE(x().sync());

  EXPECT_EQ(windows->clientList(), (std::vector<uint32_t>{a, b, dead}));
  EXPECT_EQ(windows->frontToBack(), (std::vector<uint32_t>{dead, a, b}));
  std::vector<uint32_t> read;
  for (const X11Window& w : windows->readAll()) read.push_back(w.id);
  EXPECT_EQ(read, (std::vector<uint32_t>{a, b}));
  const auto list = platform->windowServer().onScreenWindows();
  ASSERT_TRUE(list);
  EXPECT_EQ(list->size(), 2u);
  const auto onFirst = platform->desktopServer().copyWindowsOnSpace(1, 7);
  ASSERT_TRUE(onFirst);
  EXPECT_EQ(*onFirst, (std::vector<uint32_t>{a, b}));
}

TEST_F(X11HostileRootTest, AClientListOfSixtyFiveThousandIdsCostsOneRequestEachOnceAndIsCut) {
  const uint32_t a = launch({"--title", "A"});
  const uint32_t b = launch({"--title", "B"});
  ASSERT_TRUE(a && b);
  WindowServer& windowServer = platform->windowServer();
  ASSERT_TRUE(X11Session::waitUntil([&] {
    const auto list = windowServer.onScreenWindows();
    return list && list->size() == 2;
  }));
  auto listedIds = [&] {
    std::vector<uint32_t> ids;
    for (const RunningApplication& app : platform->workspace().runningApplications()) ids.push_back(app.pid);
    return ids.size();
  };

  // The two real windows, then ids that name no window (X ids never set their top three bits).
  std::vector<uint32_t> hostile{a, b};
  for (uint32_t i = 0; hostile.size() < 65536; ++i) hostile.push_back(0x7F000000u + i);
  LogCapture capture;
  X11Connection& reader = platform->connection();
  const uint64_t before = reader.absorbedErrorCount();
  set32(ewmh()._NET_CLIENT_LIST, XCB_ATOM_WINDOW, hostile);
  ASSERT_TRUE(x().sync());

  // Whoever reads first (the platform's own thread reads on the change), every id costs at most
  // its one failed request, and only the first 4096 are looked at.
  EXPECT_EQ(listedIds(), 2u);
  const auto list = windowServer.onScreenWindows();
  ASSERT_TRUE(list);
  EXPECT_EQ(list->size(), 2u);
  const uint64_t firstCost = reader.absorbedErrorCount() - before;
  EXPECT_LE(firstCost, X11WindowReader::kMaxListedWindows) << "failed requests for the first reads";

  // Until the list changes, the ids found to be no windows cost nothing more.
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(listedIds(), 2u);
    EXPECT_EQ(windowServer.onScreenWindows()->size(), 2u);
  }
  EXPECT_EQ(reader.absorbedErrorCount() - before, firstCost);

  // A changed list is looked at again, still cut, with no second log line.
  std::swap(hostile[0], hostile[1]);
  set32(ewmh()._NET_CLIENT_LIST, XCB_ATOM_WINDOW, hostile);
  ASSERT_TRUE(x().sync());
  EXPECT_EQ(listedIds(), 2u);
  EXPECT_LE(reader.absorbedErrorCount() - before, firstCost + X11WindowReader::kMaxListedWindows);
  EXPECT_EQ(platform->workspace().runningApplications().size(), 2u);
  size_t cutLines = 0;
  for (const std::string& line : capture.messages("X11WindowReader")) {
    cutLines += line == "The root window's list _NET_CLIENT_LIST names more than 4096 windows; only the first 4096 "
                        "are read.";
  }
  EXPECT_EQ(cutLines, 1u);
  EXPECT_EQ(capture.messages("X11WindowReader").size(), 1u);

  // Back to a real list: read as it stands.
  set32(ewmh()._NET_CLIENT_LIST, XCB_ATOM_WINDOW, {b, a});
  ASSERT_TRUE(x().sync());
  EXPECT_EQ(windows->clientList(), (std::vector<uint32_t>{b, a}));
  EXPECT_EQ(listedIds(), 2u);
}

TEST_F(X11HostileRootTest, ImpossibleDesktopNumbersAndShortListsAreNotBelieved) {
  const uint32_t stray = launch({"--title", "stray"});
  ASSERT_NE(stray, 0u);
  DesktopServer& desktopServer = platform->desktopServer();

  // A window that claims a desktop the window manager does not have is on none of them.
  const uint32_t far[] = {40};
  xcb_change_property(x().xcb(), XCB_PROP_MODE_REPLACE, stray, ewmh()._NET_WM_DESKTOP, XCB_ATOM_CARDINAL, 32, 1, far);
  ASSERT_TRUE(x().sync());
  const auto spaces = desktopServer.copySpacesForWindows({stray}, 7);
  ASSERT_TRUE(spaces);
  EXPECT_TRUE(spaces->empty());

  // Four thousand million desktops: the count reads as unknown, not as a list to build.
  set32(ewmh()._NET_NUMBER_OF_DESKTOPS, XCB_ATOM_CARDINAL, {0xFFFFFFFF});
  ASSERT_TRUE(x().sync());
  EXPECT_FALSE(desktopServer.isAvailable(DesktopServer::Group::spaces));
  EXPECT_FALSE(desktopServer.copyManagedDisplaySpaces());

  // A current desktop or active window of the wrong type reads as unknown.
  set32(ewmh()._NET_NUMBER_OF_DESKTOPS, XCB_ATOM_CARDINAL, {4});
  xcb_change_property(x().xcb(), XCB_PROP_MODE_REPLACE, x().root(), ewmh()._NET_CURRENT_DESKTOP, XCB_ATOM_STRING, 8,
                      1, "2");
  xcb_change_property(x().xcb(), XCB_PROP_MODE_REPLACE, x().root(), ewmh()._NET_ACTIVE_WINDOW, XCB_ATOM_CARDINAL, 32,
                      1, &stray);
  ASSERT_TRUE(x().sync());
  const auto topology = desktopServer.copyManagedDisplaySpaces();
  ASSERT_TRUE(topology);
  ASSERT_EQ(topology->size(), 1u);
  EXPECT_EQ(topology->front().spaces.size(), 4u);
  EXPECT_EQ(topology->front().currentSpaceID, std::nullopt);
  EXPECT_EQ(platform->workspace().frontmostApplication(), std::nullopt);

  // A work area too short for the current desktop says nothing about the screen.
  set32(ewmh()._NET_CURRENT_DESKTOP, XCB_ATOM_CARDINAL, {3});
  set32(ewmh()._NET_WORKAREA, XCB_ATOM_CARDINAL, {0, 0, 100});
  ASSERT_TRUE(x().sync());
  const std::vector<ScreenInfo> screens = platform->displays().screens();
  ASSERT_EQ(screens.size(), 1u);
  EXPECT_EQ(screens[0].visibleFrame, screens[0].frame);
}

}  // namespace
}  // namespace quorvel
