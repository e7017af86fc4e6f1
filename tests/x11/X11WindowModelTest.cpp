#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "X11SessionTest.h"
#include "platform/x11/X11WindowModel.h"

namespace quorvel {
namespace {

// The window model on a connection of its own, with windows the test makes on its connection and
// the window manager takes on.
class X11WindowModelTest : public X11SessionTest {
 protected:
  void SetUp() override {
    X11SessionTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    modelConnection = X11Connection::open(session->display());
    ASSERT_TRUE(modelConnection);
    model = std::make_unique<X11WindowModel>(*modelConnection);
  }

  uint32_t makeWindow(const std::string& title, int16_t left, int16_t top) {
    xcb_connection_t* c = x().xcb();
    const uint32_t id = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, id, x().root(), left, top, 200, 120, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      XCB_COPY_FROM_PARENT, 0, nullptr);
    rename(id, title);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, 12, "churn\0Churn\0");
    xcb_map_window(c, id);
    xcb_flush(c);
    return id;
  }
  void rename(uint32_t id, const std::string& title) {
    xcb_change_property(x().xcb(), XCB_PROP_MODE_REPLACE, id, x().ewmh()->_NET_WM_NAME, x().ewmh()->UTF8_STRING, 8,
                        static_cast<uint32_t>(title.size()), title.data());
  }
  void move(uint32_t id, uint32_t left, uint32_t top) {
    const uint32_t values[] = {left, top};
    xcb_configure_window(x().xcb(), id, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, values);
  }
  // Waits until the model has settled: five looks in a row, 20 ms apart, send no request.
  void settle() {
    uint64_t before = modelConnection->requestCount();
    int quietLooks = 0;
    X11Session::waitUntil([&] {
      model->current();
      const uint64_t now = modelConnection->requestCount();
      quietLooks = now == before ? quietLooks + 1 : 0;
      before = now;
      return quietLooks >= 5;
    });
  }

  std::unique_ptr<X11Connection> modelConnection;
  std::unique_ptr<X11WindowModel> model;
};

std::string describe(const X11WindowModel::State& s) {
  std::ostringstream out;
  out << "active " << s.activeWindow.value_or(0) << ", desktops " << s.numberOfDesktops.value_or(0) << ", current "
      << s.currentDesktop.value_or(99) << "\n";
  for (uint32_t i : s.frontToBack) {
    const X11Window& w = s.clients[i];
    out << "  " << w.id << " '" << w.title << "' " << w.frame.x << "," << w.frame.y << " " << w.frame.width << "x"
        << w.frame.height << " desktop " << w.desktop.value_or(99) << (w.isViewable ? " viewable" : "")
        << (w.minimized ? " minimized" : "") << "\n";
  }
  return out.str();
}

bool sameSession(const X11WindowModel::State& a, const X11WindowModel::State& b) {
  return a.clients == b.clients && a.frontToBack == b.frontToBack && a.activeWindow == b.activeWindow &&
         a.numberOfDesktops == b.numberOfDesktops && a.currentDesktop == b.currentDesktop;
}

TEST_F(X11WindowModelTest, AQuietLookSendsNoRequestAndATitleChangeReadsThatWindowAlone) {
  const uint32_t a = makeWindow("first", 10, 10);
  const uint32_t b = makeWindow("second", 300, 10);
  for (int i = 0; i < 6; ++i) makeWindow("other " + std::to_string(i), static_cast<int16_t>(60 * i), 300);
  ASSERT_TRUE(X11Session::waitUntil([&] {
    const auto state = model->current();
    return state->clients.size() == 8 && state->find(a)->isViewable && state->find(b)->isViewable;
  }));
  settle();

  const uint64_t quiet = modelConnection->requestCount();
  const X11WindowModel::Snapshot before = model->current();
  EXPECT_EQ(model->current(), before) << "nothing changed, so the snapshot is the same one";
  EXPECT_EQ(modelConnection->requestCount(), quiet);

  rename(a, "renamed");
  ASSERT_TRUE(x().sync());
  ASSERT_TRUE(X11Session::waitUntil([&] { return model->current()->find(a)->title == "renamed"; }));
  const X11WindowModel::Snapshot after = model->current();
  // One window's facts: ten properties, three requests about the window itself, and its process
  // asked of the server (these windows name none); the window manager may still change its
  // stacking or focus (a request each), but the other seven windows are not read again.
  EXPECT_GE(modelConnection->requestCount() - quiet, 14u);
  EXPECT_LE(modelConnection->requestCount() - quiet, 17u);
  EXPECT_GT(after->generation, before->generation);
  EXPECT_EQ(*after->find(b), *before->find(b));
  EXPECT_EQ(before->find(a)->title, "first") << "an earlier snapshot does not change";
}

