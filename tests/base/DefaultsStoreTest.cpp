#include "base/DefaultsStore.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <sstream>
#include <thread>

#include "base/LogCapture.h"
#include "StoreTestFiles.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Value = DefaultsStore::Value;

struct TempFolder : storetest::Folder {
  TempFolder() : storetest::Folder("defaults") {}
  const fs::path& path() const { return storetest::Folder::path; }
};

using storetest::readBytes;

using storetest::writeBytes;

Value parseFile(const fs::path& file) { return Value::parse(readBytes(file), nullptr, false); }

// Names in `folder` that start with `prefix`, sorted.
std::vector<std::string> namesStartingWith(const fs::path& folder, const std::string& prefix) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    auto name = entry.path().filename().string();
    if (name.rfind(prefix, 0) == 0) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Sets an environment variable for the life of the object, then restores it.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(DefaultsStore, RegisteredDefaultsSitBeneathStoredValues) {
  DefaultsStore store;
  store.registerDefaults({{"speed", 1.5}, {"style", "coverArc"}});
  EXPECT_EQ(store.doubleValue("speed"), 1.5);
  EXPECT_FALSE(store.hasStoredValue("speed"));
  EXPECT_EQ(store.storedObject("speed"), std::nullopt);

  store.set("speed", 3);
  EXPECT_EQ(store.integer("speed"), 3);
  EXPECT_EQ(store.storedObject("speed"), Value(3));
  EXPECT_EQ(store.storedValues(), (std::map<std::string, Value>{{"speed", 3}}));

  // Registering again overrides within the domain but never hides a stored value.
  store.registerDefaults({{"speed", 2.5}, {"style", "row"}});
  EXPECT_EQ(store.integer("speed"), 3);
  EXPECT_EQ(store.string("style"), "row");

  store.remove("speed");
  EXPECT_EQ(store.doubleValue("speed"), 2.5);
  EXPECT_FALSE(store.hasStoredValue("speed"));
  EXPECT_TRUE(store.storedValues().empty());

  // A null has no stored form: writing one removes the key.
  store.set("style", "flatRing");
  store.set("style", nullptr);
  EXPECT_FALSE(store.hasStoredValue("style"));
  EXPECT_EQ(store.string("style"), "row");

  EXPECT_EQ(store.object("missing"), std::nullopt);
  EXPECT_TRUE(store.lastWriteSucceeded());
}

TEST(DefaultsStore, BoolCoercion) {
  DefaultsStore store;
  store.setMany({{"t", true},         {"f", false},       {"one", 1},         {"zero", 0},
                 {"neg", -2},         {"half", 0.5},      {"fzero", 0.0},     {"big", uint64_t{1} << 63},
                 {"YES", "YES"},      {"yes", "yes"},     {"True", "True"},   {"TRUE", "TRUE"},
                 {"s1", "1"},         {"s42", "-42"},     {"s0", "000"},      {"no", "no"},
                 {"sfloat", "0.5"},   {"empty", ""},      {"yess", "yess"},   {"arr", Value::array({1})},
                 {"obj", Value::object({{"a", 1}})},      {"huge", "123456789012345678901234567890"}});
  for (const char* key : {"t", "one", "neg", "half", "big", "YES", "yes", "True", "TRUE", "s1", "s42", "huge"})
    EXPECT_TRUE(store.boolValue(key)) << key;
  for (const char* key : {"f", "zero", "fzero", "s0", "no", "sfloat", "empty", "yess", "arr", "obj", "missing"})
    EXPECT_FALSE(store.boolValue(key)) << key;
}

