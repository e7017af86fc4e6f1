#pragma once

#include <string_view>

namespace quorvel {

// A window's "AXSubrole", read once from its text. Subroles the program has no rule for read as
// `other`; a window whose subrole cannot be read has none (an empty optional where it is held).
enum class AXSubrole {
  standardWindow,
  dialog,
  documentWindow,
  systemDialog,
  floatingWindow,
  systemFloatingWindow,
  other,
};

class AXSubroles {
 public:
  static AXSubrole parse(std::string_view text);
  // The platform's name of a subrole; "" for `other`.
  static const char* name(AXSubrole subrole);
  // A window an application opens as a document or a dialog of its own.
  static bool isStandard(AXSubrole subrole);
  // A floating panel or a system dialog.
  static bool isFloating(AXSubrole subrole);
};

}  // namespace quorvel
