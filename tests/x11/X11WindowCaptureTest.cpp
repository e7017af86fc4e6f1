#include <xcb/xcb.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "HeldCaptureWorker.h"
#include "X11PlatformTest.h"
#include "base/Task.h"
#include "pictures/CaptureFakes.h"
#include "pictures/GpuPicturePreparation.h"
#include "pictures/LiveHero.h"
#include "pictures/WindowCapture.h"
#include "platform/x11/X11Backend.h"
#include "platform/x11/X11ScreenCapture.h"
#include "platform/x11/X11ShareableContent.h"
#include "support/VulkanTestDevice.h"

namespace quorvel {
namespace {

constexpr uint32_t kRed = 0xFFD02020, kGreen = 0xFF20B040, kBlue = 0xFF2040D0, kYellow = 0xFFE0D020;

// Windows of known colours pictured through the X11 picture service into the store.
class X11WindowCaptureTest : public X11PlatformTest {
 protected:
  void SetUp() override {
    X11PlatformTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    capture = platform->screenCapture();
    ASSERT_TRUE(capture);
    ASSERT_TRUE(capture->hasComposite());
    cache = std::make_unique<ThumbnailCache>(GpuContext::make(device), runtime->main(), runtime->clock(), nullptr);
    preparation = std::make_unique<RecordingPreparation>(*cache, device);
  }
  void TearDown() override {
    live.reset();
    captures.reset();
    preparation.reset();
    cache.reset();
    X11PlatformTest::TearDown();
  }

  // The opaque colour of a picture's pixel, as kRed and the others are written.
  static uint32_t colorAt(const PixelBuffer& picture, int x, int y) {
    const uint8_t* at = picture.pixel(x, y);
    return 0xFF000000u | uint32_t{at[0]} | uint32_t{at[1]} << 8 | uint32_t{at[2]} << 16;
  }
  static std::string hex(uint32_t color) {
    char text[8];
    std::snprintf(text, sizeof text, "%06x", color & 0xFFFFFF);
    return text;
  }
  uint32_t open(const std::string& title, uint32_t color, const std::string& geometry,
                std::vector<std::string> extra = {}) {
    std::vector<std::string> arguments{"--title", title, "--color", hex(color), "--geometry", geometry};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return launch(arguments);
  }
  WindowCard card(uint32_t id, WindowState state = WindowState::onCurrentSpace) {
    auto w = read(id);
    WindowCard c;
    c.id = c.orderingID = id;
    c.title = w ? w->title : "";
    c.pid = w && w->pid ? *w->pid : 0;
    c.frame = w ? w->frame.toRect() : Rect{};
    c.state = state;
    return c;
  }
  template <class T>
  bool finish(Task<T> task, std::chrono::milliseconds timeout = std::chrono::milliseconds(10000)) {
    auto handle = spawn(runtime->pool(), std::move(task));
    return runUntil([&] { return handle.isDone(); }, timeout);
  }
  // Sets the window's background and repaints it, as the client would when its content changes.
  void repaint(uint32_t window, uint32_t color) {
    const uint32_t pixel = color & 0xFFFFFF;
    xcb_change_window_attributes(x().xcb(), window, XCB_CW_BACK_PIXEL, &pixel);
    xcb_clear_area(x().xcb(), 0, window, 0, 0, 0, 0);
    x().flush();
  }

