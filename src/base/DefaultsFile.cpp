#include "base/DefaultsFile.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <pwd.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <set>
#include <system_error>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/Logger.h"

namespace quorvel {

namespace {

// Temporary files this process is writing right now; a store opening the same file must not
// sweep them away as leftovers.
std::mutex& inFlightMutex() {
  static std::mutex m;
  return m;
}
std::set<std::string>& inFlight() {
  static std::set<std::string> paths;
  return paths;
}

std::string utcTimestamp() {
  std::time_t now = std::time(nullptr);
  std::tm parts{};
  gmtime_r(&now, &parts);
  char buffer[32];
  std::strftime(buffer, sizeof buffer, "%Y%m%dT%H%M%SZ", &parts);
  return buffer;
}

const Logger& log() {
  // Never destroyed: threads still running as the process ends may log.
  static const Logger& logger = *new Logger("DefaultsStore");
  return logger;
}

std::string hex(size_t value) {
  char buffer[2 * sizeof(size_t) + 1];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer - 1, value, 16);
  return std::string(buffer, end);
}

// "<file's name>.<label>-<timestamp>" beside `file` (with "-2", "-3"... when taken), `from` moved there.
std::variant<std::filesystem::path, int> moveBeside(const std::filesystem::path& from, const std::filesystem::path& file,
                                                    const std::string& label) {
  std::string base = file.filename().string() + "." + label + "-" + utcTimestamp();
  for (int attempt = 1; attempt < 10000; ++attempt) {
    std::string name = attempt == 1 ? base : base + "-" + std::to_string(attempt);
    auto target = DefaultsFile::folderOf(file) / name;
    int error = DefaultsFile::renameNoReplace(from, target);
    if (error == 0) return target;
    if (error != EEXIST) return error;
  }
  return EEXIST;
}

// Whether `bytes` hold one whole JSON object (not built: only checked).
bool wholeObject(const std::string& bytes) {
  const size_t first = bytes.find_first_not_of(" \t\r\n");
  return first != std::string::npos && bytes[first] == '{' && nlohmann::json::accept(bytes);
}

// The JSON object the file at `path` holds, or null.
nlohmann::json objectAt(const std::filesystem::path& path) {
  return DefaultsFile::readObject(path, size_t{1} << 20, 512).value_or(nullptr);
}

}  // namespace

size_t DefaultsFile::hashOf(const std::string& bytes) { return std::hash<std::string>{}(bytes); }

std::filesystem::path DefaultsFile::newTemporary(const std::filesystem::path& file, std::optional<size_t> based,
                                                 size_t written) {
  static std::atomic<uint64_t> counter{0};
  auto name = folderOf(file) / (file.filename().string() + ".tmp-" + std::to_string(::getpid()) + "-" +
                                std::to_string(++counter) + "-" + (based ? hex(*based) : std::string("none")) + "-" +
                                hex(written));
  std::lock_guard guard(inFlightMutex());
  inFlight().insert(name.string());
  return name;
}

int DefaultsFile::exchange(const std::filesystem::path& from, const std::filesystem::path& to) {
  return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_EXCHANGE) == 0 ? 0 : errno;
}

namespace {

std::string errnoText(int error) { return std::error_code(error, std::generic_category()).message(); }

// The user's home folder: $HOME, else the password database's.
std::filesystem::path homeFolder() {
  if (const char* home = std::getenv("HOME"); home && home[0] == '/') return home;
  struct passwd entry {};
  struct passwd* result = nullptr;
  std::vector<char> buffer(16384);
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result && result->pw_dir &&
      result->pw_dir[0] == '/') {
    return result->pw_dir;
  }
  return {};
}

// "$<variable>/quorvel" when the variable names an absolute path, else "<home>/<fallback>/quorvel".
std::filesystem::path ownFolder(const char* variable, const char* fallback) {
  if (const char* value = std::getenv(variable); value && value[0] == '/') {
    return std::filesystem::path(value) / "quorvel";
  }
  const auto home = homeFolder();
  return home.empty() ? std::filesystem::path() : home / fallback / "quorvel";
}