TEST(DefaultsStore, IntegerCoercion) {
  DefaultsStore store;
  store.setMany({{"int", -7},
                 {"max", INT64_MAX},
                 {"tooBigUnsigned", UINT64_MAX},
                 {"float", 2.9},
                 {"negFloat", -2.9},
                 {"hugeFloat", 1e300},
                 {"edgeFloat", 9223372036854775808.0},
                 {"nan", std::nan("")},
                 {"inf", INFINITY},
                 {"true", true},
                 {"false", false},
                 {"sInt", "42"},
                 {"sPlus", "+42"},
                 {"sNeg", "-42"},
                 {"sFloat", "3.75"},
                 {"sExp", "1e3"},
                 {"sPartial", "42abc"},
                 {"sSpace", " 42"},
                 {"sHuge", "99999999999999999999999"},
                 {"sNan", "nan"},
                 {"word", "YES"},
                 {"arr", Value::array({5})}});
  EXPECT_EQ(store.integer("int"), -7);
  EXPECT_EQ(store.integer("max"), INT64_MAX);
  EXPECT_EQ(store.integer("tooBigUnsigned"), 0);
  EXPECT_EQ(store.integer("float"), 2);
  EXPECT_EQ(store.integer("negFloat"), -2);
  EXPECT_EQ(store.integer("hugeFloat"), 0);
  EXPECT_EQ(store.integer("edgeFloat"), 0);
  EXPECT_EQ(store.integer("nan"), 0);
  EXPECT_EQ(store.integer("inf"), 0);
  EXPECT_EQ(store.integer("true"), 1);
  EXPECT_EQ(store.integer("false"), 0);
  EXPECT_EQ(store.integer("sInt"), 42);
  EXPECT_EQ(store.integer("sPlus"), 42);
  EXPECT_EQ(store.integer("sNeg"), -42);
  EXPECT_EQ(store.integer("sFloat"), 3);
  EXPECT_EQ(store.integer("sExp"), 1000);
  EXPECT_EQ(store.integer("sPartial"), 0);
  EXPECT_EQ(store.integer("sSpace"), 0);
  EXPECT_EQ(store.integer("sHuge"), 0);
  EXPECT_EQ(store.integer("sNan"), 0);
  EXPECT_EQ(store.integer("word"), 0);
  EXPECT_EQ(store.integer("arr"), 0);
  EXPECT_EQ(store.integer("missing"), 0);
}

TEST(DefaultsStore, DoubleCoercion) {
  DefaultsStore store;
  store.setMany({{"float", 0.25},
                 {"int", -3},
                 {"unsigned", uint64_t{1} << 63},
                 {"true", true},
                 {"false", false},
                 {"sFloat", "0.125"},
                 {"sInt", "12"},
                 {"sExp", "-2.5e2"},
                 {"sPartial", "1.5x"},
                 {"sInf", "inf"},
                 {"sOverflow", "1e400"},
                 {"obj", Value::object()}});
  EXPECT_EQ(store.doubleValue("float"), 0.25);
  EXPECT_EQ(store.doubleValue("int"), -3.0);
  EXPECT_EQ(store.doubleValue("unsigned"), 9223372036854775808.0);
  EXPECT_EQ(store.doubleValue("true"), 1.0);
  EXPECT_EQ(store.doubleValue("false"), 0.0);
  EXPECT_EQ(store.doubleValue("sFloat"), 0.125);
  EXPECT_EQ(store.doubleValue("sInt"), 12.0);
  EXPECT_EQ(store.doubleValue("sExp"), -250.0);
  EXPECT_EQ(store.doubleValue("sPartial"), 0.0);
  EXPECT_EQ(store.doubleValue("sInf"), 0.0);
  EXPECT_EQ(store.doubleValue("sOverflow"), 0.0);
  EXPECT_EQ(store.doubleValue("obj"), 0.0);
  EXPECT_EQ(store.doubleValue("missing"), 0.0);
}

TEST(DefaultsStore, StringAndObjectCoercion) {
  DefaultsStore store;
  store.setMany({{"text", "coverArc"},
                 {"int", -12},
                 {"unsigned", UINT64_MAX},
                 {"half", 0.5},
                 {"whole", 1.0},
                 {"huge", 1e20},
                 {"bool", true},
                 {"list", Value::array({"a", "b"})}});
  EXPECT_EQ(store.string("text"), "coverArc");
  EXPECT_EQ(store.string("int"), "-12");
  EXPECT_EQ(store.string("unsigned"), "18446744073709551615");
  EXPECT_EQ(store.string("half"), "0.5");
  EXPECT_EQ(store.string("whole"), "1");
  EXPECT_EQ(store.string("huge"), "1e+20");
  EXPECT_EQ(store.string("bool"), std::nullopt);
  EXPECT_EQ(store.string("list"), std::nullopt);
  EXPECT_EQ(store.string("missing"), std::nullopt);
  EXPECT_EQ(store.object("list"), Value::array({"a", "b"}));
}