  X11ScreenCapture* capture = nullptr;
  std::shared_ptr<RecordingDevice> device = RecordingDevice::make();
  std::unique_ptr<ThumbnailCache> cache;
  std::unique_ptr<RecordingPreparation> preparation;
  std::unique_ptr<WindowCapture> captures;
  std::unique_ptr<LiveHero> live;
};

TEST_F(X11WindowCaptureTest, StillsShowEachWindowsOwnColourEvenWhenCovered) {
  const uint32_t red = open("Red", kRed, "400x300+100+100");
  const uint32_t green = open("Green", kGreen, "300x200+250+200");  // covers the red window's middle
  const uint32_t blue = open("Blue", kBlue, "300x200+700+100", {"--desktop", "1"});
  ASSERT_TRUE(red && green && blue);
  captures = std::make_unique<WindowCapture>(WindowCapture::Services{
      *cache, *preparation, platform->shareableContent(), *capture, getpid(), nullptr, nullptr});
  // The window on another desktop is not mapped: X keeps no picture of it, and none is stored.
  ASSERT_TRUE(finish(captures->refreshForSummon({card(red), card(green), card(blue)}, {}, {})));
  EXPECT_EQ(preparation->storedColor(red), kRed);
  EXPECT_EQ(preparation->storedColor(green), kGreen);
  EXPECT_FALSE(cache->entryCopy(blue));
  EXPECT_FALSE(cache->captureStamp(blue));
  // The picture holds the whole frame with its decorations.
  auto frame = read(red)->frame;
  auto entry = cache->entryCopy(red);
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->texture->width(), static_cast<uint32_t>(frame.width) / 2);

  // A display picture of the same place shows what is on top.
  // The result comes on the capture thread, and may come after a failed wait has left the test.
  struct Shot {
    std::mutex mutex;
    std::optional<CaptureResult> result;
  };
  auto shot = std::make_shared<Shot>();
  const auto monitors = displays->monitors();
  ASSERT_FALSE(monitors.empty());
  capture->captureDisplay(X11Backend::displayID(x(), monitors[0]), Rect{300, 250, 20, 20}, {20, 20},
                          [shot](CaptureResult r) {
                            std::lock_guard lock(shot->mutex);
                            shot->result = std::move(r);
                          });
  ASSERT_TRUE(X11Session::waitUntil([&] {
    std::lock_guard lock(shot->mutex);
    return shot->result.has_value();
  }));
  ASSERT_TRUE(shot->result->picture);
  EXPECT_EQ(RecordingPreparation::centerColor(*shot->result->picture), kGreen);

