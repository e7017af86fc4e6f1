#include <gtest/gtest.h>

#include "overlay/SearchField.h"

namespace quorvel {
namespace {

SearchField typed(std::initializer_list<const char*> pieces) {
  SearchField field;
  for (const char* piece : pieces) field.insert(piece);
  return field;
}

TEST(SearchField, InsertsAtTheCaretAndDeletesAroundIt) {
  SearchField field = typed({"mal"});
  EXPECT_EQ(field, (SearchField{"mal", 3}));
  field.setCaret(2);
  field.insert("i");
  EXPECT_EQ(field, (SearchField{"mail", 3}));
  EXPECT_TRUE(field.deleteForward());
  EXPECT_EQ(field, (SearchField{"mai", 3}));
  EXPECT_FALSE(field.deleteForward());
  EXPECT_TRUE(field.deleteBackward());
  EXPECT_EQ(field, (SearchField{"ma", 2}));
  field.setCaret(0);
  EXPECT_FALSE(field.deleteBackward());
  EXPECT_EQ(field, (SearchField{"ma", 0}));
  field.insert("");
  EXPECT_EQ(field, (SearchField{"ma", 0}));
  field.setCaret(-4);
  EXPECT_EQ(field.caret, 0);
  field.setCaret(40);
  EXPECT_EQ(field.caret, 2);
}

TEST(SearchField, CombiningInputMergesWithItsNeighbourAndTheCaretStaysInside) {
  // An accent typed after "e", Thai and Hebrew marks, the second half of a flag: each joins the
  // character before it, so the caret stays at the end of the text instead of passing it.
  struct Case {
    const char* base;
    const char* mark;
  };
  for (const Case& c : {Case{"e", "\u0301"}, Case{"\u0e01", "\u0e35"}, Case{"\u05e9", "\u05c1"},
                        Case{"\U0001F1FA", "\U0001F1F8"}}) {
    SCOPED_TRACE(c.mark);
    SearchField field = typed({"a", c.base, c.mark});
    EXPECT_EQ(field.count(), 2);
    EXPECT_EQ(field.caret, 2);
    // Deleting removes the whole merged character, then the rest, and never reaches past the start.
    EXPECT_FALSE(field.deleteForward());
    EXPECT_TRUE(field.deleteBackward());
    EXPECT_EQ(field, (SearchField{"a", 1}));
    EXPECT_TRUE(field.deleteBackward());
    EXPECT_FALSE(field.deleteBackward());
    EXPECT_EQ(field, (SearchField{"", 0}));
  }
}

TEST(SearchField, InsertingInFrontOfAMarkKeepsTheCaretWithinTheText) {
  // A lone mark at the start merges with the letter typed before it.
  SearchField field{"\u0301x", 0};
  field.insert("e");
  EXPECT_EQ(field.text, "e\u0301x");
  EXPECT_EQ(field.count(), 2);
  EXPECT_LE(field.caret, field.count());
  EXPECT_GE(field.caret, 1);
  // A flag's first half typed in front of its second.
  SearchField flag{"\U0001F1F8", 0};
  flag.insert("\U0001F1FA");
  EXPECT_EQ(flag.count(), 1);
  EXPECT_EQ(flag.caret, 1);
}

TEST(SearchField, EveryEditClampsAStaleCaretFirst) {
  // A caret left past the end (or before the start) by an earlier edit is clamped, so a delete
  // acts only on characters inside the text.
  SearchField past{"ab", 7};
  EXPECT_FALSE(past.deleteForward());
  EXPECT_EQ(past, (SearchField{"ab", 2}));
  past.caret = 9;
  EXPECT_TRUE(past.deleteBackward());
  EXPECT_EQ(past, (SearchField{"a", 1}));
  past.caret = 5;
  past.insert("c");
  EXPECT_EQ(past, (SearchField{"ac", 2}));
  SearchField before{"ab", -3};
  EXPECT_FALSE(before.deleteBackward());
  EXPECT_TRUE(before.deleteForward());
  EXPECT_EQ(before, (SearchField{"b", 0}));
  before.caret = -1;
  before.insert("x");
  EXPECT_EQ(before, (SearchField{"xb", 1}));
}

}  // namespace
}  // namespace quorvel
