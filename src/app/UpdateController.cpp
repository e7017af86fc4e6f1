#include "app/UpdateController.h"

namespace quorvel {

void UpdateController::start() {
  logger_.notice("No appcast URL, so no update checks. This is expected in a Debug build.");
}

}  // namespace quorvel