TEST(DefaultsStore, ValuesSurviveIntoTheNextStore) {
  TempFolder folder;
  auto file = folder.path() / "nested" / "quorvel" / "defaults.json";
  Value binding = {{"keyCode", 48}, {"flags", 524288}};
  {
    DefaultsStore store(file);
    EXPECT_TRUE(fs::is_directory(file.parent_path()));
    EXPECT_FALSE(fs::exists(file));
    store.set("hotkeyBinding1", binding);
    store.setMany({{"liveHero", true}, {"animationSpeed", 0.75}, {"hiddenBundleIDs", Value::array({"a.b"})}});
    store.set("gone", 1);
    store.remove("gone");
    EXPECT_TRUE(store.lastWriteSucceeded());
  }
  EXPECT_TRUE(parseFile(file).is_object());
  EXPECT_TRUE(namesStartingWith(file.parent_path(), "defaults.json.").empty());

  DefaultsStore again(file);
  EXPECT_EQ(again.storedValues(), (std::map<std::string, Value>{{"hotkeyBinding1", binding},
                                                                 {"liveHero", true},
                                                                 {"animationSpeed", 0.75},
                                                                 {"hiddenBundleIDs", Value::array({"a.b"})}}));
  EXPECT_EQ(again.integer("hotkeyBinding1"), 0);
  EXPECT_TRUE(again.boolValue("liveHero"));
}

TEST(DefaultsStore, WriteInterruptedBeforeRenameLeavesTheOldFile) {
  TempFolder folder;
  auto file = folder.path() / "defaults.json";
  {
    DefaultsStore store(file);
    store.set("style", "row");
    std::string before = readBytes(file);

    store.setWriteInterruptionForTesting([] { return false; });
    store.set("style", "expo");
    EXPECT_FALSE(store.lastWriteSucceeded());
    EXPECT_EQ(store.string("style"), "expo");  // kept in memory
    EXPECT_EQ(readBytes(file), before);
    auto leftovers = namesStartingWith(folder.path(), "defaults.json.tmp-");
    ASSERT_EQ(leftovers.size(), 1u);
    EXPECT_EQ(parseFile(folder.path() / leftovers[0])["style"], "expo");
  }
  // A temporary file of a writer that is gone is swept away as well.
  writeBytes(folder.path() / "defaults.json.tmp-999999999-1", "{\"style\":");

  {
    // The change the write could not save as the store ended waited in the journal: it is saved now.
    DefaultsStore next(file);
    EXPECT_EQ(next.string("style"), "expo");
    EXPECT_EQ(parseFile(file)["style"], "expo");
    EXPECT_FALSE(fs::exists(folder.path() / "defaults.json.unsaved"));
    EXPECT_TRUE(namesStartingWith(folder.path(), "defaults.json.tmp-").empty());
    EXPECT_TRUE(namesStartingWith(folder.path(), "defaults.json.damaged").empty());

    // Once the hook lets writes through again, the next write lands.
    next.set("style", "cylinder");
    EXPECT_TRUE(next.lastWriteSucceeded());
    EXPECT_EQ(parseFile(file)["style"], "cylinder");
  }

  // A writer of an earlier version stopped while it had the file aside to look at it: the file goes
  // back in place at the next start that holds the folder.
  fs::rename(file, folder.path() / "defaults.json.saving-999999999-1");
  DefaultsStore after(file);
  EXPECT_EQ(after.string("style"), "cylinder");
  EXPECT_TRUE(namesStartingWith(folder.path(), "defaults.json.saving-").empty());
}

