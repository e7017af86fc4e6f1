#include "app/BuildProvenance.h"

#include "settings/AppInfo.h"

namespace quorvel {

BuildProvenance::Kind BuildProvenance::detect(Origin origin) {
  if (!origin.releaseBuild) return Kind::unsignedBuild;
  return origin.installed ? Kind::released : Kind::local;
}

bool BuildProvenance::isInstalled(const std::filesystem::path& executable, const std::filesystem::path& buildFolder) {
  if (executable.empty() || buildFolder.empty()) return false;
  const std::filesystem::path program = executable.lexically_normal();
  const std::filesystem::path folder = buildFolder.lexically_normal();
  // Inside the folder when the folder's every part begins the program's path.
  auto p = program.begin();
  for (auto f = folder.begin(); f != folder.end(); ++f, ++p) {
    if (f->empty()) continue;  // a trailing separator
    if (p == program.end() || *p != *f) return true;
  }
  return false;
}

std::optional<std::string> BuildProvenance::describe(Kind kind, const std::optional<std::string>& shortVersion,
                                                     const std::optional<std::string>& buildNumber) {
  if (kind == Kind::released) return std::nullopt;
  const std::string label = kind == Kind::local ? "local" : "unsigned";
  const std::string version = shortVersion.value_or("?");
  const std::string build = buildNumber.value_or("?");
  if (build == "0") return label + " build \u00b7 " + version + " \u00b7 built by hand";
  return label + " build \u00b7 " + version + " (" + build + ")";
}

BuildProvenance::Kind BuildProvenance::current() {
  static const Kind kind = [] {
    Origin origin;
#if defined(QUORVEL_RELEASE_BUILD) && defined(QUORVEL_BUILD_FOLDER)
    origin.releaseBuild = true;
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    std::filesystem::path folder = std::filesystem::weakly_canonical(QUORVEL_BUILD_FOLDER, error);
    if (error) folder = QUORVEL_BUILD_FOLDER;
    origin.installed = !program.empty() && isInstalled(program, folder);
#endif
    return detect(origin);
  }();
  return kind;
}

std::optional<std::string> BuildProvenance::description() {
  std::optional<std::string> version;
  if (std::string v = AppInfo::versionString(); v != "unknown") version = v;
#ifdef QUORVEL_BUILD_NUMBER
  std::optional<std::string> build = std::string(QUORVEL_BUILD_NUMBER);
  if (build->empty()) build.reset();
#else
  std::optional<std::string> build;
#endif
  return describe(current(), version, build);
}

}  // namespace quorvel
