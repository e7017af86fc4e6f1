#include "platform/UsKeyboardLayout.h"

#include <string_view>

namespace quorvel {

namespace {

struct KeyCharacters {
  uint16_t keyCode;
  std::string_view characters;
};

// Unmodified output per virtual key code. Keys that type no printable character give the control
// character the layout reports for them; modifier keys and unknown codes give nothing.
constexpr KeyCharacters kUsLayout[] = {
    {0, "a"},     {1, "s"},      {2, "d"},     {3, "f"},      {4, "h"},      {5, "g"},
    {6, "z"},     {7, "x"},      {8, "c"},     {9, "v"},      {10, "\u00a7"}, {11, "b"},
    {12, "q"},    {13, "w"},     {14, "e"},    {15, "r"},     {16, "y"},     {17, "t"},
    {18, "1"},    {19, "2"},     {20, "3"},    {21, "4"},     {22, "6"},     {23, "5"},
    {24, "="},    {25, "9"},     {26, "7"},    {27, "-"},     {28, "8"},     {29, "0"},
    {30, "]"},    {31, "o"},     {32, "u"},    {33, "["},     {34, "i"},     {35, "p"},
    {36, "\r"},   {37, "l"},     {38, "j"},    {39, "'"},     {40, "k"},     {41, ";"},
    {42, "\\"},   {43, ","},     {44, "/"},    {45, "n"},     {46, "m"},     {47, "."},
    {48, "\t"},   {49, " "},     {50, "`"},    {51, "\x08"},  {53, "\x1b"},
    // Keypad
    {65, "."},    {67, "*"},     {69, "+"},    {71, "\x1b"},  {75, "/"},     {76, "\x03"},
    {78, "-"},    {81, "="},     {82, "0"},    {83, "1"},     {84, "2"},     {85, "3"},
    {86, "4"},    {87, "5"},     {88, "6"},    {89, "7"},     {91, "8"},     {92, "9"},
    // Function keys
    {96, "\x10"}, {97, "\x10"},  {98, "\x10"}, {99, "\x10"},  {100, "\x10"}, {101, "\x10"},
    {103, "\x10"}, {105, "\x10"}, {106, "\x10"}, {107, "\x10"}, {109, "\x10"}, {111, "\x10"},
    {113, "\x10"}, {118, "\x10"}, {120, "\x10"}, {122, "\x10"}, {64, "\x10"},  {79, "\x10"},
    {80, "\x10"}, {90, "\x10"},
    // Navigation
    {114, "\x05"}, {115, "\x01"}, {116, "\x0b"}, {117, "\x7f"}, {119, "\x04"}, {121, "\x0c"},
    {123, "\x1c"}, {124, "\x1d"}, {125, "\x1f"}, {126, "\x1e"},
};

}  // namespace

std::optional<std::string> UsKeyboardLayout::characters(uint16_t keyCode) const {
  for (const auto& entry : kUsLayout) {
    if (entry.keyCode == keyCode) return std::string(entry.characters);
  }
  return std::nullopt;
}

}  // namespace quorvel