TEST(DefaultsStore, DamagedFilesAreSetAsideWithTheirBytes) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"truncated", "{\"liveHero\": true, \"style\": \"ro"},
      {"not JSON", "this is not JSON at all"},
      {"not an object", "[1, 2, 3]"},
      {"empty", ""},
      {"bad UTF-8", "{\"a\": \"\xff\xfe\"}"},
  };
  for (const auto& [label, bytes] : cases) {
    SCOPED_TRACE(label);
    TempFolder folder;
    auto file = folder.path() / "defaults.json";
    writeBytes(file, bytes);

    LogCapture capture;
    DefaultsStore store(file);
    store.registerDefaults({{"style", "coverArc"}});
    EXPECT_TRUE(store.storedValues().empty());
    EXPECT_EQ(store.string("style"), "coverArc");
    EXPECT_EQ(readBytes(file), bytes);  // a store that does not follow its file sets it aside at its first write

    store.set("style", "row");
    EXPECT_TRUE(store.lastWriteSucceeded());
    EXPECT_EQ(parseFile(file)["style"], "row");
    auto aside = namesStartingWith(folder.path(), "defaults.json.damaged-");
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(readBytes(folder.path() / aside[0]), bytes);

    auto lines = capture.messages("DefaultsStore");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find(" does not parse because "), std::string::npos) << lines[0];
    EXPECT_EQ(lines[1].rfind("The defaults file " + file.string() + " was set aside as " +
                                 (folder.path() / aside[0]).string() + " because ",
                             0),
              0u)
        << lines[1];
    EXPECT_EQ(capture.records()[1].level, LogLevel::error);
    EXPECT_EQ(capture.records()[1].redacted, lines[1]);  // paths are public
  }
}

TEST(DefaultsStore, EarlierAsideFilesAreNeverReplaced) {
  TempFolder folder;
  auto file = folder.path() / "defaults.json";
  writeBytes(file, "first");
  DefaultsStore(file).set("style", "row");
  writeBytes(file, "second");
  DefaultsStore(file).set("style", "row");
  writeBytes(file, "third");
  DefaultsStore(file).set("style", "row");

  std::multiset<std::string> contents;
  for (const auto& name : namesStartingWith(folder.path(), "defaults.json.damaged-"))
    contents.insert(readBytes(folder.path() / name));
  EXPECT_EQ(contents, (std::multiset<std::string>{"first", "second", "third"}));
}

// Only a regular file inside the configuration folder is ever moved: a folder or a named pipe at
// the path, and anything a link leads to outside the folder, are left where they are and reported
// once; the store starts empty and writes nothing over them.
TEST(DefaultsStore, OnlyARegularFileInsideTheFolderIsEverSetAside) {
  struct Case {
    const char* label;
    std::function<void(const fs::path& file, const fs::path& elsewhere)> make;
    const char* reported;
  };
  const std::vector<Case> cases = {
      {"a folder at the path",
       [](const fs::path& file, const fs::path&) {
         fs::create_directory(file);
         writeBytes(file / "inside", "kept");
       },
       "is not a regular file"},
      {"a named pipe at the path", [](const fs::path& file, const fs::path&) { ::mkfifo(file.c_str(), 0600); },
       "is not a regular file"},
      {"a link to a folder elsewhere",
       [](const fs::path& file, const fs::path& elsewhere) {
         fs::create_directory(elsewhere / "project");
         writeBytes(elsewhere / "project" / "notes.txt", "kept");
         fs::create_symlink(elsewhere / "project", file);
       },
       "is not a regular file"},
      {"a link to a named pipe elsewhere",
       [](const fs::path& file, const fs::path& elsewhere) {
         ::mkfifo((elsewhere / "pipe").c_str(), 0600);
         fs::create_symlink(elsewhere / "pipe", file);
       },
       "is not a regular file"},
      {"a link to a damaged file elsewhere",
       [](const fs::path& file, const fs::path& elsewhere) {
         writeBytes(elsewhere / "quorvel.json", "{\"style\": ");
         fs::create_symlink(elsewhere / "quorvel.json", file);
       },
       "lies outside the configuration folder"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    TempFolder root;
    const auto config = root.path() / "config", elsewhere = root.path() / "elsewhere";
    fs::create_directories(config);
    fs::create_directories(elsewhere);
    const auto file = config / "defaults.json";
    c.make(file, elsewhere);
    auto listing = [](const fs::path& folder) {
      std::vector<std::string> names;
      for (const auto& entry : fs::recursive_directory_iterator(folder)) names.push_back(entry.path().string());
      std::sort(names.begin(), names.end());
      return names;
    };
    const auto before = listing(root.path());

    LogCapture capture;
    // A pipe must not hold the start up waiting for a writer.
    auto opening = std::async(std::launch::async, [&] { return std::make_unique<DefaultsStore>(file); });
    ASSERT_EQ(opening.wait_for(10s), std::future_status::ready) << "opening the store waited on the path";
    auto store = opening.get();
    store->registerDefaults({{"style", "coverArc"}});
    EXPECT_EQ(store->string("style"), "coverArc");
    auto lines = capture.messages("DefaultsStore");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(c.reported), std::string::npos) << lines[0];

    store->set("a", 1);
    EXPECT_FALSE(store->lastWriteSucceeded());
    EXPECT_EQ(store->integer("a"), 1);
    store->set("b", 2);
    EXPECT_EQ(capture.messages("DefaultsStore").size(), 1u) << "reported once";
    EXPECT_EQ(listing(root.path()), before) << "nothing moved, nothing written";
  }
}

