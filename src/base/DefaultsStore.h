#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

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
// Persistence: with a file path, the stored domain is read once at construction and held in memory;
// each write rewrites the file atomically (a temporary file beside it, fsync, rename), one key a line
// with each value written compactly. When the path is a symbolic link, the file it leads to is read
// and written (the temporary file goes beside that file) and the link stays.
// Reading never blocks: only a regular file of at most maximumFileSize bytes is read. A damaged file
// (something other than a regular file, a larger file, or a file read whole that is not a JSON
// object, or nests deeper than maximumNesting) is moved aside as "<name>.damaged-<timestamp>" with a
// log line, and the store starts empty (the registered defaults serve). A file that exists but
// cannot be opened or read (permissions, no file descriptors left, an I/O error) is not damaged: it
// is left as it is, the store starts empty with one log line, and no write of this store replaces it
// (writes keep their values in memory and report failure). A write whose file would exceed
// maximumFileSize is not made. A store without a path lives in memory only. Every method is safe to
// call from any thread.
class DefaultsStore {
 public:
  using Value = nlohmann::json;
  using Observer = std::function<void()>;

  // A defaults file larger than this is damaged, and no write makes one.
  static constexpr size_t maximumFileSize = size_t{1} << 20;
  // Deeper nesting in a defaults file is damage (the top-level object is depth 0).
  static constexpr int maximumNesting = 512;

  // In memory only.
  DefaultsStore();
  // Backed by `file`; its folder is created when missing.
  explicit DefaultsStore(std::filesystem::path file);
  ~DefaultsStore();
  DefaultsStore(const DefaultsStore&) = delete;
  DefaultsStore& operator=(const DefaultsStore&) = delete;

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
  // True when the file was there at start but could not be read: this run saves nothing to it.
  bool fileUnreadable() const;

  // For tests: a hook run after the temporary file is written and before it replaces the real one;
  // returning false abandons the write there, as a crash at that moment would.
  void setWriteInterruptionForTesting(std::function<bool()> hook);

 private:
  void load();
  bool persistLocked();
  void notifyObservers();

  mutable std::mutex mutex_;
  std::optional<std::filesystem::path> file_;
  std::map<std::string, Value> stored_;
  std::map<std::string, Value> registered_;
  ObserverList<> observers_;
  bool lastWriteSucceeded_ = true;
  // The file was there but could not be read: this store never writes over it.
  bool unreadFile_ = false;
  std::function<bool()> interruption_;
};

}  // namespace quorvel
