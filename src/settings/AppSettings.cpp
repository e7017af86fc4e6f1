#include "settings/AppSettings.h"

#include <unicode/coll.h>
#include <unicode/locid.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "base/TextServices.h"

namespace quorvel {

namespace {

using Value = AppSettings::Value;

bool isTextList(const Value& value) {
  return value.is_array() &&
         std::all_of(value.begin(), value.end(), [](const Value& v) { return v.is_string(); });
}

std::vector<std::string> textList(const Value& value) {
  std::vector<std::string> list;
  list.reserve(value.size());
  for (const auto& element : value) list.push_back(element.get<std::string>());
  return list;
}

// The canonical order of the application lists: the user's locale's collation without regard to
// letter case. Accents still count, and digits compare one by one ("app10" before "app9"), so
// entries that differ only in letter case compare equal. Returns -1, 0 or 1.
int caseInsensitiveCompare(std::string_view a, std::string_view b) {
  thread_local std::string collatorLocale;
  thread_local std::unique_ptr<icu::Collator> collator;
  const std::string locale = TextServices::currentLocale();
  if (!collator || locale != collatorLocale) {
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale chosen(locale.c_str());
    collator.reset(icu::Collator::createInstance(chosen.isBogus() ? icu::Locale::getRoot() : chosen, status));
    if (U_FAILURE(status)) collator.reset();
    if (collator) {
      collator->setAttribute(UCOL_STRENGTH, UCOL_SECONDARY, status);
      collator->setAttribute(UCOL_NORMALIZATION_MODE, UCOL_ON, status);
    }
    collatorLocale = locale;
  }
  if (!collator) {
    const std::string lowerA = TextServices::lowercased(a, "en");
    const std::string lowerB = TextServices::lowercased(b, "en");
    return TextServices::plainCompare(lowerA, lowerB);
  }
  UErrorCode status = U_ZERO_ERROR;
  const UCollationResult result =
      collator->compareUTF8(icu::StringPiece(a.data(), static_cast<int32_t>(a.size())),
                            icu::StringPiece(b.data(), static_cast<int32_t>(b.size())), status);
  if (U_FAILURE(status)) return 0;
  return result == UCOL_LESS ? -1 : (result == UCOL_GREATER ? 1 : 0);
}

// Drops empty entries and repeats (the first stays), then sorts in the canonical order, equal
// entries keeping their order.
std::vector<std::string> canonicalized(std::vector<std::string> list) {
  std::vector<std::string> kept;
  kept.reserve(list.size());
  for (auto& item : list) {
    if (item.empty()) continue;
    if (std::find(kept.begin(), kept.end(), item) != kept.end()) continue;
    kept.push_back(std::move(item));
  }
  std::stable_sort(kept.begin(), kept.end(), [](const std::string& a, const std::string& b) {
    return caseInsensitiveCompare(a, b) < 0;
  });
  return kept;
}

std::string lowercasedWord(std::string_view word) {
  // Locale-independent lower-casing: a word list must not depend on the user's language.
  return TextServices::lowercased(word, "en");
}

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
  if (!value || !isTextList(*value)) return std::nullopt;
  return textList(*value);
}

// ---- Enumerated settings ----

template <class E>
E AppSettings::readFirstCase(const char* key) const {
  if (auto text = store_.string(key)) {
    if (auto value = fromRawValue<E>(*text)) return *value;
  }
  return allCases<E>().front();
}

template <class E>
E AppSettings::readMiddleCase(const char* key) const {
  if (auto text = store_.string(key)) {
    if (auto value = fromRawValue<E>(*text)) return *value;
  }
  return allCases<E>()[1];
}

AppSettings::SwitcherStyle AppSettings::switcherStyle() const {
  const auto text = store_.string(Key::switcherStyle);
  if (!text) return SwitcherStyle::coverArc;
  if (*text == "classicRing") return SwitcherStyle::flatRing;
  return fromRawValue<SwitcherStyle>(*text).value_or(SwitcherStyle::coverArc);
}

AppSettings::GridOrder AppSettings::gridOrder() const { return readFirstCase<GridOrder>(Key::gridOrder); }
AppSettings::PanoramaArrows AppSettings::panoramaArrows() const {
  return readFirstCase<PanoramaArrows>(Key::panoramaArrows);
}
AppSettings::TitlePlacement AppSettings::titlePlacement() const {
  return readFirstCase<TitlePlacement>(Key::titlePlacement);
}
AppSettings::TitleSize AppSettings::titleSize() const { return readMiddleCase<TitleSize>(Key::titleSize); }
AppSettings::TitleSize AppSettings::cardChromeSize() const {
  return readMiddleCase<TitleSize>(Key::cardChromeSize);
}
AppSettings::IconPosition AppSettings::iconPosition() const {
  return readFirstCase<IconPosition>(Key::iconPosition);
}
AppSettings::BackdropStyle AppSettings::backdropStyle() const {
  return readFirstCase<BackdropStyle>(Key::backdropStyle);
}
AppSettings::CategoryDisplay AppSettings::otherSpacesDisplay() const {
  return readFirstCase<CategoryDisplay>(Key::otherSpacesDisplay);
}
AppSettings::CategoryDisplay AppSettings::minimizedDisplay() const {
  return readFirstCase<CategoryDisplay>(Key::minimizedDisplay);
}
AppSettings::CategoryDisplay AppSettings::hiddenAppsDisplay() const {
  return readFirstCase<CategoryDisplay>(Key::hiddenAppsDisplay);
}
AppSettings::CategoryDisplay AppSettings::windowlessAppsDisplay() const {
  return readFirstCase<CategoryDisplay>(Key::windowlessAppsDisplay);
}
AppSettings::PrivateWindowsDisplay AppSettings::privateWindowsDisplay() const {
  return readFirstCase<PrivateWindowsDisplay>(Key::privateWindowsDisplay);
}
AppSettings::TabsDisplay AppSettings::tabsDisplay() const {
  return readMiddleCase<TabsDisplay>(Key::tabsDisplay);
}
AppSettings::StackOrder AppSettings::stackOrder() const { return readFirstCase<StackOrder>(Key::stackOrder); }
AppSettings::WindowOrder AppSettings::windowOrder() const {
  return readFirstCase<WindowOrder>(Key::windowOrder);
}
AppSettings::SummonGesture AppSettings::summonGesture() const {
  return readMiddleCase<SummonGesture>(Key::summonGesture);
}
AppSettings::SummonSwipeDirection AppSettings::summonSwipeDirection() const {
  return readFirstCase<SummonSwipeDirection>(Key::summonSwipeDirection);
}
AppSettings::SummonScreen AppSettings::summonScreen() const {
  return readFirstCase<SummonScreen>(Key::summonScreen);
}
AppSettings::SwitcherBehavior AppSettings::switcherBehavior() const {
  return readFirstCase<SwitcherBehavior>(Key::switcherBehavior);
}
AppSettings::HoldStyle AppSettings::holdStyle() const { return readFirstCase<HoldStyle>(Key::holdStyle); }
AppSettings::AnimationSpeed AppSettings::animationSpeed() const {
  return readMiddleCase<AnimationSpeed>(Key::animationSpeed);
}
AppSettings::HoverSelectMode AppSettings::hoverSelectMode() const {
  return readFirstCase<HoverSelectMode>(Key::hoverSelectMode);
}
AppSettings::DragCommitMode AppSettings::dragCommitMode() const {
  return readFirstCase<DragCommitMode>(Key::dragCommitMode);
}
AppSettings::DragRestTime AppSettings::dragRestTime() const {
  return readMiddleCase<DragRestTime>(Key::dragRestTime);
}
AppSettings::MoveResize AppSettings::moveResize() const { return readFirstCase<MoveResize>(Key::moveResize); }
AppSettings::HotkeyScope AppSettings::hotkeyScope(HotkeySlot slot) const {
  return readFirstCase<HotkeyScope>(scopeKey(slot));
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

std::optional<AppSettings::Rgb> AppSettings::rgbFromHex(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  if (!text.empty() && text.front() == '#') text.remove_prefix(1);
  // Only ASCII can be a digit or a sign, so anything else fails here and the length is in bytes.
  if (text.size() != 6) return std::nullopt;

  size_t i = 0;
  bool negative = false;
  if (text[0] == '+' || text[0] == '-') {
    negative = text[0] == '-';
    i = 1;
  }
  uint32_t number = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    uint32_t digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<uint32_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<uint32_t>(c - 'a' + 10);
    } else {
      return std::nullopt;
    }
    number = number * 16 + digit;
  }
  if (negative && number != 0) return std::nullopt;
  return Rgb{static_cast<double>((number >> 16) & 0xFF) / 255.0,
             static_cast<double>((number >> 8) & 0xFF) / 255.0,
             static_cast<double>(number & 0xFF) / 255.0};
}

