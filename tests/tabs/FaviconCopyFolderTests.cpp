#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "BrowserDataFixtures.h"
#include "base/LogCapture.h"
#include "base/LogHub.h"
#include "tabs/FaviconCopyFolder.h"

namespace quorvel {
namespace {

using namespace browserdata;
using Failure = FaviconCopyFolder::Failure;

std::string readAll(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

mode_t modeOf(const fs::path& path) {
  struct stat info {};
  EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
  return info.st_mode & 0777;
}

class FaviconCopyFolderTest : public ::testing::Test {
 protected:
  FaviconCopyFolderTest() {
    LogHub::shared().setStandardErrorEnabled(false);
    fs::create_directories(runtime());
    fs::permissions(runtime(), fs::perms::owner_all, fs::perm_options::replace);
    fs::create_directories(temporary());
    writeFile(source(), "history bytes");
  }
  ~FaviconCopyFolderTest() override { LogHub::shared().setStandardErrorEnabled(true); }

  fs::path runtime() const { return root_.path() / "run"; }
  fs::path temporary() const { return root_.path() / "tmp"; }
  fs::path source() const { return root_.path() / "profile" / "History"; }
  fs::path copyFolder() const { return runtime() / FaviconCopyFolder::kName; }
  FaviconCopyFolder folder(bool withRuntime = true) {
    return FaviconCopyFolder(withRuntime ? std::optional(runtime()) : std::nullopt, temporary(), ::geteuid());
  }

  TempFolder root_;
  LogCapture logs;
};

TEST_F(FaviconCopyFolderTest, CopiesGoToAPrivateFolderOfTheRuntimeFolderAndAreRemovedAfter) {
  auto copies = folder();
  const auto copy = copies.copy(source(), "Chrome");
  ASSERT_TRUE(copy.file) << int(*copy.failure);
  EXPECT_EQ(copy.file->parent_path(), copyFolder());
  const std::string name = copy.file->filename().string();
  EXPECT_TRUE(name.starts_with("Chrome-") && name.ends_with("-History")) << name;
  EXPECT_TRUE(FaviconCopyFolder::isCopyName(name)) << name;
  EXPECT_EQ(readAll(*copy.file), "history bytes");
  EXPECT_EQ(modeOf(copyFolder()), 0700u);
  EXPECT_EQ(modeOf(*copy.file), 0600u);

  const auto second = copies.copy(source(), "Chrome");
  ASSERT_TRUE(second.file);
  EXPECT_NE(*second.file, *copy.file);
  copies.removeCopies();
  EXPECT_FALSE(fs::exists(copyFolder()));
  EXPECT_EQ(readAll(source()), "history bytes");
}

TEST_F(FaviconCopyFolderTest, AFolderOrLinkPlantedThereIsRefusedAndLogged) {
  const fs::path elsewhere = root_.path() / "attacker";
  fs::create_directories(elsewhere);
  fs::create_directory_symlink(elsewhere, copyFolder());
  auto copies = folder();
  EXPECT_EQ(copies.copy(source(), "Chrome").failure, Failure::noPlace);
  EXPECT_TRUE(fs::is_empty(elsewhere));
  copies.removeCopies();
  EXPECT_TRUE(fs::is_symlink(copyFolder()));
  EXPECT_TRUE(fs::exists(elsewhere));
  const auto messages = logs.messages("Favicons");
  ASSERT_FALSE(messages.empty());
  EXPECT_NE(messages.back().find("is not a private folder of this user"), std::string::npos) << messages.back();

  // A real folder that others may enter.
  fs::remove(copyFolder());
  fs::create_directory(copyFolder());
  fs::permissions(copyFolder(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                    fs::perms::others_read | fs::perms::others_exec,
                  fs::perm_options::replace);
  EXPECT_EQ(copies.copy(source(), "Chrome").failure, Failure::noPlace);
  EXPECT_TRUE(fs::is_empty(copyFolder()));

  // A folder of another user's, private or not.
  fs::permissions(copyFolder(), fs::perms::owner_all, fs::perm_options::replace);
  FaviconCopyFolder otherUser(runtime(), temporary(), ::geteuid() + 1);
  EXPECT_EQ(otherUser.copy(source(), "Chrome").failure, Failure::noPlace);  // the runtime folder is not its own
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(copyFolder().c_str(), 4242, 4242), 0);
    EXPECT_EQ(copies.copy(source(), "Chrome").failure, Failure::noPlace);
    EXPECT_TRUE(fs::is_empty(copyFolder()));
  }
}

TEST_F(FaviconCopyFolderTest, WithoutARuntimeFolderEachCycleMakesAFreshTemporaryFolder) {
  auto copies = folder(false);
  const auto first = copies.copy(source(), "Firefox");
  ASSERT_TRUE(first.file);
  const fs::path madeFolder = first.file->parent_path();
  EXPECT_EQ(madeFolder.parent_path(), temporary());
  EXPECT_TRUE(madeFolder.filename().string().starts_with("Quorvel-favicons-"));
  EXPECT_EQ(modeOf(madeFolder), 0700u);
  copies.removeCopies();
  EXPECT_FALSE(fs::exists(madeFolder));

  // A runtime folder open to others is not used either.
  fs::permissions(runtime(), fs::perms::owner_all | fs::perms::others_all, fs::perm_options::replace);
  auto shared = folder();
  const auto copy = shared.copy(source(), "Firefox");
  ASSERT_TRUE(copy.file);
  EXPECT_EQ(copy.file->parent_path().parent_path(), temporary());
  shared.removeCopies();
}

TEST_F(FaviconCopyFolderTest, RemovalDeletesOnlyWhatThisProgramMade) {
  auto copies = folder();
  ASSERT_TRUE(copies.copy(source(), "Chrome").file);
  writeFile(copyFolder() / "someone-elses.txt", "keep");
  copies.removeCopies();
  EXPECT_EQ(readAll(copyFolder() / "someone-elses.txt"), "keep");
  EXPECT_EQ(std::distance(fs::directory_iterator(copyFolder()), fs::directory_iterator()), 1);

  // Leftovers of an earlier run: copies by name, in the runtime folder and in fallback folders.
  const std::string leftover = "Firefox-0F8FAD5B-D9CB-469F-A165-70867728950E-places.sqlite";
  writeFile(copyFolder() / leftover, "old");
  fs::create_directory_symlink(root_.path(), copyFolder() / "Chrome-0F8FAD5B-D9CB-469F-A165-70867728950E-History");
  const fs::path fallback = temporary() / "Quorvel-favicons-AbC123";
  fs::create_directory(fallback);
  fs::permissions(fallback, fs::perms::owner_all, fs::perm_options::replace);
  writeFile(fallback / leftover, "old");
  copies.clearLeftovers();
  EXPECT_FALSE(fs::exists(copyFolder() / leftover));
  EXPECT_TRUE(fs::is_symlink(copyFolder() / "Chrome-0F8FAD5B-D9CB-469F-A165-70867728950E-History"));
  EXPECT_TRUE(fs::exists(copyFolder() / "someone-elses.txt"));
  EXPECT_FALSE(fs::exists(fallback));
  EXPECT_TRUE(fs::exists(root_.path() / "profile" / "History"));
}

TEST_F(FaviconCopyFolderTest, SourcesThatAreNotPlainFilesOrTooLargeAreNotCopied) {
  auto copies = folder();
  EXPECT_EQ(copies.copy(root_.path() / "nothing", "Chrome").failure, Failure::fileMissing);
  EXPECT_EQ(copies.copy(root_.path() / "profile", "Chrome").failure, Failure::fileMissing);
  const fs::path pipe = root_.path() / "pipe";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  EXPECT_EQ(copies.copy(pipe, "Chrome").failure, Failure::fileMissing);  // and does not block

  const fs::path huge = root_.path() / "huge";
  writeFile(huge, "");
  fs::resize_file(huge, FaviconCopyFolder::kSizeBudget + 1);  // sparse: nothing is written
  EXPECT_EQ(copies.copy(huge, "Chrome").failure, Failure::overBudget);
  EXPECT_FALSE(fs::exists(copyFolder()));  // refused before any folder was made

  // A file of exactly the budget is copied; one byte more is not.
  FaviconCopyFolder small(runtime(), temporary(), ::geteuid(), 13);
  EXPECT_TRUE(small.copy(source(), "Chrome").file);  // "history bytes": 13 bytes
  writeFile(source(), "history bytes!");
  EXPECT_EQ(small.copy(source(), "Chrome").failure, Failure::overBudget);
  small.removeCopies();
}

}  // namespace
}  // namespace quorvel
