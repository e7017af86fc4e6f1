#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/KeyEventSource.h"

namespace quorvel {

// A simulated global key stream. A test types on it from whatever thread stands for the tap's
// thread; each event goes straight to the installed handler on that thread, and what the handler
// delivers is recorded as what the focused application received. It sees every key, as a tap on
// the whole event stream does, and records the interests it was given.
//
// Thread-safe: typing may happen on any thread while the main thread installs or changes interests.
class SimKeyEventSource final : public KeyEventSource {
 public:
  void setInterest(std::vector<KeyInterest> keys) override;
  bool install(Handler handler) override;
  void enable() override;
  void setOwnershipHandler(OwnershipHandler handler) override;
  void askForRefusedKeys() override;

  // The next installs are refused (as without permission, or with a key held elsewhere) while set.
  void setRefusing(bool refusing);
  // A key-down; answers what the handler decided (delivered when nothing is installed).
  KeyVerdict keyDown(int64_t keyCode, uint64_t flags);
  // Another program takes `key` (held false) or lets the source have it (true): the ownership
  // handler hears it on the calling thread.
  void reportOwnership(const KeyInterest& key, bool held);
  // Another program holds `key` (true) or not (false), as heldByAnotherProgram answers it.
  void setHeldByAnotherProgram(const KeyInterest& key, bool held);
  bool heldByAnotherProgram(const KeyInterest& key) override;
  // The modifiers held change to `flags`.
  void flagsChanged(uint64_t flags);
  // The system turns the tap off: the handler sees the event; true once the handler turned it back on.
  bool disable(KeyEvent::Type why);

  bool isInstalled() const;
  bool isEnabled() const;
  int installAttempts() const;
  int enableCount() const;
  std::vector<KeyInterest> interest() const;
  // How many times the interests were set.
  int interestUpdates() const;
  // How many times the refused keys were asked for again.
  int asks() const;
  // The key-downs the focused application received, in order.
  std::vector<KeyEvent> delivered() const;

 private:
  KeyVerdict send(const KeyEvent& event);

  mutable std::mutex mutex_;
  Handler handler_;
  OwnershipHandler ownership_;
  bool refusing_ = false;
  bool enabled_ = false;
  int installAttempts_ = 0;
  int enableCount_ = 0;
  int interestUpdates_ = 0;
  int asks_ = 0;
  std::vector<KeyInterest> interest_;
  std::vector<KeyEvent> delivered_;
  std::vector<KeyInterest> heldByOthers_;
};

}  // namespace quorvel
