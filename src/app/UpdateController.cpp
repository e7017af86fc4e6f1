#include "app/UpdateController.h"

namespace quorvel {

void UpdateController::start() {
  if (debugBuild_) {
    logger_.notice("No appcast URL, so no update checks. This is expected in a Debug build.");
  } else {
    logger_.notice("Updates come from the package manager; Quorvel checks for none itself.");
  }
}

}  // namespace quorvel