TEST(DefaultsStore, OversizedFilesAreSetAsideUnread) {
  TempFolder folder;
  auto file = folder.path() / "defaults.json";
  // Valid JSON, padded past the limit: only its size is wrong.
  writeBytes(file, "{\"style\": \"row\"}" + std::string(DefaultsStore::maximumFileSize, ' '));
  {
    LogCapture capture;
    DefaultsStore store(file);
    store.registerDefaults({{"style", "coverArc"}});
    EXPECT_EQ(store.string("style"), "coverArc");
    auto lines = capture.messages("DefaultsStore");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("because it is larger than 1048576 bytes"), std::string::npos) << lines[0];
    store.set("style", "row");
    EXPECT_EQ(namesStartingWith(folder.path(), "defaults.json.damaged-").size(), 1u);
  }

  // A sparse 4 GiB file is refused by its size alone, without reading it.
  TempFolder huge;
  auto big = huge.path() / "defaults.json";
  writeBytes(big, "");
  fs::resize_file(big, uint64_t{4} << 30);
  DefaultsStore store(big);
  EXPECT_TRUE(store.storedValues().empty());
  store.set("style", "row");
  EXPECT_EQ(namesStartingWith(huge.path(), "defaults.json.damaged-").size(), 1u);
}

TEST(DefaultsStore, DeepNestingIsDamageAndShallowerIsKept) {
  // Brackets and quotes inside a text do not nest.
  auto nested = [](int depth) {
    return R"({"text": "]]}\"]]", "deep": )" + std::string(depth, '[') + std::string(depth, ']') + "}";
  };
  // The 100,000 levels of an attack, and the first level past the limit (the top object is depth 0).
  for (int depth : {100000, DefaultsStore::maximumNesting + 1}) {
    SCOPED_TRACE(depth);
    TempFolder folder;
    auto file = folder.path() / "defaults.json";
    writeBytes(file, nested(depth));
    LogCapture capture;
    DefaultsStore store(file);
    EXPECT_TRUE(store.storedValues().empty());
    auto lines = capture.messages("DefaultsStore");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("because it is nested deeper than 512 levels"), std::string::npos) << lines[0];
    // The launch writes at once: that write must not walk the refused value.
    store.set("migrated", true);
    ASSERT_EQ(namesStartingWith(folder.path(), "defaults.json.damaged-").size(), 1u);
    EXPECT_EQ(parseFile(file), (Value{{"migrated", true}}));
  }
  TempFolder folder;
  auto file = folder.path() / "defaults.json";
  writeBytes(file, nested(DefaultsStore::maximumNesting));
  DefaultsStore store(file);
  EXPECT_TRUE(store.hasStoredValue("deep"));
  store.set("migrated", true);
  EXPECT_TRUE(store.lastWriteSucceeded());
  EXPECT_EQ(DefaultsStore(file).storedValues().size(), 3u);
}

TEST(DefaultsStore, TheFileGrowsWithItsValuesNotWithTheirNesting) {
  TempFolder folder;
  auto file = folder.path() / "defaults.json";
  DefaultsStore store(file);
  Value deep = Value::array();
  for (int level = 0; level < 400; ++level) deep = Value::array({deep});
  store.setMany({{"deep", deep}, {"style", "row"}, {"liveHero", true}});
  const std::string text = readBytes(file);
  // 802 brackets and a few short lines; indentation by depth would take some 160,000 bytes.
  EXPECT_LT(text.size(), 1000u) << text.size();
  EXPECT_EQ(DefaultsStore(file).storedValues(), (std::map<std::string, Value>{
                                                    {"deep", deep}, {"style", "row"}, {"liveHero", true}}));
  // Still a file a person can read: one key a line.
  EXPECT_NE(text.find("\n  \"liveHero\": true,\n"), std::string::npos) << text.substr(0, 200);
}