// Makes `folder` and the folders above it that are missing, each with mode 0700.
void makeFolders(const std::filesystem::path& folder) {
  std::filesystem::path partial;
  for (const auto& part : folder) {
    partial /= part;
    if (partial == partial.root_path()) continue;
    ::mkdir(partial.c_str(), 0700);
  }
}

// Opens `folder` when it is a folder of this user's own that no one else may write into (not a
// link to one): the descriptor, or -1 with why in `why` (and the errno of the opening, if it failed).
int openPrivateFolder(const std::filesystem::path& folder, std::string& why, int& error) {
  error = 0;
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    why = error == ELOOP || error == ENOTDIR ? "it is not a folder" : errnoText(error);
    return -1;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    why = errnoText(errno);
  } else if (!S_ISDIR(info.st_mode)) {
    why = "it is not a folder";
  } else if (info.st_uid != ::geteuid()) {
    why = "it belongs to another user";
  } else if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    why = "other users may write into it";
  } else {
    return fd;
  }
  ::close(fd);
  return -1;
}

enum class Locking { held, heldByAnother, failed };

constexpr const char* lockFileName = "quorvel-settings.lock";

// Takes the lock on byte `slot` of the lock file in the open folder `folder`. Only this user can
// put anything at that name: whatever stands there is what every store of this user locks.
Locking lockIn(int folder, off_t slot, int& fd, std::string& why) {
  fd = ::openat(folder, lockFileName, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  if (fd < 0) {
    why = errnoText(errno);
    return Locking::failed;
  }
  struct flock range {};
  range.l_type = F_WRLCK;
  range.l_whence = SEEK_SET;
  range.l_start = slot;
  range.l_len = 1;
  if (::fcntl(fd, F_OFD_SETLK, &range) == 0) return Locking::held;
  const int error = errno;
  why = errnoText(error);
  ::close(fd);
  fd = -1;
  return error == EAGAIN || error == EACCES ? Locking::heldByAnother : Locking::failed;
}

}  // namespace

DefaultsFile::FolderLock DefaultsFile::lockFolder(const std::filesystem::path& file) {
  // The lock lies outside the settings folder: an open file inside it (or the folder itself held
  // open) would keep the folder from going away in full when it is removed, and a watch would not
  // hear that it went.
  std::error_code ec;
  std::filesystem::path folder = std::filesystem::absolute(folderOf(file), ec).lexically_normal();
  // Named by its path with every link resolved: the path as it is when no part of it is a link
  // (one look: opened without following any), else as realpath finds it, one part at a time.
  struct open_how how {};
  how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
  how.resolve = RESOLVE_NO_SYMLINKS;
  if (const long fd = ::syscall(SYS_openat2, AT_FDCWD, folder.c_str(), &how, sizeof how); fd >= 0) {
    ::close(static_cast<int>(fd));
  } else if (char* real = ::realpath(folder.c_str(), nullptr)) {
    folder = real;
    std::free(real);
  } else {
    folder = std::filesystem::weakly_canonical(folder, ec);
  }
  if (folder.has_relative_path() && !folder.has_filename()) folder = folder.parent_path();  // no trailing "/"
  // Any byte of the first 2^62 (beyond the end of the file: locking it does not make the file grow).
  const off_t slot = static_cast<off_t>(hashOf(folder.string()) & ((uint64_t{1} << 62) - 1));

  FolderLock lock;
  std::string problems;
  enum class Place { runtime, state, cache };
  for (const Place kind : {Place::runtime, Place::state, Place::cache}) {
    std::filesystem::path place;
    if (kind == Place::runtime) {
      const char* runtime = std::getenv("XDG_RUNTIME_DIR");
      if (!runtime || runtime[0] == '\0') continue;
      if (runtime[0] != '/') {
        lock.runtimePassedOver = std::string("XDG_RUNTIME_DIR (") + runtime + ") is not an absolute path";
        continue;
      }
      place = runtime;
    } else {
      place = kind == Place::state ? ownFolder("XDG_STATE_HOME", ".local/state")
                                   : ownFolder("XDG_CACHE_HOME", ".cache");
      if (place.empty()) continue;
    }
    std::string why;
    int error = 0;
    int fd = openPrivateFolder(place, why, error);
    if (fd < 0 && kind != Place::runtime && error == ENOENT) {
      makeFolders(place);
      fd = openPrivateFolder(place, why, error);
    }
    Locking locking = Locking::failed;
    if (fd >= 0) {
      locking = lockIn(fd, slot, lock.fd, why);
      ::close(fd);
      if (locking == Locking::failed) why = "the lock file cannot be had there (" + why + ")";
    }
    if (locking == Locking::failed) {
      const std::string said = place.string() + ": " + why;
      if (kind == Place::runtime) lock.runtimePassedOver = said;
      problems += (problems.empty() ? "" : "; ") + said;
      continue;
    }
    // Held here, or by another store here: either way no other folder is tried, so that two stores
    // of this user never hold two locks on one settings folder.
    lock.path = place / lockFileName;
    lock.heldByAnother = locking == Locking::heldByAnother;
    return lock;
  }
  lock.problem = problems.empty() ? "no runtime, state or cache folder is known (no home folder)" : problems;
  return lock;
}

