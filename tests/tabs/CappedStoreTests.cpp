#include <gtest/gtest.h>

#include <string>

#include "tabs/CappedStore.h"

namespace quorvel {
namespace {

using Store = CappedStore<std::string, int>;

TEST(CappedStore, DropsTheOldestInsertionEvenWhenItWasJustReplaced) {
  Store store(3);
  store.insert(1, "a");
  store.insert(2, "b");
  store.insert(3, "c");
  store.insert(10, "a");  // replacing keeps the key's age
  EXPECT_EQ(store.order(), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(*store.find("a"), 10);

  store.insert(4, "d");
  EXPECT_EQ(store.order(), (std::vector<std::string>{"b", "c", "d"}));
  EXPECT_FALSE(store.contains("a"));
  EXPECT_EQ(store.size(), 3u);
}

TEST(CappedStore, RemovingAKeyTakesItOutOfTheOrder) {
  Store store(3);
  store.insert(1, "a");
  store.insert(2, "b");
  EXPECT_EQ(store.removeValue("a"), 1);
  EXPECT_EQ(store.removeValue("a"), std::nullopt);
  store.insert(3, "c");
  store.insert(4, "d");
  store.insert(5, "e");
  EXPECT_EQ(store.order(), (std::vector<std::string>{"c", "d", "e"}));
}

TEST(CappedStore, RetainKeepsTheSurvivorsInTheirOrder) {
  Store store(5);
  for (const char* key : {"a", "b", "c", "d"}) store.insert(0, key);
  store.retainOnly({"d", "b", "x"});
  EXPECT_EQ(store.order(), (std::vector<std::string>{"b", "d"}));

  store.retainOnly({});
  EXPECT_TRUE(store.empty());
  EXPECT_TRUE(store.order().empty());
  store.retainOnly({});  // an empty store stays as it is
  EXPECT_TRUE(store.empty());

  store.insert(1, "z");
  store.removeAll();
  EXPECT_TRUE(store.empty());
  EXPECT_TRUE(store.order().empty());
}

}  // namespace
}  // namespace quorvel