  // Plain image reads give the same pixels as shared memory.
  auto plain = X11ScreenCapture::open(session->display(), {.useSharedMemory = false});
  ASSERT_TRUE(plain);
  EXPECT_FALSE(plain->usesSharedMemory());
  EXPECT_TRUE(capture->usesSharedMemory());
  CaptureResult a = plain->captureWindowNow(red, {200, 150});
  CaptureResult b = capture->captureWindowNow(red, {200, 150});
  ASSERT_TRUE(a.picture && b.picture);
  EXPECT_EQ(RecordingPreparation::centerColor(*a.picture), kRed);
  EXPECT_EQ(0, std::memcmp(a.picture->bytes.get(), b.picture->bytes.get(), 200u * 150 * 4));
  // A window that is gone answers an error, not a picture.
  EXPECT_TRUE(capture->captureWindowNow(0x7ffffff, {10, 10}).error);
}

// A dark still is refused from a window caught before it drew, and taken from one that has drawn
// since it was mapped (a terminal's black); the server's damage reports tell the two apart.
TEST_F(X11WindowCaptureTest, ADarkWindowGetsItsPictureOnceItHasDrawn) {
  const uint32_t dark = open("Dark", 0, "300x200+100+100", {"--undrawn"});
  ASSERT_TRUE(dark);
  // The watch hears of the window's creation on its own thread; until it has, a window it never
  // met counts as one that was there before it began, and so as drawn.
  ASSERT_TRUE(X11Session::waitUntil([&] { return capture->watchesDrawing(dark); }));
  captures = std::make_unique<WindowCapture>(WindowCapture::Services{
      *cache, *preparation, platform->shareableContent(), *capture, getpid(), nullptr, nullptr});
  // A window without a background gets what lay under it copied in as it is mapped, and the server
  // may report that copy as drawing once the watch is in place (now and then, under load): the
  // refusal is checked whenever the watch still knows the window as not drawn after the summon's
  // pictures (a window once drawn stays so until it is mapped again).
  ASSERT_TRUE(finish(captures->refreshForSummon({card(dark)}, {}, {})));
  if (capture->captureWindowNow(dark, {30, 20}).drawnSinceMapped == false) {
    EXPECT_FALSE(cache->entryCopy(dark)) << "a still of a window that never drew";
  }

  const xcb_gcontext_t gc = xcb_generate_id(x().xcb());
  const uint32_t black = 0;
  xcb_create_gc(x().xcb(), gc, dark, XCB_GC_FOREGROUND, &black);
  const xcb_rectangle_t all{0, 0, 300, 200};
  xcb_poly_fill_rectangle(x().xcb(), dark, gc, 1, &all);
  xcb_free_gc(x().xcb(), gc);
  x().flush();
  ASSERT_TRUE(X11Session::waitUntil([&] { return capture->captureWindowNow(dark, {30, 20}).drawnSinceMapped == true; }));
  ASSERT_TRUE(finish(captures->refreshForSummon({card(dark)}, {}, {})));
  EXPECT_EQ(preparation->storedColor(dark), 0xFF000000u);
}

TEST_F(X11WindowCaptureTest, TheLiveStreamFollowsAColourChangeAndStopsWhenTold) {
  const uint32_t red = open("Live", kRed, "320x240+100+100");
  ASSERT_TRUE(red);
  live = std::make_unique<LiveHero>(*cache, *preparation, platform->shareableContent(), *capture);
  ASSERT_TRUE(finish(live->startLiveHero(live->nextRequest(), red, std::nullopt)));
  ASSERT_EQ(live->liveWindowID(), red);
  ASSERT_TRUE(X11Session::waitUntil([&] { return preparation->storedColor(red) == kRed; }));

  const uint64_t before = capture->streamCaptures();
  repaint(red, kYellow);
  ASSERT_TRUE(X11Session::waitUntil([&] { return preparation->storedColor(red) == kYellow; }))
      << "frames read since the change: " << capture->streamCaptures() - before;
  EXPECT_LE(capture->streamCaptures() - before, 3u);

  ASSERT_TRUE(finish(live->stopLiveHero(live->nextRequest())));
  EXPECT_FALSE(live->liveWindowID());
  const uint64_t stopped = capture->streamCaptures();
  repaint(red, kBlue);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(capture->streamCaptures(), stopped);
  EXPECT_EQ(preparation->storedColor(red), kYellow);  // the settled last frame
}

// A window squeezed far out of its shape (as a window manager's minimize animation does) is not
// pictured: its smeared frames are read but left out, and the stream follows it again once its
// shape is back.
TEST_F(X11WindowCaptureTest, TheLiveStreamLeavesOutFramesOfASqueezedWindow) {
  const uint32_t red = open("Squeezed", kRed, "320x240+100+100");
  ASSERT_TRUE(red);
  live = std::make_unique<LiveHero>(*cache, *preparation, platform->shareableContent(), *capture);
  ASSERT_TRUE(finish(live->startLiveHero(live->nextRequest(), red, std::nullopt)));
  ASSERT_TRUE(X11Session::waitUntil([&] { return preparation->storedColor(red) == kRed; }));
  auto resize = [&](uint32_t height) {
    xcb_configure_window(x().xcb(), red, XCB_CONFIG_WINDOW_HEIGHT, &height);
    x().flush();
    EXPECT_TRUE(eventually(red, [&](const X11Window& w) { return (w.frame.height < 100) == (height < 100); }));
  };
  resize(8);
  repaint(red, kYellow);
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  EXPECT_EQ(preparation->storedColor(red), kRed) << "a squeezed frame was stored";
  resize(240);
  repaint(red, kBlue);
  EXPECT_TRUE(X11Session::waitUntil([&] { return preparation->storedColor(red) == kBlue; }));
}

// A stop cuts the capture's callers off at once: the read under way finishes with its completion,
// while the reads not begun, and those asked for after the stop, never call theirs, not even when
// the capture goes. The stop also waits for a live picture's stream to end.
TEST_F(X11WindowCaptureTest, AStopFinishesTheReadUnderWayAndCallsNothingAfter) {
  const uint32_t red = open("Stopping", kRed, "200x150+50+50");
  ASSERT_TRUE(red);
  live = std::make_unique<LiveHero>(*cache, *preparation, platform->shareableContent(), *capture);
  ASSERT_TRUE(finish(live->startLiveHero(live->nextRequest(), red, std::nullopt)));
  ASSERT_TRUE(X11Session::waitUntil([&] { return preparation->storedColor(red) == kRed; }));
  auto called = std::make_shared<std::atomic<int>>(0);
  auto count = [called](CaptureResult) { ++*called; };
  {
    HeldCaptureWorker held(*capture, red);
    for (int i = 0; i < 3; ++i) capture->captureWindow(red, {8, 8}, count);
    ASSERT_EQ(capture->queuedJobs(), 3u);
    std::thread stopping([&] { capture->stop(); });
    // The stop has taken the reads not begun before the worker is let go.
    ASSERT_TRUE(X11Session::waitUntil([&] { return capture->queuedJobs() == 0; }));
    held.release();
    stopping.join();
    EXPECT_TRUE(held.pictured());
  }
  capture->captureWindow(red, {8, 8}, count);
  capture->captureDisplay(0, {0, 0, 8, 8}, {8, 8}, count);
  live.reset();
  platform.reset();
  EXPECT_EQ(*called, 0);
}

TEST_F(X11WindowCaptureTest, AStreamWhoseWindowClosesEndsByItself) {
  pid_t pid = 0;
  const uint32_t red = launch({"--title", "Closing", "--color", hex(kRed), "--geometry", "200x150+50+50"}, &pid);
  ASSERT_TRUE(red);
  live = std::make_unique<LiveHero>(*cache, *preparation, platform->shareableContent(), *capture);
  ASSERT_TRUE(finish(live->startLiveHero(live->nextRequest(), red, std::nullopt)));
  ASSERT_EQ(live->liveWindowID(), red);
  ::kill(pid, SIGTERM);
  EXPECT_TRUE(X11Session::waitUntil([&] { return !live->liveWindowID(); }));
}

// A client that draws a shadow around itself inside its window tells its width
// (_GTK_FRAME_EXTENTS): the list's frame and the window's picture leave it out.
TEST_F(X11WindowCaptureTest, AClientsOwnShadowIsLeftOut) {
  const uint32_t red = open("Shadowed", kRed, "300x200+100+100");
  ASSERT_TRUE(red);
  xcb_connection_t* c = x().xcb();
  // Undecorated, as a client that draws its own frame asks to be.
  const uint32_t hints[] = {2, 0, 0, 0, 0};
  const uint32_t motif = x().atom("_MOTIF_WM_HINTS");
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, red, motif, motif, 32, 5, hints);
  x().flush();
  ASSERT_TRUE(eventually(red, [](const X11Window& w) { return w.frame.width == 300 && w.frame.height == 200; }));
  // A blue band of 10 pixels around the window: its shadow.
  const xcb_gcontext_t gc = xcb_generate_id(c);
  const uint32_t blue = kBlue & 0xFFFFFF;
  xcb_create_gc(c, gc, red, XCB_GC_FOREGROUND, &blue);
  const xcb_rectangle_t band[] = {{0, 0, 300, 10}, {0, 190, 300, 10}, {0, 0, 10, 200}, {290, 0, 10, 200}};
  ASSERT_TRUE(X11Session::waitUntil([&] {
    xcb_poly_fill_rectangle(c, red, gc, 4, band);
    x().flush();
    auto still = capture->captureWindowNow(red, {300, 200});
    return still.picture && colorAt(*still.picture, 295, 100) == kBlue;
  }));
  xcb_free_gc(c, gc);

