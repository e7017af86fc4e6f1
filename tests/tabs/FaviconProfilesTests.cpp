#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <future>

#include "BrowserDataFixtures.h"
#include "tabs/FaviconProfiles.h"

namespace quorvel {
namespace {

using namespace browserdata;
using Paths = std::vector<fs::path>;

std::string localState(const std::vector<std::string>& names) {
  std::string cache;
  for (const auto& name : names) cache += (cache.empty() ? "\"" : ",\"") + name + "\":{\"name\":\"x\"}";
  return R"({"browser":{"enabled_labs_experiments":[]},"profile":{"info_cache":{)" + cache + "}}}";
}

TEST(FaviconProfilesINI, TrimsSkipsCommentsAndKeepsLastValue) {
  const auto sections = FaviconProfiles::parseINI(
      "StartWithLastProfile=1\r\n"
      "\t[General] \r\n"
      "  Version \t=  2 \n"
      "; a comment\n"
      "   # another = comment\n"
      "no equals sign\n"
      "=orphan value\n"
      "Empty=\n"
      "Url=a=b\v"
      "Version=3\xE2\x80\xA8"
      "[]\xC2\x85"
      "\xC2\xA0Name\xE2\x80\x83=\xE3\x80\x80" "Caf\xC3\xA9\xC2\xA0\f"
      "[ Profile0 ]\n\n\n");
  ASSERT_EQ(sections.size(), 3u);
  EXPECT_EQ(sections[0].name, "General");
  using Values = std::unordered_map<std::string, std::string>;
  // The pair before the first header belongs to the first section.
  EXPECT_EQ(sections[0].values,
            (Values{{"StartWithLastProfile", "1"}, {"Version", "3"}, {"Empty", ""}, {"Url", "a=b"}}));
  EXPECT_EQ(sections[1].name, "");
  EXPECT_EQ(sections[1].values, (Values{{"Name", "Caf\xC3\xA9"}}));
  EXPECT_EQ(sections[2].name, " Profile0 ");
  EXPECT_TRUE(sections[2].values.empty());

  EXPECT_TRUE(FaviconProfiles::parseINI("Path=abc\nDefault=1\n").empty());
  EXPECT_TRUE(FaviconProfiles::parseINI("").empty());
}

TEST(FaviconProfilesChromium, LocalStateOrdersDefaultFirstThenCodePointsAndKeepsEight) {
  TempFolder data;
  writeFile(data.path() / "Local State", localState({"Profile 2", "Default", "Profile 10"}));
  EXPECT_EQ(FaviconProfiles::chromiumProfiles(data.path()),
            (Paths{data.path() / "Default", data.path() / "Profile 10", data.path() / "Profile 2"}));

  std::vector<std::string> eleven{"Default"};
  for (int i = 1; i <= 10; ++i) eleven.push_back("Profile " + std::to_string(i));
  writeFile(data.path() / "Local State", localState(eleven));
  EXPECT_EQ(FaviconProfiles::chromiumProfiles(data.path()),
            (Paths{data.path() / "Default", data.path() / "Profile 1", data.path() / "Profile 10",
                   data.path() / "Profile 2", data.path() / "Profile 3", data.path() / "Profile 4",
                   data.path() / "Profile 5", data.path() / "Profile 6"}));

  // A name that looks like an absolute path still names a folder inside the data folder.
  writeFile(data.path() / "Local State", localState({"Default", "/elsewhere/Profile 1"}));
  EXPECT_EQ(FaviconProfiles::chromiumProfiles(data.path()),
            (Paths{data.path() / "Default", data.path() / "elsewhere" / "Profile 1"}));
}

TEST(FaviconProfilesChromium, UnusableLocalStateFallsBackToFoldersHoldingHistory) {
  TempFolder data;
  writeFile(data.path() / "Profile 3" / "History", "");
  writeFile(data.path() / "Default" / "History", "");
  writeFile(data.path() / ".Hidden" / "History", "");
  writeFile(data.path() / "Crashpad" / "settings.dat", "");
  writeFile(data.path() / "History Provider Cache", "");
  const Paths scanned{data.path() / "Default", data.path() / "Profile 3"};

  for (const char* state : {R"({"profile":{"info_cache":{}}})", R"({"profile":{"info_cache":[1]}})",
                            R"({"profile":[]})", "[]", "{\"profile\":", "\xFF\xFE garbage"}) {
    writeFile(data.path() / "Local State", state);
    EXPECT_EQ(FaviconProfiles::chromiumProfiles(data.path()), scanned) << state;
  }
  fs::remove(data.path() / "Local State");
  EXPECT_EQ(FaviconProfiles::chromiumProfiles(data.path()), scanned);

  // A data folder that holds "History" itself is the one profile.
  writeFile(data.path() / "History", "");
  EXPECT_EQ(FaviconProfiles::chromiumProfiles(data.path()), Paths{data.path()});

  EXPECT_TRUE(FaviconProfiles::chromiumProfiles(data.path() / "absent").empty());
}

TEST(FaviconProfilesGecko, InstallDefaultThenDefaultProfileThenTheRestOnce) {
  TempFolder data;
  writeFile(data.path() / "profiles.ini",
            "[Profile2]\nName=work\nIsRelative=0\nPath=/Volumes/Work/ff\n\n"
            "[Profile1]\nName=default\nIsRelative=1\nPath=Profiles/abc.default\n\n"
            "[Profile0]\nName=release\nIsRelative=1\nPath=Profiles/xyz.default-release\nDefault=1\n\n"
            "[General]\nStartWithLastProfile=1\nVersion=2\n\n"
            "[Install4F96D1932A9F858E]\nDefault=Profiles/abc.default\nLocked=1\n");
  EXPECT_EQ(FaviconProfiles::geckoProfiles(data.path()),
            (Paths{data.path() / "Profiles" / "abc.default", data.path() / "Profiles" / "xyz.default-release",
                   fs::path("/Volumes/Work/ff")}));
}

TEST(FaviconProfilesGecko, FlagsDefaultSearchAndLimits) {
  TempFolder data;
  // The first section for a path decides its flag; an install default no section lists is relative;
  // the first "Default=1" section stops the search even without a path.
  writeFile(data.path() / "profiles.ini",
            "[InstallA]\nDefault=\n[installB]\nDefault=Loose/one\n"
            "[Profile0]\nDefault=1\n"
            "[Profile1]\nDefault=1\nPath=second\n"
            "[Profile2]\nPath=/abs\nIsRelative=1\n"
            "[Profile3]\nPath=/abs\nIsRelative=0\n"
            "[Profile4]\nPath=\n");
  EXPECT_EQ(FaviconProfiles::geckoProfiles(data.path()),
            (Paths{data.path() / "Loose" / "one", data.path() / "second", data.path() / "abs"}));

  std::string many;
  for (int i = 0; i < 10; ++i) many += "[Profile" + std::to_string(i) + "]\nPath=p" + std::to_string(i) + "\n";
  writeFile(data.path() / "profiles.ini", many);
  const auto eight = FaviconProfiles::geckoProfiles(data.path());
  ASSERT_EQ(eight.size(), 8u);
  EXPECT_EQ(eight.back(), data.path() / "p7");

  writeFile(data.path() / "profiles.ini", "[Profile0]\nPath=caf\xE9\n");  // not UTF-8
  EXPECT_TRUE(FaviconProfiles::geckoProfiles(data.path()).empty());
  EXPECT_TRUE(FaviconProfiles::geckoProfiles(data.path() / "absent").empty());
}

// Runs `read` on a thread of its own; a read that waits on a named pipe is let go by a writer that
// closes at once, and reported.
template <typename Read>
auto withoutWaiting(const std::vector<fs::path>& pipes, Read read) {
  auto result = std::async(std::launch::async, read);
  if (result.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    for (const auto& pipe : pipes) {
      const int writer = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
      if (writer >= 0) ::close(writer);
    }
    ADD_FAILURE() << "the read waited on a named pipe";
  }
  return result.get();
}

TEST(FaviconProfilesFiles, PipesAndOversizedFilesAreNotRead) {
  TempFolder chromium;
  writeFile(chromium.path() / "Default" / "History", "");
  writeFile(chromium.path() / "Profile 1" / "History", "");
  const Paths scanned{chromium.path() / "Default", chromium.path() / "Profile 1"};
  ASSERT_EQ(::mkfifo((chromium.path() / "Local State").c_str(), 0600), 0);
  EXPECT_EQ(withoutWaiting({chromium.path() / "Local State"},
                           [&] { return FaviconProfiles::chromiumProfiles(chromium.path()); }),
            scanned);
  // A valid file padded past the limit is not read either: the folder scan answers.
  fs::remove(chromium.path() / "Local State");
  writeFile(chromium.path() / "Local State",
            localState({"Other"}) + std::string(FaviconProfiles::kMaxFileSize, ' '));
  EXPECT_EQ(FaviconProfiles::chromiumProfiles(chromium.path()), scanned);

  TempFolder gecko;
  ASSERT_EQ(::mkfifo((gecko.path() / "profiles.ini").c_str(), 0600), 0);
  EXPECT_TRUE(withoutWaiting({gecko.path() / "profiles.ini"},
                             [&] { return FaviconProfiles::geckoProfiles(gecko.path()); })
                  .empty());
  fs::remove(gecko.path() / "profiles.ini");
  writeFile(gecko.path() / "profiles.ini",
            "[Profile0]\nPath=abc\n" + std::string(FaviconProfiles::kMaxFileSize, '\n'));
  EXPECT_TRUE(FaviconProfiles::geckoProfiles(gecko.path()).empty());
  writeFile(gecko.path() / "profiles.ini", "[Profile0]\nPath=abc\n");
  EXPECT_EQ(FaviconProfiles::geckoProfiles(gecko.path()), Paths{gecko.path() / "abc"});
}

TEST(FaviconProfilesFiles, ProfilePathsThatLeaveTheDataFolderAreRefused) {
  TempFolder data;
  writeFile(data.path() / "Local State",
            localState({"Default", "..", "../../x", "Profile 1/../../../etc", "a/../Profile 2", "./Profile 3"}));
  EXPECT_EQ(FaviconProfiles::chromiumProfiles(data.path()),
            (Paths{data.path() / "Default", data.path() / "Profile 3", data.path() / "Profile 2"}));

  // Only names that leave: none is a profile, and the folder scan answers.
  writeFile(data.path() / "Scanned" / "History", "");
  writeFile(data.path() / "Local State", localState({"..", "../other-browser"}));
  EXPECT_EQ(FaviconProfiles::chromiumProfiles(data.path()), Paths{data.path() / "Scanned"});

  // Refused paths take none of the eight places; an absolute path the user chose stays.
  std::string ini = "[Install1]\nDefault=../../x\n[Profile0]\nPath=../../.ssh\nDefault=1\n"
                    "[ProfileA]\nPath=/srv/ff\nIsRelative=0\n[ProfileB]\nPath=Profiles/../../y\n"
                    "[ProfileC]\nPath=Profiles/./q/../r\n";
  for (int i = 0; i < 8; ++i) ini += "[Profile" + std::to_string(i + 1) + "]\nPath=p" + std::to_string(i) + "\n";
  writeFile(data.path() / "profiles.ini", ini);
  const Paths gecko = FaviconProfiles::geckoProfiles(data.path());
  ASSERT_EQ(gecko.size(), 8u);
  EXPECT_EQ(gecko[0], fs::path("/srv/ff"));
  EXPECT_EQ(gecko[1], data.path() / "Profiles" / "r");
  EXPECT_EQ(gecko[2], data.path() / "p0");
  for (const fs::path& folder : gecko) {
    if (folder != fs::path("/srv/ff")) {
      EXPECT_EQ(folder.lexically_relative(data.path()).begin()->string().rfind("..", 0), std::string::npos) << folder;
    }
  }
}

}  // namespace
}  // namespace quorvel
