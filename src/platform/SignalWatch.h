#pragma once

#include <sys/types.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace quorvel {

// The signals that end the program, caught so that it can end in order and say why. The handler
// does only what is safe in one: it reads the sending process's command name from /proc (open,
// read and close are async-signal-safe, and the sender may be gone by the time anyone else could
// look) and writes one record into a pipe, which the event loop reads through fd().
//
// One watch at a time per process; the previous handlers come back when it goes.
class SignalWatch {
 public:
  struct Caught {
    int signal = 0;
    int code = 0;             // how it was sent (si_code)
    pid_t sender = 0;         // the sending process, when a process sent it
    std::string senderName;   // its command name; empty when it could not be read
  };

  // None when the pipe cannot be made or another watch is installed.
  static std::unique_ptr<SignalWatch> install(std::initializer_list<int> watched);
  ~SignalWatch();
  SignalWatch(const SignalWatch&) = delete;
  SignalWatch& operator=(const SignalWatch&) = delete;

  // Readable once a signal has come.
  int fd() const { return readEnd_; }
  // The signals that came since the last call, in the order they came.
  std::vector<Caught> take();

  // "SIGTERM from process 1234 (kill)", "SIGHUP from the kernel (the terminal it ran in closed)".
  static std::string describe(const Caught& caught);

 private:
  SignalWatch(int readEnd, std::vector<int> watched);
  int readEnd_;
  std::vector<int> watched_;
};

}  // namespace quorvel
