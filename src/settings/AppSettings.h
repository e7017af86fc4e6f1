#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/DefaultsStore.h"
#include "settings/HotkeyBinding.h"
#include "settings/SettingColors.h"
#include "settings/SettingEnums.h"
#include "settings/SettingsSchema.h"
#include "settings/SwitcherKeyCodes.h"
#include "settings/TitlePatterns.h"

namespace quorvel {

// The typed settings over the user defaults store.
//
// AppSettings keeps no values of its own: every reader asks the store at the moment of the call and
// never fails (stored text that names no case reads as a fixed fallback case), and every writer writes
// straight to the store. Components learn of changes through the store's observers. Enumerated
// settings are stored as text, the case's own name (its raw value).
class AppSettings {
 public:
  using Value = nlohmann::json;
  using HotkeyBinding = quorvel::HotkeyBinding;

  // ---- Value enumerations (SettingEnums; raw value = case name) ----
  using HotkeyScope = SettingEnums::HotkeyScope;
  using SwitcherBehavior = SettingEnums::SwitcherBehavior;
  using HoldStyle = SettingEnums::HoldStyle;
  using SwitcherStyle = SettingEnums::SwitcherStyle;
  using GridOrder = SettingEnums::GridOrder;
  using PanoramaArrows = SettingEnums::PanoramaArrows;
  using MoveResize = SettingEnums::MoveResize;
  using TitlePlacement = SettingEnums::TitlePlacement;
  using TitleSize = SettingEnums::TitleSize;
  using IconPosition = SettingEnums::IconPosition;
  using BackdropStyle = SettingEnums::BackdropStyle;
  using CategoryDisplay = SettingEnums::CategoryDisplay;
  using PrivateWindowsDisplay = SettingEnums::PrivateWindowsDisplay;
  using TabsDisplay = SettingEnums::TabsDisplay;
  using StackOrder = SettingEnums::StackOrder;
  using WindowOrder = SettingEnums::WindowOrder;
  using SummonGesture = SettingEnums::SummonGesture;
  using SummonSwipeDirection = SettingEnums::SummonSwipeDirection;
  using SummonScreen = SettingEnums::SummonScreen;
  using AnimationSpeed = SettingEnums::AnimationSpeed;
  using HoverSelectMode = SettingEnums::HoverSelectMode;
  using DragCommitMode = SettingEnums::DragCommitMode;
  using DragRestTime = SettingEnums::DragRestTime;

  template <class E>
  static std::string_view rawValue(E value) {
    return SettingEnums::rawValue(value);
  }
  // The case whose raw value is exactly `raw` (case-sensitive), or none.
  template <class E>
  static std::optional<E> fromRawValue(std::string_view raw) {
    return SettingEnums::fromRawValue<E>(raw);
  }
  template <class E>
  static std::span<const E> allCases() {
    return SettingEnums::allCases<E>();
  }

