#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/DefaultsFile.h"
#include "base/Executor.h"
#include "base/FolderWatch.h"
#include "base/ObserverList.h"
#include "base/Subscription.h"

namespace quorvel {

// The user defaults store: typed values by key, with a registration domain beneath the stored ones.
//
// Values are JSON values (boolean, integer, floating, string, array, object). A read looks at the
// stored value first, then at the registered default. The typed reads coerce as the platform's store
// does:
//   boolValue:    bool as is; a number is true when non-zero; the strings "YES"/"yes"/"true"/"TRUE"/"1"...
//                 (case-insensitive "yes"/"true", or an integer text that is non-zero) are true; any other
//                 value or a missing key is false.
//   integer:      an integer as is; a floating value truncated toward zero (0 when not finite or out of
//                 range); bool as 0/1; a string that parses whole as a number, likewise; else 0.
//   doubleValue:  a number as is; bool as 0/1; a string that parses whole as a number; else 0.
//   string:       a string as is; a number as its decimal text; else none.
//   object:       the raw value, or none.
// Every write (set, remove, setMany) posts a did-change notification to every observer, after the
// value has changed, on the writer's thread and outside the store's lock (ObserverList).
//
// Persistence: with a file path, the stored domain is read at construction and held in memory;
// each write rewrites the file atomically (a temporary file beside it, fsync, renamed into place),
// one key a line with each value written compactly. When the path is a symbolic link, the file it leads to is read
// and written (the temporary file goes beside that file) and the link stays.
// Reading never blocks: only a regular file of at most maximumFileSize bytes is read. A damaged
// regular file found at construction (larger than that, not a JSON object, or nesting deeper than
// maximumNesting) inside the configuration folder (the folder of the path) is moved aside there as
// "<name>.damaged-<timestamp>" with a log line, and the store starts empty (the registered defaults
// serve). Nothing else is ever moved at start: a path that is no regular file (a folder, a named
// pipe, a link to one), a damaged file that a link leads to outside the configuration folder, and a
// file that exists but cannot be opened or read (permissions, no file descriptors left, an I/O
// error) are left as they are with one log line, the store starts empty, and no write of this store
// replaces them (writes keep their values in memory and report failure) until the path holds a file
// it can read. A write whose file would exceed maximumFileSize is not made, and its change is
// undone in memory (it reports failure), so that later changes are saved again. A store without a
// path lives in memory only. Every method is safe to call from any thread.
//
// After construction a file that does not parse (or is too large) is never set aside and never
// empties the store: it may be another program's save caught half-way. The values in memory stay,
// nothing is written over the file, and it is read again whenever it changes; the store's own
// changes wait and are saved on top of it once it parses. A file that cannot be read (its mode,
// an I/O error) is likewise never written over, with one log line, until it can be read. When the
// store follows its file, changes that have waited unparsedWait for a file that stayed unparseable
// and untouched all that time are written after all: the file is first moved beside it as
// "<name>.unparsed-<timestamp>", and should that file be finished later (its writer still had it
// open) and parse, it is taken as the newest save, with the changes made in the store since on top,
// and removed once that is saved.
//
// Following the file: once follow() is called, every change that the folder watch reports in the
// configuration folder (and in the folder a link leads to) makes the store read its file again, and
// a change of the stored values notifies the observers as a write does (on the watch's thread).
// A file that has gone after it was there is looked at again once the folder has settled (no change
// for settleQuietTime, a few times over), so that a save by remove-and-write is no removal; only then
// does the store empty. While the file cannot be taken it is also looked at every heldLookInterval.
//
// Hand edits are never undone: a write reads the file as it is now and puts the store's own changes
// (the keys this store set or removed and has not saved yet) on top of it. The new file takes the
// place of the old one only when the old one is still the file the write was based on: the old one
// is looked at once more (and held open), moved to a name of the store's own, and the new file is
// renamed into the empty place only when the file moved was the one looked at and nothing stands
// there. Another program's save made in between stays or goes back to its place, is read, and the
// write is made again on top of it; so the file in place is never older than what another program
// last wrote (between the two renames there is none). The replacement keeps the file's permissions.
class DefaultsStore {
 public:
  using Value = nlohmann::json;
  using Observer = std::function<void()>;

  // A defaults file larger than this is damaged, and no write makes one.
  static constexpr size_t maximumFileSize = size_t{1} << 20;
  // Deeper nesting in a defaults file is damage (the top-level object is depth 0).
  static constexpr int maximumNesting = 512;
  // How long a file that has gone must stay gone and untouched before the store takes it as removed,
  // how many such quiet looks it gets, and after how many looks at a folder that keeps changing it is
  // taken as it stands.
  static constexpr Duration settleQuietTime = std::chrono::milliseconds(100);
  static constexpr int settleReads = 3;
  static constexpr int settleLooks = 50;
  // How often a file that cannot be taken is looked at, and how long the store's changes wait for
  // one that does not parse before they are written with it moved beside.
  static constexpr Duration heldLookInterval = std::chrono::seconds(1);
  static constexpr Duration unparsedWait = std::chrono::seconds(30);

  // In memory only.
  DefaultsStore();
  // Backed by `file`; its folder is created when missing.
  explicit DefaultsStore(std::filesystem::path file);
  ~DefaultsStore();
  DefaultsStore(const DefaultsStore&) = delete;
  DefaultsStore& operator=(const DefaultsStore&) = delete;

