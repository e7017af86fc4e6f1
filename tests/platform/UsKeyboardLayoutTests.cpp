#include <gtest/gtest.h>

#include "platform/UsKeyboardLayout.h"

namespace quorvel {
namespace {

TEST(UsKeyboardLayoutTest, LettersDigitsAndPunctuationAsPrinted) {
  UsKeyboardLayout layout;
  EXPECT_EQ(layout.characters(0), "a");
  EXPECT_EQ(layout.characters(12), "q");
  EXPECT_EQ(layout.characters(29), "0");
  EXPECT_EQ(layout.characters(50), "`");       // the key above Tab
  EXPECT_EQ(layout.characters(10), "\u00a7");  // the ISO section key
  EXPECT_EQ(layout.characters(42), "\\");
  EXPECT_EQ(layout.characters(92), "9");       // keypad
}

TEST(UsKeyboardLayoutTest, NonPrintingKeysGiveControlsOrNothing) {
  UsKeyboardLayout layout;
  EXPECT_EQ(layout.characters(49), " ");
  EXPECT_EQ(layout.characters(48), "\t");
  EXPECT_EQ(layout.characters(36), "\r");
  EXPECT_EQ(layout.characters(96), "\x10");    // F5
  EXPECT_EQ(layout.characters(56), std::nullopt);  // Shift
  EXPECT_EQ(layout.characters(55), std::nullopt);  // Command
  EXPECT_EQ(layout.characters(200), std::nullopt);
}

}  // namespace
}  // namespace quorvel
