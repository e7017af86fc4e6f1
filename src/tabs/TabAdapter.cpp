#include "tabs/TabAdapter.h"

#include "base/TextServices.h"
#include "platform/AXNames.h"
#include "platform/Accessibility.h"

namespace quorvel {

namespace {

std::string lowercasedIdentifier(std::string_view bundleID) {
  // Bundle identifiers are compared without the user's locale rules (no Turkish dotless i).
  return TextServices::lowercased(bundleID, "root");
}

bool hasPrefix(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

bool hasSuffix(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

TabAdapter chromiumBrowser(std::string name, std::vector<std::string> prefixes,
                           std::map<std::string, std::string> paths) {
  TabAdapter a;
  a.containers = {{AXNames::kTabGroupRole, std::nullopt}};
  a.routes = {TabAdapter::ContainerRoute::children, TabAdapter::ContainerRoute::tabsAttribute};
  a.tabSubrole = std::nullopt;
  a.tabsAreWindows = false;
  a.titleAttributes = {AXNames::kTitle, AXNames::kDescription};
  a.selectedAttribute = AXNames::kSelected;
  a.trimsMemoryAnnotation = true;
  a.needsNudge = true;
  a.hasSiteIcon = true;
  a.faviconSideFraction = 0.47;
  a.faviconInsetFraction = 0.3;
  a.pinnedWidthFactor = 1.5;
  a.faviconChildIdentifier = std::nullopt;
  a.family = FaviconBrowser::chromium;
  a.bundlePrefixes = std::move(prefixes);
  a.supportPaths = std::move(paths);
  a.name = std::move(name);
  return a;
}

TabAdapter firefox() {
  TabAdapter a = chromiumBrowser("Firefox", {"org.mozilla.", "x11.firefox"}, {{"", "Library/Application Support/Firefox"}});
  a.routes = {TabAdapter::ContainerRoute::tabsAttribute, TabAdapter::ContainerRoute::children};
  a.titleAttributes = {AXNames::kTitle};
  a.trimsMemoryAnnotation = false;
  a.faviconSideFraction = 0.44;
  a.faviconInsetFraction = 0.22;
  a.family = FaviconBrowser::gecko;
  return a;
}

TabAdapter safari() {
  TabAdapter a = chromiumBrowser("Safari", {"com.apple.safari"}, {});
  a.containers = {{AXNames::kOpaqueProviderGroupRole, std::string("TabBar")}};
  a.routes = {TabAdapter::ContainerRoute::children, TabAdapter::ContainerRoute::tabsAttribute};
  a.titleAttributes = {AXNames::kTitle, AXNames::kDescription};
  a.selectedAttribute = AXNames::kValue;
  a.trimsMemoryAnnotation = false;
  a.needsNudge = false;
  a.hasSiteIcon = true;
  a.faviconSideFraction = 0.625;
  a.faviconInsetFraction = 0.0;
  a.pinnedWidthFactor = 1.5;
  a.faviconChildIdentifier = "FaviconImageView";
  a.family = std::nullopt;
  return a;
}

TabAdapter tabbedWindows(std::string name, std::string prefix) {
  TabAdapter a;
  a.containers = {{AXNames::kTabGroupRole, std::nullopt}};
  a.routes = {TabAdapter::ContainerRoute::tabsAttribute};
  a.tabSubrole = AXNames::kTabButtonSubrole;
  a.tabsAreWindows = true;
  a.titleAttributes = {AXNames::kTitle};
  a.selectedAttribute = AXNames::kValue;
  a.trimsMemoryAnnotation = false;
  a.needsNudge = false;
  a.hasSiteIcon = false;
  a.faviconSideFraction = 0;
  a.faviconInsetFraction = 0;
  a.pinnedWidthFactor = 1.5;
  a.family = std::nullopt;
  a.bundlePrefixes = {std::move(prefix)};
  a.name = std::move(name);
  return a;
}

std::vector<TabAdapter> buildTable() {
  const std::string base = "Library/Application Support/";
  std::vector<TabAdapter> t;
  t.push_back(firefox());
  t.push_back(chromiumBrowser("Chrome", {"com.google.chrome", "x11.google-chrome"},
                              {{"", base + "Google/Chrome"},
                               {".beta", base + "Google/Chrome Beta"},
                               {".canary", base + "Google/Chrome Canary"},
                               {".dev", base + "Google/Chrome Dev"}}));
  t.push_back(chromiumBrowser("Brave", {"com.brave.browser", "x11.brave-browser"},
                              {{"", base + "BraveSoftware/Brave-Browser"},
                               {".beta", base + "BraveSoftware/Brave-Browser-Beta"},
                               {".nightly", base + "BraveSoftware/Brave-Browser-Nightly"},
                               {".dev", base + "BraveSoftware/Brave-Browser-Dev"}}));
  t.push_back(chromiumBrowser("Edge", {"com.microsoft.edgemac", "x11.microsoft-edge"},
                              {{"", base + "Microsoft Edge"},
                               {".beta", base + "Microsoft Edge Beta"},
                               {".dev", base + "Microsoft Edge Dev"},
                               {".canary", base + "Microsoft Edge Canary"}}));
  t.push_back(chromiumBrowser("Vivaldi", {"com.vivaldi.vivaldi", "x11.vivaldi"}, {{"", base + "Vivaldi"}}));
  t.push_back(chromiumBrowser("Opera", {"com.operasoftware.opera", "x11.opera"},
                              {{"", base + "com.operasoftware.Opera"},
                               {"next", base + "com.operasoftware.OperaNext"},
                               {"developer", base + "com.operasoftware.OperaDeveloper"},
                               {"gx", base + "com.operasoftware.OperaGX"}}));
  t.push_back(chromiumBrowser("Chromium", {"org.chromium.", "x11.chromium"}, {{"", base + "Chromium"}}));
  t.push_back(safari());
  t.push_back(tabbedWindows("Finder", "com.apple.finder"));
  t.push_back(tabbedWindows("Terminal", "com.apple.terminal"));
  t.push_back(tabbedWindows("Preview", "com.apple.preview"));
  t.push_back(tabbedWindows("Ghostty", "com.brenhalk.ghostty"));
  return t;
}

}  // namespace

const std::vector<TabAdapter>& TabAdapter::table() {
  static const std::vector<TabAdapter> adapters = buildTable();  // once, safe under concurrent first use
  return adapters;
}

const TabAdapter* TabAdapter::find(std::string_view bundleID) {
  const std::string id = lowercasedIdentifier(bundleID);
  for (const TabAdapter& adapter : table()) {
    for (const std::string& prefix : adapter.bundlePrefixes) {
      if (hasPrefix(id, prefix)) return &adapter;
    }
  }
  return nullptr;
}

std::optional<TabAdapter> TabAdapter::adapter(const std::optional<std::string>& bundleID) {
  if (!bundleID) return std::nullopt;
  const TabAdapter* found = find(*bundleID);
  if (!found) return std::nullopt;
  return *found;
}

std::optional<std::string> TabAdapter::supportFolder(std::string_view bundleID) const {
  const std::string id = lowercasedIdentifier(bundleID);
  const std::pair<const std::string, std::string>* best = nullptr;
  for (const auto& entry : supportPaths) {
    if (!entry.first.empty() && !hasSuffix(id, entry.first)) continue;
    if (!best || TextServices::graphemeCount(entry.first) > TextServices::graphemeCount(best->first)) {
      best = &entry;
    }
  }
  if (!best) return std::nullopt;
  return best->second;
}

// ---- Nudge ----

TabAdapter::NudgeRecord::NudgeRecord(Accessibility& accessibility, const Clock& clock)
    : accessibility_(accessibility), clock_(clock) {}

NudgeResult TabAdapter::NudgeRecord::nudge(int32_t pid) {
  const Instant now = clock_.now();
  if (auto it = nudgedAt_.find(pid); it != nudgedAt_.end()) {
    return now - it->second < kFreshFor ? NudgeResult::fresh : NudgeResult::settled;
  }
  AXElementRef app = accessibility_.applicationElement(pid);
  if (app) accessibility_.setMessagingTimeout(app, kMessagingTimeout);
  // Both switches are always written: some applications answer only to one of them.
  bool took = false;
  for (const char* attribute : {AXNames::kManualAccessibility, AXNames::kEnhancedUserInterface}) {
    if (!app) break;
    accessibility_.setAttributeValue(app, attribute, AXValue(true));
    AXAttributeResult back = accessibility_.copyAttributeValue(app, attribute);
    const bool* on = back.ok() ? back.value.get<bool>() : nullptr;
    if (on && *on) took = true;
  }
  if (!took) return NudgeResult::refused;
  nudgedAt_[pid] = clock_.now();
  return NudgeResult::fresh;
}

void TabAdapter::NudgeRecord::pruneNudged(const std::unordered_set<int32_t>& keeping) {
  std::erase_if(nudgedAt_, [&](const auto& entry) { return !keeping.contains(entry.first); });
}

}  // namespace quorvel
