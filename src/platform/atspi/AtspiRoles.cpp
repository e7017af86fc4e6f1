#include "platform/atspi/AtspiRoles.h"

#include "platform/AXNames.h"

namespace quorvel {

std::string AtspiRoles::axRole(uint32_t role, uint64_t states) {
  switch (role) {
    case kApplication: return "AXApplication";
    case kFrame:
    case kWindow:
    case kDialog: return "AXWindow";
    case kPageTabList: return hasState(states, kStateVisible) ? AXNames::kTabGroupRole : "AXGroup";
    case kPageTab: return "AXRadioButton";
    case kPushButton:
    case kToggleButton: return "AXButton";
    case kMenuBar: return "AXMenuBar";
    case kMenu:
    case kPopupMenu: return "AXMenu";
    case kMenuItem:
    case kCheckMenuItem:
    case kRadioMenuItem: return "AXMenuItem";
    case kToolBar: return "AXToolbar";
    default: return "AXGroup";
  }
}

std::optional<std::string> AtspiRoles::axSubrole(uint32_t role) {
  switch (role) {
    case kPageTab: return std::string(AXNames::kTabButtonSubrole);
    case kFrame:
    case kWindow: return std::string(AXNames::kStandardWindowSubrole);
    case kDialog: return std::string(AXNames::kDialogSubrole);
    default: return std::nullopt;
  }
}

bool AtspiRoles::isWindow(uint32_t role) { return role == kFrame || role == kWindow || role == kDialog; }

}  // namespace quorvel
