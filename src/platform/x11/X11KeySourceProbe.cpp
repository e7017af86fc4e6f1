#include <algorithm>
#include <cstdlib>

#include "platform/x11/X11KeySource.h"

namespace quorvel {

bool X11KeySource::heldByAnotherProgram(const KeyInterest& asked) {
  const KeyInterest key{asked.keyCode, asked.requiredFlags & KeyFlags::shortcutModifiers};
  bool held = false;
  {
    const ForeignReads reads(*this);
    std::lock_guard lock(mutex_);
    if (grabbed_.count({key.keyCode, key.requiredFlags})) return false;
    if (std::find(refused_.begin(), refused_.end(), key) != refused_.end()) return true;
    if (!map_ || xcb_connection_has_error(connection_)) return false;
    // The server answers a grab of a combination that another client grabbed with BadAccess. A press
    // in the moment the grab stands is frozen and answered like any other the handler does not take.
    // Let go of in the same flush, and so before the answer: a client that grabs the combination
    // next finds it free.
    held = !grabLocked(key, true);
  }
  return held;
}

}  // namespace quorvel
