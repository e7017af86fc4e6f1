#include "platform/x11/WindowManagerProcess.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace quorvel {

namespace {

// A process may end while its files are read (the read then fails with ESRCH): none then, never an
// exception.
std::optional<std::string> readWhole(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return std::nullopt;
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
      text.append(buffer, size_t(n));
      if (text.size() > (size_t{1} << 20)) break;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return std::nullopt;
    }
    break;
  }
  ::close(fd);
  return text;
}

// The NUL-separated strings of a /proc file.
std::vector<std::string> strings(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\0', start);
    out.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return out;
}

std::string programName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string WindowManagerProcess::variable(std::string_view name, std::string fallback) const {
  for (const std::string& entry : environment) {
    if (entry.size() > name.size() && entry.compare(0, name.size(), name) == 0 && entry[name.size()] == '=') {
      return entry.substr(name.size() + 1);
    }
  }
  return fallback;
}

std::optional<WindowManagerProcess> WindowManagerProcess::read(uint32_t pid) {
  const std::string folder = "/proc/" + std::to_string(pid);
  std::optional<std::string> commandLine = readWhole(folder + "/cmdline");
  if (!commandLine || commandLine->empty()) return std::nullopt;
  WindowManagerProcess process;
  process.commandLine = strings(*commandLine);
  if (std::optional<std::string> environment = readWhole(folder + "/environ")) {
    process.environment = strings(*environment);
  }
  char cwd[4096];
  const ssize_t length = readlink((folder + "/cwd").c_str(), cwd, sizeof cwd);
  if (length > 0 && size_t(length) < sizeof cwd) process.workingDirectory.assign(cwd, size_t(length));
  return process;
}

std::optional<WindowManagerProcess> WindowManagerProcess::find(std::optional<uint32_t> pid, std::string_view program,
                                                               std::string_view display) {
  if (pid) {
    std::optional<WindowManagerProcess> process = read(*pid);
    if (process && programName(process->commandLine.front()) == program) return process;
  }
  if (program.empty()) return std::nullopt;
  DIR* proc = opendir("/proc");
  if (!proc) return std::nullopt;
  std::optional<WindowManagerProcess> first;
  std::optional<WindowManagerProcess> onDisplay;
  while (dirent* entry = readdir(proc)) {
    const std::string name = entry->d_name;
    if (name.empty() || !std::all_of(name.begin(), name.end(), [](unsigned char c) { return std::isdigit(c); })) continue;
    std::optional<std::string> comm = readWhole("/proc/" + name + "/comm");
    if (!comm || comm->substr(0, comm->find('\n')) != program) continue;
    std::optional<WindowManagerProcess> process = read(static_cast<uint32_t>(std::strtoul(name.c_str(), nullptr, 10)));
    if (!process || process->environment.empty()) continue;  // another user's: not readable
    if (process->variable("DISPLAY") == display) {
      onDisplay = std::move(process);
      break;
    }
    if (!first) first = std::move(process);
  }
  closedir(proc);
  return onDisplay ? onDisplay : first;
}

}  // namespace quorvel
