#include "support/BrowserTrees.h"

#include <algorithm>

#include "platform/AXValue.h"
#include "platform/sim/SimWindow.h"

namespace quorvel {

namespace {

Rect windowFrame(SimDesktop& sim, uint32_t window) { return sim.windowFrame(window).value_or(Rect{0, 0, 1200, 800}); }

// "AXPress" on a tab: the tab becomes the one selected tab of its strip. `attribute` is how the
// application reports selection ("AXSelected" as a boolean, "AXValue" as 1 or 0).
SimActionHandler selectsTab(SimDesktop& sim, std::string attribute, bool asNumber) {
  SimDesktop* desktop = &sim;
  return [desktop, attribute, asNumber](SimElementId self) {
    for (SimElementId sibling : desktop->children(desktop->parent(self))) {
      const AXAttributeResult role = desktop->attribute(sibling, "AXRole");
      const std::string* name = role.ok() ? role.value.get<std::string>() : nullptr;
      if (!name || *name != "AXRadioButton") continue;
      const bool on = sibling == self;
      desktop->setAttribute(sibling, attribute, asNumber ? AXValue(int64_t{on ? 1 : 0}) : AXValue(on));
    }
    return AXError::success;
  };
}

SimElementSpec tabSpec(SimDesktop& sim, StripStyle style, const Rect& window, const BrowserTab& tab, size_t index,
                       size_t count) {
  SimElementSpec spec;
  spec.role = "AXRadioButton";
  spec.title = tab.title;
  spec.description = tab.description;
  const Rect frame = BrowserTrees::tabFrame(window, index, count, tab.pinned);
  spec.frame = frame;
  SimElementSpec close;
  close.role = "AXButton";
  close.description = "Close Tab";
  close.frame = Rect{frame.x + frame.width - 22, frame.y + 7, 16, 16};
  close.actions["AXPress"] = nullptr;
  switch (style) {
    case StripStyle::chromium:
      spec.selected = tab.selected;
      spec.value = int64_t{tab.selected ? 1 : 0};
      spec.actions["AXPress"] = selectsTab(sim, "AXSelected", false);
      spec.children.push_back(close);
      break;
    case StripStyle::firefox:
      spec.selected = tab.selected;
      spec.actions["AXPress"] = selectsTab(sim, "AXSelected", false);
      spec.children.push_back(close);
      break;
    case StripStyle::safari: {
      spec.value = int64_t{tab.selected ? 1 : 0};
      spec.actions["AXPress"] = selectsTab(sim, "AXValue", true);
      SimElementSpec icon;
      icon.role = "AXImage";
      icon.identifier = "FaviconImageView-" + std::to_string(index);
      icon.frame = Rect{frame.x + 8, frame.y + frame.height / 2 - 8, 16, 16};
      spec.children.push_back(close);
      spec.children.push_back(icon);
      break;
    }
    case StripStyle::tabbedWindows:
      spec.subrole = "AXTabButton";
      spec.value = int64_t{tab.selected ? 1 : 0};
      spec.actions["AXPress"] = selectsTab(sim, "AXValue", true);
      spec.children.push_back(close);
      break;
  }
  return spec;
}

SimElementSpec button(std::string description) {
  SimElementSpec spec;
  spec.role = "AXButton";
  spec.description = std::move(description);
  spec.actions["AXPress"] = nullptr;
  return spec;
}

// The container's children: the tabs, then whatever buttons the application puts beside them.
std::vector<SimElementSpec> stripChildren(SimDesktop& sim, StripStyle style, const Rect& window,
                                          const std::vector<BrowserTab>& tabs) {
  std::vector<SimElementSpec> children;
  children.reserve(tabs.size() + 2);
  for (size_t i = 0; i < tabs.size(); ++i) children.push_back(tabSpec(sim, style, window, tabs[i], i, tabs.size()));
  if (style == StripStyle::firefox) {
    children.push_back(button("New Tab"));
    children.push_back(button("List all tabs"));
  }
  if (style == StripStyle::tabbedWindows) children.push_back(button("New Tab"));
  return children;
}

// Fills in the strip's tab elements from the container's children and, where the application
// lists its tabs apart ("AXTabs"), writes that list.
void collectTabs(SimDesktop& sim, BuiltStrip& strip, size_t count) {
  std::vector<SimElementId> children = sim.children(strip.container);
  strip.tabs.assign(children.begin(), children.begin() + static_cast<std::ptrdiff_t>(std::min(count, children.size())));
  strip.favicons.clear();
  if (strip.style == StripStyle::safari) {
    for (SimElementId tab : strip.tabs) {
      std::vector<SimElementId> parts = sim.children(tab);
      strip.favicons.push_back(parts.size() > 1 ? parts[1] : SimElementId::none);
    }
  }
  if (strip.style == StripStyle::firefox) {
    AXValue::Elements listed;
    for (SimElementId tab : strip.tabs) listed.push_back(sim.ref(tab));
    sim.setAttribute(strip.container, "AXTabs", AXValue(listed));
  }
  if (strip.style == StripStyle::tabbedWindows) {
    // The tab bar lists its new-tab button among the tabs; only the subrole tells them apart.
    AXValue::Elements listed;
    for (SimElementId child : children) listed.push_back(sim.ref(child));
    sim.setAttribute(strip.container, "AXTabs", AXValue(listed));
  }
}

SimElementSpec group(std::string role, std::vector<SimElementSpec> children = {}) {
  SimElementSpec spec;
  spec.role = std::move(role);
  spec.children = std::move(children);
  return spec;
}

SimElementSpec webArea() {
  SimElementSpec area = group("AXScrollArea", {group("AXWebArea", {group("AXStaticText"), group("AXLink")})});
  return area;
}

}  // namespace

std::vector<BrowserTab> BrowserTrees::numberedTabs(size_t count, std::string_view prefix, size_t selected) {
  std::vector<BrowserTab> tabs;
  tabs.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    tabs.push_back(BrowserTab{std::string(prefix) + std::to_string(i + 1), std::nullopt, i == selected, false});
  }
  return tabs;
}

