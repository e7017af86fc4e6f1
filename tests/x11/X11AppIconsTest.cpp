#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "X11SessionTest.h"
#include "base/LogCapture.h"
#include "platform/x11/X11AppIcons.h"
#include "platform/x11/X11Backend.h"

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
    icons = std::make_unique<X11AppIcons>(std::make_shared<X11Backend>(std::move(connection)), dirs);
  }
  void TearDown() override {
    icons.reset();
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

  fs::path root;
  DesktopDirs dirs;
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