// Every active window a look reads is kept, in order, until it is asked for: a snapshot shows only
// the last one, and the event thread may ask after a later look read another.
TEST_F(X11WindowModelTest, EveryActiveWindowALookReadsIsKeptInOrder) {
  pid_t firstPid = 0, secondPid = 0;
  const uint32_t first = launch({"--title", "first"}, &firstPid);
  const uint32_t second = launch({"--title", "second"}, &secondPid);
  ASSERT_TRUE(first && second);
  ASSERT_TRUE(X11Session::waitUntil([&] { return model->current()->find(first) && model->current()->find(second); }));
  for (uint32_t id : {second, first, second}) {
    ASSERT_TRUE(actions->activate(id));
    ASSERT_TRUE(X11Session::waitUntil([&] { return model->current()->activeWindow == id; }));
  }
  std::vector<std::pair<int32_t, uint32_t>> read;
  for (const X11WindowModel::ActiveChange& change : model->takeActiveChanges()) read.emplace_back(change.pid, change.window);
  ASSERT_GE(read.size(), 2u);
  EXPECT_EQ(std::vector(read.end() - 2, read.end()),
            (std::vector<std::pair<int32_t, uint32_t>>{{firstPid, first}, {secondPid, second}}));
  EXPECT_TRUE(model->takeActiveChanges().empty());
}

TEST_F(X11WindowModelTest, DestroyedWindowsLeaveAndMovedOnesFollow) {
  const uint32_t a = makeWindow("stays", 10, 10);
  const uint32_t b = makeWindow("goes", 300, 10);
  ASSERT_TRUE(X11Session::waitUntil([&] { return model->current()->find(a) && model->current()->find(b); }));

  xcb_destroy_window(x().xcb(), b);
  move(a, 500, 400);
  ASSERT_TRUE(x().sync());
  EXPECT_TRUE(X11Session::waitUntil([&] {
    const auto state = model->current();
    // The window manager places the frame where the client asks (north-west gravity).
    return !state->find(b) && state->find(a) && state->find(a)->frame.x == 500 && state->find(a)->frame.y == 400;
  })) << describe(*model->current());
  const auto state = model->current();
  ASSERT_EQ(state->frontToBack.size(), state->clients.size());
}

TEST_F(X11WindowModelTest, ARandomChurnEndsEqualToAFreshRead) {
  std::mt19937 random(11);
  std::vector<uint32_t> live;
  int created = 0;
  for (int step = 0; step < 400; ++step) {
    const int what = live.size() < 3 ? 0 : static_cast<int>(random() % 10);
    if (what <= 1 && live.size() < 30) {
      live.push_back(makeWindow("window " + std::to_string(created++), static_cast<int16_t>(random() % 1200),
                                static_cast<int16_t>(random() % 700)));
    } else if (what <= 4) {
      rename(live[random() % live.size()], "title " + std::to_string(random() % 1000));
    } else if (what <= 6) {
      move(live[random() % live.size()], random() % 1500, random() % 800);
    } else if (what == 7) {
      actions->moveToDesktop(live[random() % live.size()], static_cast<uint32_t>(random() % 4));
    } else if (what == 8) {
      const size_t i = random() % live.size();
      xcb_destroy_window(x().xcb(), live[i]);
      live.erase(live.begin() + static_cast<std::ptrdiff_t>(i));
    } else {
      actions->activate(live[random() % live.size()]);
    }
    xcb_flush(x().xcb());
    // The model looks now and then, in the middle of whatever the window manager is doing.
    if (random() % 4 == 0) model->current();
  }
  ASSERT_TRUE(x().sync());

  std::unique_ptr<X11Connection> freshConnection = X11Connection::open(session->display());
  ASSERT_TRUE(freshConnection);
  X11WindowModel fresh(*freshConnection);
  const bool equal = X11Session::waitUntil(
      [&] {
        // Compared once the window manager has taken on every window that is left.
        fresh.reset();
        const auto read = fresh.current();
        return read->clients.size() == live.size() && sameSession(*model->current(), *read);
      },
      std::chrono::milliseconds(10000));
  EXPECT_TRUE(equal) << "kept current:\n" << describe(*model->current()) << "fresh:\n" << describe(*fresh.current());
  EXPECT_EQ(model->current()->clients.size(), live.size());
}

