#include "actions/Activator.h"

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <unistd.h>

#include <cstdlib>
#include <mutex>

#include "X11PlatformTest.h"
#include "ax/AXFunnel.h"
#include "base/DefaultsStore.h"
#include "base/LogCapture.h"
#include "platform/Accessibility.h"
#include "platform/Workspace.h"
#include "platform/x11/X11Backend.h"
#include "platform/x11/X11Element.h"
#include "platform/x11/X11Observer.h"
#include "platform/x11/X11OwnApplication.h"
#include "platform/x11/X11Pointer.h"
#include "settings/AppSettings.h"
#include "tabs/TabActivation.h"
#include "tabs/TabAdapter.h"
#include "tabs/TabWalker.h"
#include "windows/ActivatorHooks.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;

Task<void> closeWindow(const WindowActions& actions, AXHandleRef window, bool* done) {
  co_await actions.close(std::move(window));
  *done = true;
}

// The activator over the whole X11 platform, in a private session with openbox.
class X11ActivatorTest : public X11PlatformTest {
 protected:
  void SetUp() override {
    X11PlatformTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    settings.registerDefaults();
    funnel = std::make_unique<AXFunnel>(*runtime);
    nudges = std::make_unique<TabAdapter::NudgeRecord>(platform->services().accessibility, runtime->clock());
    walker = std::make_unique<TabWalker>(platform->services().accessibility, *nudges);
    tabs = std::make_unique<TabActivation>(platform->services().accessibility, *walker);
    hooks.setDidRaiseWindow([this](uint32_t window, int32_t) {
      std::lock_guard lock(mutex);
      raised.push_back(window);
    });
    activator = std::make_unique<Activator>(
        ActivatorServices{*runtime, platform->services(), *funnel, settings, *tabs, hooks});
  }
  void TearDown() override {
    activator.reset();
    tabs.reset();
    walker.reset();
    nudges.reset();
    funnel.reset();
    X11PlatformTest::TearDown();
  }

  WindowCard cardOf(uint32_t id, WindowState state = WindowState::onCurrentSpace) {
    WindowCard card;
    const std::optional<X11Window> w = read(id);
    EXPECT_TRUE(w && w->pid);
    if (!w || !w->pid) return card;
    card.id = id;
    card.orderingID = id;
    card.title = w->title;
    card.appName = w->className;
    card.bundleID = w->bundleIdentifier();
    card.pid = *w->pid;
    card.frame = w->frame.toRect();
    card.ax = AXHandle::make(X11Element::window(*w->pid, id));
    card.state = state;
    return card;
  }
  bool wasRaised(uint32_t id) {
    std::lock_guard lock(mutex);
    return std::find(raised.begin(), raised.end(), id) != raised.end();
  }
  // Picks the card and drives the main queue until the route has reported the raise.
  bool pickAndWait(const WindowCard& card) {
    activator->pick(card);
    return runUntil([&] { return wasRaised(card.id); });
  }
  // Where `a` is in the window manager's stacking order relative to `b`: true when above.
  bool isAbove(uint32_t a, uint32_t b) {
    const std::vector<uint32_t> order = windows->frontToBack();
    auto ia = std::find(order.begin(), order.end(), a);
    auto ib = std::find(order.begin(), order.end(), b);
    return ia != order.end() && ib != order.end() && ia < ib;
  }
  std::optional<std::pair<int, int>> pointer() {
    auto reply = x().reply(xcb_query_pointer_reply, xcb_query_pointer(x().xcb(), x().root()));
    if (!reply) return std::nullopt;
    return std::make_pair(int(reply->root_x), int(reply->root_y));
  }
  void xdotool(const std::string& arguments) {
    const std::string command = "DISPLAY=" + session->display() + " xdotool " + arguments;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }

  DefaultsStore store;
  AppSettings settings{store};
  ActivatorHooks hooks;
  LogCapture logs;
  std::unique_ptr<AXFunnel> funnel;
  std::unique_ptr<TabAdapter::NudgeRecord> nudges;
  std::unique_ptr<TabWalker> walker;
  std::unique_ptr<TabActivation> tabs;
  std::unique_ptr<Activator> activator;
  std::mutex mutex;
  std::vector<uint32_t> raised;
};

