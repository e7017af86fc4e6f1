#pragma once

#include <functional>
#include <optional>
#include <string>

#include "app/LoginItem.h"

namespace quorvel {

// The "Open at login" toggle's logic: one call to the login item per change the user makes. When
// the login item refuses, the toggle shows the state the item is really in, with the item's
// sentence; setting the toggle to that state is not a change of the user's and asks nothing.
class LoginSwitch {
 public:
  using SetEnabled = std::function<LoginItem::Result(bool wanted)>;

  LoginSwitch(bool enabled, SetEnabled setEnabled) : enabled_(enabled), setEnabled_(std::move(setEnabled)) {}

  // The user turned the toggle to `wanted`.
  void userChanged(bool wanted) {
    if (wanted == enabled_) return;
    const LoginItem::Result result = setEnabled_ ? setEnabled_(wanted) : LoginItem::Result{!wanted, std::nullopt};
    enabled_ = result.enabled;
    message_ = result.message;
  }

  bool enabled() const { return enabled_; }
  // The login item's sentence after a refusal; none after a success.
  const std::optional<std::string>& message() const { return message_; }

 private:
  bool enabled_;
  std::optional<std::string> message_;
  SetEnabled setEnabled_;
};

}  // namespace quorvel
