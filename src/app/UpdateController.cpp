#include "app/UpdateController.h"

namespace quorvel {

void UpdateController::start() {
  logger_.notice("No update checks: the package manager updates Quorvel.");
}

}  // namespace quorvel