void DefaultsFile::unlockFolder(FolderLock& lock) {
  if (lock.fd >= 0) ::close(lock.fd);
  lock.fd = -1;
}

int DefaultsFile::renameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  int error = errno;
  if (error != EINVAL && error != ENOSYS) return error;
  // The file system cannot refuse a replacement in a rename; a hard link never replaces anything.
  if (::link(from.c_str(), to.c_str()) == 0) {
    ::unlink(from.c_str());
    return 0;
  }
  error = errno;
  if (error != EPERM && error != ENOTSUP && error != EOPNOTSUPP && error != EMLINK) return error;
  // Nor links: check first.
  std::error_code ec;
  if (std::filesystem::exists(std::filesystem::symlink_status(to, ec))) return EEXIST;
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

void DefaultsFile::doneWriting(const std::filesystem::path& temporary) {
  std::lock_guard guard(inFlightMutex());
  inFlight().erase(temporary.string());
}

std::filesystem::path DefaultsFile::folderOf(const std::filesystem::path& file) {
  auto folder = file.parent_path();
  return folder.empty() ? std::filesystem::path(".") : folder;
}

std::variant<std::filesystem::path, int> DefaultsFile::setAside(const std::filesystem::path& file,
                                                                const std::string& label) {
  return moveBeside(file, file, label);
}

DefaultsFile::Stamp DefaultsFile::stampOf(const std::filesystem::path& file) {
  Stamp stamp;
  struct stat info {};
  if (::stat(file.c_str(), &info) != 0) {
    stamp.error = errno;
    return stamp;
  }
  stamp.device = info.st_dev;
  stamp.inode = info.st_ino;
  stamp.mode = info.st_mode;
  stamp.size = static_cast<uint64_t>(info.st_size);
  stamp.modified = int64_t{info.st_mtim.tv_sec} * 1000000000 + info.st_mtim.tv_nsec;
  stamp.changed = int64_t{info.st_ctim.tv_sec} * 1000000000 + info.st_ctim.tv_nsec;
  return stamp;
}

