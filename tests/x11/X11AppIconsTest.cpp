#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <map>

#include "X11SessionTest.h"
#include "base/LogCapture.h"
#include "platform/x11/X11AppIcons.h"
#include "platform/x11/X11Backend.h"
#include "platform/x11/X11IconPixmap.h"
#include "platform/x11/X11ShareableContent.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;

TEST(NetWmIcon, TheLargestImageIsTaken) {
  const std::vector<uint32_t> value = {2, 1, 0xFF000001, 0xFF000002,  // 2 × 1
                                       2, 2, 0xFF0000A1, 0xFF0000A2, 0xFF0000A3, 0xFF0000A4,  // 2 × 2
                                       1, 1, 0xFF0000C1};
  const auto icon = X11AppIcons::largestIcon(value, false);
  ASSERT_TRUE(icon);
  EXPECT_EQ(icon->width, 2);
  EXPECT_EQ(icon->height, 2);
  EXPECT_EQ(icon->argb, (std::vector<uint32_t>{0xFF0000A1, 0xFF0000A2, 0xFF0000A3, 0xFF0000A4}));
}

// A broken server or a proxy may describe an icon's image in any layout. Every combination of
// depth, bits per pixel, padding, unit, byte and bit order, side and data length (one byte short,
// exact, with slack) is either read within its data (the sanitizers watch) or refused; the layouts a
// real server uses are read.
TEST(IconPixmapLayout, EveryLayoutIsCheckedBeforeItIsRead) {
  using Image = X11IconPixmap::Image;
  const auto sound = [](uint8_t depth, uint32_t width, uint32_t height) {
    Image image{width, height, depth, uint8_t(depth == 1 ? 1 : 32), 32, 32, true, true, {}};
    image.data.assign((depth == 1 ? (width + 31) / 32 * 4 : width * 4) * height, 0x5A);
    return image;
  };
  int read = 0;
  for (const uint8_t depth : {0, 1, 8, 16, 24, 32, 255})
    for (const uint8_t bitsPerPixel : {0, 1, 8, 24, 32, 255})
      for (const uint8_t pad : {0, 1, 7, 8, 16, 32, 64})
        for (const uint8_t unit : {0, 1, 8, 16, 32, 64})
          for (const int order : {0, 1, 2, 3})
            for (const uint32_t width : {1u, 9u, 33u, 0x10000u, 0xFFFFFFFFu})
              for (const uint32_t height : {1u, 3u, 0xFFFFFFFFu})
                for (const size_t length : {size_t{0}, size_t{1}, size_t{4}, size_t{20}, size_t{33}, size_t{400}}) {
                  Image image{width, height, depth, bitsPerPixel, pad, unit, bool(order & 1), bool(order & 2),
                              std::vector<uint8_t>(length, 0xA5)};
                  const auto argb = X11IconPixmap::pixels(image, nullptr);
                  if (argb) {
                    ++read;
                    EXPECT_EQ(argb->size(), size_t{width} * height);
                  }
                  // The same layout as a mask over a sound bitmap of its size.
                  if (width < 64 && height < 64) {
                    const auto masked = X11IconPixmap::pixels(sound(1, width, height), &image);
                    if (masked) {
                      EXPECT_EQ(masked->size(), size_t{width} * height);
                    }
                  }
                }
  EXPECT_GT(read, 0);
  for (const uint8_t depth : {1, 24, 32}) {
    const Image image = sound(depth, 33, 3);
    EXPECT_TRUE(X11IconPixmap::pixels(image, nullptr)) << int(depth);
    const Image mask = sound(1, 33, 3);
    EXPECT_TRUE(X11IconPixmap::pixels(image, &mask)) << int(depth);
  }
}

TEST(NetWmIcon, HostileValuesAreRefusedWithAReason) {
  std::string problem;
  EXPECT_FALSE(X11AppIcons::largestIcon({}, false, &problem));
  EXPECT_EQ(problem, "it is empty");
  EXPECT_FALSE(X11AppIcons::largestIcon({0, 5}, false, &problem));
  EXPECT_EQ(problem, "it holds a zero-sized image");
  EXPECT_FALSE(X11AppIcons::largestIcon({2, 2, 1, 2, 3}, false, &problem));
  EXPECT_EQ(problem, "its sizes do not match its length");
  // Sizes whose product overflows 32 bits must not wrap into a small, "matching" length.
  EXPECT_FALSE(X11AppIcons::largestIcon({0x10000, 0x10000, 1}, false, &problem));
  EXPECT_EQ(problem, "it holds an absurdly large image");
  EXPECT_FALSE(X11AppIcons::largestIcon({1025, 1, 1}, false, &problem));
  EXPECT_FALSE(X11AppIcons::largestIcon({1, 1, 7, 3}, false, &problem));
  EXPECT_EQ(problem, "its last image has no height");
  EXPECT_FALSE(X11AppIcons::largestIcon({1, 1, 7}, true, &problem));
  EXPECT_EQ(problem, "it is longer than any real icon");
  // A good image before a bad one does not save the property.
  EXPECT_FALSE(X11AppIcons::largestIcon({1, 1, 7, 4, 4, 1}, false, &problem));
}

