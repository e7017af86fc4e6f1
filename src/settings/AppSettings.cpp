#include "settings/AppSettings.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "settings/TitlePatterns.h"

namespace quorvel {

namespace {

using Value = AppSettings::Value;

const char* scopeKey(HotkeySlot slot) {
  return slot == HotkeySlot::second ? AppSettings::Key::hotkeyScope2 : AppSettings::Key::hotkeyScope1;
}

const char* bindingKey(HotkeySlot slot) {
  return slot == HotkeySlot::second ? AppSettings::Key::hotkeyBinding2
                                    : AppSettings::Key::hotkeyBinding1;
}

}  // namespace

AppSettings::AppSettings(DefaultsStore& store) : store_(store) {}

void AppSettings::registerDefaults() { store_.registerDefaults(defaults()); }

void AppSettings::resetAll() {
  for (const auto& item : baseDefaults()) {
    if (store_.hasStoredValue(item.key)) store_.remove(item.key);
  }
}

bool AppSettings::boolValue(const std::string& key) const { return store_.boolValue(key); }

double AppSettings::doubleValue(const std::string& key) const { return store_.doubleValue(key); }

std::optional<std::vector<std::string>> AppSettings::stringList(const std::string& key) const {
  const auto value = store_.object(key);
  return value ? TitlePatterns::textList(*value) : std::nullopt;
}

// ---- Enumerated settings ----

// The table says which case text that names none reads as.
template <class E>
E AppSettings::readEnum(const char* key) const {
  return fromRawValue<E>(SettingsSchema::tolerantValue(key, store_.string(key))).value_or(allCases<E>().front());
}

AppSettings::SwitcherStyle AppSettings::switcherStyle() const { return readEnum<SwitcherStyle>(Key::switcherStyle); }

AppSettings::GridOrder AppSettings::gridOrder() const { return readEnum<GridOrder>(Key::gridOrder); }
AppSettings::PanoramaArrows AppSettings::panoramaArrows() const {
  return readEnum<PanoramaArrows>(Key::panoramaArrows);
}
AppSettings::TitlePlacement AppSettings::titlePlacement() const {
  return readEnum<TitlePlacement>(Key::titlePlacement);
}
AppSettings::TitleSize AppSettings::titleSize() const { return readEnum<TitleSize>(Key::titleSize); }
AppSettings::TitleSize AppSettings::cardChromeSize() const {
  return readEnum<TitleSize>(Key::cardChromeSize);
}
AppSettings::IconPosition AppSettings::iconPosition() const {
  return readEnum<IconPosition>(Key::iconPosition);
}
AppSettings::BackdropStyle AppSettings::backdropStyle() const {
  return readEnum<BackdropStyle>(Key::backdropStyle);
}
AppSettings::CategoryDisplay AppSettings::otherSpacesDisplay() const {
  return readEnum<CategoryDisplay>(Key::otherSpacesDisplay);
}
AppSettings::CategoryDisplay AppSettings::minimizedDisplay() const {
  return readEnum<CategoryDisplay>(Key::minimizedDisplay);
}
AppSettings::CategoryDisplay AppSettings::hiddenAppsDisplay() const {
  return readEnum<CategoryDisplay>(Key::hiddenAppsDisplay);
}
AppSettings::CategoryDisplay AppSettings::windowlessAppsDisplay() const {
  return readEnum<CategoryDisplay>(Key::windowlessAppsDisplay);
}
AppSettings::PrivateWindowsDisplay AppSettings::privateWindowsDisplay() const {
  return readEnum<PrivateWindowsDisplay>(Key::privateWindowsDisplay);
}
AppSettings::TabsDisplay AppSettings::tabsDisplay() const {
  return readEnum<TabsDisplay>(Key::tabsDisplay);
}
AppSettings::StackOrder AppSettings::stackOrder() const { return readEnum<StackOrder>(Key::stackOrder); }
AppSettings::WindowOrder AppSettings::windowOrder() const {
  return readEnum<WindowOrder>(Key::windowOrder);
}
AppSettings::SummonGesture AppSettings::summonGesture() const {
  return readEnum<SummonGesture>(Key::summonGesture);
}
AppSettings::SummonSwipeDirection AppSettings::summonSwipeDirection() const {
  return readEnum<SummonSwipeDirection>(Key::summonSwipeDirection);
}
AppSettings::SummonScreen AppSettings::summonScreen() const {
  return readEnum<SummonScreen>(Key::summonScreen);
}
AppSettings::SwitcherBehavior AppSettings::switcherBehavior() const {
  return readEnum<SwitcherBehavior>(Key::switcherBehavior);
}
AppSettings::HoldStyle AppSettings::holdStyle() const { return readEnum<HoldStyle>(Key::holdStyle); }
AppSettings::AnimationSpeed AppSettings::animationSpeed() const {
  return readEnum<AnimationSpeed>(Key::animationSpeed);
}
AppSettings::HoverSelectMode AppSettings::hoverSelectMode() const {
  return readEnum<HoverSelectMode>(Key::hoverSelectMode);
}
AppSettings::DragCommitMode AppSettings::dragCommitMode() const {
  return readEnum<DragCommitMode>(Key::dragCommitMode);
}
AppSettings::DragRestTime AppSettings::dragRestTime() const {
  return readEnum<DragRestTime>(Key::dragRestTime);
}
AppSettings::MoveResize AppSettings::moveResize() const { return readEnum<MoveResize>(Key::moveResize); }
AppSettings::HotkeyScope AppSettings::hotkeyScope(HotkeySlot slot) const {
  return readEnum<HotkeyScope>(scopeKey(slot));
}

// ---- Card spacing, colours, blur ----

AppSettings::SpacingLimits AppSettings::cardSpacingLimits(SwitcherStyle style) {
  switch (style) {
    case SwitcherStyle::coverArc: return {0.8, 2.0};
    case SwitcherStyle::tangentRing: return {0.8, 1.4};
    case SwitcherStyle::flatRing: return {1.0, 1.6};
    case SwitcherStyle::flip3d: return {0.8, 1.4};
    case SwitcherStyle::cylinder: return {0.8, 1.4};
    case SwitcherStyle::expo: return {1.0, 1.4};
    case SwitcherStyle::row: return {1.0, 1.4};
  }
  return {1.0, 1.0};
}

std::string AppSettings::cardSpacingKey(SwitcherStyle style) {
  std::string raw(rawValue(style));
  if (!raw.empty() && raw[0] >= 'a' && raw[0] <= 'z') raw[0] = static_cast<char>(raw[0] - 'a' + 'A');
  return "cardSpacing" + raw;
}

double AppSettings::cardSpacing(SwitcherStyle style) const {
  const double stored = store_.doubleValue(cardSpacingKey(style));
  if (!(stored > 0)) return 1.0;
  const auto limits = cardSpacingLimits(style);
  return std::min(std::max(stored, limits.least), limits.greatest);
}

// ---- Shortcuts ----

std::optional<HotkeyBinding> AppSettings::hotkeyBinding(HotkeySlot slot) const {
  const auto stored = store_.object(bindingKey(slot));
  return stored ? HotkeyBinding::fromStoredSummon(*stored) : std::nullopt;
}

std::optional<HotkeyBinding> AppSettings::cancelBinding() const {
  const auto stored = store_.object(Key::cancelBinding);
  return stored ? HotkeyBinding::fromStoredCancel(*stored) : std::nullopt;
}

void AppSettings::setHotkeyBinding(const std::optional<HotkeyBinding>& binding, HotkeySlot slot) {
  store_.set(bindingKey(slot), binding ? binding->storedValue() : Value::object());
}

void AppSettings::setCancelBinding(const std::optional<HotkeyBinding>& binding) {
  store_.set(Key::cancelBinding, binding ? binding->storedValue() : Value::object());
}

bool AppSettings::aboveTabStepsBackward() const {
  if (!store_.boolValue(Key::graveCyclesBackward)) return false;
  for (const char* key : {Key::hotkeyBinding1, Key::hotkeyBinding2}) {
    const auto stored = store_.object(key);
    if (!stored || !stored->is_object()) continue;
    const auto keyCode = stored->find("keyCode");
    const auto flags = stored->find("flags");
    if (keyCode == stored->end() || flags == stored->end()) continue;
    const auto code = HotkeyBinding::storedInteger(*keyCode);
    const auto bits = HotkeyBinding::storedInteger(*flags);
    if (code && bits && *code == HotkeyBinding::tabKeyCode && (*bits & HotkeyBinding::modifierMask) != 0) {
      return true;
    }
  }
  return false;
}

// ---- Hidden and pass-through application lists ----

std::map<std::string, std::vector<std::string>> AppSettings::hiddenTitlePatterns() const {
  const auto stored = store_.object(Key::hiddenTitlePatterns);
  return stored ? titlePatternsFrom(*stored) : std::map<std::string, std::vector<std::string>>{};
}

void AppSettings::setHiddenTitlePatterns(const std::map<std::string, std::vector<std::string>>& patterns) {
  const auto hidden = stringList(Key::hiddenBundleIDs).value_or(std::vector<std::string>{});
  store_.set(Key::hiddenTitlePatterns, titlePatternsValue(restrictedTitlePatterns(patterns, hidden)));
}

void AppSettings::setHiddenBundleIDs(const std::vector<std::string>& ids) {
  // The list and the patterns it restricts change together, as one write.
  const auto hidden = canonicalIdentifiers(ids);
  const auto patterns = restrictedTitlePatterns(hiddenTitlePatterns(), hidden);
  store_.setMany({{Key::hiddenBundleIDs, Value(hidden)},
                  {Key::hiddenTitlePatterns, titlePatternsValue(patterns)}});
}

void AppSettings::setPassThroughBundleIDs(const std::vector<std::string>& ids) {
  store_.set(Key::passThroughBundleIDs, Value(canonicalIdentifiers(ids)));
}

}  // namespace quorvel
