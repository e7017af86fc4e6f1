#include "base/DefaultsStore.h"

#include <stdio.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <variant>

#include "base/DefaultsCoercion.h"
#include "base/DefaultsFile.h"
#include "base/DefaultsJournal.h"
#include "base/Logger.h"

namespace quorvel {

namespace {

const Logger& log() {
  // Never destroyed: threads still running as the process ends may log.
  static const Logger& logger = *new Logger("DefaultsStore");
  return logger;
}

std::string errnoText(int error) { return std::error_code(error, std::generic_category()).message(); }

// A null value has no place among the stored types: writing one removes the key.
bool isAbsent(const DefaultsStore::Value& v) { return v.is_null() || v.is_discarded(); }

using Values = std::map<std::string, DefaultsStore::Value>;

// The value `values` holds for `key`, or none.
std::optional<DefaultsStore::Value> valueIn(const Values& values, const std::string& key) {
  const auto it = values.find(key);
  return it == values.end() ? std::nullopt : std::optional<DefaultsStore::Value>(it->second);
}

// Sets `key` to `value`, or removes it when there is none.
void apply(Values& values, const std::string& key, const std::optional<DefaultsStore::Value>& value) {
  if (value) {
    values[key] = *value;
  } else {
    values.erase(key);
  }
}

// ---- The file's values ----------------------------------------------------------------------

// The values a file's document holds (a null value is none).
Values valuesOf(DefaultsStore::Value document) {
  Values values;
  for (auto& [key, value] : document.items()) {
    if (!isAbsent(value)) values[key] = std::move(value);
  }
  return values;
}

// The values of the file at `file`, or none when it cannot be read or does not parse.
std::optional<Values> valuesAt(const std::filesystem::path& file, DefaultsFile::ReadOutcome* outcome = nullptr) {
  auto document =
      DefaultsFile::readObject(file, DefaultsStore::maximumFileSize, DefaultsStore::maximumNesting, outcome);
  return document ? std::optional<Values>(valuesOf(std::move(*document))) : std::nullopt;
}

}  // namespace

// ---- Construction ----------------------------------------------------------------------------

DefaultsStore::DefaultsStore() = default;

DefaultsStore::DefaultsStore(std::filesystem::path file)
    : file_(std::move(file)), journal_(*file_, maximumFileSize, maximumNesting) {
  load();
}

DefaultsStore::~DefaultsStore() {
  close();
  for (const auto& path : displaced_) DefaultsFile::doneWriting(path);  // left for the next start
  if (file_) DefaultsFile::unlockFolder(folderLock_);
}

std::filesystem::path DefaultsStore::defaultFilePath() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') return std::filesystem::path(xdg) / "quorvel" / "defaults.json";
  std::string home;
  if (const char* env = std::getenv("HOME"); env && env[0] != '\0') {
    home = env;
  } else {
    // No HOME in the environment: ask the password database.
    struct passwd entry {};
    struct passwd* result = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result && result->pw_dir)
      home = result->pw_dir;
  }
  return std::filesystem::path(home) / ".config" / "quorvel" / "defaults.json";
}

void DefaultsStore::load() {
  std::error_code ec;
  std::filesystem::create_directories(DefaultsFile::folderOf(*file_), ec);
  if (ec) {
    log().error("Could not create the folder %{public}s for the defaults file: %{public}s.",
                DefaultsFile::folderOf(*file_).string(), ec.message());
  }
  // The lock is taken on the configuration folder, where the journal lies, also when the path is a
  // link to a file elsewhere.
  folderLock_ = DefaultsFile::lockFolder(*file_);
  const auto folder = [this] { return DefaultsFile::folderOf(*file_).string(); };
  if (folderLock_.heldByAnother) {
    log().notice("Another store holds the lock on the settings folder %{public}s (%{public}s): it settles what "
                 "stopped saves left there, and changes this store has not saved when it ends are kept in a journal "
                 "of its own for the next start that holds the lock.",
                 folder(), folderLock_.path.string());
  } else if (!folderLock_.held()) {
    log().error("The lock on the settings folder %{public}s could not be made (%{public}s): what stopped saves left "
                "there is not settled, and changes this store has not saved when it ends are kept in a journal of "
                "its own for the next start that holds the lock.",
                folder(), folderLock_.problem);
  } else if (!folderLock_.runtimePassedOver.empty()) {
    log().notice("The lock on the settings folder %{public}s lies at %{public}s: the runtime folder is not used "
                 "(%{public}s).",
                 folder(), folderLock_.path.string(), folderLock_.runtimePassedOver);
  }
  DefaultsFile::removeStaleTemporaryFiles(DefaultsFile::resolved(*file_), folderLock_.held());
  std::lock_guard guard(mutex_);
  readFileLocked(Reading::atStart);
  if (folderLock_.held()) loadJournalLocked();
}