bool DefaultsFile::sameFolder(const std::filesystem::path& a, const std::filesystem::path& b) {
  struct stat first {}, second {};
  if (::stat(a.c_str(), &first) != 0 || ::stat(b.c_str(), &second) != 0) return a == b;
  return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

DefaultsFile::ReadOutcome DefaultsFile::read(const std::filesystem::path& file, size_t limit, std::string& bytes,
                                             int& error, int* keptOpen) {
  // Something other than a file is not even opened: opening a device can act on it.
  if (struct stat info {}; ::stat(file.c_str(), &info) == 0) {
    if (!S_ISREG(info.st_mode)) return ReadOutcome::notAFile;
  } else if (errno == ENOENT) {
    error = ENOENT;
    return ReadOutcome::missing;
  }
  int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    if (error == ENOENT) return ReadOutcome::missing;
    // A socket cannot be opened at all; it is no file either.
    struct stat info {};
    if (::stat(file.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) return ReadOutcome::notAFile;
    return ReadOutcome::unreadable;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    error = errno;
    ::close(fd);
    return ReadOutcome::unreadable;
  }
  if (!S_ISREG(info.st_mode)) {
    ::close(fd);
    return ReadOutcome::notAFile;
  }
  if (info.st_size < 0 || static_cast<uint64_t>(info.st_size) > limit) {
    ::close(fd);
    return ReadOutcome::tooLarge;
  }
  // The buffer holds the size the file had, and one byte more, so that a file that grew since is
  // caught; a file that keeps growing is read on, never past one byte more than the limit.
  bytes.resize(static_cast<size_t>(info.st_size) + 1);
  size_t total = 0;
  for (;;) {
    if (total == bytes.size()) {
      if (total > limit) break;
      bytes.resize(std::min(limit + 1, std::max<size_t>(2 * total, 4096)));
    }
    ssize_t n = ::read(fd, bytes.data() + total, bytes.size() - total);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      error = errno;
      ::close(fd);
      bytes.clear();
      return ReadOutcome::unreadable;
    }
    total += static_cast<size_t>(n);
  }
  if (total > limit) {
    ::close(fd);
    bytes.clear();
    return ReadOutcome::tooLarge;
  }
  bytes.resize(total);
  if (keptOpen) {
    *keptOpen = fd;
  } else {
    ::close(fd);
  }
  return ReadOutcome::read;
}

std::filesystem::path DefaultsFile::resolved(const std::filesystem::path& file) {
  std::filesystem::path current = file;
  for (int hop = 0; hop < 40; ++hop) {
    std::error_code ec;
    if (struct stat info {}; ::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return current;
    std::filesystem::path target = std::filesystem::read_symlink(current, ec);
    if (ec) return current;
    current = target.is_absolute() ? target : folderOf(current) / target;
  }
  return current;
}

void DefaultsFile::removeStaleTemporaryFiles(const std::filesystem::path& file, bool ownsFolder) {
  const std::string name = file.filename().string();
  const pid_t self = ::getpid();
  // What a leftover holds.
  enum class Kind { unfinished, written, based, other, old };
  struct Leftover {
    std::filesystem::path path;
    Kind kind;
    bool whole = false;
    int64_t modified = 0;
  };
  std::vector<Leftover> leftovers;
  std::error_code ec;
  std::filesystem::directory_iterator it(folderOf(file), ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    const std::string entry = it->path().filename().string();
    const bool temporary = entry.rfind(name + ".tmp-", 0) == 0;
    if (!temporary && entry.rfind(name + ".saving-", 0) != 0) continue;
    std::string_view rest(entry);
    rest.remove_prefix(name.size() + (temporary ? 5 : 8));
    long pid = 0;
    auto [p, pec] = std::from_chars(rest.data(), rest.data() + rest.size(), pid);
    if (pec != std::errc() || p == rest.data() || p == rest.data() + rest.size() || *p != '-') continue;
    if (pid == self) {
      std::lock_guard guard(inFlightMutex());
      if (inFlight().count(it->path().string())) continue;
    } else if (!ownsFolder) {
      continue;  // only the folder lock proves that no live writer uses it
    }
    // The hashes in a temporary file's name: "<n>-<based>-<new>" (earlier versions wrote "<n>" alone).
    std::optional<size_t> based, written;
    if (temporary) {
      std::string_view fields(p + 1, static_cast<size_t>(rest.data() + rest.size() - (p + 1)));
      const size_t a = fields.find('-'), b = a == std::string_view::npos ? a : fields.find('-', a + 1);
      if (b != std::string_view::npos) {
        const auto parse = [](std::string_view text) -> std::optional<size_t> {
          size_t value = 0;
          auto [q, qec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
          if (qec != std::errc() || q != text.data() + text.size()) return std::nullopt;
          return value;
        };
        based = parse(fields.substr(a + 1, b - a - 1));
        written = parse(fields.substr(b + 1));
      }
    }
    std::string bytes;
    int error = 0;
    Leftover leftover{it->path(), temporary ? Kind::unfinished : Kind::old};
    if (read(it->path(), size_t{1} << 20, bytes, error) == ReadOutcome::read && wholeObject(bytes)) {
      leftover.whole = true;
      leftover.modified = stampOf(it->path()).modified;
      const size_t hash = hashOf(bytes);
      if (temporary && written && (hash == *written || hashOf(bytes + "\n") == *written)) {
        leftover.kind = Kind::written;
      } else if (temporary && based && hash == *based) {
        leftover.kind = Kind::based;
      } else if (temporary && written) {
        leftover.kind = Kind::other;
      }
    }
    leftovers.push_back(std::move(leftover));
  }
  // With no file in place, the newest whole copy goes back there.
  struct stat info {};
  if (!leftovers.empty() && ::lstat(file.c_str(), &info) != 0 && errno == ENOENT) {
    Leftover* newest = nullptr;
    for (auto& leftover : leftovers) {
      if (leftover.whole && (!newest || leftover.modified > newest->modified)) newest = &leftover;
    }
    if (newest && renameNoReplace(newest->path, file) == 0) {
      log().error("The defaults file %{public}s was put back from %{public}s, where a save that was stopped had left "
                  "it.",
                  file.string(), newest->path.string());
      newest->path.clear();
    }
  }
  std::optional<nlohmann::json> standing;  // read once, should a displaced save need it
  for (const auto& leftover : leftovers) {
    if (leftover.path.empty()) continue;
    if (leftover.kind == Kind::other) {
      // Another program's save that a write of ours displaced just before it was stopped: kept,
      // unless the file in place holds every value of it (the write had taken them, or a later save).
      if (!standing) standing = objectAt(file);
      const auto theirs = objectAt(leftover.path);
      bool held = standing->is_object() && theirs.is_object();
      for (auto it = theirs.begin(); held && it != theirs.end(); ++it) {
        const auto there = standing->find(it.key());
        held = there != standing->end() && *there == it.value();
      }
      auto beside = held ? std::variant<std::filesystem::path, int>(0) : moveBeside(leftover.path, file, "displaced");
      if (auto* path = std::get_if<std::filesystem::path>(&beside)) {
        log().error("A save of another program that a stopped write had displaced from %{public}s is kept beside it as "
                    "%{public}s.",
                    file.string(), path->string());
        continue;
      }
    }
    std::error_code removeError;
    std::filesystem::remove(leftover.path, removeError);
  }
}

// ---- Writing ---------------------------------------------------------------------------------

namespace {

// The deepest nesting of containers in `text` (the top-level one is depth 0), exact when it is
// valid JSON: brackets inside strings do not count.
int deepestNesting(const std::string& text) {
  int depth = 0, deepest = 0;
  bool inString = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '{' || c == '[') {
      deepest = std::max(deepest, depth++);
    } else if (c == '}' || c == ']') {
      --depth;
    }
  }
  return deepest;
}

}  // namespace

