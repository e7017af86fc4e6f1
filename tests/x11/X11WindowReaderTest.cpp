#include "platform/x11/X11WindowReader.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "X11SessionTest.h"

namespace quorvel {
namespace {

using X11WindowReaderTest = X11SessionTest;

const X11Window* find(const std::vector<X11Window>& windows, uint32_t id) {
  auto it = std::find_if(windows.begin(), windows.end(), [&](const X11Window& w) { return w.id == id; });
  return it == windows.end() ? nullptr : &*it;
}

TEST_F(X11WindowReaderTest, EveryWindowIsListedWithTitleClassProcessFrameAndDesktop) {
  pid_t clientPid = 0, xtermPid = 0;
  const uint32_t client = launch({"--title", "R\xC3\xA9sum\xC3\xA9 \xE2\x80\x94 draft", "--class", "alpha,AlphaApp",
                                  "--geometry", "400x300+100+120"},
                                 &clientPid);
  const std::optional<uint32_t> xterm = session->launchXterm("plain xterm", "XTermTest", &xtermPid);
  ASSERT_NE(client, 0u);
  ASSERT_TRUE(xterm) << session->log("xterm");

  const std::vector<X11Window> all = windows->readAll();
  const X11Window* a = find(all, client);
  const X11Window* t = find(all, *xterm);
  ASSERT_TRUE(a);
  ASSERT_TRUE(t);

  EXPECT_EQ(a->title, "R\xC3\xA9sum\xC3\xA9 \xE2\x80\x94 draft");
  EXPECT_EQ(a->instanceName, "alpha");
  EXPECT_EQ(a->className, "AlphaApp");
  EXPECT_EQ(a->applicationName(), "AlphaApp");
  EXPECT_EQ(a->bundleIdentifier(), "x11.alphaapp");
  EXPECT_EQ(a->pid, clientPid);
  EXPECT_EQ(a->desktop, 0u);
  EXPECT_FALSE(a->onAllDesktops);
  EXPECT_TRUE(a->isViewable);
  EXPECT_EQ(a->type, X11Window::Type::normal);
  EXPECT_EQ(a->layer, 0);
  EXPECT_FALSE(a->minimized);

  // The frame holds the decorations: the client asked for its frame's corner at (100, 120) and its
  // own size is 400 x 300 inside the extents the window manager reports.
  auto extents = x().property(client, x().ewmh()->_NET_FRAME_EXTENTS);
  ASSERT_TRUE(extents);
  const std::vector<uint32_t> e = extents->values32();
  ASSERT_EQ(e.size(), 4u);
  EXPECT_GT(e[2], 0u) << "openbox draws a title bar";
  EXPECT_EQ(a->frame, (X11Rect{100, 120, static_cast<int32_t>(400 + e[0] + e[1]),
                               static_cast<int32_t>(300 + e[2] + e[3])}));

  // xterm names itself through WM_NAME only.
  EXPECT_EQ(t->title, "plain xterm");
  EXPECT_EQ(t->className, "XTermTest");
  EXPECT_EQ(t->bundleIdentifier(), "x11.xtermtest");
  EXPECT_EQ(t->pid, xtermPid);
  EXPECT_EQ(t->desktop, 0u);
  EXPECT_GE(t->frame.width, 100);
  EXPECT_GE(t->frame.height, 100);
}

TEST_F(X11WindowReaderTest, LegacyLatin1TitleAndAProcessIdTheClientDoesNotGive) {
  pid_t pid = 0;
  const uint32_t id = launch({"--title", "Caf\xE9 \xBD", "--legacy-title", "--no-pid"}, &pid);
  ASSERT_NE(id, 0u);
  auto w = read(id);
  ASSERT_TRUE(w);
  EXPECT_EQ(w->title, "Caf\xC3\xA9 \xC2\xBD");
  // The X server knows the local client's process.
  EXPECT_EQ(w->pid, pid);
}

TEST_F(X11WindowReaderTest, StatesAndTypesAreRead) {
  const uint32_t dialog = launch({"--title", "dialog", "--type", "dialog", "--state", "SKIP_TASKBAR,ABOVE"});
  const uint32_t palette = launch({"--title", "palette", "--type", "utility"});
  const uint32_t full = launch({"--title", "full", "--state", "FULLSCREEN"});
  ASSERT_NE(dialog, 0u);
  ASSERT_NE(palette, 0u);
  ASSERT_NE(full, 0u);

  auto d = read(dialog);
  ASSERT_TRUE(d);
  EXPECT_EQ(d->type, X11Window::Type::dialog);
  EXPECT_EQ(d->layer, 0);
  EXPECT_TRUE(d->skipTaskbar);
  EXPECT_TRUE(d->above);
  EXPECT_FALSE(d->fullscreen);

  auto p = read(palette);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->type, X11Window::Type::utility);
  EXPECT_NE(p->layer, 0);