// A real X session: icons from a window's property, from its desktop entry, or none.
class X11AppIconsTest : public X11SessionTest {
 protected:
  void SetUp() override {
    X11SessionTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    root = fs::temp_directory_path() / ("quorvel-x11-icons-" + std::to_string(::getpid()));
    fs::remove_all(root);
    dirs.home = (root / "home").string();
    dirs.dataHome = (root / "home/share").string();
    dirs.configHome = (root / "home/config").string();
    dirs.dataDirs = {(root / "share").string()};
    auto connection = X11Connection::open(session->display());
    ASSERT_TRUE(connection);
    backend = std::make_shared<X11Backend>(std::move(connection), dirs);
    icons = std::make_unique<X11AppIcons>(backend, dirs);
  }
  void TearDown() override {
    icons.reset();
    backend.reset();
    if (!root.empty()) fs::remove_all(root);
  }
  void setIcon(uint32_t window, const std::vector<uint32_t>& values) {
    xcb_change_property(x().xcb(), XCB_PROP_MODE_REPLACE, window, x().atom("_NET_WM_ICON"), XCB_ATOM_CARDINAL, 32,
                        static_cast<uint32_t>(values.size()), values.data());
    x().sync();
  }
  void write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
  }

  // A pixmap of the test's own, filled rectangle by rectangle: {x, y, width, height, colour}.
  uint32_t pixmap(uint8_t depth, uint16_t width, uint16_t height,
                  const std::vector<std::array<uint32_t, 5>>& fills) {
    xcb_connection_t* c = x().xcb();
    const uint32_t id = xcb_generate_id(c);
    xcb_create_pixmap(c, depth, id, x().root(), width, height);
    const uint32_t gc = xcb_generate_id(c);
    xcb_create_gc(c, gc, id, 0, nullptr);
    for (const auto& [fx, fy, fw, fh, colour] : fills) {
      xcb_change_gc(c, gc, XCB_GC_FOREGROUND, &colour);
      const xcb_rectangle_t r{static_cast<int16_t>(fx), static_cast<int16_t>(fy), static_cast<uint16_t>(fw),
                              static_cast<uint16_t>(fh)};
      xcb_poly_fill_rectangle(c, id, gc, 1, &r);
    }
    xcb_free_gc(c, gc);
    return id;
  }
  void setHints(uint32_t window, uint32_t icon, uint32_t mask) {
    const uint32_t flags = (1u << 2) | (mask ? 1u << 5 : 0u);
    const std::vector<uint32_t> hints = {flags, 0, 0, icon, 0, 0, 0, mask, 0};
    xcb_change_property(x().xcb(), XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, 32, 9,
                        hints.data());
    x().sync();
  }

  fs::path root;
  DesktopDirs dirs;
  std::shared_ptr<X11Backend> backend;
  std::unique_ptr<X11AppIcons> icons;
};

TEST_F(X11AppIconsTest, AWindowsOwnIconElseItsDesktopEntryElseNone) {
  pid_t pid = 0;
  const uint32_t window = launch({"--title", "Iconic", "--class", "iconic,Iconic"}, &pid);
  ASSERT_NE(window, 0u);

  std::vector<uint32_t> value = {1, 1, 0xFF112233, 3, 3};
  value.insert(value.end(), 9, 0x80FFFFFF);
  setIcon(window, value);
  auto icon = icons->icon(pid);
  ASSERT_TRUE(icon);
  EXPECT_EQ(icon->width, 3);
  EXPECT_EQ(icon->argb.size(), 9u);
  EXPECT_EQ(icon->argb[0], 0x80FFFFFFu);

  // An image wider than any icon is ignored with a debug line, and the entry's icon is used. (The
  // window manager keeps this property: to it the sizes match. A property it cannot read at all it
  // replaces with its own default icon, so those cases are left to the parsing tests above.)
  write(root / "share/applications/iconic.desktop", "[Desktop Entry]\nName=Iconic\nIcon=iconic\n");
  write(root / "share/icons/hicolor/index.theme", "[Icon Theme]\nDirectories=48/apps\n[48/apps]\nSize=48\n");
  write(root / "share/icons/hicolor/48/apps/iconic.png", "x");
  LogCapture logs;
  std::vector<uint32_t> wide = {2000, 1};
  wide.resize(2002, 0xFF00FF00);
  setIcon(window, wide);
  icon = icons->icon(pid);
  ASSERT_TRUE(icon);
  EXPECT_FALSE(icon->hasPixels());
  EXPECT_EQ(icon->file, (root / "share/icons/hicolor/48/apps/iconic.png").string());
  char expected[128];
  std::snprintf(expected, sizeof expected, "Ignoring the icon of window 0x%x: it holds an absurdly large image.", window);
  EXPECT_EQ(logs.count(expected), 1u);

  // A process without windows has no icon.
  EXPECT_FALSE(icons->icon(pid + 100000));
}

