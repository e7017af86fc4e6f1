#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace quorvel {

// One object on the accessibility bus: the unique bus name of the application's connection
// (":1.42") and the object's path in it. A plain value; equal nodes are the same object for as long
// as the application's connection lives (bus names are never reused within one bus's life).
struct AtspiNode {
  std::string bus;
  std::string path;

  bool operator==(const AtspiNode&) const = default;
  bool empty() const { return bus.empty() || path.empty(); }
};

struct AtspiNodeHash {
  size_t operator()(const AtspiNode& n) const {
    return std::hash<std::string>{}(n.bus) * 31 ^ std::hash<std::string>{}(n.path);
  }
};

}  // namespace quorvel
