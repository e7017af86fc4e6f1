#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

// The key bindings a window manager keeps in GSettings, read as they stand now: every key of
// `schema` that holds accelerators, a list of them ("as", Metacity's) or one ("s", Marco's).
// Nothing when the schema is not installed.
//
// Threads: any; each call reads the settings backend afresh.
struct GsettingsKeybindings {
  struct Key {
    std::string name;
    std::vector<std::string> accelerators;
    bool isList = true;
  };
  static std::vector<Key> read(std::string_view schema);
};

}  // namespace quorvel