std::variant<nlohmann::json, std::string> DefaultsFile::parse(const std::string& text, int maximumNesting) {
  // Almost every document is no deeper than that: it is parsed as it is, without a look at each
  // container as it starts, which costs a third more.
  if (deepestNesting(text) <= maximumNesting) {
    auto parsed = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (parsed.is_discarded()) return std::string("it is not valid JSON");
    if (!parsed.is_object()) return std::string("it does not hold a JSON object");
    return parsed;
  }
  bool tooDeep = false;
  // The top-level object is depth 0. A container too deep is not built, nor anything inside it.
  auto callback = [&](int depth, nlohmann::json::parse_event_t event, nlohmann::json&) {
    if ((event == nlohmann::json::parse_event_t::object_start || event == nlohmann::json::parse_event_t::array_start) &&
        depth > maximumNesting) {
      tooDeep = true;
      return false;
    }
    return true;
  };
  auto parsed = nlohmann::json::parse(text, callback, /*allow_exceptions=*/false);
  if (parsed.is_discarded()) return std::string("it is not valid JSON");
  if (tooDeep) return "it is nested deeper than " + std::to_string(maximumNesting) + " levels";
  if (!parsed.is_object()) return std::string("it does not hold a JSON object");
  return parsed;
}

std::optional<nlohmann::json> DefaultsFile::readObject(const std::filesystem::path& file, size_t limit,
                                                      int maximumNesting, ReadOutcome* outcome) {
  std::string bytes;
  int error = 0;
  const ReadOutcome read = DefaultsFile::read(file, limit, bytes, error);
  if (outcome) *outcome = read;
  if (read != ReadOutcome::read) return std::nullopt;
  auto parsed = parse(bytes, maximumNesting);
  if (!std::holds_alternative<nlohmann::json>(parsed)) return std::nullopt;
  return std::get<nlohmann::json>(std::move(parsed));
}

