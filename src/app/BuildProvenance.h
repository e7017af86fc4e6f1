#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace quorvel {

// Where this build comes from: a released build, a build made the way a release is but run where it
// was built, or a developer's build. Builds that are not released show a short version text (in the
// overlay's corner badge and the settings window's About pane).
//
// A Linux executable carries no signature that could tell; what stands in for one is how it was
// made and where it runs: a release build (the release preset) installed with `cmake --install` is
// a release; the same build run from its build folder is a local build; any other build (debug,
// sanitizers) is unsigned. The version is the project's, and the build number the one the build
// was given (0 when built by hand).
class BuildProvenance {
 public:
  enum class Kind { released, local, unsignedBuild };

  struct Origin {
    bool releaseBuild = false;  // made with optimisations for users, as the release preset does
    bool installed = false;     // running from outside the folder it was built in
  };

  // The kind of this process's build, worked out once on first use.
  static Kind current();
  // The version text of this build; none for a released build.
  static std::optional<std::string> description();

  static Kind detect(Origin origin);
  // Whether `executable` lies outside `buildFolder` (both as given; neither needs to exist).
  static bool isInstalled(const std::filesystem::path& executable, const std::filesystem::path& buildFolder);
  // "<label> build · <version> (<build>)", or "… · built by hand" for build number "0"; a missing
  // version or build number reads "?".
  static std::optional<std::string> describe(Kind kind, const std::optional<std::string>& shortVersion,
                                             const std::optional<std::string>& buildNumber);
};

}  // namespace quorvel
