#pragma once

#include <string_view>

namespace quorvel {

// Where a card's window is.
enum class WindowState {
  onCurrentSpace,  // a normal window on a desktop that some display shows now
  onOtherSpace,    // a normal window whose desktops are all hidden at present
  minimized,
  hiddenApp,       // a window of a hidden application
  windowlessApp,   // a running regular application without any window (the card is the application)
  browserTab,      // one tab of a browser window
};

constexpr std::string_view windowStateName(WindowState state) {
  switch (state) {
    case WindowState::onCurrentSpace: return "onCurrentSpace";
    case WindowState::onOtherSpace: return "onOtherSpace";
    case WindowState::minimized: return "minimized";
    case WindowState::hiddenApp: return "hiddenApp";
    case WindowState::windowlessApp: return "windowlessApp";
    case WindowState::browserTab: return "browserTab";
  }
  return "onCurrentSpace";
}

}  // namespace quorvel
