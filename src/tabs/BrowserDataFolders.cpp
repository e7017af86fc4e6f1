#include "tabs/BrowserDataFolders.h"

#include <map>
#include <vector>

#include "base/TextServices.h"
#include "tabs/TabAdapter.h"

namespace quorvel {

namespace {

constexpr std::string_view kX11Prefix = "x11.";

// One browser of the tab-adapter table as it installs on Linux.
struct LinuxBrowser {
  std::string adapterName;
  std::map<std::string, std::string> paths;                   // reverse-DNS suffix -> folder under home
  std::vector<std::pair<std::string, std::string>> x11Classes;  // lower-cased window class -> folder
};

const std::vector<LinuxBrowser>& linuxBrowsers() {
  static const std::vector<LinuxBrowser> browsers = [] {
    const std::string config = ".config/";
    const std::string brave = config + "BraveSoftware/Brave-Browser";
    const std::string firefox = ".mozilla/firefox";
    return std::vector<LinuxBrowser>{
        {"Firefox",
         {{"", firefox}},
         {{"firefox", firefox},
          {"firefox-esr", firefox},
          {"firefox-nightly", firefox},
          {"firefoxdeveloperedition", firefox},
          {"firefox-developer-edition", firefox}}},
        {"Chrome",
         {{"", config + "google-chrome"},
          {".beta", config + "google-chrome-beta"},
          {".dev", config + "google-chrome-unstable"},
          {".canary", config + "google-chrome-canary"}},
         {{"google-chrome", config + "google-chrome"},
          {"google-chrome-beta", config + "google-chrome-beta"},
          {"google-chrome-unstable", config + "google-chrome-unstable"},
          {"google-chrome-canary", config + "google-chrome-canary"}}},
        {"Brave",
         {{"", brave}, {".beta", brave + "-Beta"}, {".nightly", brave + "-Nightly"}, {".dev", brave + "-Dev"}},
         {{"brave-browser", brave},
          {"brave-browser-beta", brave + "-Beta"},
          {"brave-browser-nightly", brave + "-Nightly"},
          {"brave-browser-dev", brave + "-Dev"}}},
        {"Edge",
         {{"", config + "microsoft-edge"},
          {".beta", config + "microsoft-edge-beta"},
          {".dev", config + "microsoft-edge-dev"}},
         {{"microsoft-edge", config + "microsoft-edge"},
          {"microsoft-edge-beta", config + "microsoft-edge-beta"},
          {"microsoft-edge-dev", config + "microsoft-edge-dev"}}},
        {"Vivaldi",
         {{"", config + "vivaldi"}},
         {{"vivaldi", config + "vivaldi"},
          {"vivaldi-stable", config + "vivaldi"},
          {"vivaldi-snapshot", config + "vivaldi-snapshot"}}},
        {"Opera",
         {{"", config + "opera"}, {"next", config + "opera-beta"}, {"developer", config + "opera-developer"}},
         {{"opera", config + "opera"},
          {"opera-beta", config + "opera-beta"},
          {"opera-developer", config + "opera-developer"}}},
        {"Chromium",
         {{"", config + "chromium"}},
         {{"chromium", config + "chromium"}, {"chromium-browser", config + "chromium"}}},
    };
  }();
  return browsers;
}

const TabAdapter* adapterNamed(std::string_view name) {
  for (const TabAdapter& adapter : TabAdapter::table()) {
    if (adapter.name == name) return &adapter;
  }
  return nullptr;
}

struct Found {
  const TabAdapter* adapter = nullptr;
  std::optional<std::string> folder;
};

Found find(std::string_view bundleID) {
  const std::string id = TextServices::lowercased(bundleID, "root");
  if (id.starts_with(kX11Prefix)) {
    const std::string_view windowClass = std::string_view(id).substr(kX11Prefix.size());
    for (const LinuxBrowser& browser : linuxBrowsers()) {
      for (const auto& [candidate, folder] : browser.x11Classes) {
        if (candidate == windowClass) return {adapterNamed(browser.adapterName), folder};
      }
    }
    return {};
  }
  const TabAdapter* adapter = TabAdapter::find(id);
  if (!adapter || !adapter->family) return {adapter, std::nullopt};
  for (const LinuxBrowser& browser : linuxBrowsers()) {
    if (browser.adapterName != adapter->name) continue;
    // The adapter's own suffix rule, over the folders of this system.
    TabAdapter here = *adapter;
    here.supportPaths = browser.paths;
    return {adapter, here.supportFolder(id)};
  }
  return {adapter, std::nullopt};
}

}  // namespace

std::optional<FaviconBrowser> BrowserDataFolders::family(std::string_view bundleID) {
  const Found found = find(bundleID);
  return found.adapter ? found.adapter->family : std::nullopt;
}

std::optional<std::string> BrowserDataFolders::folder(std::string_view bundleID) {
  const Found found = find(bundleID);
  if (!found.adapter || !found.adapter->family) return std::nullopt;
  return found.folder;
}

}  // namespace quorvel
