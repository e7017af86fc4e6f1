#include "platform/AXSubrole.h"

#include <array>
#include <utility>

#include "platform/AXNames.h"

namespace quorvel {

namespace {

constexpr std::array<std::pair<AXSubrole, const char*>, 6> kNames = {{
    {AXSubrole::standardWindow, AXNames::kStandardWindowSubrole},
    {AXSubrole::dialog, AXNames::kDialogSubrole},
    {AXSubrole::documentWindow, AXNames::kDocumentWindowSubrole},
    {AXSubrole::systemDialog, AXNames::kSystemDialogSubrole},
    {AXSubrole::floatingWindow, AXNames::kFloatingWindowSubrole},
    {AXSubrole::systemFloatingWindow, AXNames::kSystemFloatingWindowSubrole},
}};

}  // namespace

AXSubrole AXSubroles::parse(std::string_view text) {
  for (const auto& [subrole, name] : kNames) {
    if (text == name) return subrole;
  }
  return AXSubrole::other;
}

const char* AXSubroles::name(AXSubrole subrole) {
  for (const auto& [known, name] : kNames) {
    if (known == subrole) return name;
  }
  return "";
}

bool AXSubroles::isStandard(AXSubrole subrole) {
  return subrole == AXSubrole::standardWindow || subrole == AXSubrole::dialog || subrole == AXSubrole::documentWindow;
}

bool AXSubroles::isFloating(AXSubrole subrole) {
  return subrole == AXSubrole::systemDialog || subrole == AXSubrole::floatingWindow ||
         subrole == AXSubrole::systemFloatingWindow;
}

}  // namespace quorvel
