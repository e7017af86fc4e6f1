#include "base/DefaultsStore.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <set>
#include <system_error>
#include <variant>

#include "base/Logger.h"

namespace quorvel {

namespace {

const Logger& log() {
  static const Logger logger("DefaultsStore");
  return logger;
}

std::string errnoText(int error) { return std::error_code(error, std::generic_category()).message(); }

// ---- Coercions -------------------------------------------------------------------------------

bool equalsIgnoringCase(const std::string& text, std::string_view word) {
  if (text.size() != word.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != word[i]) return false;
  }
  return true;
}

// An optional sign followed by decimal digits only, of any length.
bool isIntegerText(std::string_view text) {
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) text.remove_prefix(1);
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

std::string_view withoutPlus(std::string_view text) {
  if (text.size() > 1 && text[0] == '+' && text[1] != '-' && text[1] != '+') text.remove_prefix(1);
  return text;
}

// The whole text as an integer, when it is one that fits.
std::optional<int64_t> parseWholeInteger(std::string_view text) {
  text = withoutPlus(text);
  int64_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

// The whole text as a finite number.
std::optional<double> parseWholeDouble(std::string_view text) {
  text = withoutPlus(text);
  double value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  if (!std::isfinite(value)) return std::nullopt;
  return value;
}

int64_t truncated(double value) {
  // 2^63 is exactly representable; anything at or beyond it does not fit.
  constexpr double limit = 9223372036854775808.0;
  if (!std::isfinite(value) || value >= limit || value < -limit) return 0;
  return static_cast<int64_t>(value);
}

bool coerceBool(const DefaultsStore::Value& v) {
  if (v.is_boolean()) return v.get<bool>();
  if (v.is_number_integer() && !v.is_number_unsigned()) return v.get<int64_t>() != 0;
  if (v.is_number_unsigned()) return v.get<uint64_t>() != 0;
  if (v.is_number_float()) return v.get<double>() != 0.0;
  if (v.is_string()) {
    const auto& s = v.get_ref<const std::string&>();
    if (equalsIgnoringCase(s, "yes") || equalsIgnoringCase(s, "true")) return true;
    if (isIntegerText(s)) return s.find_first_of("123456789") != std::string::npos;
  }
  return false;
}

int64_t coerceInteger(const DefaultsStore::Value& v) {
  if (v.is_boolean()) return v.get<bool>() ? 1 : 0;
  if (v.is_number_unsigned()) {
    uint64_t u = v.get<uint64_t>();
    return u <= static_cast<uint64_t>(INT64_MAX) ? static_cast<int64_t>(u) : 0;
  }
  if (v.is_number_integer()) return v.get<int64_t>();
  if (v.is_number_float()) return truncated(v.get<double>());
  if (v.is_string()) {
    const auto& s = v.get_ref<const std::string&>();
    if (auto i = parseWholeInteger(s)) return *i;
    if (auto d = parseWholeDouble(s)) return truncated(*d);
  }
  return 0;
}

double coerceDouble(const DefaultsStore::Value& v) {
  if (v.is_boolean()) return v.get<bool>() ? 1.0 : 0.0;
  if (v.is_number_unsigned()) return static_cast<double>(v.get<uint64_t>());
  if (v.is_number_integer()) return static_cast<double>(v.get<int64_t>());
  if (v.is_number_float()) return v.get<double>();
  if (v.is_string()) {
    if (auto d = parseWholeDouble(v.get_ref<const std::string&>())) return *d;
  }
  return 0.0;
}

std::optional<std::string> coerceString(const DefaultsStore::Value& v) {
  if (v.is_string()) return v.get<std::string>();
  if (v.is_number_unsigned()) return std::to_string(v.get<uint64_t>());
  if (v.is_number_integer()) return std::to_string(v.get<int64_t>());
  if (v.is_number_float()) {
    // The shortest text that reads back as the same value: 0.5, 1, 1e+20.
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v.get<double>());
    if (ec != std::errc()) return std::nullopt;
    return std::string(buffer, end);
  }
  return std::nullopt;
}

// A null value has no place among the stored types: writing one removes the key.
bool isAbsent(const DefaultsStore::Value& v) { return v.is_null() || v.is_discarded(); }

// ---- Files -----------------------------------------------------------------------------------

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

std::filesystem::path folderOf(const std::filesystem::path& file) {
  auto folder = file.parent_path();
  return folder.empty() ? std::filesystem::path(".") : folder;
}

std::string utcTimestamp() {
  std::time_t now = std::time(nullptr);
  std::tm parts{};
  gmtime_r(&now, &parts);
  char buffer[32];
  std::strftime(buffer, sizeof buffer, "%Y%m%dT%H%M%SZ", &parts);
  return buffer;
}

// Renames `from` to `to` unless `to` exists. Returns 0, or the errno (EEXIST when taken).
int renameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  int error = errno;
  if (error != EINVAL && error != ENOSYS) return error;
  // The file system cannot refuse a replacement itself: check first.
  std::error_code ec;
  if (std::filesystem::exists(std::filesystem::symlink_status(to, ec))) return EEXIST;
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

// Moves a damaged file to "<name>.damaged-<timestamp>" (with "-2", "-3"... when that name is
// taken, so no earlier aside file is ever replaced). Returns the new path, or the errno.
std::variant<std::filesystem::path, int> setAside(const std::filesystem::path& file) {
  std::string base = file.filename().string() + ".damaged-" + utcTimestamp();
  for (int attempt = 1; attempt < 10000; ++attempt) {
    std::string name = attempt == 1 ? base : base + "-" + std::to_string(attempt);
    auto target = folderOf(file) / name;
    int error = renameNoReplace(file, target);
    if (error == 0) return target;
    if (error != EEXIST) return error;
  }
  return EEXIST;
}

enum class ReadOutcome { missing, read, unreadable, notAFile, tooLarge };

// Reads the file without ever blocking on it: only a regular file of at most `limit` bytes is read.
// A path that names something else (a folder, a named pipe, a device) or a larger file is reported
// as such, unread; an error opening or reading a file is reported with its errno.
ReadOutcome readWholeFile(const std::filesystem::path& file, size_t limit, std::string& bytes, int& error) {
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
  ::close(fd);
  if (total > limit) {
    bytes.clear();
    return ReadOutcome::tooLarge;
  }
  bytes.resize(total);
  return ReadOutcome::read;
}

// The file a path finally names, following symbolic links of its last component, so that a
// defaults file kept elsewhere (a folder of dotfiles) is written where it lives and the link stays.
std::filesystem::path resolvedFile(const std::filesystem::path& file) {
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

// The JSON value `text` holds, or why it is damaged: not JSON, not an object, or nested deeper than
// `maximumNesting` (such values would be copied and written recursively, which a deep enough one
// turns into a stack overflow).
std::variant<DefaultsStore::Value, std::string> parseDocument(const std::string& text, int maximumNesting) {
  bool tooDeep = false;
  // The top-level object is depth 0. A container too deep is not built, nor anything inside it.
  auto callback = [&](int depth, DefaultsStore::Value::parse_event_t event, DefaultsStore::Value&) {
    if ((event == DefaultsStore::Value::parse_event_t::object_start ||
         event == DefaultsStore::Value::parse_event_t::array_start) &&
        depth > maximumNesting) {
      tooDeep = true;
      return false;
    }
    return true;
  };
  auto parsed = DefaultsStore::Value::parse(text, callback, /*allow_exceptions=*/false);
  if (parsed.is_discarded()) return std::string("it is not valid JSON");
  if (tooDeep) return "it is nested deeper than " + std::to_string(maximumNesting) + " levels";
  if (!parsed.is_object()) return std::string("it does not hold a JSON object");
  return parsed;
}

// The stored values as the file holds them: one key a line, each value written compactly, so the
// size of the file follows the size of the values whatever their nesting.
std::string documentText(const std::map<std::string, DefaultsStore::Value>& values) {
  // Text that is not valid UTF-8 is written with replacement characters rather than failing the
  // whole file; the value in memory keeps its bytes.
  constexpr auto replace = DefaultsStore::Value::error_handler_t::replace;
  std::string text = "{";
  bool first = true;
  for (const auto& [key, value] : values) {
    text += first ? "\n  " : ",\n  ";
    first = false;
    text += DefaultsStore::Value(key).dump(-1, ' ', false, replace);
    text += ": ";
    text += value.dump(-1, ' ', false, replace);
  }
  text += first ? "}\n" : "\n}\n";
  return text;
}

bool writeAll(int fd, const std::string& bytes) {
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

// Leftovers of writes that never reached their rename (a crash, a kill): the temporary files of
// processes that are gone, and this process's own that no write is using.
void removeStaleTemporaryFiles(const std::filesystem::path& file) {
  const std::string prefix = file.filename().string() + ".tmp-";
  const pid_t self = ::getpid();
  std::error_code ec;
  std::filesystem::directory_iterator it(folderOf(file), ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    std::string_view rest(name);
    rest.remove_prefix(prefix.size());
    long pid = 0;
    auto [p, pec] = std::from_chars(rest.data(), rest.data() + rest.size(), pid);
    if (pec != std::errc() || p == rest.data() || p == rest.data() + rest.size() || *p != '-') continue;
    if (pid == self) {
      std::lock_guard guard(inFlightMutex());
      if (inFlight().count(it->path().string())) continue;
    } else if (pid <= 0 || ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) {
      continue;  // possibly another live writer
    }
    std::error_code removeError;
    std::filesystem::remove(it->path(), removeError);
  }
}

}  // namespace

// ---- Construction ----------------------------------------------------------------------------

DefaultsStore::DefaultsStore() = default;

DefaultsStore::DefaultsStore(std::filesystem::path file) : file_(std::move(file)) { load(); }

DefaultsStore::~DefaultsStore() = default;

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
  std::filesystem::create_directories(folderOf(*file_), ec);
  if (ec) {
    log().error("Could not create the folder %{public}s for the defaults file: %{public}s.",
                folderOf(*file_).string(), ec.message());
  }
  const auto file = resolvedFile(*file_);
  removeStaleTemporaryFiles(file);

  std::string bytes;
  int error = 0;
  std::string reason;
  switch (readWholeFile(file, maximumFileSize, bytes, error)) {
    case ReadOutcome::missing:
      return;
    case ReadOutcome::unreadable:
      // Nothing says the file is damaged: it stays as it is, and this run never writes over it.
      unreadFile_ = true;
      log().error("The defaults file %{public}s could not be read (%{public}s); the registered defaults serve "
                  "until the next start, and changes are not saved so that the file is left as it is.",
                  file.string(), errnoText(error));
      return;
    case ReadOutcome::notAFile:
      reason = "it is not a regular file";
      break;
    case ReadOutcome::tooLarge:
      reason = "it is larger than " + std::to_string(maximumFileSize) + " bytes";
      break;
    case ReadOutcome::read: {
      auto parsed = parseDocument(bytes, maximumNesting);
      if (auto* why = std::get_if<std::string>(&parsed)) {
        reason = std::move(*why);
        break;
      }
      for (auto& [key, value] : std::get<Value>(parsed).items()) {
        if (!isAbsent(value)) stored_[key] = std::move(value);
      }
      return;
    }
  }

  auto aside = setAside(file);
  if (auto* path = std::get_if<std::filesystem::path>(&aside)) {
    log().error("The defaults file %{public}s was set aside as %{public}s because %{public}s; the store starts empty.",
                file.string(), path->string(), reason);
  } else {
    log().error("The defaults file %{public}s is damaged because %{public}s, and it could not be set aside (%{public}s); "
                "the store starts empty.",
                file.string(), reason, errnoText(std::get<int>(aside)));
  }
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
  return v ? coerceBool(*v) : false;
}

int64_t DefaultsStore::integer(const std::string& key) const {
  auto v = object(key);
  return v ? coerceInteger(*v) : 0;
}

double DefaultsStore::doubleValue(const std::string& key) const {
  auto v = object(key);
  return v ? coerceDouble(*v) : 0.0;
}

std::optional<std::string> DefaultsStore::string(const std::string& key) const {
  auto v = object(key);
  return v ? coerceString(*v) : std::nullopt;
}

std::map<std::string, DefaultsStore::Value> DefaultsStore::storedValues() const {
  std::lock_guard guard(mutex_);
  return stored_;
}

bool DefaultsStore::lastWriteSucceeded() const {
  std::lock_guard guard(mutex_);
  return lastWriteSucceeded_;
}

bool DefaultsStore::fileUnreadable() const {
  std::lock_guard lock(mutex_);
  return unreadFile_;
}

// ---- Writes ----------------------------------------------------------------------------------

void DefaultsStore::registerDefaults(const std::map<std::string, Value>& defaults) {
  std::lock_guard guard(mutex_);
  for (const auto& [key, value] : defaults) registered_[key] = value;
}

void DefaultsStore::set(const std::string& key, Value value) {
  {
    std::lock_guard guard(mutex_);
    if (isAbsent(value)) {
      stored_.erase(key);
    } else {
      stored_[key] = std::move(value);
    }
    lastWriteSucceeded_ = persistLocked();
  }
  notifyObservers();
}

void DefaultsStore::remove(const std::string& key) {
  {
    std::lock_guard guard(mutex_);
    stored_.erase(key);
    lastWriteSucceeded_ = persistLocked();
  }
  notifyObservers();
}

void DefaultsStore::setMany(const std::map<std::string, Value>& values) {
  {
    std::lock_guard guard(mutex_);
    for (const auto& [key, value] : values) {
      if (isAbsent(value)) {
        stored_.erase(key);
      } else {
        stored_[key] = value;
      }
    }
    lastWriteSucceeded_ = persistLocked();
  }
  notifyObservers();
}

void DefaultsStore::setWriteInterruptionForTesting(std::function<bool()> hook) {
  std::lock_guard guard(mutex_);
  interruption_ = std::move(hook);
}

// Runs with mutex_ held, so writes reach the disk in the order they were made. The interruption
// hook runs under the lock too and must not call back into the store.
bool DefaultsStore::persistLocked() {
  if (!file_ || unreadFile_) return !file_;
  const auto file = resolvedFile(*file_);

  std::string bytes = documentText(stored_);
  // A file the next start would refuse as too large is not written: the one on the disk stays.
  if (bytes.size() > maximumFileSize) {
    log().error("Could not save the defaults to %{public}s: they take %{public}s bytes, more than the %{public}s "
                "a defaults file may hold.",
                file.string(), std::to_string(bytes.size()), std::to_string(maximumFileSize));
    return false;
  }

  static std::atomic<uint64_t> counter{0};
  const auto folder = folderOf(file);
  const auto temporary =
      folder / (file.filename().string() + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
  {
    std::lock_guard guard(inFlightMutex());
    inFlight().insert(temporary.string());
  }
  auto finish = [&](bool removeTemporary) {
    if (removeTemporary) ::unlink(temporary.c_str());
    std::lock_guard guard(inFlightMutex());
    inFlight().erase(temporary.string());
  };
  auto fail = [&](const char* step, int error, bool created) {
    log().error("Could not save the defaults to %{public}s: %{public}s failed (%{public}s).", file.string(), step,
                errnoText(error));
    finish(created);
    return false;
  };

  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return fail("creating the temporary file", errno, false);
  if (!writeAll(fd, bytes)) {
    int error = errno;
    ::close(fd);
    return fail("writing the temporary file", error, true);
  }
  if (::fsync(fd) != 0) {
    int error = errno;
    ::close(fd);
    return fail("flushing the temporary file", error, true);
  }
  if (::close(fd) != 0) return fail("closing the temporary file", errno, true);

  if (interruption_ && !interruption_()) {
    // Abandoned as a crash would leave it: the temporary file stays, the real one is untouched.
    finish(false);
    return false;
  }

  if (::rename(temporary.c_str(), file.c_str()) != 0) return fail("replacing the file", errno, true);
  finish(false);

  // Make the rename itself durable. Some file systems cannot sync a folder (EINVAL); the data
  // is in place there all the same.
  int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderFd < 0) {
    int error = errno;
    log().error("Could not save the defaults to %{public}s: opening its folder failed (%{public}s).", file.string(),
                errnoText(error));
    return false;
  }
  int synced = ::fsync(folderFd);
  int error = errno;
  ::close(folderFd);
  if (synced != 0 && error != EINVAL) {
    log().error("Could not save the defaults to %{public}s: flushing its folder failed (%{public}s).", file.string(),
                errnoText(error));
    return false;
  }
  return true;
}

// ---- Observers -------------------------------------------------------------------------------

Subscription DefaultsStore::addObserver(Observer observer) { return observers_.add(std::move(observer)); }

// Called with neither lock held, so an observer may read the store, write to it, or add and
// remove observers. An observer removed while a notification is under way is not called after.
void DefaultsStore::notifyObservers() { observers_.notify(); }

}  // namespace quorvel