namespace {

template <typename List, typename Name>
std::string listed(const List& list, Name name) {
  std::string text;
  for (const auto& item : list) text += (text.empty() ? "" : ", ") + name(item);
  return text;
}

std::string keyList(const DefaultsJournal::Changes& changes) {
  return listed(changes, [](const auto& change) { return change.first; });
}

std::string pathList(const std::vector<std::filesystem::path>& paths) {
  return listed(paths, [](const auto& path) { return path.string(); });
}

}  // namespace

void DefaultsStore::loadJournalLocked() {
  auto gathered = journal_.gather();
  for (const auto& [journal, aside] : gathered.damaged) {
    log().error("The changes left unsaved when Quorvel last ended could not be read from %{public}s; it is kept as "
                "%{public}s.",
                journal.string(), std::holds_alternative<std::filesystem::path>(aside)
                                      ? std::get<std::filesystem::path>(aside).string()
                                      : journal.string());
  }
  if (gathered.error != 0) {
    log().error("The changes left unsaved by other stores could not be gathered into %{public}s (%{public}s); "
                "they stay in %{public}s for the next start.",
                journal_.path().string(), errnoText(gathered.error), pathList(gathered.notGathered));
  }
  if (gathered.from.empty()) return;
  // Changes made since (none yet at construction) stay on top.
  for (const auto& [key, value] : gathered.changes) unsaved_.try_emplace(key, value);
  journalStands_ = true;
  journaled_ = unsaved_;
  takenJournal_ = gathered.changes;
  log().notice("The changes left unsaved when Quorvel last ended (%{public}s) were taken from %{public}s; they are "
               "saved to the settings file as soon as it can be taken.",
               keyList(gathered.changes), pathList(gathered.from));
  replaceStoredLocked(stored_);
  checkTakenJournalLocked();
  if (journalStands_ && fileTakenLocked()) lastWrite_ = persistLocked();
}

std::optional<std::map<std::string, DefaultsStore::Value>> DefaultsStore::fileValuesLocked() const {
  DefaultsFile::ReadOutcome outcome{};
  auto values = valuesAt(DefaultsFile::resolved(*file_), &outcome);
  return outcome == DefaultsFile::ReadOutcome::missing ? Values{} : values;
}

void DefaultsStore::checkTakenJournalLocked() {
  if (!journalStands_ || !takenJournal_) return;
  const auto values = fileValuesLocked();
  if (!values) return;  // looked at once the file can be taken
  auto with = *values;
  for (const auto& [key, value] : *takenJournal_) apply(with, key, value);
  const size_t size = DefaultsFile::textOf(with).size();
  if (size <= maximumFileSize) return;
  // Saved, they would make a file the next start refuses: they never could be, and would hold up
  // every later change. The journal is kept beside and its changes are left out.
  const auto journal = journal_.path();
  auto aside = journal_.setAside("unsaveable");
  const auto* asidePath = std::get_if<std::filesystem::path>(&aside);
  log().error("The changes left unsaved when Quorvel last ended (%{public}s) cannot be saved: with them %{public}s "
              "would take %{public}s bytes, more than the %{public}s a defaults file may hold. They are left out, and "
              "%{public}s.",
              keyList(*takenJournal_), DefaultsFile::resolved(*file_).string(), std::to_string(size),
              std::to_string(maximumFileSize),
              asidePath ? "kept in " + asidePath->string()
                        : "they stay in " + journal.string() + " (it could not be kept beside it: " +
                              errnoText(std::get<int>(aside)) + ")");
  for (const auto& [key, value] : *takenJournal_) {
    if (auto it = unsaved_.find(key); it != unsaved_.end() && it->second == value) unsaved_.erase(it);
  }
  journalStands_ = false;
  journaled_.clear();
  takenJournal_.reset();
  replaceStoredLocked(*values);
}

void DefaultsStore::writeJournalLocked() {
  if (journalStands_ && journaled_ == unsaved_) return;  // said already
  if (unkept_ == unsaved_) return;                       // tried and said already
  const std::string where = DefaultsFile::resolved(*file_).string();
  if (const int error = journal_.write(unsaved_); error != 0) {
    unkept_ = unsaved_;
    log().error("Quorvel ends with changes not saved to %{public}s (%{public}s), and they could not be kept in a "
                "journal beside it (%{public}s): they are lost.",
                where, keyList(unsaved_), errnoText(error));
    return;
  }
  journalStands_ = true;
  journaled_ = unsaved_;
  takenJournal_.reset();
  unkept_.reset();
  const char* when =
      folderLock_.held() ? "at the next start" : "by the next start that holds the lock on the settings folder";
  log().notice("Quorvel ends with changes not saved to %{public}s yet (%{public}s): they are kept in %{public}s "
               "and saved %{public}s.",
               where, keyList(unsaved_), journal_.path().string(), when);
}

void DefaultsStore::close() {
  std::lock_guard guard(mutex_);
  if (!file_ || unsaved_.empty()) return;
  // One last try, then the journal.
  checkTakenJournalLocked();
  if (fileTakenLocked() && !unsaved_.empty()) lastWrite_ = persistLocked();
  if (!unsaved_.empty()) writeJournalLocked();
}

