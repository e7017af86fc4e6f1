#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/x11/DesktopEntryIcons.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;

// A home folder and a system data folder of its own, under a fresh temporary folder.
class DesktopEntryIconsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = fs::temp_directory_path() / ("quorvel-icons-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root);
    dirs.home = (root / "home").string();
    dirs.dataHome = (root / "home/.local/share").string();
    dirs.configHome = (root / "home/.config").string();
    dirs.dataDirs = {(root / "usr/share").string()};
  }
  void TearDown() override { fs::remove_all(root); }

  void write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
  }
  fs::path share() const { return root / "usr/share"; }
  void theme(const std::string& name, const std::string& directories, const std::string& groups,
             const std::string& inherits = "") {
    write(share() / "icons" / name / "index.theme",
          "[Icon Theme]\nName=" + name + "\nDirectories=" + directories + "\n" +
              (inherits.empty() ? "" : "Inherits=" + inherits + "\n") + "\n" + groups);
  }
  std::string icon(const std::string& theme, const std::string& dir, const std::string& file) {
    const fs::path path = share() / "icons" / theme / dir / file;
    write(path, "x");
    return path.string();
  }

  fs::path root;
  DesktopDirs dirs;
};

TEST_F(DesktopEntryIconsTest, EntriesMatchByWindowClassThenByFileName) {
  write(share() / "applications/org.example.Editor.desktop", "[Desktop Entry]\nName=Editor\nIcon=by-class\nStartupWMClass=Edit\n");
  write(share() / "applications/edit.desktop", "[Desktop Entry]\nIcon=by-name\n");
  write(share() / "applications/viewer.desktop", "# comment\n[Other]\nIcon=wrong\n[Desktop Entry]\nIcon = viewer-icon \n");
  DesktopEntryIcons icons(dirs);
  EXPECT_EQ(icons.iconName("Edit", "edit"), "by-class");
  EXPECT_EQ(icons.iconName("Viewer", "viewer"), "viewer-icon");
  EXPECT_EQ(icons.iconName("Nothing", "nothing"), std::nullopt);
  EXPECT_EQ(icons.iconName("", ""), std::nullopt);
  // The user's entry wins over the system's.
  write(root / "home/.local/share/applications/viewer.desktop", "[Desktop Entry]\nIcon=mine\n");
  EXPECT_EQ(DesktopEntryIcons(dirs).iconName("Viewer", ""), "mine");
}

TEST_F(DesktopEntryIconsTest, TheApplicationsNameIsTheEntrysNameInTheUsersLanguage) {
  write(share() / "applications/firefox-esr.desktop",
        "[Desktop Entry]\nName=Firefox ESR\nName[de]=Firefox ESR (de)\nName[de_AT]=Firefox ESR (AT)\n"
        "Name[sr@latin]=Firefox ESR (latinica)\nIcon=firefox-esr\n");
  // An entry without an icon still names its application; escapes are undone.
  write(share() / "applications/calc.desktop", "[Desktop Entry]\nName=Pocket\\sCalculator\n");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", "Firefox ESR"},          {"C", "Firefox ESR"},        {"de_DE.UTF-8", "Firefox ESR (de)"},
      {"de_AT.UTF-8@euro", "Firefox ESR (AT)"}, {"sr_RS@latin", "Firefox ESR (latinica)"}, {"fr_FR", "Firefox ESR"},
  };
  for (const auto& [locale, expected] : cases) {
    SCOPED_TRACE(locale);
    dirs.messagesLocale = locale;
    DesktopEntryIcons entries(dirs);
    EXPECT_EQ(entries.applicationName("firefox-esr", "Navigator"), expected);
  }
  DesktopEntryIcons entries(dirs);
  EXPECT_EQ(entries.applicationName("Calc", "calc"), "Pocket Calculator");
  EXPECT_EQ(entries.iconName("Calc", "calc"), std::nullopt);
  EXPECT_EQ(entries.applicationName("Unknown", "unknown"), std::nullopt);
}

TEST_F(DesktopEntryIconsTest, ANewEntryIsFoundOnceItsFolderChanges) {
  fs::create_directories(share() / "applications");
  DesktopEntryIcons icons(dirs);
  EXPECT_EQ(icons.iconName("Late", ""), std::nullopt);
  write(share() / "applications/late.desktop", "[Desktop Entry]\nIcon=late\n");
  // Folder times have a coarse grain on some file systems: move the time on explicitly.
  fs::last_write_time(share() / "applications", fs::file_time_type::clock::now() + std::chrono::seconds(5));
  EXPECT_EQ(icons.iconName("Late", ""), "late");
}

