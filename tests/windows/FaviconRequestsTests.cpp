#include <gtest/gtest.h>

#include "windows/FaviconRequests.h"

namespace quorvel {
namespace {

WindowCard tab(uint32_t id, std::string title, std::optional<std::string> bundleID) {
  WindowCard host;
  host.id = 7;
  host.bundleID = std::move(bundleID);
  return WindowCard::tabCard(host, id, std::move(title), WindowCard::TabFacts{.hostWindowID = 7});
}

TEST(FaviconRequests, OnlyNamedTabsOfBrowsersWithADatabaseAreAskedAbout) {
  WindowCard window;
  window.id = 7;
  window.title = "A window";
  window.bundleID = "com.google.Chrome";
  WindowCard privateTab = tab(0xC0000003, "Secret", "com.google.Chrome");
  privateTab.isPrivate = true;
  const std::vector<WindowCard> cards = {
      window,
      tab(0xC0000001, "News", "com.google.Chrome"),
      tab(0xC0000002, "", "com.google.Chrome"),
      privateTab,
      tab(0xC0000004, "Docs", "x11.firefox"),
      tab(0xC0000005, "Apple", "com.apple.Safari"),
      tab(0xC0000006, "Nameless app", std::nullopt),
      tab(0xC0000007, "Folder", "com.apple.finder"),
      tab(0xC0000008, "Beta", "com.google.Chrome.beta"),
  };
  const auto requests = FaviconRequests::requests(cards);
  EXPECT_EQ(requests, (std::vector<FaviconResolver::Request>{
                          {0xC0000001, "News", FaviconBrowser::chromium, "com.google.Chrome"},
                          {0xC0000004, "Docs", FaviconBrowser::gecko, "x11.firefox"},
                          {0xC0000008, "Beta", FaviconBrowser::chromium, "com.google.Chrome.beta"},
                      }));
}

}  // namespace
}  // namespace quorvel