void DefaultsStore::follow(FolderWatch& watch, Executor& timers) {
  if (!file_) return;
  std::vector<std::filesystem::path> folders{DefaultsFile::folderOf(*file_)};
  const auto target = DefaultsFile::folderOf(DefaultsFile::resolved(*file_));
  if (!DefaultsFile::sameFolder(target, folders[0])) folders.push_back(target);
  std::vector<Subscription> watches;
  for (const auto& folder : folders) watches.push_back(watch.watch(folder, [this] { fileChanged(); }));
  watches.push_back(settleSignal_->add([this] { settleCheck(); }));
  std::vector<Subscription> earlier;
  {
    std::lock_guard guard(mutex_);
    timers_ = &timers;
    // A file that did not parse at construction has its wait counted from here.
    if (held_) held_->changedAt = nowLocked();
    earlier = std::exchange(watches_, std::move(watches));
  }
  earlier.clear();  // outside the lock: a cancel waits for a call that may be waiting for it
  // A change made before the watch began counts too.
  fileChanged();
}

void DefaultsStore::fileChanged() {
  bool changed = false;
  {
    std::lock_guard guard(mutex_);
    changed = readFileLocked(Reading::onChange);
    changed = catchUpLocked() || changed;
  }
  if (changed) notifyObservers();
}

bool DefaultsStore::replaceStoredLocked(std::map<std::string, Value> values) {
  // A change taken from another program's displaced save holds while the file has, for its key, a
  // value known to be older (see takeDisplacedLocked); any other value there is newer, and it goes.
  for (auto it = theirs_.begin(); it != theirs_.end();) {
    const auto& [key, change] = *it;
    if (std::find(change.older.begin(), change.older.end(), valueIn(values, key)) == change.older.end()) {
      it = theirs_.erase(it);
      continue;
    }
    apply(values, key, change.after);
    ++it;
  }
  // Displaced saves whose every change a newer value replaced hold nothing more.
  if (theirs_.empty()) releaseDisplacedLocked();
  for (const auto& [key, value] : unsaved_) apply(values, key, value);
  if (values == stored_) return false;
  stored_ = std::move(values);
  return true;
}

void DefaultsStore::reportLocked(const std::string& message, bool news) {
  if (message == lastProblem_) return;
  lastProblem_ = message;
  if (news) {
    log().notice("%{public}s", message);
  } else {
    log().error("%{public}s", message);
  }
}

void DefaultsStore::leaveAloneLocked(const std::string& message) {
  leftAlone_ = true;
  held_.reset();
  knownHash_.reset();
  reportLocked(message);
}

void DefaultsStore::forgetFileLocked() {
  held_.reset();
  knownHash_.reset();
  lastProblem_.clear();
}

Instant DefaultsStore::nowLocked() const { return timers_ ? timers_->clock().now() : Instant{}; }

void DefaultsStore::beginSettlingLocked(const DefaultsFile::Stamp& stamp) {
  if (unsettled_) return;
  unsettled_ = true;
  settleStamp_ = stamp;
  settleLooksTaken_ = 0;
  settleReadsTaken_ = 0;
  scheduleLookLocked(settleQuietTime);
}

void DefaultsStore::scheduleLookLocked(Duration delay) {
  if (!timers_) return;
  const Instant due = nowLocked() + delay;
  if (lookTimer_) {
    if (lookDue_ <= due) return;
    timers_->cancel(*lookTimer_);  // one that runs all the same only looks once more
  }
  lookDue_ = due;
  lookTimer_ = timers_->postAfter(delay, [signal = settleSignal_] { signal->notify(); });
}

void DefaultsStore::settleCheck() {
  bool changed = false;
  {
    std::lock_guard guard(mutex_);
    lookTimer_.reset();
    const auto file = DefaultsFile::resolved(*file_);
    if (unsettled_) {
      const DefaultsFile::Stamp stamp = DefaultsFile::stampOf(file);
      ++settleLooksTaken_;
      const bool stillWritten = stamp != settleStamp_;
      if (stillWritten) {
        // The folder is still being written: wait for a quiet time once more, and read what is
        // there now and then while it keeps changing.
        settleStamp_ = stamp;
        if (settleLooksTaken_ < settleLooks) {
          scheduleLookLocked(settleQuietTime);
          return;
        }
        settleLooksTaken_ = 0;
      }
      const bool lastChance = !stillWritten && ++settleReadsTaken_ >= settleReads;
      changed = readFileLocked(lastChance ? Reading::settled : Reading::settling);
      if (unsettled_) {
        settleStamp_ = DefaultsFile::stampOf(file);
        scheduleLookLocked(settleQuietTime);
        return;
      }
    } else if ((held_ && DefaultsFile::stampOf(file) != held_->stamp) || (leftAlone_ && !unsaved_.empty())) {
      changed = readFileLocked(Reading::onChange);
    }
    changed = catchUpLocked() || changed;
  }
  if (changed) notifyObservers();
}

