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
#include "base/DefaultsJournal.h"
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
// each write saves the whole file: one key a line, each value written compactly. When the path is
// a symbolic link, the file it leads to is read and written (the new file goes beside that file)
// and the link stays. Reading never blocks: only a regular file of at most maximumFileSize bytes is
// read. A path that is no regular file at construction (a folder, a named pipe, a link to one), a
// damaged file that a link leads to outside the configuration folder (the folder of the path), and
// a file that exists but cannot be opened or read (permissions, no file descriptors left, an I/O
// error) are left as they are with one log line, the store starts empty (the registered defaults
// serve), and no write of this store replaces them (writes keep their values in memory and report
// failure) until the path holds a file it can read. A write whose file would exceed
// maximumFileSize is not made, and its change is undone in memory (it reports failure), so that
// later changes are saved again. A store without a path lives in memory only. Every method is safe
// to call from any thread.
//
// A file that does not parse (larger than maximumFileSize, not a JSON object, nesting deeper than
// maximumNesting) inside the configuration folder is never set aside at once and never empties the
// store while it runs: it may be another program's save caught half-way. Found at construction,
// the store starts with no stored values (the registered defaults serve); found later, the values
// in memory stay. Nothing is written over it, and it is read again whenever it changes and every
// heldLookInterval; the store's changes wait and are saved on top of it once it parses. When the
// store follows its file, a file that stays unparseable and untouched for unparsedWait is moved
// beside it ("<name>.damaged-<timestamp>" when it was so at construction, "<name>.unparsed-
// <timestamp>" when it became so later), the waiting changes are saved in its place, and should
// that file be finished later (its writer still had it open) and parse, it is taken as the newest
// save, with the changes made in the store since on top, and removed once that is saved. A store
// that never follows its file sets one found damaged at construction aside as "<name>.damaged-
// <timestamp>" at its first write. A path that becomes a folder, a named pipe or another non-file
// while the store runs is treated alike (the values in memory stay, nothing is written there) but
// never moved; once it is gone, it settles as a file that went (below), so a file put back in
// its place takes the waiting changes on top.
//
// Following the file: once follow() is called, every change that the folder watch reports in the
// configuration folder (and in the folder a link leads to) makes the store read its file again, and
// a change of the stored values notifies the observers as a write does (on the watch's thread).
// A file that has gone after it was there is looked at again once the folder has settled (no change
// for settleQuietTime, a few times over), so that a save by remove-and-write is no removal; only then
// does the store empty.
//
// Saving: a whole file stands at the path at every moment, a kill at any moment keeps the newest
// completed save, and another program's save is never undone. A write reads the file as it is now
// and puts the store's own changes (the keys this store set or removed and has not saved yet) on
// top of it. The new file is written beside it ("<name>.tmp-<pid>-<n>-<based>-<new>", the hashes of
// the file it is based on and of its own bytes), flushed, and swapped with the file in place in one
// step (renameat2 RENAME_EXCHANGE). Out of the swap comes the file it was based on, which goes, or
// another program's save made since the look, which goes straight back, but only while the path
// still holds the store's file: a save renamed over that meanwhile is newer and stays, and the one
// that came out stays beside as displaced. The keys where a displaced save differs from the file
// the write was based on are taken, each only while the file in place holds the value it was based
// on (a newer value of theirs wins), and it goes once a save holds them. The write is then made
// again on top of the file in place, or waits for it as above. With no file in place (a first
// save), the new file is renamed there only while none stands. On a file system that cannot swap
// (EINVAL), it is renamed over the old one right after a last look: a save another program makes
// in between is lost there. The folder is flushed after each save. The replacement keeps the
// file's permissions; a new file is the user's alone.
//
// The folder lock: a store takes an exclusive lock on the configuration folder, without waiting,
// for its whole life: a lock on one byte of a lock file that lies only in a folder of the user's
// own that no other user may write into (the runtime folder when it is such a folder, else the
// state or the cache folder; never a shared temporary folder: see DefaultsFile::lockFolder). The
// store that holds it, being the only writer of ours there, clears every leftover of a write that
// never finished at construction (DefaultsFile::removeStaleTemporaryFiles: with no file in place,
// the newest whole copy goes back first; another program's save that a stopped write displaced is
// kept beside as "<name>.displaced-<timestamp>" unless the file holds its values) and takes in the
// journals; one that does not hold it (another store holds it, or it could not be made: the log
// says which, once) clears only this process's own leftovers.
//
// The journal (DefaultsJournal: its names, how it is written and how a start gathers them): changes
// that still wait when the store ends (close() or its destruction) are not lost, whoever holds the
// lock: the store that holds it writes them to "<name>.unsaved" beside the file, one that does not
// to a journal of its own, and either logs which keys wait there. The next store that holds the
// lock takes them all at construction as its own unsaved changes, saves them on top of the file
// once it can be taken, and removes the journal after that save. A journal whose changes cannot be
// saved on top of the file (it would be larger than maximumFileSize) holds up no later change: it
// is kept beside as "<name>.unsaved.unsaveable-<timestamp>", named in the log, and its changes are
// left out.
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

  // The outcome of the last write: saved; waiting (for a file that another program is writing, that
  // does not parse or that is no regular file: the change is in memory and saved once it can be,
  // or kept in the journal should the store end first); or failed (it could not reach the disk:
  // the value stays in memory and the next write tries again). A store without a path saves.
  enum class WriteOutcome { saved, waiting, failed };
  WriteOutcome lastWriteOutcome() const;
  // Whether the last write was saved.
  bool lastWriteSucceeded() const;
  // True while the file is there but cannot be read: nothing is saved over it until it can be.
  bool fileUnreadable() const;

  // Ends the store's saving as the program ends: changes that still wait go to the journal (see
  // above), with a log line naming them. The destructor does the same; the store stays usable.
  void close();

  // For tests: a hook run after the temporary file is written and before it replaces the real one;
  // returning false abandons the write there, as a crash at that moment would.
  void setWriteInterruptionForTesting(std::function<bool()> hook);
  // For tests: a hook run right after the new file is swapped into place, given the name the file it
  // replaced has now. It runs under the store's lock and must not call back into the store.
  void setSwapHookForTesting(std::function<void(const std::filesystem::path&)> hook);

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
  // Logs a problem with the file once (as news, or as an error), until another one is said.
  void reportLocked(const std::string& message, bool news = false);
  // What stands at the path is left as it is, and nothing is written there (logged once).
  void leaveAloneLocked(const std::string& message);
  // No file the store knows of stands at the path any more (it went, or was set aside).
  void forgetFileLocked();
  void fileChanged();
  void change(const Changes& changes);
  // Whether the file can be written over now: it has settled, parses and is not left alone.
  bool fileTakenLocked() const { return !unsettled_ && !held_ && !leftAlone_; }
  // Saves the unsaved changes on top of the file as it is now; false when they could not be saved.
  WriteOutcome saveLocked();
  // After a read: failed when the file cannot be written over, waiting when the changes wait for
  // it, else the outcome of writing them.
  WriteOutcome waitsOrPersistLocked();
  // Saves in rounds: each writes the new file beside (DefaultsFile::writeBeside), puts it in place
  // (placeLocked) and, when the file changed meanwhile, reads it again for the next round.
  WriteOutcome persistLocked();
  enum class Placed { saved, changed, failed };
  Placed placeLocked(const std::filesystem::path& file, DefaultsFile::NewFile& ours);
  void putBackLocked(const std::filesystem::path& file, DefaultsFile::NewFile& ours);
  void takeDisplacedLocked(const std::filesystem::path& displaced);
  WriteOutcome savedLocked(const std::filesystem::path& file, size_t written);
  void releaseDisplacedLocked();
  void loadJournalLocked();
  void writeJournalLocked();
  // While changes taken from a journal at start wait: a journal whose changes cannot be saved on top
  // of the file as it is now (the file would be too large) is kept beside, and they are left out.
  void checkTakenJournalLocked();
  // The values of the file as it is now, or none when it cannot be taken (missing: none stored).
  std::optional<std::map<std::string, Value>> fileValuesLocked() const;
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
  WriteOutcome lastWrite_ = WriteOutcome::saved;
  // The folder lock (not held when another store holds it or it could not be made).
  DefaultsFile::FolderLock folderLock_;
  // This store's journal: "<name>.unsaved" when it holds the folder lock, else one of its own
  // once it has written one.
  DefaultsJournal journal_;
  // A journal stands beside the file with changes that unsaved_ holds, and the changes it holds.
  bool journalStands_ = false;
  Changes journaled_;
  // The changes taken from journals at start, while they wait; changes that could not be kept in a
  // journal (said once).
  std::optional<Changes> takenJournal_;
  std::optional<Changes> unkept_;
  // The last save was refused because the file would have been too large.
  bool lastWriteTooLarge_ = false;
  // The path holds something this store must not replace (see above): no write goes to the disk.
  bool leftAlone_ = false;
  // A hash of the bytes last read or written, so that reading back the store's own write is no
  // change; none when the file was missing.
  std::optional<size_t> knownHash_;
  // The keys this store set (a value) or removed (none) that the file does not hold yet.
  Changes unsaved_;
  // Other programs' saves that this store displaced and could not put back, and the changes taken
  // from them: per key, the values known to be older and the one they saved (none: removed).
  struct TheirChange {
    std::vector<std::optional<Value>> older;
    std::optional<Value> after;
  };
  std::map<std::string, TheirChange> theirs_;
  std::vector<std::filesystem::path> displaced_;
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
    // A file (not a folder or the like) that may be kept beside, and whether it was so at construction.
    bool movable = true;
    bool atStart = false;
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
  std::function<void(const std::filesystem::path&)> swapHook_;
  // Last member: cancelled first, while everything it calls is still there.
  std::vector<Subscription> watches_;
};

}  // namespace quorvel
