#include "platform/SignalWatch.h"

#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace quorvel {

namespace {

// What the handler writes: one record, far below PIPE_BUF, so each write is whole.
struct Record {
  int signal;
  int code;
  pid_t sender;
  char senderName[16];  // a command name has at most 15 bytes
};

std::atomic<int> writeEnd{-1};
struct sigaction previous[NSIG];

// The command name of process `pid` into `name` (NUL-terminated), with async-signal-safe calls only.
void readCommandName(pid_t pid, char (&name)[16]) {
  name[0] = '\0';
  if (pid <= 0) return;
  char path[32] = "/proc/";
  char digits[16];
  int count = 0;
  for (unsigned long rest = static_cast<unsigned long>(pid); rest > 0 && count < 15; rest /= 10) {
    digits[count++] = static_cast<char>('0' + rest % 10);
  }
  size_t at = 6;
  while (count > 0) path[at++] = digits[--count];
  for (const char* tail = "/comm"; *tail;) path[at++] = *tail++;
  path[at] = '\0';
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  const ssize_t got = ::read(fd, name, sizeof name - 1);
  ::close(fd);
  size_t length = got > 0 ? static_cast<size_t>(got) : 0;
  while (length > 0 && (name[length - 1] == '\n' || name[length - 1] == '\0')) --length;
  name[length] = '\0';
}

void onSignal(int signal, siginfo_t* info, void*) {
  const int savedErrno = errno;
  Record record{};
  record.signal = signal;
  record.code = info ? info->si_code : 0;
  // si_pid holds a sender only for a signal a process sent.
  record.sender = info && info->si_code <= 0 ? info->si_pid : 0;
  readCommandName(record.sender, record.senderName);
  if (const int fd = writeEnd.load(); fd >= 0) {
    [[maybe_unused]] const ssize_t written = ::write(fd, &record, sizeof record);
  }
  errno = savedErrno;
}

}  // namespace

std::unique_ptr<SignalWatch> SignalWatch::install(std::initializer_list<int> watched) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return nullptr;
  int none = -1;
  if (!writeEnd.compare_exchange_strong(none, ends[1])) {
    ::close(ends[0]);
    ::close(ends[1]);
    return nullptr;
  }
  struct sigaction action {};
  action.sa_sigaction = onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_SIGINFO | SA_RESTART;
  for (int signal : watched) ::sigaction(signal, &action, &previous[signal]);
  return std::unique_ptr<SignalWatch>(new SignalWatch(ends[0], watched));
}

SignalWatch::SignalWatch(int readEnd, std::vector<int> watched) : readEnd_(readEnd), watched_(std::move(watched)) {}

SignalWatch::~SignalWatch() {
  for (int signal : watched_) ::sigaction(signal, &previous[signal], nullptr);
  const int fd = writeEnd.exchange(-1);
  ::close(fd);
  ::close(readEnd_);
}

std::vector<SignalWatch::Caught> SignalWatch::take() {
  std::vector<Caught> caught;
  Record records[8];
  for (;;) {
    const ssize_t got = ::read(readEnd_, records, sizeof records);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    for (size_t i = 0; i < static_cast<size_t>(got) / sizeof(Record); ++i) {
      caught.push_back({records[i].signal, records[i].code, records[i].sender, records[i].senderName});
    }
  }
  return caught;
}

std::string SignalWatch::describe(const Caught& caught) {
  const char* abbreviation = ::sigabbrev_np(caught.signal);
  std::string text = abbreviation ? std::string("SIG") + abbreviation : "signal " + std::to_string(caught.signal);
  if (caught.sender > 0) {
    text += " from process " + std::to_string(caught.sender);
    if (!caught.senderName.empty()) text += " (" + caught.senderName + ")";
  } else if (caught.code == SI_KERNEL) {
    text += " from the kernel";
    if (caught.signal == SIGHUP) text += " (the terminal it ran in closed)";
  }
  return text;
}

}  // namespace quorvel