bool DefaultsStore::catchUpLocked() {
  bool changed = keptBeside_ && takeKeptBesideLocked();
  if (held_ && held_->movable && (held_->atStart || !unsaved_.empty()) && timers_ &&
      nowLocked() - std::max(held_->changedAt, waitingSince_.value_or(held_->changedAt)) >= unparsedWait) {
    // The changes have waited long enough for a file that does not parse and that no one touched
    // all that time (or the store started with one): it is kept beside, and they are saved in its place.
    const auto file = DefaultsFile::resolved(*file_);
    if (DefaultsFile::stampOf(file) == held_->stamp) {
      auto aside = DefaultsFile::setAside(file, held_->atStart ? "damaged" : "unparsed");
      if (auto* path = std::get_if<std::filesystem::path>(&aside)) {
        log().error("The defaults file %{public}s still did not parse after %{public}s s (%{public}s), so it was kept "
                    "beside it as %{public}s and the settings in use are saved in its place; should that file be "
                    "finished later, its settings are taken from there.",
                    file.string(), std::to_string(static_cast<int>(toSeconds(unparsedWait))), held_->reason,
                    path->string());
        keptBeside_ = KeptBeside{*path, {}, unsaved_};
        forgetFileLocked();
      } else {
        reportLocked("The defaults file " + file.string() + " does not parse, and it could not be kept beside it (" +
                     errnoText(std::get<int>(aside)) + "); the changes made meanwhile wait in memory.");
      }
    }
  }
  checkTakenJournalLocked();
  if (fileTakenLocked() && !(unsaved_.empty() && theirs_.empty())) lastWrite_ = persistLocked();
  // A file that cannot be taken, or one kept beside that may yet be finished, is looked at now and then.
  if (!unsettled_ && (held_ || keptBeside_ || (leftAlone_ && !unsaved_.empty()))) scheduleLookLocked(heldLookInterval);
  return changed;
}

bool DefaultsStore::takeKeptBesideLocked() {
  KeptBeside& kept = *keptBeside_;
  const DefaultsFile::Stamp stamp = DefaultsFile::stampOf(kept.path);
  if (stamp.error != 0) {
    keptBeside_.reset();  // moved or removed by its owner
    return false;
  }
  if (stamp == kept.stamp || !fileTakenLocked()) return false;
  kept.stamp = stamp;
  auto values = valuesAt(kept.path);
  if (!values) return false;

  // Its writer finished it after all: it is the newest save, with the changes made here since it was
  // moved on top.
  const auto path = kept.path;
  std::map<std::string, Value> expected = *values;
  for (const auto& [key, value] : kept.since) {
    unsaved_[key] = value;
    apply(expected, key, value);
  }
  keptBeside_.reset();
  const bool changed = replaceStoredLocked(std::move(*values));
  lastWrite_ = persistLocked();
  const auto file = DefaultsFile::resolved(*file_);
  if (lastWrite_ == WriteOutcome::saved && unsaved_.empty() && stored_ == expected) {
    std::error_code ec;
    std::filesystem::remove(path, ec);
    log().notice("The defaults file kept beside as %{public}s was finished; its settings are in use and saved to "
                 "%{public}s, with the changes made meanwhile, and it was removed.",
                 path.string(), file.string());
  } else {
    log().error("The defaults file kept beside as %{public}s was finished and its settings were taken, but %{public}s "
                "could not be saved with them as they stand (another program saved it too, or the write failed), so "
                "it stays there.",
                path.string(), file.string());
  }
  return changed;
}