  EXPECT_TRUE(eventually(full, [](const X11Window& w) { return w.fullscreen; }));
  // A full-screen window has no decorations and covers its monitor.
  EXPECT_TRUE(eventually(full, [](const X11Window& w) { return w.frame == X11Rect{0, 0, 1920, 1080}; }))
      << read(full)->frame.x << "," << read(full)->frame.y << " " << read(full)->frame.width << "x"
      << read(full)->frame.height;
}

TEST_F(X11WindowReaderTest, StackingIsFrontToBackAndReadAllFollowsIt) {
  const uint32_t a = launch({"--title", "A"});
  const uint32_t b = launch({"--title", "B"});
  const uint32_t c = launch({"--title", "C"});
  ASSERT_TRUE(a && b && c);

  ASSERT_TRUE(actions->activate(a));
  ASSERT_TRUE(X11Session::waitUntil([&] { return !windows->frontToBack().empty() && windows->frontToBack()[0] == a; }));
  // The window manager restacks before it names the new active window.
  EXPECT_TRUE(X11Session::waitUntil([&] { return desktops->activeWindow() == a; }));
  ASSERT_TRUE(actions->activate(b, x().serverTime()));
  ASSERT_TRUE(X11Session::waitUntil([&] { return windows->frontToBack()[0] == b; }));

  EXPECT_EQ(windows->frontToBack(), (std::vector<uint32_t>{b, a, c}));
  std::vector<uint32_t> readOrder;
  for (const X11Window& w : windows->readAll()) readOrder.push_back(w.id);
  EXPECT_EQ(readOrder, (std::vector<uint32_t>{b, a, c}));
  // The client list keeps the order in which the windows came.
  EXPECT_EQ(windows->clientList(), (std::vector<uint32_t>{a, b, c}));
}

TEST_F(X11WindowReaderTest, WindowsThatAreGoneAreLeftOut) {
  const uint32_t live = launch({"--title", "live"});
  ASSERT_NE(live, 0u);
  // A window of our own, destroyed at once: its id names nothing any more.
  const uint32_t gone = xcb_generate_id(x().xcb());
  xcb_create_window(x().xcb(), XCB_COPY_FROM_PARENT, gone, x().root(), 0, 0, 10, 10, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                    XCB_COPY_FROM_PARENT, 0, nullptr);
  xcb_destroy_window(x().xcb(), gone);
  ASSERT_TRUE(x().sync());

  const uint64_t errorsBefore = x().absorbedErrorCount();
  const std::vector<X11Window> read = windows->read(std::vector<uint32_t>{gone, live, 0xDEAD});
  ASSERT_EQ(read.size(), 1u);
  EXPECT_EQ(read[0].id, live);
  EXPECT_FALSE(windows->read(gone).has_value());
  EXPECT_GT(x().absorbedErrorCount(), errorsBefore);
  ASSERT_TRUE(x().lastAbsorbedError());
  EXPECT_EQ(x().lastAbsorbedError()->code, XCB_WINDOW);
}

TEST_F(X11WindowReaderTest, PropertiesOfTheWrongTypeReadAsMissing) {
  const uint32_t id = launch({"--title", "typed", "--class", "typed,Typed"});
  ASSERT_NE(id, 0u);
  // Another client writes nonsense into the window's properties.
  const uint32_t numbers[] = {1, 2, 3};
  xcb_change_property(x().xcb(), XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_CLASS, XCB_ATOM_CARDINAL, 32, 3, numbers);
  xcb_change_property(x().xcb(), XCB_PROP_MODE_REPLACE, id, x().ewmh()->_NET_WM_DESKTOP, XCB_ATOM_STRING, 8, 3, "one");
  xcb_change_property(x().xcb(), XCB_PROP_MODE_REPLACE, id, x().ewmh()->_NET_FRAME_EXTENTS, XCB_ATOM_CARDINAL, 8, 2,
                      "ab");
  const uint32_t huge[] = {0xFFFFFFFF};
  xcb_change_property(x().xcb(), XCB_PROP_MODE_REPLACE, id, x().ewmh()->_NET_WM_PID, XCB_ATOM_CARDINAL, 32, 1, huge);
  ASSERT_TRUE(x().sync());

  auto w = read(id);
  ASSERT_TRUE(w);
  EXPECT_EQ(w->title, "typed");
  EXPECT_EQ(w->className, "");
  EXPECT_EQ(w->bundleIdentifier(), std::nullopt);
  EXPECT_EQ(w->desktop, std::nullopt);
  EXPECT_FALSE(w->onAllDesktops);
  // No usable pid property: the X server's own knowledge of the client stands in.
  ASSERT_TRUE(w->pid);
  EXPECT_GT(*w->pid, 0);
}

}  // namespace
}  // namespace quorvel
