#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct xcb_connection_t;

namespace quorvel {

// One running program per X display: the program owns the selection "_QUORVEL_INSTANCE_S<screen>"
// through a window of its own until the lock is destroyed, which lets go of it and waits until the
// server has (the X server also lets go of it when the process ends, however it ends). The owner's
// existence is checked and the selection taken under a server grab, so two programs starting at
// once cannot both win.
//
// A second program finds the selection owned and asks the owner to reopen (a client message
// "_QUORVEL_REOPEN" to its window); the owner's event loop watches fd() and calls
// takeReopenRequests() when it is readable.
//
// Threads: one thread at a time (the main thread).
class X11InstanceLock {
 public:
  enum class Outcome { acquired, heldElsewhere, noDisplay };

  ~X11InstanceLock();
  X11InstanceLock(const X11InstanceLock&) = delete;
  X11InstanceLock& operator=(const X11InstanceLock&) = delete;

  // Takes the selection on `displayName` (DISPLAY when empty). The lock is returned only with
  // Outcome::acquired.
  static std::unique_ptr<X11InstanceLock> acquire(const std::string& displayName, Outcome& outcome);
  // Asks the program holding the selection to reopen; false when none holds it.
  static bool askHolderToReopen(const std::string& displayName);

  // The connection's file descriptor, readable when an event arrived.
  int fd() const;
  // Reads every pending event; the number of reopen requests among them.
  int takeReopenRequests();

 private:
  X11InstanceLock(xcb_connection_t* connection, uint32_t window, uint32_t selection, uint32_t reopenAtom);

  xcb_connection_t* connection_;
  uint32_t window_;
  uint32_t selection_;
  uint32_t reopenAtom_;
};

}  // namespace quorvel
