#pragma once

// Files and folders for the settings store's tests: a fresh folder under the test's temporary
// folder that goes with everything in it, and whole-file reads and writes.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace quorvel::storetest {

struct Folder {
  // `name` starts the folder's name; `mode`, when given, is set on it.
  explicit Folder(const std::string& name, mode_t mode = 0) {
    std::string pattern = (std::filesystem::path(::testing::TempDir()) / (name + "-XXXXXX")).string();
    EXPECT_NE(::mkdtemp(pattern.data()), nullptr);
    path = pattern;
    if (mode != 0) ::chmod(path.c_str(), mode);
  }
  ~Folder() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;
  std::filesystem::path path;
};

inline std::string readBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Written in place, as a program that truncates and writes does.
inline void writeBytes(const std::filesystem::path& file, const std::string& bytes) {
  std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

}  // namespace quorvel::storetest