  const uint32_t sides[] = {10, 10, 10, 10};
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, red, x().atom("_GTK_FRAME_EXTENTS"), XCB_ATOM_CARDINAL, 32, 4, sides);
  x().flush();
  ASSERT_TRUE(eventually(red, [](const X11Window& w) { return w.visibleFrame.width == w.frame.width - 20; }));
  const CaptureResult still = capture->captureWindowNow(red, {280, 180});
  ASSERT_TRUE(still.picture);
  const PixelBuffer& p = *still.picture;
  for (const auto& [px, py] : {std::pair{0, 90}, std::pair{279, 90}, std::pair{140, 0}, std::pair{140, 179}})
    EXPECT_EQ(colorAt(p, px, py), kRed) << "at " << px << ", " << py;
}

// A window that leaves the screen (a minimize unmaps it, its frame may follow only later; a manager
// may keep a minimized window mapped) gives no picture, nor a frame of its stream, which ends: the
// picture stays the last good one, not the frame's empty inside.
TEST_F(X11WindowCaptureTest, AWindowOffTheScreenGivesNoPictureAndEndsItsStream) {
  // A frame of the test's own, which no manager takes (override-redirect), holding a red window.
  xcb_connection_t* c = x().xcb();
  const uint32_t frame = xcb_generate_id(c), red = xcb_generate_id(c);
  const uint32_t frameValues[] = {kBlue & 0xFFFFFF, 1};
  xcb_create_window(c, XCB_COPY_FROM_PARENT, frame, x().root(), 100, 100, 300, 240, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                    XCB_COPY_FROM_PARENT, XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, frameValues);
  const uint32_t redValues[] = {kRed & 0xFFFFFF};
  xcb_create_window(c, XCB_COPY_FROM_PARENT, red, frame, 0, 40, 300, 200, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                    XCB_COPY_FROM_PARENT, XCB_CW_BACK_PIXEL, redValues);
  xcb_map_window(c, red);
  xcb_map_window(c, frame);
  ASSERT_TRUE(x().sync());
  ASSERT_TRUE(X11Session::waitUntil([&] {
    auto still = capture->captureWindowNow(red, {30, 24});
    return still.picture && RecordingPreparation::centerColor(*still.picture) == kRed;
  }));

  struct Seen {
    std::mutex mutex;
    std::vector<uint32_t> colors;
    bool stopped = false;
  };
  auto seen = std::make_shared<Seen>();
  StreamHandlers handlers;
  handlers.onFrame = [seen](StreamFrame f) {
    std::lock_guard lock(seen->mutex);
    if (f.picture) seen->colors.push_back(RecordingPreparation::centerColor(*f.picture));
  };
  handlers.onStop = [seen](std::string) {
    std::lock_guard lock(seen->mutex);
    seen->stopped = true;
  };
  auto stream = capture->makeStream(red, {30, 24, 0, 8}, handlers);
  ASSERT_TRUE(stream);
  stream->startCapture([](std::optional<std::string>) {});
  ASSERT_TRUE(X11Session::waitUntil([&] {
    std::lock_guard lock(seen->mutex);
    return !seen->colors.empty();
  }));

  xcb_unmap_window(c, red);
  ASSERT_TRUE(x().sync());
  EXPECT_TRUE(X11Session::waitUntil([&] {
    std::lock_guard lock(seen->mutex);
    return seen->stopped;
  })) << "the stream of a window off the screen did not end";
  EXPECT_TRUE(capture->captureWindowNow(red, {30, 24}).error);
  {
    std::lock_guard lock(seen->mutex);
    for (uint32_t color : seen->colors) EXPECT_EQ(color, kRed) << "a frame of the window off the screen";
  }

  // Mapped again but minimized (its manager's word), it gives no picture either.
  xcb_map_window(c, red);
  const uint32_t iconic[] = {3, 0};
  const uint32_t wmState = x().atom("WM_STATE");
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, red, wmState, wmState, 32, 2, iconic);
  ASSERT_TRUE(x().sync());
  EXPECT_TRUE(capture->captureWindowNow(red, {30, 24}).error);
  stream->stopCapture([](std::optional<std::string>) {});
  xcb_destroy_window(c, frame);
  x().flush();
}