bool DefaultsStore::readFileLocked(Reading reading) {
  const auto file = DefaultsFile::resolved(*file_);
  const DefaultsFile::Stamp stamp = DefaultsFile::stampOf(file);
  // A file that has gone may be being saved anew: it gets time to settle.
  const bool mayWait = timers_ != nullptr && (reading == Reading::onChange || reading == Reading::beforeWrite ||
                                              reading == Reading::settling);
  std::string bytes;
  int error = 0;
  std::string reason;
  const auto outcome = DefaultsFile::read(file, maximumFileSize, bytes, error);
  // Gone after it was there: perhaps removed to be written anew.
  if (outcome == DefaultsFile::ReadOutcome::missing && mayWait && knownHash_ && !leftAlone_) {
    held_.reset();
    beginSettlingLocked(stamp);
    return false;
  }
  unsettled_ = false;
  switch (outcome) {
    case DefaultsFile::ReadOutcome::missing:
      leftAlone_ = false;
      forgetFileLocked();
      return replaceStoredLocked({});
    case DefaultsFile::ReadOutcome::unreadable:
      // Nothing says what the file holds: it stays as it is, and nothing is written over it until it
      // can be read. The values in memory, unsaved ones included, stay as they are.
      leftAlone_ = true;
      held_.reset();
      reportLocked("The defaults file " + file.string() + " could not be read (" + errnoText(error) +
                   "); it is left as it is, and changes are not saved over it until it can be read.");
      return false;
    case DefaultsFile::ReadOutcome::notAFile:
      // Whatever stands there (a folder, a named pipe, a link to one) is not ours to move. While the
      // store runs it is waited for as a file that does not parse, and never written: once it goes,
      // it settles as a file that went, so a file put back there takes the waiting changes.
      if (reading != Reading::atStart && !leftAlone_) {
        if (!held_ || held_->stamp != stamp) held_ = Held{stamp, nowLocked(), "it is not a regular file", false};
        reportLocked("The defaults file " + file.string() +
                         " is not a regular file; the settings in use stay, and nothing is saved there until a "
                         "regular file takes its place.",
                     true);
        return false;
      }
      leaveAloneLocked("The defaults file " + file.string() +
                       " is not a regular file; it is left as it is, the registered defaults serve, and changes are "
                       "not saved until a regular file takes its place.");
      return replaceStoredLocked({});
    case DefaultsFile::ReadOutcome::tooLarge:
      reason = "it is larger than " + std::to_string(maximumFileSize) + " bytes";
      break;
    case DefaultsFile::ReadOutcome::read: {
      const size_t hash = DefaultsFile::hashOf(bytes);
      // The store's own last write read back, or a change that left the bytes as they were.
      if (reading != Reading::atStart && !leftAlone_ && knownHash_ == hash) {
        held_.reset();
        return false;
      }
      auto parsed = DefaultsFile::parse(bytes, maximumNesting);
      if (auto* why = std::get_if<std::string>(&parsed)) {
        reason = std::move(*why);
        break;
      }
      auto values = valuesOf(std::get<Value>(std::move(parsed)));
      leftAlone_ = false;
      held_.reset();
      knownHash_ = hash;
      lastProblem_.clear();
      if (keptBeside_) {
        // Saved here since by someone else: that save is the newer one, and the other file stays.
        log().error("The defaults file %{public}s was saved by another program, so the file kept beside it as "
                    "%{public}s is left as it is.",
                    file.string(), keptBeside_->path.string());
        keptBeside_.reset();
      }
      return replaceStoredLocked(std::move(values));
    }
  }

  const bool insideFolder = DefaultsFile::sameFolder(DefaultsFile::folderOf(file), DefaultsFile::folderOf(*file_));
  // One that a link leads to outside the configuration folder belongs to whoever put it there: it is
  // never moved, and nothing is written over it until it is mended.
  if (!insideFolder) {
    leaveAloneLocked("The defaults file " + file.string() + " is damaged because " + reason +
                     "; it lies outside the configuration folder " + DefaultsFile::folderOf(*file_).string() +
                     ", so it is left as it is, and changes are not saved until it is mended.");
    return reading == Reading::atStart ? replaceStoredLocked({}) : false;
  }
  // Perhaps another program's save caught half-way: nothing is written over it, and it is read
  // again when it changes. The values in memory stay; at start there are none, and the registered
  // defaults serve meanwhile.
  leftAlone_ = false;
  if (reading == Reading::atStart) {
    knownHash_.reset();
    held_ = Held{stamp, nowLocked(), reason, true, true};
  } else if (held_ && held_->stamp == stamp) {
    return false;  // as it was
  } else {
    held_ = Held{stamp, nowLocked(), reason};
  }
  // Said once, and as news rather than an error: most such files are a save not finished yet.
  reportLocked("The defaults file " + file.string() + " does not parse because " + reason +
                   (reading == Reading::atStart ? "; the registered defaults serve" : "; the settings in use stay") +
                   ", and nothing is saved over it while it does not parse.",
               true);
  return reading == Reading::atStart ? replaceStoredLocked({}) : false;
}

// ---- Reads -----------------------------------------------------------------------------------

std::optional<DefaultsStore::Value> DefaultsStore::object(const std::string& key) const {
  std::lock_guard guard(mutex_);
  if (auto it = stored_.find(key); it != stored_.end()) return it->second;
  if (auto it = registered_.find(key); it != registered_.end()) return it->second;
  return std::nullopt;
}

std::optional<DefaultsStore::Value> DefaultsStore::storedObject(const std::string& key) const {
  std::lock_guard guard(mutex_);
  if (auto it = stored_.find(key); it != stored_.end()) return it->second;
  return std::nullopt;
}

bool DefaultsStore::hasStoredValue(const std::string& key) const {
  std::lock_guard guard(mutex_);
  return stored_.count(key) != 0;
}

bool DefaultsStore::boolValue(const std::string& key) const {
  auto v = object(key);
  return v ? DefaultsCoercion::boolOf(*v) : false;
}

int64_t DefaultsStore::integer(const std::string& key) const {
  auto v = object(key);
  return v ? DefaultsCoercion::integerOf(*v) : 0;
}