Rect BrowserTrees::tabFrame(const Rect& window, size_t index, size_t count, bool pinned) {
  const double usable = std::max(window.width - 160, 40.0);
  const double width = pinned ? 40 : std::min(240.0, usable / static_cast<double>(std::max<size_t>(count, 1)));
  return Rect{window.x + 80 + width * static_cast<double>(index), window.y + 8, width, kTabHeight};
}

BuiltStrip BrowserTrees::build(SimDesktop& sim, StripStyle style, uint32_t window, const std::vector<BrowserTab>& tabs) {
  switch (style) {
    case StripStyle::chromium: return chromium(sim, window, tabs);
    case StripStyle::firefox: return firefox(sim, window, tabs);
    case StripStyle::safari: return safari(sim, window, tabs);
    case StripStyle::tabbedWindows: return tabbedWindows(sim, window, tabs);
  }
  return {};
}

BuiltStrip BrowserTrees::chromium(SimDesktop& sim, uint32_t window, const std::vector<BrowserTab>& tabs) {
  const Rect frame = windowFrame(sim, window);
  SimElementSpec strip = group("AXTabGroup", stripChildren(sim, StripStyle::chromium, frame, tabs));
  SimElementSpec topBar = group("AXGroup", {strip, button("New Tab")});
  SimElementSpec toolbar = group("AXToolbar", {button("Back"), button("Forward"), button("Reload")});
  SimElementSpec browserView = group("AXGroup", {topBar, toolbar});
  const SimElementId view = sim.addElement(sim.windowElement(window), browserView);
  sim.addElement(sim.windowElement(window), webArea());

  BuiltStrip built{StripStyle::chromium, window};
  built.container = sim.children(sim.children(view).at(0)).at(0);
  collectTabs(sim, built, tabs.size());
  return built;
}

BuiltStrip BrowserTrees::firefox(SimDesktop& sim, uint32_t window, const std::vector<BrowserTab>& tabs) {
  const Rect frame = windowFrame(sim, window);
  SimElementSpec strip = group("AXTabGroup", stripChildren(sim, StripStyle::firefox, frame, tabs));
  SimElementSpec navigation = group("AXToolbar", {strip});
  navigation.title = "Tab bar";
  const SimElementId bar = sim.addElement(sim.windowElement(window), navigation);
  sim.addElement(sim.windowElement(window), group("AXToolbar", {button("Back"), button("Forward")}));
  sim.addElement(sim.windowElement(window), webArea());

  BuiltStrip built{StripStyle::firefox, window};
  built.container = sim.children(bar).at(0);
  collectTabs(sim, built, tabs.size());
  return built;
}

BuiltStrip BrowserTrees::safari(SimDesktop& sim, uint32_t window, const std::vector<BrowserTab>& tabs) {
  const Rect frame = windowFrame(sim, window);
  // The sidebar is a provider group too, with radio buttons of its own, but not the tab bar.
  SimElementSpec sidebarItem = group("AXRadioButton");
  sidebarItem.title = "Bookmarks";
  SimElementSpec sidebar = group("AXOpaqueProviderGroup", {sidebarItem});
  sidebar.identifier = "SidebarContainer";
  SimElementSpec tabBar = group("AXOpaqueProviderGroup", stripChildren(sim, StripStyle::safari, frame, tabs));
  tabBar.identifier = "TabBar";
  const SimElementId content = sim.addElement(sim.windowElement(window), group("AXGroup", {sidebar, tabBar}));
  sim.addElement(sim.windowElement(window), webArea());

  BuiltStrip built{StripStyle::safari, window};
  built.container = sim.children(content).at(1);
  collectTabs(sim, built, tabs.size());
  return built;
}

BuiltStrip BrowserTrees::tabbedWindows(SimDesktop& sim, uint32_t window, const std::vector<BrowserTab>& tabs) {
  const Rect frame = windowFrame(sim, window);
  sim.addElement(sim.windowElement(window), group("AXSplitGroup", {group("AXScrollArea"), group("AXScrollArea")}));
  const SimElementId bar =
      sim.addElement(sim.windowElement(window), group("AXTabGroup", stripChildren(sim, StripStyle::tabbedWindows, frame, tabs)));
  BuiltStrip built{StripStyle::tabbedWindows, window};
  built.container = bar;
  collectTabs(sim, built, tabs.size());
  return built;
}