TEST_F(X11ActivatorTest, ACoveredWindowOnAnotherDesktopComesToTheFront) {
  const uint32_t covered = launch({"--title", "covered", "--desktop", "2", "--geometry", "400x300+100+100"});
  const uint32_t cover = launch({"--title", "cover", "--desktop", "2", "--geometry", "400x300+100+100"});
  const uint32_t here = launch({"--title", "here"});
  ASSERT_TRUE(covered && cover && here);
  ASSERT_TRUE(eventually(cover, [](const X11Window& w) { return w.desktop == 2u; }));
  ASSERT_TRUE(activate(here));
  ASSERT_EQ(desktops->currentDesktop(), 0u);
  ASSERT_TRUE(isAbove(cover, covered));

  ASSERT_TRUE(pickAndWait(cardOf(covered, WindowState::onOtherSpace)));
  EXPECT_TRUE(X11Session::waitUntil([&] { return desktops->activeWindow() == covered; }));
  EXPECT_EQ(desktops->currentDesktop(), 2u);
  EXPECT_TRUE(X11Session::waitUntil([&] { return isAbove(covered, cover); }));
  EXPECT_TRUE(logs.contains("Window raise for " + std::to_string(covered) +
                            ": the window came forward (state=onOtherSpace)"));
}

TEST_F(X11ActivatorTest, AMinimizedWindowIsRestoredAndFocused) {
  const uint32_t shy = launch({"--title", "shy"});
  const uint32_t other = launch({"--title", "other"});
  ASSERT_TRUE(shy && other);
  ASSERT_TRUE(actions->minimize(shy));
  ASSERT_TRUE(eventually(shy, [](const X11Window& w) { return w.minimized && !w.isViewable; }));
  ASSERT_TRUE(activate(other));

  ASSERT_TRUE(pickAndWait(cardOf(shy, WindowState::minimized)));
  EXPECT_TRUE(eventually(shy, [](const X11Window& w) { return !w.minimized && w.isViewable; }));
  EXPECT_TRUE(X11Session::waitUntil([&] { return desktops->activeWindow() == shy; }));
  EXPECT_TRUE(X11Session::waitUntil([&] { return isAbove(shy, other); }));
}

TEST_F(X11ActivatorTest, TheAppIsActivatedThroughTheWindowJustRaised) {
  pid_t pid = 0;
  const uint32_t first = launch({"--title", "pair", "--windows", "2"}, &pid);
  ASSERT_NE(first, 0u);
  uint32_t second = 0;
  ASSERT_TRUE(X11Session::waitUntil([&] {
    for (const X11Window& w : windows->readAll()) {
      if (w.pid == pid && w.id != first) second = w.id;
    }
    return second != 0;
  }));
  const uint32_t other = launch({"--title", "other"});
  ASSERT_TRUE(activate(second));
  ASSERT_TRUE(activate(other));

  // The raise of the back window is followed at once by the application's activation; the
  // application must come forward through that window, not through its front one.
  ASSERT_TRUE(pickAndWait(cardOf(first)));
  EXPECT_TRUE(X11Session::waitUntil([&] { return desktops->activeWindow() == first; }));
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(desktops->activeWindow(), first);
  EXPECT_TRUE(isAbove(first, second));

  // The same two requests back to back, before the window manager can have answered the first.
  // The platform's thread must have seen the second window come forward before they are made: a
  // sighting still on its way would name the second window as the one last brought forward.
  Accessibility& accessibility = platform->services().accessibility;
  auto focused = std::make_shared<std::vector<uint32_t>>();  // main queue only
  auto [observerError, observer] = accessibility.createObserver(
      pid, [focused, &accessibility](const AXElementRef& element, const std::string&, void*) {
        if (auto number = accessibility.windowNumber(element)) focused->push_back(*number);
      });
  ASSERT_EQ(observerError, AXError::success);
  int context = 0;
  ASSERT_EQ(observer->addNotification(accessibility.applicationElement(pid), X11Observer::kFocusedWindowChanged,
                                      &context),
            AXError::success);
  observer->schedule(runtime->main());
  ASSERT_TRUE(activate(second));
  ASSERT_TRUE(runUntil([&] { return !focused->empty() && focused->back() == second; }));
  observer->unschedule();
  ASSERT_EQ(accessibility.performAction(X11Element::window(pid, first), "AXRaise"), AXError::success);
  ASSERT_TRUE(platform->services().workspace.activate(pid, false));
  EXPECT_TRUE(X11Session::waitUntil([&] { return desktops->activeWindow() == first; }));
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(desktops->activeWindow(), first);
}

