#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

// What on an X11 desktop is known to answer three- and four-finger touchpad swipes itself, so that
// a summon swipe would also do that program's deed: GNOME Shell (its workspace and overview
// swipes), and the gesture programs Touchégg (which Cinnamon and others start), libinput-gestures
// and Fusuma. Each can be set to take either finger count in any direction, so any one of them
// counts as taking the summon swipe. Other window managers take no swipe of their own.
class SwipeTakers {
 public:
  // The names of the takers among the running window manager (its _NET_WM_NAME) and the user's
  // processes (their short names, as /proc/<pid>/comm gives them); empty when none is known here.
  static std::vector<std::string> find(std::string_view windowManagerName, const std::vector<std::string>& processNames);

  // The short names of the processes of this user, read from `proc` (the proc file system).
  static std::vector<std::string> userProcessNames(const std::filesystem::path& proc = "/proc");
};

}  // namespace quorvel