double DefaultsStore::doubleValue(const std::string& key) const {
  auto v = object(key);
  return v ? DefaultsCoercion::doubleOf(*v) : 0.0;
}

std::optional<std::string> DefaultsStore::string(const std::string& key) const {
  auto v = object(key);
  return v ? DefaultsCoercion::stringOf(*v) : std::nullopt;
}

std::map<std::string, DefaultsStore::Value> DefaultsStore::storedValues() const {
  std::lock_guard guard(mutex_);
  return stored_;
}

DefaultsStore::WriteOutcome DefaultsStore::lastWriteOutcome() const {
  std::lock_guard guard(mutex_);
  return lastWrite_;
}

bool DefaultsStore::lastWriteSucceeded() const { return lastWriteOutcome() == WriteOutcome::saved; }

bool DefaultsStore::fileUnreadable() const {
  std::lock_guard lock(mutex_);
  return leftAlone_;
}

// ---- Writes ----------------------------------------------------------------------------------

void DefaultsStore::registerDefaults(const std::map<std::string, Value>& defaults) {
  std::lock_guard guard(mutex_);
  for (const auto& [key, value] : defaults) registered_[key] = value;
}

void DefaultsStore::set(const std::string& key, Value value) {
  if (isAbsent(value)) {
    change({{key, std::nullopt}});
  } else {
    change({{key, std::move(value)}});
  }
}

void DefaultsStore::remove(const std::string& key) { change({{key, std::nullopt}}); }

void DefaultsStore::setMany(const std::map<std::string, Value>& values) {
  Changes changes;
  for (const auto& [key, value] : values) {
    changes[key] = isAbsent(value) ? std::nullopt : std::optional<Value>(value);
  }
  change(changes);
}

void DefaultsStore::change(const Changes& changes) {
  {
    std::lock_guard guard(mutex_);
    // Changes taken from a journal that cannot be saved must not hold this one up.
    checkTakenJournalLocked();
    // What the keys held before, for a change too large to save.
    std::map<std::string, std::optional<Value>> earlierStored;
    std::map<std::string, std::optional<std::optional<Value>>> earlierUnsaved;
    for (const auto& [key, value] : changes) {
      earlierStored[key] = valueIn(stored_, key);
      const auto it = unsaved_.find(key);
      earlierUnsaved[key] = it == unsaved_.end() ? std::nullopt : std::optional<std::optional<Value>>(it->second);
      apply(stored_, key, value);
      if (file_) unsaved_[key] = value;
    }
    lastWriteTooLarge_ = false;
    if (file_) lastWrite_ = saveLocked();
    if (keptBeside_ && !lastWriteTooLarge_) {
      for (const auto& [key, value] : changes) keptBeside_->since[key] = value;
    }
    if (lastWriteTooLarge_) {
      // Kept, it would stop every later change of this run from being saved: it is undone.
      for (const auto& [key, value] : earlierStored) apply(stored_, key, value);
      for (const auto& [key, value] : earlierUnsaved) {
        if (value) {
          unsaved_[key] = *value;
        } else {
          unsaved_.erase(key);
        }
      }
    }
  }
  notifyObservers();
}

DefaultsStore::WriteOutcome DefaultsStore::saveLocked() {
  // The changes go on top of the file as it is now, never on an older copy of it.
  readFileLocked(Reading::beforeWrite);
  return waitsOrPersistLocked();
}

DefaultsStore::WriteOutcome DefaultsStore::waitsOrPersistLocked() {
  if (leftAlone_) return WriteOutcome::failed;
  // The file is being saved anew by someone else: the changes wait until it settles.
  if (unsettled_) return WriteOutcome::waiting;
  if (held_ && !timers_ && held_->atStart) {
    // A store that does not follow its file has no one to wait for: the damaged file found at start
    // is set aside now.
    const auto file = DefaultsFile::resolved(*file_);
    auto aside = DefaultsFile::setAside(file);
    if (auto* path = std::get_if<std::filesystem::path>(&aside)) {
      log().error("The defaults file %{public}s was set aside as %{public}s because %{public}s; the settings in use "
                  "are saved in its place.",
                  file.string(), path->string(), held_->reason);
      forgetFileLocked();
    } else {
      log().error("The defaults file %{public}s is damaged because %{public}s, and it could not be set aside "
                  "(%{public}s); the changes are not saved.",
                  file.string(), held_->reason, errnoText(std::get<int>(aside)));
      return WriteOutcome::failed;
    }
  }
  if (held_) {
    // The changes wait until it parses, or until they have waited long enough (followed only).
    if (!waitingSince_) waitingSince_ = nowLocked();
    scheduleLookLocked(heldLookInterval);
    return timers_ ? WriteOutcome::waiting : WriteOutcome::failed;
  }
  return persistLocked();
}

void DefaultsStore::setWriteInterruptionForTesting(std::function<bool()> hook) {
  std::lock_guard guard(mutex_);
  interruption_ = std::move(hook);
}

