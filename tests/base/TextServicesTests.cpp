#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "base/TextServices.h"

namespace quorvel {
namespace {

// Sets the locale variables for one test and restores them afterwards.
class LocaleEnvironment {
 public:
  LocaleEnvironment(const char* lcAll, const char* lcMessages, const char* lang) {
    for (const char* name : kNames) {
      const char* v = std::getenv(name);
      saved_.push_back(v ? std::optional<std::string>(v) : std::nullopt);
    }
    set("LC_ALL", lcAll);
    set("LC_MESSAGES", lcMessages);
    set("LANG", lang);
  }
  ~LocaleEnvironment() {
    for (size_t i = 0; i < 3; ++i) set(kNames[i], saved_[i] ? saved_[i]->c_str() : nullptr);
  }

 private:
  static constexpr const char* kNames[3] = {"LC_ALL", "LC_MESSAGES", "LANG"};
  static void set(const char* name, const char* value) {
    if (value) setenv(name, value, 1);
    else unsetenv(name);
  }
  std::vector<std::optional<std::string>> saved_;
};

TEST(TextServices, CurrentLocaleFollowsEnvironmentPrecedence) {
  {
    LocaleEnvironment env(nullptr, nullptr, nullptr);
    EXPECT_EQ(TextServices::currentLocale(), "en_US");
  }
  {
    LocaleEnvironment env("C", nullptr, "de_DE.UTF-8");
    EXPECT_EQ(TextServices::currentLocale(), "en_US");
  }
  {
    LocaleEnvironment env("", "POSIX", "de_DE.UTF-8");
    EXPECT_EQ(TextServices::currentLocale(), "en_US");
  }
  {
    LocaleEnvironment env(nullptr, "fr_FR.UTF-8@euro", "de_DE.UTF-8");
    EXPECT_EQ(TextServices::currentLocale(), "fr_FR");
  }
  {
    LocaleEnvironment env("tr_TR.UTF-8", "fr_FR", "de_DE");
    EXPECT_EQ(TextServices::currentLocale(), "tr_TR");
  }
}

TEST(TextServices, CaseMappingDependsOnLocale) {
  EXPECT_EQ(TextServices::lowercased("TITLE İI", "en_US"), "title i\u0307i");
  EXPECT_EQ(TextServices::lowercased("TITLE İI", "tr_TR"), "tıtle iı");
  EXPECT_EQ(TextServices::lowercased("TITLE İI", "tr-TR"), "tıtle iı");
  EXPECT_EQ(TextServices::lowercased("ÀÉÎ ΣΑΣ"), "àéî σας");
  {
    LocaleEnvironment env(nullptr, nullptr, "tr_TR.UTF-8");
    EXPECT_EQ(TextServices::lowercased("I"), "ı");
    EXPECT_EQ(TextServices::uppercased("i"), "İ");
  }
  {
    LocaleEnvironment env(nullptr, nullptr, "en_US.UTF-8");
    EXPECT_EQ(TextServices::lowercased("I"), "i");
    EXPECT_EQ(TextServices::uppercased("straße"), "STRASSE");
  }
}

TEST(TextServices, LocalizedStandardCompareOrdersLikeTheFileManager) {
  LocaleEnvironment env(nullptr, nullptr, "en_US.UTF-8");
  EXPECT_EQ(TextServices::localizedStandardCompare("File 2", "File 10"), -1);
  EXPECT_EQ(TextServices::localizedStandardCompare("File 10", "File 2"), 1);
  // Case and accents matter only when nothing else differs.
  EXPECT_EQ(TextServices::localizedStandardCompare("apple", "Banana"), -1);
  EXPECT_EQ(TextServices::localizedStandardCompare("Apple", "banana"), -1);
  EXPECT_EQ(TextServices::localizedStandardCompare("éclair", "Eclairs"), -1);
  EXPECT_NE(TextServices::localizedStandardCompare("mail", "Mail"), 0);
  EXPECT_EQ(TextServices::localizedStandardCompare("mail", "Mail"),
            -TextServices::localizedStandardCompare("Mail", "mail"));
  EXPECT_EQ(TextServices::localizedStandardCompare("Mail", "Mail"), 0);
  EXPECT_EQ(TextServices::localizedStandardCompare("e\u0301", "\u00e9"), 0);

  // A total order: sorting any permutation gives one result.
  std::vector<std::string> names{"file 10", "File 2", "file 2", "File 1", "Ärger", "arger", "Zebra", "zebra", "File 10"};
  auto sorted = names;
  std::sort(sorted.begin(), sorted.end(), [](const std::string& a, const std::string& b) {
    return TextServices::localizedStandardCompare(a, b) < 0;
  });
  std::reverse(names.begin(), names.end());
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return TextServices::localizedStandardCompare(a, b) < 0;
  });
  EXPECT_EQ(names, sorted);
  EXPECT_EQ(sorted.front(), "arger");
  EXPECT_EQ(sorted[2], "File 1");
}

