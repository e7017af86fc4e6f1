#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

namespace quorvel {

// The journal beside a defaults file (DefaultsStore): the changes a store had not saved when it
// ended, kept for the next start. Its names beside the file "<name>":
//   "<name>.unsaved"            the journal of the store that holds the folder lock;
//   "<name>.unsaved-<pid>-<n>"  one of a store that does not (each of its own, never replaced by
//                               another store), or one claimed by a start that gathers it;
//   "<name>.unsaved.tmp-<pid>-<n>"  one being written (earlier versions wrote
//                               "<name>.unsaved.tmp-<pid>"); one whose writer has ended is a leftover;
//   "<name>.unsaved-more"       the mark that journals other than "<name>.unsaved" may stand beside
//                               the file, so that a start looks for them only then.
// A journal is a JSON object: "set" (the keys set, with their values), "removed" (the keys removed)
// and "written" (when, in nanoseconds of the real-time clock). It is written as a new file, flushed,
// and put in place in one step, so a reader finds a whole journal or none; the mark is made before
// (so that a journal a crash left half-written is cleared) and again once it is in place.
// Not safe to share between threads: its store calls it under its own lock.
class DefaultsJournal {
 public:
  // Per key: the value set, or none when the key was removed.
  using Changes = std::map<std::string, std::optional<nlohmann::json>>;

  DefaultsJournal() = default;
  // The journal of `file`; a journal larger than `limit` bytes or nested deeper than
  // `maximumNesting` cannot be read.
  DefaultsJournal(std::filesystem::path file, size_t limit, int maximumNesting);

  // The journal's path: "<name>.unsaved" once gathered, one of its own once written without it,
  // else empty.
  const std::filesystem::path& path() const { return path_; }

  // What a start took from the journals beside the file.
  struct Gathered {
    // The changes, the newest journal's on top, and the journals they were taken from (none: no
    // journal was there).
    Changes changes;
    std::vector<std::filesystem::path> from;
    // Journals that could not be read or do not parse, each with where it was kept beside
    // ("<journal>.damaged-<timestamp>") or the errno.
    std::vector<std::pair<std::filesystem::path, std::variant<std::filesystem::path, int>>> damaged;
    // Why other stores' journals could not be gathered (0: they were), and every journal taken:
    // they stay where they are for the next start, and only "<name>.unsaved" is taken now.
    int error = 0;
    std::vector<std::filesystem::path> notGathered;
  };
  // For the store that holds the folder lock, at start: the journal becomes "<name>.unsaved". When
  // the mark says there may be others (the mark goes first: one put in place after this look marks
  // anew), the folder is looked through: each journal of another store is claimed by a name of this
  // store's own (so that a newer journal its writer, a store still running, puts in its place
  // meanwhile is not taken for it), and journals being written by a process that has ended go.
  // All are read, put in the order they were written, and gathered into "<name>.unsaved", so that
  // one file holds them until they are saved; the others go.
  Gathered gather();
  // Writes `changes` as the journal, replacing it in one step, or, when it has no path yet (a store
  // that does not hold the lock), as a journal of its own that no other store replaces, which
  // becomes its path. 0, or the errno (then nothing new stays beside).
  int write(const Changes& changes);
  // Moves the journal beside as "<name>.unsaved.<label>-<timestamp>" (DefaultsFile::setAside): the
  // new path, or the errno.
  std::variant<std::filesystem::path, int> setAside(const std::string& label);
  void remove();

 private:
  std::filesystem::path file_;
  size_t limit_ = 0;
  int maximumNesting_ = 0;
  std::filesystem::path path_;
};

}  // namespace quorvel