  // Reads the file again whenever `watch` reports a change in its folder, until the store goes;
  // the looks at a file that is being written run on `timers`. Both must outlive the store.
  void follow(FolderWatch& watch, Executor& timers);

  // $XDG_CONFIG_HOME/quorvel/defaults.json, or ~/.config/quorvel/defaults.json.
  static std::filesystem::path defaultFilePath();

  // Adds to (and overrides within) the registration domain. Not persisted; no notification.
  void registerDefaults(const std::map<std::string, Value>& defaults);

  std::optional<Value> object(const std::string& key) const;
  // The stored value only, ignoring registered defaults.
  std::optional<Value> storedObject(const std::string& key) const;
  bool hasStoredValue(const std::string& key) const;
  bool boolValue(const std::string& key) const;
  int64_t integer(const std::string& key) const;
  double doubleValue(const std::string& key) const;
  std::optional<std::string> string(const std::string& key) const;

  void set(const std::string& key, Value value);
  void remove(const std::string& key);
  // Writes several keys as one change: one file write, one notification.
  void setMany(const std::map<std::string, Value>& values);

  // Every stored key and value (not the registered defaults).
  std::map<std::string, Value> storedValues() const;

  // The observer stays registered while the subscription lives.
  Subscription addObserver(Observer observer);

  // The outcome of the last file write; false after a write that could not reach the disk (the value
  // stays in memory and the next write tries again).
  bool lastWriteSucceeded() const;
  // True while the file is there but cannot be read: nothing is saved over it until it can be.
  bool fileUnreadable() const;

  // For tests: a hook run after the temporary file is written and before it replaces the real one;
  // returning false abandons the write there, as a crash at that moment would.
  void setWriteInterruptionForTesting(std::function<bool()> hook);

 private:
  // How a read came about. A file that has gone is waited for when read on a change, before a write
  // or while settling (when the store follows its file), and taken as removed at start and once
  // settling ends.
  enum class Reading { atStart, onChange, beforeWrite, settling, settled };
  using Changes = std::map<std::string, std::optional<Value>>;

  void load();
  // Reads the file as `reading` asks; returns whether the stored values changed.
  bool readFileLocked(Reading reading);
  // The file's values with this store's unsaved changes on top become the stored values.
  bool replaceStoredLocked(std::map<std::string, Value> fileValues);
  void reportLocked(const std::string& message);
  void fileChanged();
  void change(const Changes& changes);
  // Saves the unsaved changes on top of the file as it is now; false when they could not be saved.
  bool saveLocked();
  // After a read: false when the file cannot be written over, true when the changes wait for it,
  // else the outcome of writing them.
  bool waitsOrPersistLocked();
  bool persistLocked();
  // After a read: saves the changes that waited for the file, once it can be taken; moves an
  // unparseable file beside once they have waited long enough; takes a file kept beside once it is
  // finished. Returns whether the stored values changed.
  bool catchUpLocked();
  bool takeKeptBesideLocked();
  void beginSettlingLocked(const DefaultsFile::Stamp& stamp);
  void scheduleLookLocked(Duration delay);
  void settleCheck();
  void notifyObservers();
  Instant nowLocked() const;

  mutable std::mutex mutex_;
  std::optional<std::filesystem::path> file_;
  std::map<std::string, Value> stored_;
  std::map<std::string, Value> registered_;
  ObserverList<> observers_;
  bool lastWriteSucceeded_ = true;
  // The last save was refused because the file would have been too large.
  bool lastWriteTooLarge_ = false;
  // The path holds something this store must not replace (see above): no write goes to the disk.
  bool leftAlone_ = false;
  // A hash of the bytes last read or written, so that reading back the store's own write is no
  // change; none when the file was missing.
  std::optional<size_t> knownHash_;
  // The keys this store set (a value) or removed (none) that the file does not hold yet.
  Changes unsaved_;
  // Settling: the file changed and has gone; it is looked at again on timers_.
  Executor* timers_ = nullptr;
  std::shared_ptr<ObserverList<>> settleSignal_ = std::make_shared<ObserverList<>>();
  bool unsettled_ = false;
  // The one look scheduled on timers_, and when it is due.
  std::optional<TimerId> lookTimer_;
  Instant lookDue_{};
  DefaultsFile::Stamp settleStamp_;
  int settleLooksTaken_ = 0;
  int settleReadsTaken_ = 0;
  // The file in the configuration folder is there but cannot be taken (it does not parse, or is too
  // large): nothing is written over it. Its stamp when last read, when it was last seen to change,
  // and why it cannot be taken.
  struct Held {
    DefaultsFile::Stamp stamp;
    Instant changedAt{};
    std::string reason;
  };
  std::optional<Held> held_;
  // When the oldest of the unsaved changes was made while the file could not be taken.
  std::optional<Instant> waitingSince_;
  // A file that did not parse, moved beside so that the waiting changes could be saved; its stamp
  // when last read, and every change the store made since it was moved.
  struct KeptBeside {
    std::filesystem::path path;
    DefaultsFile::Stamp stamp;
    Changes since;
  };
  std::optional<KeptBeside> keptBeside_;
  // The last problem logged, so that the same one read again is not logged again.
  std::string lastProblem_;
  std::function<bool()> interruption_;
  // Last member: cancelled first, while everything it calls is still there.
  std::vector<Subscription> watches_;
};

}  // namespace quorvel
