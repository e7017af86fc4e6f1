#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace quorvel {
namespace {

// The program's own command line, without any display: every answer comes before one is needed.
TEST(ProgramCommandLine, AnswersWithoutADisplay) {
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / ("quorvel-cli-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  auto read = [](const std::filesystem::path& path) {
    std::ostringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
  };
  const struct {
    const char* arguments;
    int status;
    const char* out;  // how standard output starts
    const char* err;  // how standard error starts
  } cases[] = {
      {"--help", 0, "Usage: quorvel", ""},
      {"--version", 0, "quorvel 0.", ""},
      {"--no-such-option", 2, "", "quorvel: unknown option '--no-such-option'\n\nUsage: quorvel"},
      {"", 1, "", "quorvel: Quorvel runs in an X11 session, and there is none here"},
  };
  for (const auto& c : cases) {
    const std::string command = std::string("env -u DISPLAY ") + QUORVEL_PROGRAM + " " + c.arguments + " >" +
                                (folder / "out").string() + " 2>" + (folder / "err").string();
    const int result = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(result)) << c.arguments;
    EXPECT_EQ(WEXITSTATUS(result), c.status) << c.arguments;
    const std::string out = read(folder / "out"), err = read(folder / "err");
    EXPECT_TRUE(out.starts_with(c.out) && (c.out[0] || out.empty())) << c.arguments << ": " << out;
    EXPECT_TRUE(err.starts_with(c.err) && (c.err[0] || err.empty())) << c.arguments << ": " << err;
  }
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace quorvel
