#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

// The program's command line. Quorvel takes no arguments to run; "--help" (or "-h") prints how to
// use it and "--version" (or "-V") its version, on standard output, and exit with status 0; any
// other argument prints what was wrong and the usage on standard error and exits with status 2.
// All of it is answered before the program looks for a display.
class CommandLine {
 public:
  enum class Request { run, help, version, mistake };
  struct Parsed {
    Request request = Request::run;
    std::string mistake;  // the argument that was not understood
  };

  // `arguments` without the program's own name.
  static Parsed parse(const std::vector<std::string_view>& arguments);
  static std::string usage();
  static std::string versionText();

  // Answers a request that is not to run on `out` or `err` and gives the exit status; none when the
  // program should run.
  static std::optional<int> answer(int argc, const char* const* argv, std::FILE* out, std::FILE* err);
};

}  // namespace quorvel
