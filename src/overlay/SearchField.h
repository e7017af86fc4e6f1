#pragma once

#include <string>
#include <string_view>

namespace quorvel {

// The search query as typed (case kept) and its caret, counted in user-perceived characters
// (extended grapheme clusters) from the start. A plain value, equal when both fields are.
//
// Typed text can merge with the text beside it: a combining accent after "e", a Thai or Hebrew mark,
// a second regional indicator of a flag all join their neighbour into one character. So the caret
// after an insertion is the number of characters up to the end of the inserted text, not the old
// caret plus the inserted text's own count; and every edit first clamps the caret into
// 0...count, so an edit never reaches past either end of the text.
struct SearchField {
  std::string text;
  int caret = 0;

  // The number of characters of the text.
  int count() const;
  // Inserts `typed` at the caret; the caret then stands after it. Nothing for empty text.
  void insert(std::string_view typed);
  // Removes the character before the caret and moves the caret back over it; false (and nothing
  // changed) with the caret at the start.
  bool deleteBackward();
  // Removes the character after the caret; false (and nothing changed) at the end of the text.
  bool deleteForward();
  // The caret at `index`, clamped to 0...count.
  void setCaret(int index);
  // The caret clamped to 0...count (what every edit starts from).
  int clampedCaret() const;

  bool operator==(const SearchField&) const = default;
};

}  // namespace quorvel
