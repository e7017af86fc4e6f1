#include "settings/SettingsSchema.h"

#include <algorithm>
#include <unordered_map>

#include "settings/AppSettings.h"

namespace quorvel {

namespace {

using Value = SettingsSchema::Value;
using ValueType = SettingsSchema::ValueType;
using K = AppSettings::Key;

SettingsSchema::Entry entry(const char* key, bool value) {
  return {key, ValueType::boolean, Value(value)};
}
SettingsSchema::Entry entry(const char* key, double value) {
  return {key, ValueType::number, Value(value)};
}
SettingsSchema::Entry entry(const char* key, const char* text) {
  return {key, ValueType::text, Value(text)};
}
// An enumerated setting: stored as its case's raw value, with every case's raw value beside it.
// Unknown text reads as the first case unless `unknown` names another.
template <class E>
SettingsSchema::Entry entry(const char* key, E value, E unknown) {
  return {key, ValueType::text, Value(std::string(SettingEnums::rawValue(value))), SettingEnumNames<E>::names,
          static_cast<size_t>(unknown)};
}
template <class E>
SettingsSchema::Entry entry(const char* key, E value) {
  return entry(key, value, SettingEnums::allCases<E>().front());
}
SettingsSchema::Entry shortcutEntry(const char* key, const std::optional<HotkeyBinding>& binding) {
  return {key, ValueType::integerDictionary, binding ? binding->storedValue() : Value::object()};
}

// The base table, built where the enumerations' names need no qualification.
struct BaseTable : SettingEnums {
  static std::vector<SettingsSchema::Entry> build();
};

}  // namespace

std::vector<SettingsSchema::Entry> SettingsSchema::entries() { return BaseTable::build(); }

std::vector<SettingsSchema::Entry> BaseTable::build() {
  using Entry = SettingsSchema::Entry;
  std::vector<Entry> table = {
      shortcutEntry(K::hotkeyBinding1, HotkeyBinding{48, HotkeyBinding::optionFlag}),
      shortcutEntry(K::hotkeyBinding2, std::nullopt),
      entry(K::hotkeyScope1, HotkeyScope::allWindows),
      entry(K::hotkeyScope2, HotkeyScope::allWindows),
      shortcutEntry(K::cancelBinding, std::nullopt),
      entry(K::switcherBehavior, SwitcherBehavior::holdToSwitch),
      entry(K::holdStyle, HoldStyle::staysOnCurrent),
      entry(K::switcherStyle, SwitcherStyle::coverArc),
      entry(K::gridOrder, GridOrder::rows),
      entry(K::moveResize, MoveResize::fitToDisplay),
      entry(K::moveBetweenDisplays, true),
      entry(K::moveBetweenDesktops, true),
      entry(K::panoramaArrows, PanoramaArrows::order),
      entry(K::titlePlacement, TitlePlacement::bottom),
      entry(K::titleSize, TitleSize::medium, TitleSize::medium),
      entry(K::cardChromeSize, TitleSize::medium, TitleSize::medium),
      entry(K::scrollDirectionNatural, true),
      entry(K::flipStacksBySwiping, true),
      entry(K::preserveWindowScale, true),
      entry(K::showAppIcons, true),
      entry(K::iconPosition, IconPosition::topLeft),
      entry(K::showWindowTitle, true),
      entry(K::showCardTitles, false),
      entry(K::fadeSelectedTitle, false),
      entry(K::labelPlaceholders, true),
      entry(K::floorReflections, true),
      entry(K::animateFlight, true),
      entry(K::liveHero, true),
      entry(K::refreshPictureOnLeave, true),
      entry(K::blurAmount, 0.5),
      entry(K::backdropDim, 0.22),
      entry(K::backdropStyle, BackdropStyle::liveDesktop),
      entry(K::backdropColor, "#0a0e15"),
      entry(K::otherSpacesDisplay, CategoryDisplay::show),
      entry(K::minimizedDisplay, CategoryDisplay::show),
      entry(K::hiddenAppsDisplay, CategoryDisplay::hide),
      entry(K::windowlessAppsDisplay, CategoryDisplay::atEnd),
      entry(K::privateWindowsDisplay, PrivateWindowsDisplay::show),
      entry(K::privateWindowNames, false),
      entry(K::hideFromScreenSharing, false),
      entry(K::tabsDisplay, TabsDisplay::whileSearching, TabsDisplay::whileSearching),
      entry(K::tabSiteIcons, true),
      entry(K::bunchTabs, true),
      entry(K::keepWindowCardBesideTabs, false),
      entry(K::bunchAppWindows, false),
      entry(K::stackOrder, StackOrder::recent),
      entry(K::windowActionsEnabled, true),
      entry(K::showActionButtons, true),
      {K::hiddenBundleIDs, ValueType::textList, Value::array()},
      {K::hiddenTitlePatterns, ValueType::wordListDictionary, Value::object()},
      {K::passThroughBundleIDs, ValueType::textList,
       // Remote desktops and virtual machines, by their windows' class: Boxes, KRDC, GNOME Connections,
       // Remmina (every window class it uses), QEMU's own window, virt-viewer, TeamViewer, VirtualBox,
       // VMware, TigerVNC and FreeRDP.
       Value::array({"x11.gnome-boxes", "x11.krdc", "x11.org.gnome.connections", "x11.org.remmina.",
                     "x11.qemu-system-x86_64", "x11.remote-viewer", "x11.teamviewer", "x11.virtualbox-machine",
                     "x11.vmware", "x11.vncviewer", "x11.xfreerdp"})},
      entry(K::groupByApp, false),
      entry(K::windowOrder, WindowOrder::recent),
      entry(K::searchEnabled, true),
      entry(K::showTips, true),
      entry(K::graveCyclesBackward, true),
      entry(K::summonGesture, SummonGesture::threeFingers, SummonGesture::threeFingers),
      entry(K::summonSwipeDirection, SummonSwipeDirection::up),
      entry(K::summonScreen, SummonScreen::pointerScreen),
      entry(K::showSelectionRing, true),
      entry(K::showStatusBadges, true),
      entry(K::showCardShadows, true),
      entry(K::animationSpeed, AnimationSpeed::normal, AnimationSpeed::normal),
      entry(K::scrollSpeed, 1.0),
      entry(K::vimKeys, false),
      entry(K::hoverSelects, true),
      entry(K::hoverSelectMode, HoverSelectMode::highlight),
      entry(K::middleClickCloses, false),
      entry(K::cursorFollowsFocus, false),
      entry(K::hapticTicks, true),
      entry(K::dragToSwitch, true),
      entry(K::dragCommitMode, DragCommitMode::release),
      entry(K::dragRestTime, DragRestTime::normal, DragRestTime::normal),
      entry(K::showMenuBarIcon, true),
  };
  for (SwitcherStyle style : SettingEnums::allCases<SwitcherStyle>()) {
    table.push_back({AppSettings::cardSpacingKey(style), ValueType::number, Value(1.0)});
  }
  return table;
}

std::map<std::string, Value> SettingsSchema::houseLook() {
  return {
      {K::animationSpeed, "normal"},
      {K::backdropColor, "#081420"},
      {K::backdropDim, 0.4155263185521122},
      {K::blurAmount, 0.3075876258539431},
      {K::cardChromeSize, "small"},
      {K::cardSpacingCoverArc, 1.4545188210227273},
      {K::cardSpacingTangentRing, 1.0745036256906078},
      {K::cardSpacingFlatRing, 1.0467973066298342},
      {K::cardSpacingFlip3d, 0.8991108425414365},
      {K::cardSpacingCylinder, 1.0778834319311725},
      {K::cardSpacingRow, 1.1630783839779004},
      {K::groupByApp, true},
      {K::middleClickCloses, true},
      {K::privateWindowNames, true},
      {K::privateWindowsDisplay, "blur"},
      {K::showCardTitles, true},
      {K::tabsDisplay, "always"},
      {K::titleSize, "large"},
      {K::vimKeys, true},
      {K::windowOrder, "fixed"},
  };
}

std::vector<SettingsSchema::Entry> SettingsSchema::laidOver(std::vector<Entry> base,
                                                            const std::map<std::string, Value>& look) {
  for (auto& item : base) {
    const auto over = look.find(item.key);
    if (over != look.end() && over->second.type() == item.value.type()) item.value = over->second;
  }
  return base;
}

std::vector<SettingsSchema::Entry> SettingsSchema::effective() {
  return laidOver(entries(), houseLook());
}

std::map<std::string, Value> SettingsSchema::defaults() {
  std::map<std::string, Value> table;
  for (auto& item : effective()) table.emplace(std::move(item.key), std::move(item.value));
  return table;
}

std::optional<SettingsSchema::Entry> SettingsSchema::find(std::string_view key) {
  for (Entry& item : effective()) {
    if (item.key == key) return std::move(item);
  }
  return std::nullopt;
}

namespace {

// The enumerated keys of the base table, built once: the house look changes defaults, never the
// cases or the reading of unknown text.
const SettingsSchema::Entry* enumeratedEntry(std::string_view key) {
  static const std::unordered_map<std::string_view, SettingsSchema::Entry> enumerated = [] {
    static const std::vector<SettingsSchema::Entry> base = SettingsSchema::entries();
    std::unordered_map<std::string_view, SettingsSchema::Entry> table;
    for (const auto& item : base) {
      if (!item.cases.empty()) table.emplace(item.key, item);
    }
    return table;
  }();
  const auto found = enumerated.find(key);
  return found == enumerated.end() ? nullptr : &found->second;
}

}  // namespace

std::string_view SettingsSchema::unknownCaseValue(std::string_view key) {
  const Entry* item = enumeratedEntry(key);
  if (!item) return {};
  return item->unknownCase < item->cases.size() ? item->cases[item->unknownCase] : item->cases.front();
}

std::optional<std::string_view> SettingsSchema::caseNamed(std::string_view key, std::string_view text) {
  // Names of earlier versions that still read as a case of today.
  struct OlderName {
    std::string_view key, name, reading;
  };
  static constexpr OlderName olderNames[] = {{"switcherStyle", "classicRing", "flatRing"}};
  const Entry* item = enumeratedEntry(key);
  if (!item) return std::nullopt;
  const auto match = std::find(item->cases.begin(), item->cases.end(), text);
  if (match != item->cases.end()) return *match;
  for (const OlderName& older : olderNames) {
    if (older.key == key && older.name == text) return older.reading;
  }
  return std::nullopt;
}

std::string_view SettingsSchema::tolerantValue(std::string_view key, const std::optional<std::string>& stored) {
  if (!enumeratedEntry(key)) return {};
  if (stored) {
    if (const std::optional<std::string_view> named = caseNamed(key, *stored)) return *named;
  }
  return unknownCaseValue(key);
}

}  // namespace quorvel