TEST(DefaultsStore, AWriteTooLargeForTheNextStartIsNotMade) {
  TempFolder folder;
  auto file = folder.path() / "defaults.json";
  DefaultsStore store(file);
  store.set("style", "row");
  const std::string before = readBytes(file);

  LogCapture capture;
  store.set("huge", std::string(DefaultsStore::maximumFileSize, 'x'));
  EXPECT_FALSE(store.lastWriteSucceeded());
  EXPECT_EQ(capture.messages("DefaultsStore").size(), 1u);
  EXPECT_EQ(readBytes(file), before);
  EXPECT_TRUE(namesStartingWith(folder.path(), "defaults.json.tmp-").empty());

  store.remove("huge");
  EXPECT_TRUE(store.lastWriteSucceeded());
  EXPECT_EQ(DefaultsStore(file).string("style"), "row");
}

// Keeps this process from opening more files while it lives: every descriptor left below the soft
// limit is taken.
class NoFileDescriptorsLeft {
 public:
  NoFileDescriptorsLeft() {
    for (int fd = ::dup(0); fd >= 0; fd = ::dup(0)) {
      held_.push_back(fd);
      if (held_.size() > 100000) break;
    }
  }
  ~NoFileDescriptorsLeft() {
    for (int fd : held_) ::close(fd);
  }

 private:
  std::vector<int> held_;
};

TEST(DefaultsStore, AFileThatCannotBeOpenedIsLeftAsItIsAndNeverWrittenOver) {
  TempFolder folder;
  auto file = folder.path() / "defaults.json";
  writeBytes(file, "{\"style\": \"row\", \"liveHero\": true}");
  const std::string before = readBytes(file);

  struct rlimit limit {};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
  struct rlimit lowered = limit;
  lowered.rlim_cur = std::min<rlim_t>(limit.rlim_cur, 4096);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
  std::unique_ptr<DefaultsStore> store;
  {
    // The same write once where descriptors are left, so that the sanitizer has checked every type
    // of it before none are: its check of a type it has not seen yet needs a descriptor of its own.
    DefaultsStore warm(folder.path() / "warm.json");
    warm.set("animationSpeed", 1);
  }
  LogCapture capture;
  {
    NoFileDescriptorsLeft exhausted;
    store = std::make_unique<DefaultsStore>(file);
    store->set("animationSpeed", 1);  // the file still cannot be read: nothing is written
    EXPECT_FALSE(store->lastWriteSucceeded());
  }
  ::setrlimit(RLIMIT_NOFILE, &limit);
  EXPECT_EQ(readBytes(file), before);

  store->registerDefaults({{"style", "coverArc"}});
  EXPECT_EQ(store->string("style"), "coverArc");
  auto lines = capture.messages("DefaultsStore");
  // Nor could the folder's lock be made, for want of a descriptor: said once, with that cause.
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].rfind("The lock on the settings folder " + folder.path().string() + " could not be made (", 0), 0u)
      << lines[0];
  EXPECT_NE(lines[0].find("Too many open files"), std::string::npos) << lines[0];
  EXPECT_EQ(lines[1].rfind("The defaults file " + file.string() + " could not be read (", 0), 0u) << lines[1];
  EXPECT_TRUE(namesStartingWith(folder.path(), "defaults.json.damaged-").empty());
  EXPECT_EQ(readBytes(file), before);

  // The unread file is never replaced: a write reads it first (it can be read again now) and puts
  // the change on top of every setting of the user.
  store->set("animationSpeed", 2);
  EXPECT_TRUE(store->lastWriteSucceeded());
  EXPECT_EQ(store->string("style"), "row");
  EXPECT_TRUE(namesStartingWith(folder.path(), "defaults.json.tmp-").empty());
  EXPECT_EQ(DefaultsStore(file).storedValues(),
            (std::map<std::string, Value>{{"style", "row"}, {"liveHero", true}, {"animationSpeed", 2}}));
}

TEST(DefaultsStore, ALinkThatLeadsNowhereReadableIsLeftAlone) {
  TempFolder folder;
  auto file = folder.path() / "defaults.json";
  fs::create_symlink("defaults.json", file);  // a link to itself

  LogCapture capture;
  DefaultsStore store(file);
  EXPECT_EQ(capture.messages("DefaultsStore").size(), 1u);
  store.set("a", 1);
  EXPECT_FALSE(store.lastWriteSucceeded());
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(file)));
  EXPECT_EQ(fs::read_symlink(file), "defaults.json");
  EXPECT_TRUE(namesStartingWith(folder.path(), "defaults.json.damaged-").empty());
}

