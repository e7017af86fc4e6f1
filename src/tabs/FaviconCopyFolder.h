#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Logger.h"

namespace quorvel {

// The private folder that browser databases are copied into before they are opened, so that a
// running browser's own files are never opened or locked.
//
// The folder is "Quorvel-favicons" in the user's runtime folder ($XDG_RUNTIME_DIR) when that is a
// real folder of the user's open to no one else; otherwise a fresh folder made with a random name
// ("Quorvel-favicons-XXXXXX") in the temporary folder. Before anything is copied into it, the
// folder must be a real folder (not a link), owned by the user and closed to everyone else (mode
// 0700); a folder that someone else made there, or a link, is refused (logged the first time), and
// nothing is copied. Copies are created new (never through an existing name) and readable by the user only.
// Removal deletes only what this program made: its copies, then the folder when it is empty.
//
// Not thread-safe: the site-icon resolver uses it from its own serial queue only.
class FaviconCopyFolder {
 public:
  static constexpr const char* kName = "Quorvel-favicons";
  static constexpr uint64_t kSizeBudget = 268'435'456;  // 256 MiB; a file of exactly this size is copied

  enum class Failure {
    fileMissing,  // the source is gone, unreadable, or not a regular file
    overBudget,   // the source is larger than kSizeBudget
    noPlace,      // the copy folder could not be made or is not ours
    copyRefused,  // creating or writing the copy failed
  };
  struct Copy {
    std::optional<std::filesystem::path> file;  // the copy, when it was made
    std::optional<Failure> failure;
  };

  // `runtimeFolder` is the user's runtime folder when the environment names one; `temporaryFolder`
  // holds the fallback folders; `owner` is the user id the folders must belong to.
  // Files larger than `sizeBudget` bytes are not copied.
  FaviconCopyFolder(std::optional<std::filesystem::path> runtimeFolder, std::filesystem::path temporaryFolder,
                    uid_t owner, uint64_t sizeBudget = kSizeBudget);
  // For the user running this process ($XDG_RUNTIME_DIR, $TMPDIR or /tmp, the effective user id).
  static FaviconCopyFolder forCurrentUser();
  ~FaviconCopyFolder();
  FaviconCopyFolder(const FaviconCopyFolder&) = delete;
  FaviconCopyFolder& operator=(const FaviconCopyFolder&) = delete;
  FaviconCopyFolder(FaviconCopyFolder&& other) noexcept;
  FaviconCopyFolder& operator=(FaviconCopyFolder&&) = delete;

  // Copies `source` into the folder (made when needed) as "<label>-<UUID>-<file name>".
  Copy copy(const std::filesystem::path& source, std::string_view label);
  // Deletes every copy made since the last removal, then the folder if it is empty.
  void removeCopies();
  // At launch: deletes the copies an earlier run left behind (regular files of ours with a copy's
  // name), and their folders when empty. Anything else in those folders stays.
  void clearLeftovers();

  // Where the next copies go (for tests and diagnostics): the runtime folder's copy folder, or
  // none when copies go to a fresh temporary folder.
  std::optional<std::filesystem::path> fixedPath() const;
  static bool isCopyName(std::string_view name);

 private:
  int openFolder();
  // Logs the first refusal of this folder object.
  bool isPrivateFolder(int fd, const std::filesystem::path& path);
  void clearFolder(const std::filesystem::path& path);
  void closeFolder();

  std::optional<std::filesystem::path> runtimeFolder_;
  std::filesystem::path temporaryFolder_;
  uid_t owner_;
  uint64_t sizeBudget_;
  Logger logger_{"Favicons"};

  int folderFd_ = -1;                 // the folder of the current copies, while open
  std::filesystem::path folderPath_;  // its path
  std::vector<std::string> copies_;   // names made in it since the last removal
  bool refusalLogged_ = false;
};

}  // namespace quorvel
