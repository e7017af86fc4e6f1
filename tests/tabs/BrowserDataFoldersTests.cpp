#include <gtest/gtest.h>

#include "tabs/BrowserDataFolders.h"

namespace quorvel {
namespace {

TEST(BrowserDataFolders, X11IdentitiesNameTheBrowserBuildByItsWindowClass) {
  struct Case {
    const char* id;
    std::optional<FaviconBrowser> family;
    std::optional<std::string> folder;
  };
  const Case cases[] = {
      {"x11.google-chrome", FaviconBrowser::chromium, ".config/google-chrome"},
      {"x11.google-chrome-beta", FaviconBrowser::chromium, ".config/google-chrome-beta"},
      {"x11.chromium", FaviconBrowser::chromium, ".config/chromium"},
      {"x11.chromium-browser", FaviconBrowser::chromium, ".config/chromium"},
      {"x11.brave-browser", FaviconBrowser::chromium, ".config/BraveSoftware/Brave-Browser"},
      {"x11.brave-browser-nightly", FaviconBrowser::chromium, ".config/BraveSoftware/Brave-Browser-Nightly"},
      {"x11.microsoft-edge", FaviconBrowser::chromium, ".config/microsoft-edge"},
      {"x11.vivaldi-stable", FaviconBrowser::chromium, ".config/vivaldi"},
      {"x11.opera", FaviconBrowser::chromium, ".config/opera"},
      {"x11.firefox", FaviconBrowser::gecko, ".mozilla/firefox"},
      {"X11.Firefox-ESR", FaviconBrowser::gecko, ".mozilla/firefox"},
      {"x11.xterm", std::nullopt, std::nullopt},
      {"x11.google-chrome-evil", std::nullopt, std::nullopt},  // whole classes only
      {"x11.", std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(BrowserDataFolders::family(c.id), c.family) << c.id;
    EXPECT_EQ(BrowserDataFolders::folder(c.id), c.folder) << c.id;
  }
}

TEST(BrowserDataFolders, ReverseDnsIdentitiesFollowTheirAdaptersSuffixRule) {
  EXPECT_EQ(BrowserDataFolders::folder("com.google.Chrome"), ".config/google-chrome");
  EXPECT_EQ(BrowserDataFolders::folder("com.google.Chrome.beta"), ".config/google-chrome-beta");
  EXPECT_EQ(BrowserDataFolders::folder("com.brave.Browser.nightly"), ".config/BraveSoftware/Brave-Browser-Nightly");
  EXPECT_EQ(BrowserDataFolders::folder("org.mozilla.nightly"), ".mozilla/firefox");
  EXPECT_EQ(BrowserDataFolders::family("org.mozilla.firefox"), FaviconBrowser::gecko);
  EXPECT_EQ(BrowserDataFolders::folder("com.operasoftware.OperaDeveloper"), ".config/opera-developer");
  // Applications without a database family have no folder here.
  EXPECT_EQ(BrowserDataFolders::family("com.apple.Safari"), std::nullopt);
  EXPECT_EQ(BrowserDataFolders::folder("com.apple.Safari"), std::nullopt);
  EXPECT_EQ(BrowserDataFolders::family("com.apple.finder"), std::nullopt);
  EXPECT_EQ(BrowserDataFolders::family("com.example.editor"), std::nullopt);
}

}  // namespace
}  // namespace quorvel
