#include "platform/x11/X11Text.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvel {
namespace {

std::string utf8(const std::string& bytes, bool truncated = false) {
  return X11Text::fromUtf8(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), truncated);
}
std::string latin1(const std::string& bytes) {
  return X11Text::fromLatin1(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}
std::string compound(const std::string& bytes) {
  return X11Text::fromCompoundText(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

const std::string kReplacement = "\xEF\xBF\xBD";

TEST(X11TextTest, Utf8TitlesKeepValidTextAndReplaceWhatIsNot) {
  EXPECT_EQ(utf8("Caf\xC3\xA9 \xE2\x80\x94 \xF0\x9F\x98\x80"), "Caf\xC3\xA9 \xE2\x80\x94 \xF0\x9F\x98\x80");
  EXPECT_EQ(utf8("a\xFF" "b"), "a" + kReplacement + "b");
  // Overlong forms, surrogates and code points above U+10FFFF are not valid UTF-8.
  EXPECT_EQ(utf8("\xC0\xAF"), kReplacement + kReplacement);
  EXPECT_EQ(utf8("\xED\xA0\x80"), kReplacement + kReplacement + kReplacement);
  EXPECT_EQ(utf8("\xF4\x90\x80\x80"), kReplacement + kReplacement + kReplacement + kReplacement);
  // A character cut off at the end is replaced, unless the server cut the value short.
  EXPECT_EQ(utf8("ab\xE2\x80"), "ab" + kReplacement + kReplacement);
  EXPECT_EQ(utf8("ab\xE2\x80", true), "ab");
  // Text ends at the first NUL (some clients count a terminator in the length).
  EXPECT_EQ(utf8(std::string("title\0junk", 10)), "title");
  EXPECT_EQ(utf8(""), "");
}

TEST(X11TextTest, Latin1AndCompoundTextBecomeUtf8) {
  EXPECT_EQ(latin1("Caf\xE9 \xD7"), "Caf\xC3\xA9 \xC3\x97");
  EXPECT_EQ(latin1(std::string("ab\0cd", 5)), "ab");
  // Compound text: escape sequences go, ISO 8859-1 is the starting encoding.
  EXPECT_EQ(compound("\x1B-ACaf\xE9"), "Caf\xC3\xA9");
  // A UTF-8 segment (ESC % G ... ESC % @) stays as it is, C1-range continuation bytes included.
  EXPECT_EQ(compound("\x1B%G\xE2\x82\xAC 5\x1B%@"), "\xE2\x82\xAC 5");
  // C1 controls and control sequences are dropped from ISO 8859-1 text.
  EXPECT_EQ(compound("a\x9B" "1mb\x85\xE9"), "ab\xC3\xA9");
}

TEST(X11TextTest, ClassListsSplitAtNul) {
  const auto list = [](const std::string& bytes) {
    return X11Text::latin1List(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  };
  EXPECT_EQ(list(std::string("xterm\0XTerm\0", 12)), (std::vector<std::string>{"xterm", "XTerm"}));
  // A client that leaves out the last NUL still has its class read.
  EXPECT_EQ(list(std::string("xterm\0XTerm", 11)), (std::vector<std::string>{"xterm", "XTerm"}));
  EXPECT_EQ(list(std::string("\0Only\0", 6)), (std::vector<std::string>{"", "Only"}));
  EXPECT_TRUE(list("").empty());
}

}  // namespace
}  // namespace quorvel