std::string DefaultsFile::textOf(const std::map<std::string, nlohmann::json>& values) {
  constexpr auto replace = nlohmann::json::error_handler_t::replace;
  std::string text = "{";
  bool first = true;
  for (const auto& [key, value] : values) {
    text += first ? "\n  " : ",\n  ";
    first = false;
    text += nlohmann::json(key).dump(-1, ' ', false, replace);
    text += ": ";
    text += value.dump(-1, ' ', false, replace);
  }
  text += first ? "}\n" : "\n}\n";
  return text;
}

bool DefaultsFile::holds(const std::filesystem::path& path, size_t hash, size_t limit) {
  std::string bytes;
  int error = 0;
  return read(path, limit, bytes, error) == ReadOutcome::read && hashOf(bytes) == hash;
}

DefaultsFile::Held::Held(int fd) : fd_(fd) {
  struct stat info {};
  if (fd_ >= 0 && ::fstat(fd_, &info) != 0) ::close(std::exchange(fd_, -1));
  device_ = info.st_dev;
  inode_ = info.st_ino;
}

DefaultsFile::Held DefaultsFile::Held::at(const std::filesystem::path& path) {
  return Held(::open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
}

DefaultsFile::Held& DefaultsFile::Held::operator=(Held other) noexcept {
  std::swap(fd_, other.fd_);
  device_ = other.device_;
  inode_ = other.inode_;
  return *this;
}

DefaultsFile::Held::~Held() {
  if (fd_ >= 0) ::close(fd_);
}

bool DefaultsFile::Held::standsAt(const std::filesystem::path& path) const {
  struct stat now {};
  return fd_ >= 0 && ::lstat(path.c_str(), &now) == 0 && now.st_dev == device_ && now.st_ino == inode_;
}

bool DefaultsFile::writeAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

std::variant<DefaultsFile::NewFile, std::pair<const char*, int>> DefaultsFile::writeBeside(
    const std::filesystem::path& file, const std::string& bytes, std::optional<size_t> based) {
  const size_t hash = hashOf(bytes);
  NewFile made{newTemporary(file, based, hash), hash, {}};
  mode_t mode = 0600;
  if (struct stat info {}; ::stat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode)) mode = info.st_mode & 07777;
  int fd = ::open(made.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0 && errno == ENOENT) {
    // The folder was removed while the program ran: it is made again.
    std::error_code ec;
    std::filesystem::create_directories(folderOf(file), ec);
    fd = ::open(made.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  }
  std::pair<const char*, int> failed{nullptr, 0};
  const auto step = [&](bool done, const char* what) {
    if (!done && !failed.first) failed = {what, errno};
    return !failed.first;
  };
  if (step(fd >= 0, "creating the temporary file") && step(writeAll(fd, bytes), "writing the temporary file") &&
      step(mode == 0600 || ::fchmod(fd, mode) == 0, "setting the permissions of the temporary file") &&
      step(::fsync(fd) == 0, "flushing the temporary file")) {
    made.held = Held::at(made.path);
    step(made.held.held(), "holding the temporary file");
  }
  if (fd >= 0) step(::close(fd) == 0, "closing the temporary file");
  if (!failed.first) return made;
  if (fd >= 0) ::unlink(made.path.c_str());
  doneWriting(made.path);
  return failed;
}

std::pair<const char*, int> DefaultsFile::syncFolder(const std::filesystem::path& file) {
  const int folder = ::open(folderOf(file).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return {"opening its folder", errno};
  const int error = ::fsync(folder) == 0 ? 0 : errno;
  ::close(folder);
  return {error != 0 && error != EINVAL ? "flushing its folder" : nullptr, error == EINVAL ? 0 : error};
}

}  // namespace quorvel
