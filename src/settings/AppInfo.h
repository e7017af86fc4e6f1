#pragma once

#include <string>

namespace quorvel {

// Facts about this build of the application.
class AppInfo {
 public:
  // The short version string ("1.4.2"), or "unknown" when the build does not carry one.
  static std::string versionString();
};

}  // namespace quorvel