// The windows of a snapshot in the order they opened (by the model's numbers).
std::vector<uint32_t> byOpeningOrder(const X11WindowModel::State& s) {
  std::vector<uint32_t> indices(s.clients.size());
  for (uint32_t i = 0; i < indices.size(); ++i) indices[i] = i;
  std::sort(indices.begin(), indices.end(), [&](uint32_t a, uint32_t b) { return s.openingOrder[a] < s.openingOrder[b]; });
  std::vector<uint32_t> ids;
  for (uint32_t i : indices) ids.push_back(s.clients[i].id);
  return ids;
}

// X hands a new client the lowest free connection slot and a window's id comes from its client's
// slot, so after a client has gone the next window's id is lower than older ones'. The model keeps
// the order the windows opened in, also for a window withdrawn and managed again; a model made
// afresh (a new start) takes the window manager's client list order.
TEST_F(X11WindowModelTest, WindowsKeepTheOrderTheyOpenedInWhateverTheirIds) {
  using Ids = std::vector<uint32_t>;
  pid_t closedPid = 0;
  const uint32_t a = launch({"--title", "A"});
  const uint32_t b = launch({"--title", "B"}, &closedPid);
  const uint32_t c = launch({"--title", "C"});
  ASSERT_TRUE(a && b && c);
  ASSERT_TRUE(X11Session::waitUntil([&] { return model->current()->clients.size() == 3; }));
  ASSERT_EQ(::kill(closedPid, SIGTERM), 0);
  ASSERT_TRUE(session->waitForExit(closedPid, X11Session::kLaunchWait));
  ASSERT_TRUE(X11Session::waitUntil([&] { return !model->current()->find(b); }));
  const uint32_t e = launch({"--title", "E"});
  ASSERT_TRUE(e);
  ASSERT_LT(e, c) << "E took the connection slot B left";
  ASSERT_TRUE(X11Session::waitUntil([&] { return model->current()->find(e); }));
  EXPECT_EQ(byOpeningOrder(*model->current()), (Ids{a, c, e}));

  auto freshOrder = [&] {
    std::unique_ptr<X11Connection> connection = X11Connection::open(session->display());
    X11WindowModel fresh(*connection);
    return byOpeningOrder(*fresh.current());
  };
  EXPECT_EQ(freshOrder(), (Ids{a, c, e})) << "the client list's order";

  // Withdrawn and mapped again, A keeps its place; the window manager lists it last now.
  xcb_unmap_window(x().xcb(), a);
  ASSERT_TRUE(x().sync());
  ASSERT_TRUE(X11Session::waitUntil([&] { return !model->current()->find(a); }));
  xcb_map_window(x().xcb(), a);
  ASSERT_TRUE(x().sync());
  ASSERT_TRUE(X11Session::waitUntil([&] { return model->current()->find(a); }));
  EXPECT_EQ(byOpeningOrder(*model->current()), (Ids{a, c, e}));
  EXPECT_EQ(freshOrder(), (Ids{c, e, a}));
}

TEST_F(X11WindowModelTest, AFullPassReadsEveryWindowAgainAndChangesNothing) {
  for (int i = 0; i < 5; ++i) makeWindow("w" + std::to_string(i), static_cast<int16_t>(40 * i), 50);
  ASSERT_TRUE(X11Session::waitUntil([&] { return model->current()->clients.size() == 5; }));
  settle();
  const X11WindowModel::Snapshot before = model->current();
  const uint64_t quiet = modelConnection->requestCount();
  model->invalidate();
  const X11WindowModel::Snapshot after = model->current();
  EXPECT_GE(modelConnection->requestCount() - quiet, 5u * 12u);
  EXPECT_EQ(after, before) << "a pass that finds nothing new keeps the snapshot";
}

}  // namespace
}  // namespace quorvel
