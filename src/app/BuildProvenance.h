#pragma once

#include <functional>
#include <optional>
#include <string>

namespace quorvel {

// Where this build comes from, told by the signature it carries: a released build (signed with the
// maker's release certificate), a build signed with some other certificate, or an unsigned one.
// Builds that are not released show a short version text (in the overlay's corner badge and the
// settings window's About pane).
//
// A Linux build carries no signature of its own, so it reads as unsigned; its version is the
// project's, and its build number the one the build was given (0 when built by hand).
class BuildProvenance {
 public:
  enum class Kind { released, local, unsignedBuild };

  // Reads the common name of the certificate the running program is signed with; none when it
  // carries no signature or no certificate.
  using SignatureReader = std::function<std::optional<std::string>()>;

  // The kind of this process's build, worked out once on first use.
  static Kind current();
  // The version text of this build; none for a released build.
  static std::optional<std::string> description();

  // A certificate named "Developer ID Application:…" is a release; any other a local build; none
  // an unsigned one.
  static Kind detect(const SignatureReader& read);
  // "<label> build · <version> (<build>)", or "… · built by hand" for build number "0"; a missing
  // version or build number reads "?".
  static std::optional<std::string> describe(Kind kind, const std::optional<std::string>& shortVersion,
                                             const std::optional<std::string>& buildNumber);
};

}  // namespace quorvel
