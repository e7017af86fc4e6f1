#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <variant>

namespace quorvel {

// The file beneath the defaults store (DefaultsStore): reading it without ever blocking, setting a
// damaged one aside, where a path finally leads, and where a file stands now. Plain functions; the
// only state is the set of temporary files this process is writing, which a sweep of leftovers
// must not take. Safe from any thread.
class DefaultsFile {
 public:
  enum class ReadOutcome { missing, read, unreadable, notAFile, tooLarge };

  // Where a file stands (device, inode, type, size and times, following links), or the error
  // stat gave: two equal stamps mean nothing was written or replaced in between, as far as the
  // file system's clock can tell.
  struct Stamp {
    int error = 0;
    uint64_t device = 0, inode = 0, mode = 0, size = 0;
    int64_t modified = 0, changed = 0;
    bool operator==(const Stamp&) const = default;
  };

  // Reads `file` whole without ever blocking on it: only a regular file of at most `limit` bytes is
  // read. A path that names something else (a folder, a named pipe, a device: not even opened) or
  // a larger file is reported as such, unread; an error opening or reading a file is reported with
  // its errno in `error`.
  static ReadOutcome read(const std::filesystem::path& file, size_t limit, std::string& bytes, int& error);
  // Moves a damaged file to "<name>.damaged-<timestamp>" beside it (with "-2", "-3"... when that
  // name is taken, so no earlier aside file is ever replaced). The new path, or the errno.
  static std::variant<std::filesystem::path, int> setAside(const std::filesystem::path& file);
  // The file a path finally names, following symbolic links of its last component (at most 40).
  static std::filesystem::path resolved(const std::filesystem::path& file);
  static std::filesystem::path folderOf(const std::filesystem::path& file);
  // Whether two paths name one folder, however they are spelled.
  static bool sameFolder(const std::filesystem::path& a, const std::filesystem::path& b);
  static Stamp stampOf(const std::filesystem::path& file);

  // Temporary files "<name>.tmp-<pid>-<n>" are noted while this process writes them.
  static void noteWriting(const std::filesystem::path& temporary);
  static void doneWriting(const std::filesystem::path& temporary);
  // Removes the leftovers of writes that never reached their rename (a crash, a kill): the
  // temporary files of processes that are gone, and this process's own that no write is using.
  static void removeStaleTemporaryFiles(const std::filesystem::path& file);
};

}  // namespace quorvel