TEST_F(X11ActivatorTest, ARecentWindowNoteOlderThanTheOneKeptIsIgnored) {
  X11Backend backend(X11Connection::open(session->display()));
  backend.noteRecentWindow(77, 5, 1000);
  backend.noteRecentWindow(77, 6, 900);  // an active-window change read late
  EXPECT_EQ(backend.recentWindow(77), 5u);
  backend.noteRecentWindow(77, 7, 0);  // time unknown: newer
  EXPECT_EQ(backend.recentWindow(77), 7u);
  backend.noteRecentWindow(77, 8, 0xFFFFFFF0u);
  backend.noteRecentWindow(77, 9, 0x10u);  // the server's clock wrapped around
  EXPECT_EQ(backend.recentWindow(77), 9u);
  backend.noteRecentWindow(77, 10, 0xFFFFFFF8u);
  EXPECT_EQ(backend.recentWindow(77), 9u);
  EXPECT_FALSE(backend.recentWindow(78));
}

TEST_F(X11ActivatorTest, CloseAsksTheClientToDeleteItsWindow) {
  pid_t pid = 0;
  const uint32_t closing = launch({"--title", "closing"}, &pid);
  const uint32_t staying = launch({"--title", "staying"});
  ASSERT_TRUE(closing && staying);

  bool done = false;
  spawn(runtime->main(), closeWindow(activator->windowActions(), cardOf(closing).ax, &done));
  ASSERT_TRUE(runUntil([&] { return done; }));
  // The client leaves when it receives WM_DELETE_WINDOW.
  EXPECT_TRUE(session->waitForExit(pid, 5000ms));
  EXPECT_TRUE(X11Session::waitUntil([&] {
    const auto list = windows->clientList();
    return std::find(list.begin(), list.end(), closing) == list.end();
  }));
  EXPECT_TRUE(read(staying).has_value());
}

TEST_F(X11ActivatorTest, CloseTakesAFullScreenWindowOutOfFullScreenFirst) {
  pid_t pid = 0;
  const uint32_t film = launch({"--title", "film", "--state", "FULLSCREEN"}, &pid);
  ASSERT_NE(film, 0u);
  ASSERT_TRUE(eventually(film, [](const X11Window& w) { return w.fullscreen; }));

  bool done = false;
  const auto start = std::chrono::steady_clock::now();
  spawn(runtime->main(), closeWindow(activator->windowActions(), cardOf(film).ax, &done));
  EXPECT_TRUE(runUntil([&] {
    const std::optional<X11Window> w = read(film);
    return w && !w->fullscreen;
  }));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s) << "the window left full screen only after the wait";
  ASSERT_TRUE(runUntil([&] { return done; }));
  EXPECT_TRUE(session->waitForExit(pid, 5000ms));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 1s);
}

