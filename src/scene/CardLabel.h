#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "windows/Hasher.h"
#include "windows/WindowState.h"

namespace quorvel {

// The key of a card's label plate: the application name, where the window is (its state and, for a
// window on another desktop, the desktop number), whether it is private, and for a browser-tab card
// the tab's title. The scene's snapshots carry it and the label cache draws it. Equal labels share
// one plate; an absent optional equals only an absent one.
struct CardLabel {
  std::string appName;
  WindowState state = WindowState::onCurrentSpace;
  std::optional<int> spaceNumber;
  bool isPrivate = false;
  std::optional<std::string> tabTitle;

  bool operator==(const CardLabel&) const = default;
  // Over all five fields in order (an optional feeds 1 and its value, or a lone 0).
  size_t hashValue() const {
    Hasher hasher;
    hasher.combine(std::string_view(appName));
    hasher.combine(static_cast<uint64_t>(state));
    hasher.combine(spaceNumber.has_value());
    if (spaceNumber) hasher.combine(static_cast<int64_t>(*spaceNumber));
    hasher.combine(isPrivate);
    hasher.combine(tabTitle.has_value());
    if (tabTitle) hasher.combine(std::string_view(*tabTitle));
    return static_cast<size_t>(hasher.finalize());
  }
};

}  // namespace quorvel

template <>
struct std::hash<quorvel::CardLabel> {
  size_t operator()(const quorvel::CardLabel& label) const { return label.hashValue(); }
};