TEST(TextServices, PlainCompareIsCodePointOrder) {
  EXPECT_EQ(TextServices::plainCompare("B", "a"), -1);
  EXPECT_EQ(TextServices::plainCompare("z", "\u00e9"), -1);  // U+007A before U+00E9
  EXPECT_EQ(TextServices::plainCompare("\U0001F600", "\uFFFD"), 1);
  EXPECT_EQ(TextServices::plainCompare("abc", "abc"), 0);
  EXPECT_EQ(TextServices::plainCompare("ab", "abc"), -1);
}

TEST(TextServices, CanonicalEquivalence) {
  EXPECT_TRUE(TextServices::canonicallyEqual("Cafe\u0301", "Caf\u00e9"));
  EXPECT_FALSE(TextServices::canonicallyEqual("Cafe", "Caf\u00e9"));
  EXPECT_EQ(TextServices::nfc("Cafe\u0301"), "Caf\u00e9");
  EXPECT_TRUE(TextServices::containsCanonically("Le Caf\u00e9 ouvert", "Cafe\u0301"));
  EXPECT_TRUE(TextServices::containsCanonically("Le Cafe\u0301 ouvert", "Caf\u00e9 o"));
  EXPECT_FALSE(TextServices::containsCanonically("Le Caf\u00e9", "Cafe"));
  EXPECT_TRUE(TextServices::containsCanonically("Le Caf\u00e9 et Cafe", "Cafe"));
  EXPECT_TRUE(TextServices::containsCanonically("anything", ""));
  EXPECT_FALSE(TextServices::containsCanonically("", "a"));
  EXPECT_FALSE(TextServices::containsCanonically("ab", "abc"));
}

TEST(TextServices, GraphemeClusters) {
  const std::string thumbs = "\U0001F44D\U0001F3FD";                  // thumbs up, medium skin tone
  const std::string flag = "\U0001F1EB\U0001F1F7";                    // France
  const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467";
  const std::string text = "a" + thumbs + flag + "e\u0301" + family;
  EXPECT_EQ(TextServices::graphemeCount(text), 5u);
  EXPECT_EQ(TextServices::graphemeCount(""), 0u);
  EXPECT_EQ(TextServices::prefixGraphemes(text, 2), "a" + thumbs);
  EXPECT_EQ(TextServices::prefixGraphemes(text, 4), "a" + thumbs + flag + "e\u0301");
  EXPECT_EQ(TextServices::prefixGraphemes(text, 99), text);
  EXPECT_EQ(TextServices::prefixGraphemes(text, 0), "");
  // Broken UTF-8 counts and cuts without reading past the end.
  const std::string broken = "ab\xE2\x82";
  EXPECT_GE(TextServices::graphemeCount(broken), 3u);
  EXPECT_EQ(TextServices::prefixGraphemes(broken, 2), "ab");
}

TEST(TextServices, TrimmingUsesUnicodeWhiteSpace) {
  EXPECT_EQ(TextServices::trimmed("  \t\n Mail \r\n"), "Mail");
  EXPECT_EQ(TextServices::trimmed("\u00a0\u2003Inbox — 3\u3000\u2028"), "Inbox — 3");
  EXPECT_EQ(TextServices::trimmed("a b"), "a b");
  EXPECT_EQ(TextServices::trimmed(" \n\t "), "");
  EXPECT_EQ(TextServices::trimmed(""), "");
  EXPECT_EQ(TextServices::trimmed("\u200Bx\u200B"), "\u200Bx\u200B");  // zero width space is not white space
  EXPECT_EQ(TextServices::trimmed(" \xFF "), "\xFF");
}

}  // namespace
}  // namespace quorvel