TEST_F(X11WindowCaptureTest, StoredPicturesHoldTheWindowsColoursAfterTheGpuPreparation) {
  VulkanTestDevice vk;
  ASSERT_TRUE(vk.device) << vk.error;
  ThumbnailCache store(GpuContext::make(vk.device), runtime->main(), runtime->clock(), nullptr);
  GpuPicturePreparation gpu(store);
  const uint32_t red = open("Red", kRed, "240x160+100+100");
  const uint32_t blue = open("Blue", kBlue, "240x160+200+150");  // covers most of the red window
  ASSERT_TRUE(red && blue);
  captures = std::make_unique<WindowCapture>(WindowCapture::Services{
      store, gpu, platform->shareableContent(), *capture, getpid(), nullptr, nullptr});
  ASSERT_TRUE(finish(captures->refreshForSummon({card(red), card(blue)}, {}, {})));
  vk.device->waitIdle();
  for (const auto& [id, color] : {std::pair{red, kRed}, std::pair{blue, kBlue}}) {
    auto stored = store.entryCopy(id);
    ASSERT_TRUE(stored) << std::hex << id;
    const GpuPixels pixels = vk.device->readTexture(stored->texture, 0);
    const auto mid = pixels.at(pixels.width / 2, pixels.height / 2);
    EXPECT_NEAR(mid.r, (color >> 16) & 0xFF, 2);
    EXPECT_NEAR(mid.g, (color >> 8) & 0xFF, 2);
    EXPECT_NEAR(mid.b, color & 0xFF, 2);
  }
  captures.reset();
  vk.expectNoMessages();
}

