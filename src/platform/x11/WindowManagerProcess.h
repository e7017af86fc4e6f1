#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

// The running window manager's process as /proc shows it: the command line it was started with,
// the folder it was started in and its own environment, which say which configuration it reads.
struct WindowManagerProcess {
  std::vector<std::string> commandLine;
  std::string workingDirectory;
  std::vector<std::string> environment;  // "NAME=value"

  // The value of `name` in its environment, or `fallback` when it holds none.
  std::string variable(std::string_view name, std::string fallback = {}) const;

  // The process `pid` (the manager's own word, _NET_WM_PID) when it reads as one; else the first
  // process of this user whose program is `program` ("openbox", "i3", "icewm"), one on this
  // `display` before any other. Absent when neither is found or readable.
  static std::optional<WindowManagerProcess> find(std::optional<uint32_t> pid, std::string_view program,
                                                  std::string_view display);
  // The process `pid`, absent when it cannot be read.
  static std::optional<WindowManagerProcess> read(uint32_t pid);
};

}  // namespace quorvel