TEST_F(DesktopEntryIconsTest, ThemesGiveTheSmallestIconAtLeast256PixelsElseTheLargest) {
  theme("hicolor", "48x48/apps,256x256/apps,512x512/apps,scalable/apps",
        "[48x48/apps]\nSize=48\n[256x256/apps]\nSize=256\n[512x512/apps]\nSize=512\n"
        "[scalable/apps]\nSize=16\nMinSize=8\nMaxSize=4096\nType=Scalable\n");
  icon("hicolor", "48x48/apps", "tool.png");
  icon("hicolor", "512x512/apps", "tool.png");
  const std::string exact = icon("hicolor", "256x256/apps", "tool.png");
  icon("hicolor", "scalable/apps", "tool.svg");
  DesktopEntryIcons icons(dirs);
  EXPECT_EQ(icons.findIcon("tool"), exact);
  EXPECT_EQ(icons.findIcon("tool.png"), exact);
  const std::string small = icon("hicolor", "48x48/apps", "small.png");
  EXPECT_EQ(icons.findIcon("small"), small);
  EXPECT_EQ(icons.findIcon("missing"), std::nullopt);
}

TEST_F(DesktopEntryIconsTest, TheUsersThemeAndWhatItInheritsComeBeforeHicolorAndPixmaps) {
  write(root / "home/.config/gtk-3.0/settings.ini", "[Settings]\ngtk-icon-theme-name=\"Mine\"\n");
  theme("Mine", "64/apps", "[64/apps]\nSize=64\n", "Parent");
  theme("Parent", "128/apps", "[128/apps]\nSize=128\n", "Mine");  // a loop is not followed forever
  theme("hicolor", "256/apps", "[256/apps]\nSize=256\n");
  const std::string mine = icon("Mine", "64/apps", "a.png");
  const std::string parent = icon("Parent", "128/apps", "b.svg");
  icon("hicolor", "256/apps", "a.png");
  const std::string fromHicolor = icon("hicolor", "256/apps", "c.png");
  write(share() / "pixmaps/d.xpm", "x");
  DesktopEntryIcons icons(dirs);
  EXPECT_EQ(icons.themeName(), "Mine");
  EXPECT_EQ(icons.findIcon("a"), mine);
  EXPECT_EQ(icons.findIcon("b"), parent);
  EXPECT_EQ(icons.findIcon("c"), fromHicolor);
  EXPECT_EQ(icons.findIcon("d"), (share() / "pixmaps/d.xpm").string());

  // An absolute path is taken when it is a file; relative paths and escaping names are not.
  EXPECT_EQ(icons.findIcon(mine), mine);
  EXPECT_EQ(icons.findIcon((root / "nope.png").string()), std::nullopt);
  EXPECT_EQ(icons.findIcon("../icons/a"), std::nullopt);

  write(root / "home/.config/gtk-3.0/settings.ini", "[Settings]\ngtk-icon-theme-name=../../etc\n");
  EXPECT_EQ(icons.themeName(), "hicolor");
}

TEST_F(DesktopEntryIconsTest, OversizedOrIrregularFilesAreSkipped) {
  write(share() / "applications/huge.desktop", "[Desktop Entry]\nIcon=huge\n" + std::string(70 * 1024, '#'));
  fs::create_directories(share() / "applications/folder.desktop");
  write(share() / "applications/fine.desktop", "[Desktop Entry]\nIcon=fine\n");
  theme("hicolor", "256/apps", "[256/apps]\nSize=256\n");
  const std::string fine = icon("hicolor", "256/apps", "fine.png");
  write(share() / "applications/linked.desktop", "[Desktop Entry]\nIcon=fine\n");
  DesktopEntryIcons icons(dirs);
  EXPECT_EQ(icons.iconName("Huge", ""), std::nullopt);
  EXPECT_EQ(icons.iconName("Folder", ""), std::nullopt);
  EXPECT_EQ(icons.iconFile("Fine", ""), fine);
}

}  // namespace
}  // namespace quorvel