TEST_F(X11ActivatorTest, ThePointerFollowsTheRaisedWindowUnlessAButtonIsHeld) {
  const uint32_t target = launch({"--title", "target", "--geometry", "400x300+200+150"});
  const uint32_t other = launch({"--title", "other", "--geometry", "300x200+900+500"});
  ASSERT_TRUE(target && other);
  ASSERT_TRUE(activate(other));
  store.set(AppSettings::Key::cursorFollowsFocus, true);
  ASSERT_TRUE(platform->pointer().warp(Point{5, 5}));
  EXPECT_EQ(platform->pointer().pressedButtons(), 0u);

  const WindowCard card = cardOf(target);
  ASSERT_TRUE(pickAndWait(card));
  const auto centre = std::make_pair(int(card.frame.x + card.frame.width / 2), int(card.frame.y + card.frame.height / 2));
  EXPECT_EQ(pointer(), centre);

  xdotool("mousemove 7 9 mousedown 1");
  EXPECT_TRUE(X11Session::waitUntil([&] { return platform->pointer().pressedButtons() == Pointer::kPrimaryButton; }));
  raised.clear();
  ASSERT_TRUE(pickAndWait(cardOf(other)));
  EXPECT_EQ(pointer(), std::make_pair(7, 9));
  xdotool("mouseup 1");
  EXPECT_TRUE(X11Session::waitUntil([&] { return platform->pointer().pressedButtons() == 0u; }));
}

TEST_F(X11ActivatorTest, AWindowThatIsGoneEndsWithALogLineAndNoRaise) {
  pid_t pid = 0;
  const uint32_t brief = launch({"--title", "brief"}, &pid);
  const uint32_t stays = launch({"--title", "stays"});
  ASSERT_TRUE(brief && stays);
  const WindowCard card = cardOf(brief);
  ASSERT_TRUE(actions->close(brief));
  ASSERT_TRUE(session->waitForExit(pid, 5000ms));
  ASSERT_TRUE(X11Session::waitUntil([&] { return !read(brief); }));

  activator->pick(card);
  const std::string refused = "Window raise for " + std::to_string(brief) +
                              ": refused twice, so the app is in front with its own window (state=onCurrentSpace)";
  EXPECT_TRUE(runUntil([&] { return logs.contains(refused); }));
  EXPECT_TRUE(logs.contains("AX raise refused: raise -25202, main -25202"));
  EXPECT_FALSE(wasRaised(brief));
}

TEST_F(X11ActivatorTest, OwnWindowsAreRestoredAndRaisedThroughTheWindowManager) {
  // A window of this very process, as the program's own windows are.
  xcb_connection_t* c = x().xcb();
  const uint32_t own = xcb_generate_id(c);
  const uint32_t mask[] = {x().screen()->white_pixel};
  xcb_create_window(c, XCB_COPY_FROM_PARENT, own, x().root(), 40, 40, 300, 200, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                    x().screen()->root_visual, XCB_CW_BACK_PIXEL, mask);
  const uint32_t pid = static_cast<uint32_t>(::getpid());
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, own, x().atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 32, 1, &pid);
  const std::string wmClass = std::string("quorvel") + '\0' + "Quorvel" + '\0';
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, own, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                      static_cast<uint32_t>(wmClass.size()), wmClass.data());
  xcb_map_window(c, own);
  x().flush();
  ASSERT_TRUE(eventually(own, [](const X11Window& w) { return w.isViewable; }));
  const uint32_t other = launch({"--title", "other"});
  ASSERT_NE(other, 0u);

  const std::vector<OwnWindow> listed = platform->ownApplication().windows();
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].number, own);
  ASSERT_TRUE(actions->minimize(own));
  ASSERT_TRUE(eventually(own, [](const X11Window& w) { return w.minimized; }));
  ASSERT_TRUE(activate(other));

  const WindowCard card = cardOf(own, WindowState::minimized);
  ASSERT_TRUE(activator->ownWindow(card));
  EXPECT_TRUE(activator->ownWindow(card)->isMinimized);
  ASSERT_TRUE(pickAndWait(card));
  EXPECT_TRUE(eventually(own, [](const X11Window& w) { return !w.minimized && w.isViewable; }));
  EXPECT_TRUE(X11Session::waitUntil([&] { return desktops->activeWindow() == own; }));
  EXPECT_FALSE(logs.contains("Pick " + std::to_string(own) + ": our own window, raised through the application object"));

  // Another process's window is never taken for one of ours.
  EXPECT_FALSE(platform->ownApplication().raiseAndFocus(other));
  EXPECT_FALSE(platform->ownApplication().unminimize(other));
  xcb_destroy_window(c, own);
  x().flush();
}

}  // namespace
}  // namespace quorvel