int AppSettings::colorByte(double component) {
  if (std::isnan(component) || component <= 0) return 0;
  return static_cast<int>(std::round(std::min(component, 1.0) * 255.0));
}

int AppSettings::blurRadius(double amount) {
  if (std::isnan(amount) || amount <= 0) return 0;
  return static_cast<int>(std::round(std::min(amount, 1.0) * 64.0));
}

std::span<const AppSettings::BackdropPreset> AppSettings::backdropPresets() {
  static constexpr BackdropPreset presets[] = {
      {"Midnight", "#0a0e15"}, {"Slate", "#121826"}, {"Charcoal", "#1c1c1e"},
      {"Graphite", "#2c2c2e"}, {"Black", "#000000"}, {"Paper", "#f2f2f7"},
  };
  return presets;
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

const std::set<int64_t>& AppSettings::backwardKeyCodes() {
  static const std::set<int64_t> codes = {50, 10};
  return codes;
}

const std::map<int64_t, std::string_view>& AppSettings::switcherKeyMeanings() {
  static const std::map<int64_t, std::string_view> meanings = {
      {123, "moves to the window on the left"},
      {124, "moves to the window on the right"},
      {125, "moves down through your windows"},
      {126, "moves up through your windows"},
      {36, "switches to the selected window"},
      {76, "switches to the selected window"},
      {49, "starts searching your windows"},
      {48, "steps to the next window"},
      {51, "deletes a letter while you are searching"},
  };
  return meanings;
}

const std::set<int64_t>& AppSettings::bareKeyCodes() {
  static const std::set<int64_t> codes = {122, 120, 99,  118, 96,  97,  98,  100, 101,
                                          109, 103, 111, 105, 107, 113, 106, 64,  79,
                                          80,  90,  114, 115, 119, 116, 121, 117};
  return codes;
}

// ---- Hidden and pass-through application lists ----

std::vector<std::string> AppSettings::canonicalIdentifiers(const std::vector<std::string>& list) {
  std::vector<std::string> trimmed;
  trimmed.reserve(list.size());
  for (const auto& id : list) trimmed.push_back(TextServices::trimmed(id));
  return canonicalized(std::move(trimmed));
}

std::vector<std::string> AppSettings::normalizedTitleWords(const std::vector<std::string>& words) {
  std::vector<std::string> lowered;
  lowered.reserve(words.size());
  for (const auto& word : words) lowered.push_back(lowercasedWord(TextServices::trimmed(word)));
  return canonicalized(std::move(lowered));
}

std::map<std::string, std::vector<std::string>> AppSettings::titlePatternsFrom(const Value& value) {
  std::map<std::string, std::vector<std::string>> patterns;
  if (!value.is_object()) return patterns;
  for (const auto& [id, words] : value.items()) {
    if (!isTextList(words)) continue;
    auto normalized = normalizedTitleWords(textList(words));
    if (!normalized.empty()) patterns.emplace(id, std::move(normalized));
  }
  return patterns;
}

std::map<std::string, std::vector<std::string>> AppSettings::restrictedTitlePatterns(
    const std::map<std::string, std::vector<std::string>>& patterns,
    const std::vector<std::string>& hidden) {
  std::map<std::string, std::vector<std::string>> kept;
  for (const auto& [id, words] : patterns) {
    if (std::find(hidden.begin(), hidden.end(), id) == hidden.end()) continue;
    auto normalized = normalizedTitleWords(words);
    if (!normalized.empty()) kept.emplace(id, std::move(normalized));
  }
  return kept;
}

Value AppSettings::titlePatternsValue(const std::map<std::string, std::vector<std::string>>& patterns) {
  Value value = Value::object();
  for (const auto& [id, words] : patterns) value[id] = words;
  return value;
}

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