BuiltStrip BrowserTrees::rebuild(SimDesktop& sim, const BuiltStrip& strip, const std::vector<BrowserTab>& tabs) {
  const Rect frame = windowFrame(sim, strip.window);
  sim.replaceChildren(strip.container, stripChildren(sim, strip.style, frame, tabs));
  BuiltStrip rebuilt = strip;
  collectTabs(sim, rebuilt, tabs.size());
  return rebuilt;
}

std::shared_ptr<BuiltStrip> BrowserTrees::chromiumAfterNudge(SimDesktop& sim, uint32_t window,
                                                             std::vector<BrowserTab> tabs, bool titlesLater) {
  auto strip = std::make_shared<BuiltStrip>();
  strip->style = StripStyle::chromium;
  strip->window = window;
  const int32_t pid = sim.window(window).pid;
  if (titlesLater) {
    for (BrowserTab& tab : tabs) tab.title.clear();
  }
  SimDesktop* desktop = &sim;
  SimSetHook switchOn = [desktop, window, tabs, strip](SimElementId, const AXValue& value) {
    const bool* on = value.get<bool>();
    if (!on || !*on || strip->container != SimElementId::none) return;
    *strip = chromium(*desktop, window, tabs);
  };
  const SimElementId app = sim.applicationElement(pid);
  sim.onAttributeSet(app, "AXManualAccessibility", switchOn);
  sim.onAttributeSet(app, "AXEnhancedUserInterface", switchOn);
  return strip;
}

void BrowserTrees::refuseNudges(SimDesktop& sim, int32_t pid) {
  SimDesktop* desktop = &sim;
  const SimElementId app = sim.applicationElement(pid);
  for (const char* attribute : {"AXManualAccessibility", "AXEnhancedUserInterface"}) {
    std::string name = attribute;
    sim.onAttributeSet(app, name, [desktop, name](SimElementId self, const AXValue&) {
      desktop->setAttribute(self, name, AXValue(false));
    });
  }
}

BuiltStrip BrowserTrees::chromiumNested(SimDesktop& sim, uint32_t window, size_t levels,
                                        const std::vector<BrowserTab>& tabs) {
  const Rect frame = windowFrame(sim, window);
  SimElementSpec node = group("AXTabGroup", stripChildren(sim, StripStyle::chromium, frame, tabs));
  for (size_t i = 0; i < levels; ++i) node = group("AXGroup", {node});
  SimElementId container = sim.addElement(sim.windowElement(window), node);
  for (size_t i = 0; i < levels; ++i) container = sim.children(container).at(0);
  BuiltStrip built{StripStyle::chromium, window};
  built.container = container;
  collectTabs(sim, built, tabs.size());
  return built;
}

void BrowserTrees::addClutter(SimDesktop& sim, uint32_t window, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    SimElementSpec leaf = group("AXStaticText");
    leaf.value = std::string("note ") + std::to_string(i);
    sim.addElement(sim.windowElement(window), leaf);
  }
}

std::vector<SimElementId> BrowserTrees::windowMenu(SimDesktop& sim, int32_t pid,
                                                   const std::vector<std::optional<std::string>>& items) {
  auto menuBarItem = [](std::string title, std::vector<SimElementSpec> entries) {
    SimElementSpec menu = group("AXMenu", std::move(entries));
    SimElementSpec item = group("AXMenuBarItem", {menu});
    item.title = std::move(title);
    return item;
  };
  auto entry = [](const std::optional<std::string>& title) {
    SimElementSpec item = group("AXMenuItem");
    item.title = title;  // a separator has an empty title, or none at all
    if (title && !title->empty()) item.actions["AXPress"] = nullptr;
    return item;
  };
  std::vector<SimElementSpec> windowEntries;
  for (const auto& title : items) windowEntries.push_back(entry(title));

  SimElementSpec bar = group("AXMenuBar");
  for (const char* title : {"Apple", "File", "Edit", "View"}) {
    bar.children.push_back(menuBarItem(title, {entry(std::string("About")), entry(std::nullopt)}));
  }
  bar.children.push_back(menuBarItem("Window", windowEntries));
  bar.children.push_back(menuBarItem("Help", {entry(std::string("Search"))}));
  const SimElementId barID = sim.addElement(sim.applicationElement(pid), bar);

  const SimElementId windowItem = sim.children(barID).at(4);
  const SimElementId menu = sim.children(windowItem).at(0);
  return sim.children(menu);
}

std::vector<std::optional<std::string>> BrowserTrees::standardWindowMenu(const std::vector<std::string>& windowTitles) {
  std::vector<std::optional<std::string>> items{std::string("Minimize"), std::string("Zoom"), std::nullopt,
                                                std::string("Show Previous Tab"), std::string("Show Next Tab"),
                                                std::string("Move Tab to New Window"), std::string(""),
                                                std::string("Bring All to Front"), std::nullopt};
  for (const std::string& title : windowTitles) items.emplace_back(title);
  return items;
}

}  // namespace quorvel