// metacity (as it comes, its compositor on) puts each window in a frame window larger than what
// the user sees: around the visible frame lies an invisible resize border, transparent.
class X11MetacityCaptureTest : public X11WindowCaptureTest {
 protected:
  X11Session::Options sessionOptions() const override { return {.manager = X11Session::Manager::metacity}; }
};

// Each picture is the window as the user sees it, frame included, without the invisible border: a
// covered window has its picture too (none could be cut from the screen), and the window's own
// colour reaches the picture's left, right and bottom edges.
TEST_F(X11MetacityCaptureTest, AFramedWindowIsPicturedAsSeenWithoutTheInvisibleBorder) {
  const uint32_t red = open("Red", kRed, "400x300+100+100");
  const uint32_t green = open("Green", kGreen, "400x300+200+150");  // covers the red window's corner
  ASSERT_TRUE(red && green);
  ASSERT_TRUE(activate(green));
  const X11Rect frame = read(red)->frame;
  auto tree = x().reply(xcb_query_tree_reply, xcb_query_tree(x().xcb(), red));
  ASSERT_TRUE(tree);
  auto outer = x().reply(xcb_get_geometry_reply, xcb_get_geometry(x().xcb(), tree->parent));
  ASSERT_TRUE(outer);
  ASSERT_GT(outer->width, frame.width) << "no invisible border to leave out";

  captures = std::make_unique<WindowCapture>(WindowCapture::Services{
      *cache, *preparation, platform->shareableContent(), *capture, getpid(), nullptr, nullptr});
  ASSERT_TRUE(finish(captures->refreshForSummon({card(red), card(green)}, {}, {})));
  EXPECT_EQ(preparation->storedColor(red), kRed);
  EXPECT_EQ(preparation->storedColor(green), kGreen);

  const CaptureResult still = capture->captureWindowNow(red, {frame.width, frame.height});
  ASSERT_TRUE(still.picture);
  const PixelBuffer& p = *still.picture;
  for (const auto& [px, py] : {std::pair{1, p.height / 2}, std::pair{p.width - 2, p.height / 2},
                               std::pair{p.width / 2, p.height - 2}})
    EXPECT_EQ(colorAt(p, px, py), kRed) << "at " << px << ", " << py;
}

}  // namespace
}  // namespace quorvel