  // ---- Keys ----
  struct Key {
    static constexpr const char* hotkeyBinding1 = "hotkeyBinding1";
    static constexpr const char* hotkeyBinding2 = "hotkeyBinding2";
    static constexpr const char* hotkeyScope1 = "hotkeyScope1";
    static constexpr const char* hotkeyScope2 = "hotkeyScope2";
    static constexpr const char* cancelBinding = "cancelBinding";
    static constexpr const char* switcherBehavior = "switcherBehavior";
    static constexpr const char* holdStyle = "holdStyle";
    static constexpr const char* switcherStyle = "switcherStyle";
    static constexpr const char* gridOrder = "gridOrder";
    static constexpr const char* moveResize = "moveResize";
    static constexpr const char* moveBetweenDisplays = "moveBetweenDisplays";
    static constexpr const char* moveBetweenDesktops = "moveBetweenDesktops";
    static constexpr const char* panoramaArrows = "panoramaArrows";
    static constexpr const char* titlePlacement = "titlePlacement";
    static constexpr const char* titleSize = "titleSize";
    static constexpr const char* cardChromeSize = "cardChromeSize";
    static constexpr const char* scrollDirectionNatural = "scrollDirectionNatural";
    static constexpr const char* flipStacksBySwiping = "flipStacksBySwiping";
    static constexpr const char* preserveWindowScale = "preserveWindowScale";
    static constexpr const char* showAppIcons = "showAppIcons";
    static constexpr const char* iconPosition = "iconPosition";
    static constexpr const char* showWindowTitle = "showWindowTitle";
    static constexpr const char* showCardTitles = "showCardTitles";
    static constexpr const char* fadeSelectedTitle = "fadeSelectedTitle";
    static constexpr const char* labelPlaceholders = "labelPlaceholders";
    static constexpr const char* floorReflections = "floorReflections";
    static constexpr const char* animateFlight = "animateFlight";
    static constexpr const char* liveHero = "liveHero";
    static constexpr const char* refreshPictureOnLeave = "refreshPictureOnLeave";
    static constexpr const char* blurAmount = "blurAmount";
    static constexpr const char* backdropDim = "backdropDim";
    static constexpr const char* backdropStyle = "backdropStyle";
    static constexpr const char* backdropColor = "backdropColor";
    static constexpr const char* otherSpacesDisplay = "otherSpacesDisplay";
    static constexpr const char* minimizedDisplay = "minimizedDisplay";
    static constexpr const char* hiddenAppsDisplay = "hiddenAppsDisplay";
    static constexpr const char* windowlessAppsDisplay = "windowlessAppsDisplay";
    static constexpr const char* privateWindowsDisplay = "privateWindowsDisplay";
    static constexpr const char* privateWindowNames = "privateWindowNames";
    static constexpr const char* hideFromScreenSharing = "hideFromScreenSharing";
    static constexpr const char* tabsDisplay = "tabsDisplay";
    static constexpr const char* tabSiteIcons = "tabSiteIcons";
    static constexpr const char* bunchTabs = "bunchTabs";
    static constexpr const char* keepWindowCardBesideTabs = "keepWindowCardBesideTabs";
    static constexpr const char* bunchAppWindows = "bunchAppWindows";
    static constexpr const char* stackOrder = "stackOrder";
    static constexpr const char* windowActionsEnabled = "windowActionsEnabled";
    static constexpr const char* showActionButtons = "showActionButtons";
    static constexpr const char* hiddenBundleIDs = "hiddenBundleIDs";
    static constexpr const char* hiddenTitlePatterns = "hiddenTitlePatterns";
    static constexpr const char* passThroughBundleIDs = "passThroughBundleIDs";
    static constexpr const char* groupByApp = "groupByApp";
    static constexpr const char* windowOrder = "windowOrder";
    static constexpr const char* searchEnabled = "searchEnabled";
    static constexpr const char* showTips = "showTips";
    static constexpr const char* graveCyclesBackward = "graveCyclesBackward";
    static constexpr const char* summonGesture = "summonGesture";
    static constexpr const char* summonSwipeDirection = "summonSwipeDirection";
    static constexpr const char* summonScreen = "summonScreen";
    static constexpr const char* showSelectionRing = "showSelectionRing";
    static constexpr const char* showStatusBadges = "showStatusBadges";
    static constexpr const char* showCardShadows = "showCardShadows";
    static constexpr const char* animationSpeed = "animationSpeed";
    static constexpr const char* scrollSpeed = "scrollSpeed";
    static constexpr const char* vimKeys = "vimKeys";
    static constexpr const char* hoverSelects = "hoverSelects";
    static constexpr const char* hoverSelectMode = "hoverSelectMode";
    static constexpr const char* middleClickCloses = "middleClickCloses";
    static constexpr const char* cursorFollowsFocus = "cursorFollowsFocus";
    static constexpr const char* hapticTicks = "hapticTicks";
    static constexpr const char* dragToSwitch = "dragToSwitch";
    static constexpr const char* dragCommitMode = "dragCommitMode";
    static constexpr const char* dragRestTime = "dragRestTime";
    static constexpr const char* showMenuBarIcon = "showMenuBarIcon";
    static constexpr const char* cardSpacingCoverArc = "cardSpacingCoverArc";
    static constexpr const char* cardSpacingTangentRing = "cardSpacingTangentRing";
    static constexpr const char* cardSpacingFlatRing = "cardSpacingFlatRing";
    static constexpr const char* cardSpacingFlip3d = "cardSpacingFlip3d";
    static constexpr const char* cardSpacingCylinder = "cardSpacingCylinder";
    static constexpr const char* cardSpacingExpo = "cardSpacingExpo";
    static constexpr const char* cardSpacingRow = "cardSpacingRow";
    // Not registered: the guard of the animation-speed rescale, and keys of earlier versions that
    // the launch migrations carry over and remove.
    static constexpr const char* hasRescaledAnimationSpeed = "hasRescaledAnimationSpeed";
    static constexpr const char* hotkeyPreset = "hotkeyPreset";
    static constexpr const char* showOtherSpaces = "showOtherSpaces";
    static constexpr const char* showMinimized = "showMinimized";
    static constexpr const char* showHiddenApps = "showHiddenApps";
    static constexpr const char* browserTabsDisplay = "browserTabsDisplay";
    static constexpr const char* showAllTabs = "showAllTabs";
    static constexpr const char* searchHint = "searchHint";
  };

