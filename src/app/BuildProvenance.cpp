#include "app/BuildProvenance.h"

#include "settings/AppInfo.h"

namespace quorvel {

BuildProvenance::Kind BuildProvenance::detect(const SignatureReader& read) {
  std::optional<std::string> commonName = read ? read() : std::nullopt;
  if (!commonName) return Kind::unsignedBuild;
  return commonName->starts_with("Developer ID Application:") ? Kind::released : Kind::local;
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
  // No signature is carried by a Linux executable.
  static const Kind kind = detect([] { return std::optional<std::string>(); });
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