// Under a window manager that leaves the icon property alone (openbox puts its own default icon
// there): older programs give their icon only as a pixmap in WM_HINTS, often a bitmap with a mask.
class X11PixmapIconsTest : public X11AppIconsTest {
 protected:
  X11Session::Options sessionOptions() const override {
    X11Session::Options options;
    options.manager = X11Session::Manager::i3;
    return options;
  }
};

TEST_F(X11PixmapIconsTest, AnIconPixmapOfTheWindowsHintsIsReadWithItsMask) {
  constexpr uint32_t black = 0xFF000000, white = 0xFFFFFFFF;
  pid_t pid = 0;
  const uint32_t window = launch({"--title", "Clock", "--class", "clock,XClock"}, &pid);
  ASSERT_NE(window, 0u);
  EXPECT_FALSE(icons->icon(pid)) << "no icon of any kind yet";

  // A 4 × 2 bitmap, its left half set; the mask keeps the top row only.
  setHints(window, pixmap(1, 4, 2, {{0, 0, 4, 2, 0}, {0, 0, 2, 2, 1}}),
           pixmap(1, 4, 2, {{0, 0, 4, 2, 0}, {0, 0, 4, 1, 1}}));
  auto icon = icons->icon(pid);
  ASSERT_TRUE(icon);
  EXPECT_EQ(icon->width, 4);
  EXPECT_EQ(icon->height, 2);
  EXPECT_EQ(icon->argb, (std::vector<uint32_t>{black, black, white, white, 0, 0, 0, 0}));

  // A colour pixmap of the screen's depth, without a mask: opaque.
  const uint8_t depth = x().screen()->root_depth;
  ASSERT_GE(depth, 24);
  setHints(window, pixmap(depth, 2, 1, {{0, 0, 1, 1, 0xFF0000}, {1, 0, 1, 1, 0x00FF00}}), 0);
  icon = icons->icon(pid);
  ASSERT_TRUE(icon);
  EXPECT_EQ(icon->argb, (std::vector<uint32_t>{0xFFFF0000, 0xFF00FF00}));

  // A pixmap that is gone gives no icon, with a debug line.
  const uint32_t gone = pixmap(depth, 2, 2, {});
  xcb_free_pixmap(x().xcb(), gone);
  setHints(window, gone, 0);
  EXPECT_FALSE(icons->icon(pid));
}

// An application is named by its desktop entry, in the user's language, rather than by its class.
TEST_F(X11AppIconsTest, TheApplicationsNameComesFromItsDesktopEntry) {
  write(root / "share/applications/firefox-esr.desktop",
        "[Desktop Entry]\nName=Firefox ESR\nName[de]=Firefox ESR (deutsch)\nIcon=firefox-esr\n");
  dirs.messagesLocale = "de_DE.UTF-8";
  auto connection = X11Connection::open(session->display());
  ASSERT_TRUE(connection);
  auto german = std::make_shared<X11Backend>(std::move(connection), dirs);
  const uint32_t firefox = launch({"--title", "Start", "--class", "Navigator,firefox-esr"});
  const uint32_t plain = launch({"--title", "plain", "--class", "plain,PlainApp"});
  ASSERT_TRUE(firefox && plain);
  ASSERT_TRUE(X11Session::waitUntil([&] { return german->managedWindow(plain).has_value(); }));
  std::map<uint32_t, std::string> names;
  for (const ShareableWindow& w : X11ShareableContent::read(*german, false, false).windows)
    if (w.owningApplication) names[w.windowID] = w.owningApplication->applicationName;
  EXPECT_EQ(names[firefox], "Firefox ESR (deutsch)");
  EXPECT_EQ(names[plain], "PlainApp");
  EXPECT_EQ(backend->applicationName(*backend->managedWindow(firefox)), "Firefox ESR");
}

TEST_F(X11AppIconsTest, AnAbsurdlyLongPropertyIsNotRead) {
  pid_t pid = 0;
  const uint32_t window = launch({"--title", "Huge", "--class", "huge,Huge"}, &pid);
  ASSERT_NE(window, 0u);
  // Two images the window manager finds fine, together longer than the limit.
  std::vector<uint32_t> value = {1024, 1024};
  value.resize(2 + 1024 * 1024, 0xFF000000);
  value.push_back(512);
  value.push_back(512);
  value.resize(value.size() + 512 * 512, 0xFF000000);
  ASSERT_GT(value.size(), X11AppIcons::kMaxPropertyUnits);
  setIcon(window, value);
  LogCapture logs;
  EXPECT_FALSE(icons->icon(pid));
  EXPECT_EQ(logs.messages("AppIcons").size(), 1u);
}

}  // namespace
}  // namespace quorvel