  // ---- The table of registered defaults (SettingsSchema) ----
  using ValueType = SettingsSchema::ValueType;
  using DefaultEntry = SettingsSchema::Entry;
  static std::vector<DefaultEntry> baseDefaults() { return SettingsSchema::entries(); }
  static std::map<std::string, Value> houseLook() { return SettingsSchema::houseLook(); }
  static std::vector<DefaultEntry> laidOver(std::vector<DefaultEntry> base, const std::map<std::string, Value>& look) {
    return SettingsSchema::laidOver(std::move(base), look);
  }
  static std::vector<DefaultEntry> defaultEntries() { return SettingsSchema::effective(); }
  static std::map<std::string, Value> defaults() { return SettingsSchema::defaults(); }

  explicit AppSettings(DefaultsStore& store);

  DefaultsStore& store() const { return store_; }

  // Registers the effective table with the store (at launch, after the migrations).
  void registerDefaults();
  // Removes every key of the table from the store so each reads its registered default again; keys
  // outside the table stay.
  void resetAll();

  // Plain reads by key name, as the store answers them (registered default when nothing is stored).
  bool boolValue(const std::string& key) const;
  double doubleValue(const std::string& key) const;
  // The key's value as a list of text; none when it is missing or is not a list of text only.
  std::optional<std::vector<std::string>> stringList(const std::string& key) const;

  // ---- Enumerated settings: tolerant readers ----
  // Text that names no case reads as the case the settings table gives the key (its unknownCase).
  SwitcherStyle switcherStyle() const;  // legacy "classicRing" reads as flatRing
  GridOrder gridOrder() const;
  PanoramaArrows panoramaArrows() const;
  TitlePlacement titlePlacement() const;
  TitleSize titleSize() const;       // unknown text reads as medium
  TitleSize cardChromeSize() const;  // unknown text reads as medium
  IconPosition iconPosition() const;
  BackdropStyle backdropStyle() const;
  CategoryDisplay otherSpacesDisplay() const;
  CategoryDisplay minimizedDisplay() const;
  CategoryDisplay hiddenAppsDisplay() const;
  CategoryDisplay windowlessAppsDisplay() const;
  PrivateWindowsDisplay privateWindowsDisplay() const;
  TabsDisplay tabsDisplay() const;  // unknown text reads as whileSearching
  StackOrder stackOrder() const;
  WindowOrder windowOrder() const;
  SummonGesture summonGesture() const;  // unknown text reads as threeFingers
  SummonSwipeDirection summonSwipeDirection() const;
  SummonScreen summonScreen() const;
  SwitcherBehavior switcherBehavior() const;
  HoldStyle holdStyle() const;
  AnimationSpeed animationSpeed() const;  // unknown text reads as normal
  HoverSelectMode hoverSelectMode() const;
  DragCommitMode dragCommitMode() const;
  DragRestTime dragRestTime() const;  // unknown text reads as normal
  MoveResize moveResize() const;
  HotkeyScope hotkeyScope(HotkeySlot slot) const;

