#include "app/SwipeTakers.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

namespace quorvel {

std::vector<std::string> SwipeTakers::find(std::string_view windowManagerName,
                                           const std::vector<std::string>& processNames) {
  std::vector<std::string> takers;
  if (windowManagerName == "GNOME Shell") takers.emplace_back("GNOME Shell");
  // Short names are cut at 15 characters ("libinput-gestures" reads "libinput-gestur").
  const struct {
    std::string_view process;
    const char* name;
  } programs[] = {{"touchegg", "Touchégg"}, {"libinput-gestur", "libinput-gestures"}, {"fusuma", "Fusuma"}};
  for (const auto& program : programs) {
    if (std::find(processNames.begin(), processNames.end(), program.process) != processNames.end()) {
      takers.emplace_back(program.name);
    }
  }
  return takers;
}

std::vector<std::string> SwipeTakers::userProcessNames(const std::filesystem::path& proc) {
  std::vector<std::string> names;
  std::error_code error;
  const uid_t user = ::getuid();
  for (const auto& entry : std::filesystem::directory_iterator(proc, error)) {
    const std::string pid = entry.path().filename().string();
    if (pid.empty() || !std::all_of(pid.begin(), pid.end(), [](char c) { return c >= '0' && c <= '9'; })) continue;
    struct stat owner {};
    if (::stat(entry.path().c_str(), &owner) != 0 || owner.st_uid != user) continue;
    std::ifstream comm(entry.path() / "comm");
    std::string name;
    // A process that ended meanwhile gives no name.
    if (std::getline(comm, name) && !name.empty()) names.push_back(std::move(name));
  }
  return names;
}

}  // namespace quorvel
