#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <variant>

#include <nlohmann/json.hpp>

namespace quorvel {

// The file beneath the defaults store (DefaultsStore): reading it without ever blocking, writing a
// new one beside it, setting a damaged one aside, where a path finally leads, and where a file
// stands now. Plain functions; the only state is the set of temporary files this process is
// writing, which a sweep of leftovers must not take. Safe from any thread.
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
  // its errno in `error`. With `keptOpen`, a file read whole stays open there for the caller to
  // close (while it is open, no other file can take its inode number).
  static ReadOutcome read(const std::filesystem::path& file, size_t limit, std::string& bytes, int& error,
                          int* keptOpen = nullptr);
  // Moves a file to "<name>.<label>-<timestamp>" beside it (with "-2", "-3"... when that name is
  // taken, so no earlier aside file is ever replaced): "damaged" for a file refused at start. The
  // new path, or the errno.
  static std::variant<std::filesystem::path, int> setAside(const std::filesystem::path& file,
                                                           const std::string& label = "damaged");
  // Renames `from` to `to` unless something stands at `to`, in one step where the file system
  // allows it. Returns 0, or the errno (EEXIST when taken).
  static int renameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to);
  // The file a path finally names, following symbolic links of its last component (at most 40).
  static std::filesystem::path resolved(const std::filesystem::path& file);
  static std::filesystem::path folderOf(const std::filesystem::path& file);
  // Whether two paths name one folder, however they are spelled.
  static bool sameFolder(const std::filesystem::path& a, const std::filesystem::path& b);
  static Stamp stampOf(const std::filesystem::path& file);

  // Swaps `from` and `to` in one step, both of which must exist: a reader of either name finds one
  // whole file or the other at every moment. Returns 0, or the errno (EINVAL or ENOSYS where the
  // file system cannot swap).
  static int exchange(const std::filesystem::path& from, const std::filesystem::path& to);

  // The JSON object `text` holds, or why it is damaged: not JSON, not an object, or nested deeper than
  // `maximumNesting` (such values would be copied and written recursively, which a deep enough one
  // turns into a stack overflow).
  static std::variant<nlohmann::json, std::string> parse(const std::string& text, int maximumNesting);
  // The text of a file holding `values`: one key a line, each value written compactly, so that the
  // size of the file follows the size of the values whatever their nesting. Text that is not valid
  // UTF-8 is written with replacement characters rather than failing the whole file.
  static std::string textOf(const std::map<std::string, nlohmann::json>& values);
  // The JSON object the file at `file` holds (read whole, then parsed, as above), or none when it
  // cannot be read or is damaged; with `outcome`, how the read went.
  static std::optional<nlohmann::json> readObject(const std::filesystem::path& file, size_t limit,
                                                  int maximumNesting, ReadOutcome* outcome = nullptr);
  // Writes all of `bytes` to `fd`; false with errno set when it could not.
  static bool writeAll(int fd, const std::string& bytes);
  // Whether the whole file at `path` holds the bytes of hash `hash` (see hashOf).
  static bool holds(const std::filesystem::path& path, size_t hash, size_t limit);

  // A file held open by its path alone (nothing is read, no device acted on), so that its inode
  // number cannot pass to another file while it is held.
  class Held {
   public:
    Held() = default;
    explicit Held(int fd);  // takes an open descriptor
    static Held at(const std::filesystem::path& path);
    Held(Held&& other) noexcept : fd_(std::exchange(other.fd_, -1)), device_(other.device_), inode_(other.inode_) {}
    Held& operator=(Held other) noexcept;
    ~Held();
    bool held() const { return fd_ >= 0; }
    // Whether this very file (not a copy of it) is the one at `path`.
    bool standsAt(const std::filesystem::path& path) const;

   private:
    int fd_ = -1;
    uint64_t device_ = 0, inode_ = 0;
  };
  // A write's new file beside the file, with the hash of its bytes, held open since it was written.
  struct NewFile {
    std::filesystem::path path;
    size_t hash = 0;
    Held held;
  };
  // Writes `bytes` beside `file` (named by newTemporary) as a new file: created (with the folder,
  // should it have gone), written, given the permissions of the file it replaces (a new file is the
  // user's alone), flushed and held. On failure nothing stays beside, and the step that failed is
  // given with its errno.
  static std::variant<NewFile, std::pair<const char*, int>> writeBeside(const std::filesystem::path& file,
                                                                       const std::string& bytes,
                                                                       std::optional<size_t> based);
  // Flushes `file`'s folder, so that a rename in it lasts: 0, or the step that failed and its errno.
  // A file system that cannot flush a folder (EINVAL) has the rename in place all the same.
  static std::pair<const char*, int> syncFolder(const std::filesystem::path& file);

  // A write's own name beside `file` for its new file: "<name>.tmp-<pid>-<n>-<based>-<new>", where
  // <based> is the hash of the file the write was based on (or "none") and <new> the hash of the new
  // file's bytes, in hexadecimal, so that a leftover tells what it holds. Noted from here until
  // doneWriting.
  static std::filesystem::path newTemporary(const std::filesystem::path& file, std::optional<size_t> based,
                                            size_t written);
  static void doneWriting(const std::filesystem::path& temporary);
  // The hash that the names above and the store use for a file's bytes.
  static size_t hashOf(const std::string& bytes);
  // The folder lock: an exclusive lock, taken without waiting, on one byte of the lock file
  // "quorvel-settings.lock" (an open-file-description lock, F_OFD_SETLK), the byte named after
  // `file`'s folder, so that the folder itself is never held open and the lock file, which stays,
  // serves every settings folder. It lies only in a folder of the user's own that no one else may
  // write into: the runtime folder ($XDG_RUNTIME_DIR) when it is such a folder, else "quorvel" in
  // the state folder ($XDG_STATE_HOME, ~/.local/state) or in the cache folder ($XDG_CACHE_HOME,
  // ~/.cache), made with mode 0700 when missing; never a folder shared with other users. Each
  // folder is opened without following a link and checked on the open descriptor (a folder, owned
  // by this user, writable by no group and no other user), and the lock file is opened relative to
  // it. The first of them where the lock file can be had decides: a lock another store holds there
  // is not looked for elsewhere.
  struct FolderLock {
    // The lock file's descriptor while the lock is held (closing it lets go), else -1, and the
    // lock file's path.
    int fd = -1;
    std::filesystem::path path;
    // Why it is not held: another store holds it, or it could not be made (`problem` says why).
    bool heldByAnother = false;
    std::string problem;
    // Why the runtime folder was passed over although the environment names one (else empty).
    std::string runtimePassedOver;
    bool held() const { return fd >= 0; }
  };
  static FolderLock lockFolder(const std::filesystem::path& file);
  // Lets go of the lock lockFolder gave.
  static void unlockFolder(FolderLock& lock);
  // Clears up after writes that never finished (a crash, a kill). With `ownsFolder` (this process
  // holds the folder lock, so no live writer of ours uses any of them) every leftover of the file's
  // name is looked at: a temporary file that holds the new file of a write (not completed: the
  // path holds the last completed save) or the file a write displaced goes; one that holds a third
  // whole file (another program's save displaced in the moment before a kill) is kept beside as
  // "<name>.displaced-<timestamp>" unless the file in place holds every value of it (then it goes
  // too); and when no file stands at `file`, the newest whole leftover by
  // modification time is put back there first. Files taken aside by earlier versions
  // ("<name>.saving-<pid>-<n>") are treated alike. Without the lock, only this process's own
  // leftovers that no write is using go.
  static void removeStaleTemporaryFiles(const std::filesystem::path& file, bool ownsFolder);
};

}  // namespace quorvel