  // ---- Card spacing, colours, blur ----
  struct SpacingLimits {
    double least;
    double greatest;
  };
  static SpacingLimits cardSpacingLimits(SwitcherStyle style);
  // "cardSpacing" and the arrangement's raw value with its first letter upper-cased.
  static std::string cardSpacingKey(SwitcherStyle style);
  // The stored spacing within the arrangement's limits; 1.0 when it is missing or not above 0.
  double cardSpacing(SwitcherStyle style) const;

  // The colour maths live in SettingColors; these names stay for the components that read them here.
  using Rgb = SettingColors::Rgb;
  using BackdropPreset = SettingColors::BackdropPreset;
  static std::optional<Rgb> rgbFromHex(std::string_view text) { return SettingColors::rgbFromHex(text); }
  static int colorByte(double component) { return SettingColors::colorByte(component); }
  static int blurRadius(double amount) { return SettingColors::blurRadius(amount); }
  static std::span<const BackdropPreset> backdropPresets() { return SettingColors::backdropPresets(); }

  // ---- Shortcuts ----
  std::optional<HotkeyBinding> hotkeyBinding(HotkeySlot slot) const;
  std::optional<HotkeyBinding> cancelBinding() const;
  // Writes {"keyCode", "flags"}, or the empty dictionary for none.
  void setHotkeyBinding(const std::optional<HotkeyBinding>& binding, HotkeySlot slot);
  void setCancelBinding(const std::optional<HotkeyBinding>& binding);
  // True when the key above Tab steps backward now: "graveCyclesBackward" is on and a summon shortcut
  // is Tab with Control, Option or Command.
  bool aboveTabStepsBackward() const;
  // The key-code tables live in SwitcherKeyCodes.
  static const std::set<int64_t>& backwardKeyCodes() { return SwitcherKeyCodes::backwardKeyCodes(); }
  static const std::map<int64_t, std::string_view>& switcherKeyMeanings() {
    return SwitcherKeyCodes::switcherKeyMeanings();
  }
  static const std::set<int64_t>& bareKeyCodes() { return SwitcherKeyCodes::bareKeyCodes(); }

  // The launch migrations that run before registerDefaults are SettingsMigrations.

  // ---- Hidden and pass-through application lists (canonical forms in TitlePatterns) ----
  static std::vector<std::string> canonicalIdentifiers(const std::vector<std::string>& list) {
    return TitlePatterns::canonicalIdentifiers(list);
  }
  static std::vector<std::string> normalizedTitleWords(const std::vector<std::string>& words) {
    return TitlePatterns::normalizedTitleWords(words);
  }
  static std::map<std::string, std::vector<std::string>> titlePatternsFrom(const Value& value) {
    return TitlePatterns::titlePatternsFrom(value);
  }
  static std::map<std::string, std::vector<std::string>> restrictedTitlePatterns(
      const std::map<std::string, std::vector<std::string>>& patterns, const std::vector<std::string>& hidden) {
    return TitlePatterns::restrictedTitlePatterns(patterns, hidden);
  }
  static Value titlePatternsValue(const std::map<std::string, std::vector<std::string>>& patterns) {
    return TitlePatterns::titlePatternsValue(patterns);
  }

  std::map<std::string, std::vector<std::string>> hiddenTitlePatterns() const;
  void setHiddenTitlePatterns(const std::map<std::string, std::vector<std::string>>& patterns);
  void setHiddenBundleIDs(const std::vector<std::string>& ids);
  void setPassThroughBundleIDs(const std::vector<std::string>& ids);

 private:
  template <class E>
  E readEnum(const char* key) const;

  DefaultsStore& store_;
};

}  // namespace quorvel