TEST(DefaultsStore, WritesGoThroughASymbolicLink) {
  TempFolder folder;
  fs::create_directories(folder.path() / "dotfiles");
  fs::create_directories(folder.path() / "config");
  auto target = folder.path() / "dotfiles" / "quorvel.json";
  auto link = folder.path() / "config" / "defaults.json";
  writeBytes(target, "{\"style\": \"row\"}");
  fs::create_symlink("../dotfiles/quorvel.json", link);

  {
    DefaultsStore store(link);
    EXPECT_EQ(store.string("style"), "row");
    store.set("liveHero", true);
    EXPECT_TRUE(store.lastWriteSucceeded());
  }
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(link)));
  EXPECT_EQ(parseFile(target), (Value{{"style", "row"}, {"liveHero", true}}));
  EXPECT_EQ(std::distance(fs::directory_iterator(folder.path() / "config"), fs::directory_iterator()), 1)
      << "only the link";
  EXPECT_TRUE(namesStartingWith(folder.path() / "dotfiles", "quorvel.json.").empty());

  // A damaged file behind the link is left where it lives and never written over; once it is
  // mended the store reads it and saves through the link again.
  writeBytes(target, "{\"style\": ");
  DefaultsStore store(link);
  EXPECT_TRUE(namesStartingWith(folder.path() / "dotfiles", "quorvel.json.damaged-").empty());
  store.set("style", "expo");
  EXPECT_FALSE(store.lastWriteSucceeded());
  EXPECT_EQ(readBytes(target), "{\"style\": ");
  writeBytes(target, "{\"style\": \"row\", \"liveHero\": false}");
  store.set("style", "expo");
  EXPECT_TRUE(store.lastWriteSucceeded());
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(link)));
  EXPECT_EQ(parseFile(target), (Value{{"style", "expo"}, {"liveHero", false}}));
}

TEST(DefaultsStore, MissingFileIsNoError) {
  TempFolder folder;
  LogCapture capture;
  DefaultsStore store(folder.path() / "defaults.json");
  EXPECT_TRUE(store.storedValues().empty());
  EXPECT_TRUE(capture.messages("DefaultsStore").empty());
  EXPECT_TRUE(store.lastWriteSucceeded());
}

TEST(DefaultsStore, FailedWriteKeepsTheValueAndRetriesLater) {
  TempFolder folder;
  auto sub = folder.path() / "config";
  auto file = sub / "defaults.json";
  DefaultsStore store(file);
  store.set("a", 1);
  ASSERT_TRUE(store.lastWriteSucceeded());

  // The folder turns into a plain file: the file cannot be read nor anything made there, even by root.
  fs::rename(sub, folder.path() / "moved");
  writeBytes(sub, "not a folder");

  LogCapture capture;
  int notified = 0;
  const Subscription watching = store.addObserver([&] { ++notified; });
  store.set("b", 2);
  EXPECT_FALSE(store.lastWriteSucceeded());
  EXPECT_EQ(store.integer("b"), 2);
  EXPECT_EQ(notified, 1);
  auto lines = capture.messages("DefaultsStore");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("The defaults file " + file.string() + " could not be read (", 0), 0u) << lines[0];
  EXPECT_EQ(readBytes(sub), "not a folder");

  // The folder comes back: the next write carries every value to the disk.
  fs::remove(sub);
  fs::rename(folder.path() / "moved", sub);
  store.set("c", 3);
  EXPECT_TRUE(store.lastWriteSucceeded());
  EXPECT_EQ(parseFile(file), (Value{{"a", 1}, {"b", 2}, {"c", 3}}));
  EXPECT_TRUE(namesStartingWith(sub, "defaults.json.tmp-").empty());
}

