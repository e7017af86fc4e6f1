#include "base/ThreadName.h"

#include <pthread.h>

namespace quorvel {

std::string ThreadName::shortened(std::string_view label) {
  while (label.size() > kLimit) {
    const size_t dot = label.find('.');
    if (dot == std::string_view::npos || dot + 1 >= label.size()) break;
    label.remove_prefix(dot + 1);
  }
  if (label.size() <= kLimit) return std::string(label);
  // One long part: its head and its tail, which usually tell it apart.
  const size_t head = (kLimit - 1) / 2, tail = kLimit - 1 - head;
  std::string name(label.substr(0, head));
  name += '~';
  name += label.substr(label.size() - tail);
  return name;
}

void ThreadName::applyToCurrentThread(std::string_view label) {
  pthread_setname_np(pthread_self(), shortened(label).c_str());
}

}  // namespace quorvel
