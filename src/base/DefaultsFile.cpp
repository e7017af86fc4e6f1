#include "base/DefaultsFile.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <ctime>
#include <mutex>
#include <set>
#include <system_error>
#include <vector>

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

std::filesystem::path newWritingName(const std::filesystem::path& file, const char* kind) {
  static std::atomic<uint64_t> counter{0};
  auto name = DefaultsFile::folderOf(file) / (file.filename().string() + "." + kind + "-" +
                                              std::to_string(::getpid()) + "-" + std::to_string(++counter));
  std::lock_guard guard(inFlightMutex());
  inFlight().insert(name.string());
  return name;
}

}  // namespace

std::filesystem::path DefaultsFile::newTemporary(const std::filesystem::path& file) {
  return newWritingName(file, "tmp");
}

std::filesystem::path DefaultsFile::newSavingName(const std::filesystem::path& file) {
  return newWritingName(file, "saving");
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
  std::string base = file.filename().string() + "." + label + "-" + utcTimestamp();
  for (int attempt = 1; attempt < 10000; ++attempt) {
    std::string name = attempt == 1 ? base : base + "-" + std::to_string(attempt);
    auto target = folderOf(file) / name;
    int error = renameNoReplace(file, target);
    if (error == 0) return target;
    if (error != EEXIST) return error;
  }
  return EEXIST;
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
  if (struct stat info {}; ::stat(file.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
    return ReadOutcome::notAFile;
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
  // One byte more than the limit is asked for, so that a file growing while it is read is caught.
  bytes.resize(limit + 1);
  size_t total = 0;
  while (total < bytes.size()) {
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
    if (!std::filesystem::is_symlink(std::filesystem::symlink_status(current, ec))) return current;
    std::filesystem::path target = std::filesystem::read_symlink(current, ec);
    if (ec) return current;
    current = target.is_absolute() ? target : folderOf(current) / target;
  }
  return current;
}

void DefaultsFile::removeStaleTemporaryFiles(const std::filesystem::path& file) {
  const std::string name = file.filename().string();
  const pid_t self = ::getpid();
  std::error_code ec;
  std::filesystem::directory_iterator it(folderOf(file), ec), end;
  std::vector<std::filesystem::path> taken;
  for (; !ec && it != end; it.increment(ec)) {
    std::string entry = it->path().filename().string();
    bool temporary = entry.rfind(name + ".tmp-", 0) == 0;
    if (!temporary && entry.rfind(name + ".saving-", 0) != 0) continue;
    std::string_view rest(entry);
    rest.remove_prefix(name.size() + (temporary ? 5 : 8));
    long pid = 0;
    auto [p, pec] = std::from_chars(rest.data(), rest.data() + rest.size(), pid);
    if (pec != std::errc() || p == rest.data() || p == rest.data() + rest.size() || *p != '-') continue;
    if (pid == self) {
      std::lock_guard guard(inFlightMutex());
      if (inFlight().count(it->path().string())) continue;
    } else if (pid <= 0 || ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) {
      continue;  // possibly another live writer
    }
    if (temporary) {
      std::error_code removeError;
      std::filesystem::remove(it->path(), removeError);
    } else {
      taken.push_back(it->path());
    }
  }
  // A file a write had taken aside to look at when it was stopped: it goes back unless a newer one
  // stands in its place.
  for (const auto& path : taken) {
    if (renameNoReplace(path, file) == 0) {
      log().error("The defaults file %{public}s was put back from %{public}s, where a save that was stopped had left "
                  "it.",
                  file.string(), path.string());
    } else {
      log().error("A copy of the defaults file from a save that was stopped lies at %{public}s; the file in place is "
                  "newer and stays.",
                  path.string());
    }
  }
}

}  // namespace quorvel
