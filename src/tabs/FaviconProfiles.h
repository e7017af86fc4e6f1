#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quorvel {

// Where the browsers keep their profiles. Chromium-family browsers list them in "Local State";
// Gecko-family browsers in "profiles.ini". No state; every failure is an empty result.
// Those files are read only when they are regular files of at most kMaxFileSize bytes, and opening
// them never waits. A profile path they name relative to the data folder is refused when, with "."
// and ".." resolved, it leads out of that folder (a refused path takes none of the 8 places); an
// absolute Gecko path (IsRelative=0) is the user's own choice and is used as it stands.
class FaviconProfiles {
 public:
  // One "[name]" block of an INI file with its key-value pairs.
  struct INISection {
    std::string name;
    std::unordered_map<std::string, std::string> values;
  };

  static constexpr size_t kMaxProfiles = 8;
  // Real "Local State" files take some hundred kilobytes, profiles.ini files a few hundred bytes.
  static constexpr size_t kMaxFileSize = size_t{4} << 20;

  // The profile folders of a Chromium-family data folder, "Default" first, at most 8.
  static std::vector<std::filesystem::path> chromiumProfiles(const std::filesystem::path& dataFolder);
  // The profile folders of a Gecko-family data folder, the default profile first, at most 8.
  static std::vector<std::filesystem::path> geckoProfiles(const std::filesystem::path& dataFolder);
  // The sections of an INI text, in file order.
  static std::vector<INISection> parseINI(std::string_view text);
};

}  // namespace quorvel