// ---- Saving ------------------------------------------------------------------------------------

namespace {

void logSaveFailure(const std::filesystem::path& file, std::pair<const char*, int> failed) {
  log().error("Could not save the defaults to %{public}s: %{public}s failed (%{public}s).", file.string(),
              failed.first, errnoText(failed.second));
}

}  // namespace

void DefaultsStore::setSwapHookForTesting(std::function<void(const std::filesystem::path&)> hook) {
  std::lock_guard guard(mutex_);
  swapHook_ = std::move(hook);
}

// Runs with mutex_ held, so writes reach the disk in the order they were made. The interruption
// hook runs under the lock too and must not call back into the store.
DefaultsStore::WriteOutcome DefaultsStore::persistLocked() {
  if (!file_) return WriteOutcome::saved;
  if (leftAlone_) return WriteOutcome::failed;
  const auto file = DefaultsFile::resolved(*file_);
  // Another program may save between the read and the moment the new file takes its place. Each
  // time it does, the write is made again on top of its save; past the last round the changes
  // wait for the next write.
  constexpr int rounds = 8;
  for (int round = 1; round <= rounds; ++round) {
    const std::string bytes = DefaultsFile::textOf(stored_);
    // A file the next start would refuse as too large is not written: the one on the disk stays.
    if (bytes.size() > maximumFileSize) {
      log().error("Could not save the defaults to %{public}s: they would take %{public}s bytes, more than the "
                  "%{public}s a defaults file may hold; the change is undone.",
                  file.string(), std::to_string(bytes.size()), std::to_string(maximumFileSize));
      lastWriteTooLarge_ = true;
      return WriteOutcome::failed;
    }
    auto written = DefaultsFile::writeBeside(file, bytes, knownHash_);
    if (auto* failed = std::get_if<std::pair<const char*, int>>(&written)) {
      logSaveFailure(file, *failed);
      return WriteOutcome::failed;
    }
    auto* ours = std::get_if<DefaultsFile::NewFile>(&written);
    if (interruption_ && !interruption_()) {
      // Abandoned as a crash would leave it: the new file stays beside, the real one is untouched.
      DefaultsFile::doneWriting(ours->path);
      return WriteOutcome::failed;
    }
    const Placed placed = placeLocked(file, *ours);
    // A displaced save kept under the new file's name is still this store's to remove.
    if (std::find(displaced_.begin(), displaced_.end(), ours->path) == displaced_.end()) {
      DefaultsFile::doneWriting(ours->path);
    }
    if (placed == Placed::saved) return savedLocked(file, ours->hash);
    if (placed == Placed::failed) return WriteOutcome::failed;
    // The file changed under this round: it is read again, and the changes wait or go on top of it.
    readFileLocked(Reading::beforeWrite);
    if (!fileTakenLocked()) return waitsOrPersistLocked();
  }
  log().error("Could not save the defaults to %{public}s: another program keeps writing it; the changes are saved "
              "with the next write.",
              file.string());
  return WriteOutcome::failed;
}

// Puts the new file in place of the file this round is based on. Saved: it stands there, and the
// file it replaced is gone. Changed: the file is no longer the one the round is based on, and the
// new file is gone (or another program's save is displaced under its name).
DefaultsStore::Placed DefaultsStore::placeLocked(const std::filesystem::path& file, DefaultsFile::NewFile& ours) {
  const auto failed = [&](int error) {
    logSaveFailure(file, {"putting the new file in place", error});
    ::unlink(ours.path.c_str());
    return Placed::failed;
  };
  const auto changed = [&] {
    ::unlink(ours.path.c_str());
    return Placed::changed;
  };
  if (!knownHash_) {
    // No file was there: the new one goes in only while none stands.
    const int error = DefaultsFile::renameNoReplace(ours.path, file);
    if (error == EEXIST) return changed();  // someone made the file since it was read
    return error == 0 ? Placed::saved : failed(error);
  }
  // The file this round is based on is looked at once more and held open, so that its inode number
  // cannot pass to another file meanwhile; then the new file and it swap places.
  std::string bytes;
  int error = 0, fd = -1;
  const bool based = DefaultsFile::read(file, maximumFileSize, bytes, error, &fd) == DefaultsFile::ReadOutcome::read;
  const DefaultsFile::Held basis(fd);
  if (!based || !basis.held() || DefaultsFile::hashOf(bytes) != *knownHash_) return changed();
  error = DefaultsFile::exchange(ours.path, file);
  if (error == EINVAL || error == ENOSYS) {
    // This file system cannot swap: a plain rename, right after the look above.
    return ::rename(ours.path.c_str(), file.c_str()) == 0 ? Placed::saved : failed(errno);
  }
  if (error == ENOENT) return changed();  // removed since the look
  if (error != 0) return failed(error);
  if (swapHook_) swapHook_(ours.path);
  // The new file's name holds what stood in place: the file this round is based on, with the bytes
  // read, goes. Anything else is another program's save made since the look, or being made in place.
  if (basis.standsAt(ours.path) && DefaultsFile::holds(ours.path, *knownHash_, maximumFileSize)) {
    ::unlink(ours.path.c_str());
    return Placed::saved;
  }
  putBackLocked(file, ours);
  return Placed::changed;
}

