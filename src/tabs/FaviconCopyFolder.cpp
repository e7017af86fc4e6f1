#include "tabs/FaviconCopyFolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>
#include <utility>

namespace quorvel {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kFallbackPrefix = "Quorvel-favicons-";
constexpr size_t kUUIDLength = 36;

// A version-4 UUID in its standard upper-case form.
std::string randomUUID() {
  static std::mutex mutex;
  static std::mt19937_64 generator{std::random_device{}()};
  uint64_t high = 0;
  uint64_t low = 0;
  {
    std::lock_guard guard(mutex);
    high = generator();
    low = generator();
  }
  high = (high & ~0xF000ull) | 0x4000ull;                        // version 4
  low = (low & ~(0xC0ull << 56)) | (0x80ull << 56);              // RFC 4122 variant
  char text[kUUIDLength + 1];
  std::snprintf(text, sizeof text, "%08X-%04X-%04X-%04X-%012llX", static_cast<unsigned>(high >> 32),
                static_cast<unsigned>((high >> 16) & 0xFFFF), static_cast<unsigned>(high & 0xFFFF),
                static_cast<unsigned>(low >> 48), static_cast<unsigned long long>(low & 0xFFFFFFFFFFFFull));
  return text;
}

int openDirectory(const fs::path& path) {
  return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

bool isOwnedPrivateDirectory(const struct stat& info, uid_t owner) {
  return S_ISDIR(info.st_mode) && info.st_uid == owner && (info.st_mode & 0777) == 0700;
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Writes all of `bytes`, retrying short writes and interruptions.
bool writeAll(int fd, const char* bytes, size_t count) {
  while (count > 0) {
    const ssize_t written = ::write(fd, bytes, count);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes += written;
    count -= static_cast<size_t>(written);
  }
  return true;
}

}  // namespace

FaviconCopyFolder::FaviconCopyFolder(std::optional<fs::path> runtimeFolder, fs::path temporaryFolder, uid_t owner,
                                     uint64_t sizeBudget)
    : runtimeFolder_(std::move(runtimeFolder)),
      temporaryFolder_(std::move(temporaryFolder)),
      owner_(owner),
      sizeBudget_(sizeBudget) {}

FaviconCopyFolder FaviconCopyFolder::forCurrentUser() {
  std::optional<fs::path> runtime;
  if (const char* value = std::getenv("XDG_RUNTIME_DIR"); value && *value) runtime = fs::path(value);
  fs::path temporary = "/tmp";
  if (const char* value = std::getenv("TMPDIR"); value && *value && fs::path(value).is_absolute()) temporary = value;
  return FaviconCopyFolder(std::move(runtime), std::move(temporary), ::geteuid());
}

FaviconCopyFolder::~FaviconCopyFolder() { closeFolder(); }

FaviconCopyFolder::FaviconCopyFolder(FaviconCopyFolder&& other) noexcept
    : runtimeFolder_(std::move(other.runtimeFolder_)),
      temporaryFolder_(std::move(other.temporaryFolder_)),
      owner_(other.owner_),
      sizeBudget_(other.sizeBudget_),
      logger_(other.logger_),
      folderFd_(std::exchange(other.folderFd_, -1)),
      folderPath_(std::move(other.folderPath_)),
      copies_(std::move(other.copies_)),
      refusalLogged_(other.refusalLogged_) {}

bool FaviconCopyFolder::isCopyName(std::string_view name) {
  for (std::string_view label : {"Chrome-", "Firefox-"}) {
    if (!name.starts_with(label)) continue;
    const std::string_view rest = name.substr(label.size());
    if (rest.size() < kUUIDLength + 2 || rest[kUUIDLength] != '-') return false;
    for (size_t i = 0; i < kUUIDLength; ++i) {
      const char c = rest[i];
      const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
      if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    }
    return true;
  }
  return false;
}

std::optional<fs::path> FaviconCopyFolder::fixedPath() const {
  if (!runtimeFolder_ || !runtimeFolder_->is_absolute()) return std::nullopt;
  struct stat info {};
  if (::lstat(runtimeFolder_->c_str(), &info) != 0) return std::nullopt;
  // The runtime folder must itself be a real, private folder of the user's.
  if (!S_ISDIR(info.st_mode) || info.st_uid != owner_ || (info.st_mode & 0077) != 0) return std::nullopt;
  return *runtimeFolder_ / kName;
}

bool FaviconCopyFolder::isPrivateFolder(int fd, const fs::path& path) {
  struct stat info {};
  if (fd < 0 || ::fstat(fd, &info) != 0 || !isOwnedPrivateDirectory(info, owner_)) {
    if (std::exchange(refusalLogged_, true)) return false;
    logger_.error("The copy folder %{public}s is not a private folder of this user (a link, another owner or "
                  "open to others); browser databases are not copied.",
                  path.string());
    return false;
  }
  return true;
}

int FaviconCopyFolder::openFolder() {
  if (folderFd_ >= 0) return folderFd_;
  if (auto fixed = fixedPath()) {
    if (::mkdir(fixed->c_str(), 0700) != 0 && errno != EEXIST) return -1;
    const int fd = openDirectory(*fixed);
    if (!isPrivateFolder(fd, *fixed)) {
      if (fd >= 0) ::close(fd);
      return -1;
    }
    folderFd_ = fd;
    folderPath_ = *fixed;
    return folderFd_;
  }
  std::string pattern = (temporaryFolder_ / (std::string(kFallbackPrefix) + "XXXXXX")).string();
  if (!::mkdtemp(pattern.data())) return -1;
  const int fd = openDirectory(pattern);
  if (!isPrivateFolder(fd, pattern)) {
    if (fd >= 0) ::close(fd);
    ::rmdir(pattern.c_str());
    return -1;
  }
  folderFd_ = fd;
  folderPath_ = pattern;
  return folderFd_;
}

FaviconCopyFolder::Copy FaviconCopyFolder::copy(const fs::path& source, std::string_view label) {
  // Non-blocking, so that a named pipe in a browser's folder cannot stall the queue.
  FileDescriptor input(::open(source.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  struct stat info {};
  if (input.get() < 0 || ::fstat(input.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return {std::nullopt, Failure::fileMissing};
  }
  if (static_cast<uint64_t>(info.st_size) > sizeBudget_) return {std::nullopt, Failure::overBudget};
  const int folder = openFolder();
  if (folder < 0) return {std::nullopt, Failure::noPlace};

  const std::string name = std::string(label) + "-" + randomUUID() + "-" + source.filename().string();
  FileDescriptor output(::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (output.get() < 0) return {std::nullopt, Failure::copyRefused};
  copies_.push_back(name);

  const int flags = ::fcntl(input.get(), F_GETFL);
  if (flags >= 0) ::fcntl(input.get(), F_SETFL, flags & ~O_NONBLOCK);
  std::vector<char> buffer(1 << 16);
  uint64_t total = 0;
  for (;;) {
    const ssize_t count = ::read(input.get(), buffer.data(), buffer.size());
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return {std::nullopt, Failure::copyRefused};
    if (count == 0) break;
    total += static_cast<uint64_t>(count);
    // A file that grows past the budget while it is copied is not copied either.
    if (total > sizeBudget_) {
      ::unlinkat(folder, name.c_str(), 0);
      copies_.pop_back();
      return {std::nullopt, Failure::overBudget};
    }
    if (!writeAll(output.get(), buffer.data(), static_cast<size_t>(count))) {
      return {std::nullopt, Failure::copyRefused};
    }
  }
  return {folderPath_ / name, std::nullopt};
}

void FaviconCopyFolder::removeCopies() {
  if (folderFd_ < 0) return;
  for (const std::string& name : copies_) ::unlinkat(folderFd_, name.c_str(), 0);
  copies_.clear();
  // Only an empty folder goes; whatever else is in it was not made here.
  ::rmdir(folderPath_.c_str());
  closeFolder();
}

void FaviconCopyFolder::closeFolder() {
  if (folderFd_ >= 0) ::close(folderFd_);
  folderFd_ = -1;
  folderPath_.clear();
}

void FaviconCopyFolder::clearFolder(const fs::path& path) {
  FileDescriptor folder(openDirectory(path));
  struct stat info {};
  if (folder.get() < 0 || ::fstat(folder.get(), &info) != 0 || !isOwnedPrivateDirectory(info, owner_)) return;
  std::vector<std::string> names;
  if (DIR* listing = ::fdopendir(::dup(folder.get()))) {
    while (const dirent* entry = ::readdir(listing)) {
      if (isCopyName(entry->d_name)) names.emplace_back(entry->d_name);
    }
    ::closedir(listing);
  }
  for (const std::string& name : names) {
    struct stat file {};
    if (::fstatat(folder.get(), name.c_str(), &file, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(file.st_mode) &&
        file.st_uid == owner_) {
      ::unlinkat(folder.get(), name.c_str(), 0);
    }
  }
  ::rmdir(path.c_str());
}

void FaviconCopyFolder::clearLeftovers() {
  closeFolder();
  copies_.clear();
  if (auto fixed = fixedPath()) clearFolder(*fixed);
  std::error_code error;
  std::vector<fs::path> fallbacks;
  for (fs::directory_iterator it(temporaryFolder_, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.starts_with(kFallbackPrefix) && name.size() == kFallbackPrefix.size() + 6) fallbacks.push_back(it->path());
  }
  for (const fs::path& folder : fallbacks) clearFolder(folder);
}

}  // namespace quorvel
