#include "settings/AppInfo.h"

namespace quorvel {

std::string AppInfo::versionString() {
#ifdef QUORVEL_VERSION
  return QUORVEL_VERSION;
#else
  return "unknown";
#endif
}

}  // namespace quorvel