TEST(DefaultsStore, ConcurrentReadersAndWriters) {
  TempFolder folder;
  auto file = folder.path() / "defaults.json";
  DefaultsStore store(file);
  store.registerDefaults({{"shared", 0}});
  std::atomic<int> notifications{0};
  const Subscription watching = store.addObserver([&] {
    notifications.fetch_add(1, std::memory_order_relaxed);
    (void)store.integer("shared");
  });

  constexpr int kThreads = 8;
  constexpr int kOperations = 400;
  std::atomic<int> writes{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const std::string own = "thread" + std::to_string(t);
      for (int i = 0; i < kOperations; ++i) {
        if (i % 16 == 0) {
          store.setMany({{own, i}, {"shared", t}});
          writes.fetch_add(1);
        } else if (i % 16 == 1 && t % 2 == 0) {
          store.set("string" + std::to_string(t), std::to_string(i));
          writes.fetch_add(1);
        } else {
          auto value = store.integer(own);
          EXPECT_TRUE(value == 0 || value % 16 == 0);
          EXPECT_GE(store.integer("shared"), 0);
          (void)store.storedValues();
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();

  EXPECT_EQ(notifications.load(), writes.load());
  EXPECT_TRUE(store.lastWriteSucceeded());
  const int last = ((kOperations - 1) / 16) * 16;
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(store.integer("thread" + std::to_string(t)), last);

  auto onDisk = parseFile(file);
  ASSERT_TRUE(onDisk.is_object());
  std::map<std::string, Value> asMap;
  for (const auto& [key, value] : onDisk.items()) asMap[key] = value;
  EXPECT_EQ(asMap, store.storedValues());
  EXPECT_TRUE(namesStartingWith(folder.path(), "defaults.json.tmp-").empty());
}

TEST(DefaultsStore, ObserversHearEveryWriteOnTheWritersThread) {
  DefaultsStore store;
  std::vector<std::optional<Value>> seen;
  std::thread::id callingThread;
  Subscription token = store.addObserver([&] {
    seen.push_back(store.object("k"));  // reading inside is allowed
    callingThread = std::this_thread::get_id();
  });

  store.set("k", 1);
  store.set("k", 1);  // unchanged, still a write
  store.setMany({{"k", 2}, {"other", 3}});
  store.remove("k");
  store.remove("never-set");
  store.registerDefaults({{"k", 9}});  // not a write
  ASSERT_EQ(seen.size(), 5u);
  EXPECT_EQ(seen[0], Value(1));
  EXPECT_EQ(seen[2], Value(2));
  EXPECT_EQ(seen[3], std::nullopt);

  std::thread writer([&] { store.set("k", 4); });
  auto writerId = writer.get_id();
  writer.join();
  EXPECT_EQ(callingThread, writerId);
  EXPECT_EQ(seen.size(), 6u);

  token.cancel();
  store.set("k", 5);
  EXPECT_EQ(seen.size(), 6u);
}

TEST(DefaultsStore, ObserverMayWriteAndManageObservers) {
  TempFolder folder;
  DefaultsStore store(folder.path() / "defaults.json");
  int echoes = 0;
  Subscription second;
  int secondCalls = 0;
  const Subscription first = store.addObserver([&] {
    // Mirror one key into another, once per original write.
    if (store.integer("source") != store.integer("mirror")) {
      ++echoes;
      store.set("mirror", store.integer("source"));
    }
    second.cancel();  // a later observer removed mid-notification is not called
  });
  second = store.addObserver([&] { ++secondCalls; });

  store.set("source", 7);
  EXPECT_EQ(echoes, 1);
  EXPECT_EQ(store.integer("mirror"), 7);
  EXPECT_EQ(secondCalls, 0);
  EXPECT_EQ(DefaultsStore(folder.path() / "defaults.json").integer("mirror"), 7);
}

TEST(DefaultsStore, DefaultFilePathFollowsTheEnvironment) {
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", "/somewhere/config");
    EXPECT_EQ(DefaultsStore::defaultFilePath(), fs::path("/somewhere/config/quorvel/defaults.json"));
  }
  ScopedEnv home("HOME", "/home/tester");
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", "relative/config");
    EXPECT_EQ(DefaultsStore::defaultFilePath(), fs::path("/home/tester/.config/quorvel/defaults.json"));
  }
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", "");
    EXPECT_EQ(DefaultsStore::defaultFilePath(), fs::path("/home/tester/.config/quorvel/defaults.json"));
  }
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
    EXPECT_EQ(DefaultsStore::defaultFilePath(), fs::path("/home/tester/.config/quorvel/defaults.json"));
  }
}

}  // namespace
}  // namespace quorvel