// Another program's save came out of the swap, under the new file's name: it goes back in place at
// once, but only while the path still holds the file this store put there. Should another save have
// been renamed over that meanwhile, it is newer than the one that came out, and stays. What comes
// out of a swap back is judged alike: the store's own file, unchanged, goes; yet another save,
// renamed over the path just before the swap back, is newer than the one just put back, so it goes
// back in turn, the one it displaced is no longer put back. What stays under the new file's name
// is a displaced save.
void DefaultsStore::putBackLocked(const std::filesystem::path& file, DefaultsFile::NewFile& ours) {
  constexpr int swaps = 8;
  DefaultsFile::Held placed = std::move(ours.held);  // what this store last put at the path
  bool placedIsOurs = true;
  for (int swap = 0; swap < swaps && placed.standsAt(file); ++swap) {
    DefaultsFile::Held aside = DefaultsFile::Held::at(ours.path);
    if (!aside.held() || DefaultsFile::exchange(ours.path, file) != 0) break;
    if (placed.standsAt(ours.path)) {
      if (placedIsOurs && DefaultsFile::holds(ours.path, ours.hash, maximumFileSize)) {
        ::unlink(ours.path.c_str());
        return;
      }
      break;
    }
    placed = std::move(aside);
    placedIsOurs = false;
  }
  takeDisplacedLocked(ours.path);
}

// Another program's save that could not go back in place: its changes are taken on top of the file
// in place, and it stays beside until a save holds them (or a newer value replaced each of them).
// A change must never replace a newer value of theirs, and the order of saves shows only at the
// path. So each change is kept with the values of its key known to be older: the one in the file
// this round was based on, the one in the store's own file, and those of earlier displaced saves.
// A key of the displaced save that holds one of these is no change; a change holds while the file
// in place has one of them, and goes once it has any other, saved since (replaceStoredLocked). The
// store's own unsaved changes stay on top of theirs, as on top of the file.
void DefaultsStore::takeDisplacedLocked(const std::filesystem::path& displaced) {
  const auto values = valuesAt(displaced);
  if (!values) {
    log().error("Could not save the defaults to %{public}s: another program is writing it, and its file could not "
                "be put back; it lies at %{public}s.",
                DefaultsFile::resolved(*file_).string(), displaced.string());
    return;  // the next start keeps it beside once whole
  }
  std::map<std::string, TheirChange> taken;
  const auto take = [&](const std::string& key) {
    if (unsaved_.count(key) || taken.count(key)) return;
    TheirChange change;
    change.after = valueIn(*values, key);
    if (const auto it = theirs_.find(key); it == theirs_.end()) {
      // The file read and the store's own hold what the store holds.
      change.older = {valueIn(stored_, key)};
    } else {
      change.older = it->second.older;
      change.older.push_back(it->second.after);
    }
    if (std::find(change.older.begin(), change.older.end(), change.after) == change.older.end()) {
      taken[key] = std::move(change);
    }
  };
  for (const auto& [key, value] : *values) take(key);
  for (const auto& [key, value] : stored_) take(key);
  for (auto& [key, change] : taken) {
    apply(stored_, key, change.after);
    theirs_[key] = std::move(change);
  }
  displaced_.push_back(displaced);
  if (theirs_.empty()) releaseDisplacedLocked();
}

// The new file stands in place: the changes it holds are saved. Made durable by flushing the folder;
// then the displaced saves whose changes it took go.
DefaultsStore::WriteOutcome DefaultsStore::savedLocked(const std::filesystem::path& file, size_t written) {
  knownHash_ = written;
  unsaved_.clear();
  theirs_.clear();
  waitingSince_.reset();
  if (journalStands_) {
    journal_.remove();
    journalStands_ = false;
  }
  if (const auto failed = DefaultsFile::syncFolder(file); failed.first) {
    logSaveFailure(file, failed);
    return WriteOutcome::failed;
  }
  releaseDisplacedLocked();
  return WriteOutcome::saved;
}

void DefaultsStore::releaseDisplacedLocked() {
  for (const auto& path : displaced_) {
    ::unlink(path.c_str());
    DefaultsFile::doneWriting(path);
  }
  displaced_.clear();
}

// ---- Observers -------------------------------------------------------------------------------

Subscription DefaultsStore::addObserver(Observer observer) { return observers_.add(std::move(observer)); }

// Called with neither lock held, so an observer may read the store, write to it, or add and
// remove observers. An observer removed while a notification is under way is not called after.
void DefaultsStore::notifyObservers() { observers_.notify(); }

}  // namespace quorvel
