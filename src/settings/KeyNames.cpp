#include "settings/KeyNames.h"

#include <unicode/locid.h>
#include <unicode/unistr.h>

#include "platform/KeyboardLayout.h"

namespace quorvel {

namespace {

// Decodes one UTF-8 sequence at `i`; an invalid byte counts as U+FFFD of length 1.
char32_t decodeAt(std::string_view text, size_t i, size_t& length) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  size_t count = 0;
  char32_t scalar = 0;
  if (lead < 0x80) {
    length = 1;
    return lead;
  } else if ((lead & 0xE0) == 0xC0) {
    count = 2;
    scalar = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    count = 3;
    scalar = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    count = 4;
    scalar = lead & 0x07;
  } else {
    length = 1;
    return 0xFFFD;
  }
  if (i + count > text.size()) {
    length = 1;
    return 0xFFFD;
  }
  for (size_t k = 1; k < count; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) {
      length = 1;
      return 0xFFFD;
    }
    scalar = (scalar << 6) | (byte(i + k) & 0x3F);
  }
  length = count;
  return scalar;
}

// Upper-cases by Unicode's own rules, whatever the user's language: a key's name must not change
// with it (a Turkish locale would turn "i" into a dotted capital).
std::string uppercasedForAnyLanguage(const std::string& text) {
  icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(text);
  unicode.toUpper(icu::Locale::getRoot());
  std::string out;
  unicode.toUTF8String(out);
  return out;
}

bool isControl(char32_t c) { return c <= 0x1F || (c >= 0x7F && c <= 0x9F); }

// The Unicode White_Space property.
bool isWhiteSpace(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
         c == 0x205F || c == 0x3000;
}

}  // namespace

KeyNames::KeyNames(const KeyboardLayout& layout) : layout_(layout) {}

const std::vector<std::pair<int64_t, std::string_view>>& KeyNames::table() {
  static const std::vector<std::pair<int64_t, std::string_view>> names = {
      {48, "Tab"},           {49, "Space"},          {36, "Return"},       {76, "Enter"},
      {53, "Esc"},           {51, "Delete"},         {117, "Forward Delete"}, {114, "Help"},
      {115, "Home"},         {119, "End"},           {116, "Page Up"},     {121, "Page Down"},
      {123, "Left Arrow"},   {124, "Right Arrow"},   {126, "Up Arrow"},    {125, "Down Arrow"},
      {122, "F1"},           {120, "F2"},            {99, "F3"},           {118, "F4"},
      {96, "F5"},            {97, "F6"},             {98, "F7"},           {100, "F8"},
      {101, "F9"},           {109, "F10"},           {103, "F11"},         {111, "F12"},
      {105, "F13"},          {107, "F14"},           {113, "F15"},         {106, "F16"},
      {64, "F17"},           {79, "F18"},            {80, "F19"},          {90, "F20"},
      {82, "Numpad 0"},      {83, "Numpad 1"},       {84, "Numpad 2"},     {85, "Numpad 3"},
      {86, "Numpad 4"},      {87, "Numpad 5"},       {88, "Numpad 6"},     {89, "Numpad 7"},
      {91, "Numpad 8"},      {92, "Numpad 9"},       {71, "Numpad Clear"}, {65, "Numpad ."},
      {75, "Numpad /"},      {81, "Numpad ="},       {78, "Numpad -"},     {67, "Numpad *"},
      {69, "Numpad +"},
  };
  return names;
}

std::string KeyNames::name(int64_t keyCode) const {
  for (const auto& [code, name] : table()) {
    if (code == keyCode) return std::string(name);
  }
  if (auto fromLayout = layoutName(keyCode)) return *fromLayout;
  return "Key " + std::to_string(keyCode);
}

std::optional<std::string> KeyNames::layoutName(int64_t keyCode) const {
  if (keyCode < 0 || keyCode > 0xFFFF) return std::nullopt;
  const auto typed = layout_.characters(static_cast<uint16_t>(keyCode));
  if (!typed || typed->empty()) return std::nullopt;

  std::string kept;
  for (size_t i = 0; i < typed->size();) {
    size_t length = 1;
    const char32_t scalar = decodeAt(*typed, i, length);
    if (!isControl(scalar) && !isWhiteSpace(scalar)) kept.append(*typed, i, length);
    i += length;
  }
  if (kept.empty()) return std::nullopt;
  return uppercasedForAnyLanguage(kept);
}

}  // namespace quorvel
