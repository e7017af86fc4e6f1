#pragma once

#include <string>
#include <string_view>

namespace quorvel {

// Thread names as Linux keeps them (at most 15 bytes). A longer label is shortened from the left,
// one dotted part at a time ("net.tarmeq.quorvel.render" becomes "quorvel.render"), so that the
// labels of one family stay apart instead of all being cut to the same first 15 bytes; a last part
// that is still too long keeps its head and tail around a "~".
class ThreadName {
 public:
  static constexpr size_t kLimit = 15;
  static std::string shortened(std::string_view label);
  // Names the calling thread.
  static void applyToCurrentThread(std::string_view label);
};

}  // namespace quorvel
