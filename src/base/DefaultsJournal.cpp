#include "base/DefaultsJournal.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <string_view>
#include <utility>

#include "base/DefaultsFile.h"

namespace quorvel {

namespace {

using Value = nlohmann::json;

constexpr std::string_view journalSuffix = ".unsaved", ownJournalTag = ".unsaved-",
                           journalTemporaryTag = ".unsaved.tmp-", journalMarkSuffix = ".unsaved-more";

// A name beside `file`: its own name with `suffix` added.
std::filesystem::path beside(const std::filesystem::path& file, std::string_view suffix) {
  std::string name = file.native();
  name += suffix;
  return name;
}

std::filesystem::path newJournalName(const std::filesystem::path& file, std::string_view tag) {
  static std::atomic<uint64_t> counter{0};
  return beside(file, std::string(tag) + std::to_string(::getpid()) + "-" + std::to_string(++counter));
}

// The process that wrote the journal named `entry` ("<pid>-<n>" after `prefix`; with `countOptional`,
// "<pid>" alone too), or none when the name is no such journal's.
std::optional<long> journalWriter(std::string_view entry, const std::string& prefix, bool countOptional) {
  if (!entry.starts_with(prefix)) return std::nullopt;
  entry.remove_prefix(prefix.size());
  long pid = 0;
  uint64_t count = 0;
  auto [p, ec] = std::from_chars(entry.data(), entry.data() + entry.size(), pid);
  if (ec != std::errc() || p == entry.data() || pid <= 0) return std::nullopt;
  if (p == entry.data() + entry.size()) return countOptional ? std::optional<long>(pid) : std::nullopt;
  if (*p != '-') return std::nullopt;
  auto [q, qec] = std::from_chars(p + 1, entry.data() + entry.size(), count);
  if (qec != std::errc() || q == p + 1 || q != entry.data() + entry.size()) return std::nullopt;
  return pid;
}

// A journal's changes and when they were written (nanoseconds of the real-time clock; 0 when the
// journal does not say), or none when it cannot be read or does not parse.
std::optional<DefaultsJournal::Changes> readJournal(const std::filesystem::path& journal, size_t limit,
                                                    int maximumNesting, DefaultsFile::ReadOutcome& outcome,
                                                    int64_t& written) {
  auto document = DefaultsFile::readObject(journal, limit, maximumNesting, &outcome);
  if (!document) return std::nullopt;
  DefaultsJournal::Changes changes;
  if (auto when = document->find("written"); when != document->end() && when->is_number_integer()) {
    written = when->get<int64_t>();
  }
  if (auto set = document->find("set"); set != document->end() && set->is_object()) {
    for (auto& [key, value] : set->items()) {
      if (!value.is_null() && !value.is_discarded()) changes[key] = value;
    }
  }
  if (auto removed = document->find("removed"); removed != document->end() && removed->is_array()) {
    for (const auto& key : *removed) {
      if (key.is_string()) changes[key.get<std::string>()] = std::nullopt;
    }
  }
  return changes;
}

void markJournals(const std::filesystem::path& file) {
  const int fd = ::open(beside(file, journalMarkSuffix).c_str(),
                        O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  if (fd >= 0) ::close(fd);
}

// Writes `changes` to the new file `temporary`, flushed: 0, or the errno.
int writeJournalFile(const std::filesystem::path& temporary, const DefaultsJournal::Changes& changes) {
  Value set = Value::object();
  Value removed = Value::array();
  for (const auto& [key, value] : changes) {
    if (value) {
      set[key] = *value;
    } else {
      removed.push_back(key);
    }
  }
  struct timespec now {};
  ::clock_gettime(CLOCK_REALTIME, &now);
  const int64_t written = int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
  const std::string bytes = Value{{"set", set}, {"removed", removed}, {"written", written}}.dump(
                                -1, ' ', false, Value::error_handler_t::replace) +
                            "\n";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return errno;
  bool flushed = DefaultsFile::writeAll(fd, bytes) && ::fsync(fd) == 0;
  int error = flushed ? 0 : errno;
  if (::close(fd) != 0 && flushed) error = errno;
  if (error != 0) ::unlink(temporary.c_str());
  return error;
}

// Moves `from` to a new name of `file`'s with `tag` that nothing stands at: 0, or the errno.
int renameToOwn(const std::filesystem::path& file, std::string_view tag, const std::filesystem::path& from,
                std::filesystem::path& to) {
  int error = EEXIST;
  for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
    to = newJournalName(file, tag);
    error = DefaultsFile::renameNoReplace(from, to);
  }
  return error;
}

}  // namespace

DefaultsJournal::DefaultsJournal(std::filesystem::path file, size_t limit, int maximumNesting)
    : file_(std::move(file)), limit_(limit), maximumNesting_(maximumNesting) {}

DefaultsJournal::Gathered DefaultsJournal::gather() {
  const std::string name = file_.filename().string();
  path_ = beside(file_, journalSuffix);
  std::vector<std::filesystem::path> others;
  const auto folder = DefaultsFile::folderOf(file_);
  DIR* listing = ::unlink(beside(file_, journalMarkSuffix).c_str()) == 0 ? ::opendir(folder.c_str()) : nullptr;
  if (listing) {
    const std::string ownPrefix = name + std::string(ownJournalTag);
    const std::string temporaryPrefix = name + std::string(journalTemporaryTag);
    while (const dirent* entry = ::readdir(listing)) {
      const std::string_view entryName(entry->d_name);
      if (journalWriter(entryName, ownPrefix, false)) {
        others.push_back(folder / entry->d_name);
      } else if (auto writer = journalWriter(entryName, temporaryPrefix, true);
                 writer && *writer != ::getpid() && ::kill(static_cast<pid_t>(*writer), 0) != 0 && errno == ESRCH) {
        ::unlink((folder / entry->d_name).c_str());
      }
    }
    ::closedir(listing);
  }

  Gathered gathered;
  struct Taken {
    std::filesystem::path path;
    int64_t written = 0;
    Changes changes;
  };
  std::vector<Taken> taken;
  const auto take = [&](const std::filesystem::path& journal) {
    DefaultsFile::ReadOutcome outcome{};
    int64_t written = 0;
    auto changes = readJournal(journal, limit_, maximumNesting_, outcome, written);
    if (outcome == DefaultsFile::ReadOutcome::missing) return;
    if (!changes) {
      gathered.damaged.emplace_back(journal, DefaultsFile::setAside(journal, "damaged"));
      return;
    }
    taken.push_back({journal, written ? written : DefaultsFile::stampOf(journal).modified, std::move(*changes)});
  };
  take(path_);
  for (const auto& other : others) {
    std::filesystem::path claimed;
    if (renameToOwn(file_, ownJournalTag, other, claimed) == 0) take(claimed);
  }
  if (taken.empty()) return gathered;
  std::stable_sort(taken.begin(), taken.end(), [](const Taken& a, const Taken& b) { return a.written < b.written; });
  for (const auto& journal : taken) {
    for (const auto& [key, value] : journal.changes) gathered.changes[key] = value;
    gathered.from.push_back(journal.path);
  }
  if (taken.size() == 1 && taken.front().path == path_) return gathered;
  // Gathered into "<name>.unsaved", so that one file holds them until they are saved.
  const auto temporary = newJournalName(file_, journalTemporaryTag);
  int error = writeJournalFile(temporary, gathered.changes);
  if (error == 0 && ::rename(temporary.c_str(), path_.c_str()) != 0) {
    error = errno;
    ::unlink(temporary.c_str());
  }
  if (error == 0) {
    DefaultsFile::syncFolder(file_);
    for (const auto& journal : taken) {
      if (journal.path != path_) ::unlink(journal.path.c_str());
    }
    return gathered;
  }
  // They stay where they are for the next start; only "<name>.unsaved" is taken now.
  markJournals(file_);
  gathered.error = error;
  gathered.notGathered = std::exchange(gathered.from, {});
  gathered.changes.clear();
  for (const auto& journal : taken) {
    if (journal.path == path_) {
      gathered.changes = journal.changes;
      gathered.from = {path_};
    }
  }
  return gathered;
}

int DefaultsJournal::write(const Changes& changes) {
  const auto temporary = newJournalName(file_, journalTemporaryTag);
  markJournals(file_);
  int error = writeJournalFile(temporary, changes);
  if (error == 0 && !path_.empty()) {
    error = ::rename(temporary.c_str(), path_.c_str()) == 0 ? 0 : errno;
  } else if (error == 0) {
    std::filesystem::path own;
    error = renameToOwn(file_, ownJournalTag, temporary, own);
    if (error == 0) path_ = own;
  }
  if (error != 0) {
    ::unlink(temporary.c_str());
    return error;
  }
  markJournals(file_);
  DefaultsFile::syncFolder(file_);
  return 0;
}

std::variant<std::filesystem::path, int> DefaultsJournal::setAside(const std::string& label) {
  return DefaultsFile::setAside(path_, label);
}

void DefaultsJournal::remove() { ::unlink(path_.c_str()); }

}  // namespace quorvel
