#include <gtest/gtest.h>

#include "base/DefaultsStore.h"
#include "settings/AppSettings.h"

namespace quorvel {
namespace {

using Value = AppSettings::Value;
using K = AppSettings::Key;
using Words = std::vector<std::string>;
using Patterns = std::map<std::string, Words>;

class ApplicationListTest : public ::testing::Test {
 protected:
  void SetUp() override { settings.registerDefaults(); }
  DefaultsStore store;
  AppSettings settings{store};
};

TEST_F(ApplicationListTest, IdentifierListsAreTrimmedUniqueAndSortedWithoutRegardToCase) {
  settings.setHiddenBundleIDs({"com.zed.app", " com.apple.Safari\n", "", "com.apple.Safari", "   ",
                               "COM.BETA.APP"});
  EXPECT_EQ(store.storedObject(K::hiddenBundleIDs),
            Value(Words{"com.apple.Safari", "COM.BETA.APP", "com.zed.app"}));
  settings.setPassThroughBundleIDs({"org.b", "Org.A", "org.b ", "com.parallels."});
  EXPECT_EQ(settings.stringList(K::passThroughBundleIDs),
            (Words{"com.parallels.", "Org.A", "org.b"}));
}

TEST_F(ApplicationListTest, IdentifiersDifferingInCaseOnlyAreBothKeptInTheirOrder) {
  // Without regard to case the two compare equal, so the order they were given in stands.
  settings.setPassThroughBundleIDs({"com.app", "COM.APP"});
  EXPECT_EQ(settings.stringList(K::passThroughBundleIDs), (Words{"com.app", "COM.APP"}));
  settings.setHiddenBundleIDs({"COM.APP", "com.b", "com.app"});
  EXPECT_EQ(settings.stringList(K::hiddenBundleIDs), (Words{"COM.APP", "com.app", "com.b"}));
}

TEST_F(ApplicationListTest, DigitsInListsCompareOneByOne) {
  settings.setPassThroughBundleIDs({"com.vm9.viewer", "com.vm10.viewer"});
  EXPECT_EQ(settings.stringList(K::passThroughBundleIDs), (Words{"com.vm10.viewer", "com.vm9.viewer"}));
  EXPECT_EQ(AppSettings::normalizedTitleWords({"draft 9", "draft 10"}), (Words{"draft 10", "draft 9"}));
}

TEST_F(ApplicationListTest, TitleWordsAreNormalised) {
  EXPECT_EQ(AppSettings::normalizedTitleWords({"Secret", "secret ", "", "  ", "Bank", "\tBANK\n"}),
            (Words{"bank", "secret"}));
}

TEST_F(ApplicationListTest, TitlePatternsOnlyForHiddenApplications) {
  settings.setHiddenBundleIDs({"com.a"});
  settings.setHiddenTitlePatterns({{"com.a", {"Private", "private "}}, {"com.b", {"x"}}, {"com.a2", {""}}});
  EXPECT_EQ(settings.hiddenTitlePatterns(), (Patterns{{"com.a", {"private"}}}));
  EXPECT_EQ(store.storedObject(K::hiddenTitlePatterns), (Value{{"com.a", Words{"private"}}}));
  // Hiding com.b later does not bring its words back.
  settings.setHiddenBundleIDs({"com.a", "com.b"});
  EXPECT_EQ(settings.hiddenTitlePatterns(), (Patterns{{"com.a", {"private"}}}));
  // Unhiding com.a drops its words in the same write.
  int changes = 0;
  const Subscription watching = store.addObserver([&] { ++changes; });
  settings.setHiddenBundleIDs({"com.b"});
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(store.storedObject(K::hiddenTitlePatterns), Value::object());
}

TEST_F(ApplicationListTest, ReadingPatternsDropsEntriesThatAreNotWordLists) {
  Value stored = Value::object();
  stored["com.a"] = 5;
  stored["com.b"] = Words{"  ", ""};
  stored["com.c"] = Value::array({"Ok", 3});
  stored["com.d"] = Words{"Draft", "draft"};
  store.set(K::hiddenTitlePatterns, stored);
  EXPECT_EQ(settings.hiddenTitlePatterns(), (Patterns{{"com.d", {"draft"}}}));
  store.set(K::hiddenTitlePatterns, "not a dictionary");
  EXPECT_TRUE(settings.hiddenTitlePatterns().empty());
}

}  // namespace
}  // namespace quorvel
