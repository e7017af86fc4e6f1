#pragma once

namespace quorvel {

// The names of the Accessibility attributes, actions, notifications, roles and subroles the
// program reads, performs or watches, as the platform spells them. Code outside the backends
// names them through these constants only; subroles are read into AXSubrole.
struct AXNames {
  // Attributes of applications.
  static constexpr const char* kWindows = "AXWindows";
  static constexpr const char* kMainWindow = "AXMainWindow";
  static constexpr const char* kFocusedWindow = "AXFocusedWindow";
  static constexpr const char* kMenuBar = "AXMenuBar";
  static constexpr const char* kManualAccessibility = "AXManualAccessibility";
  static constexpr const char* kEnhancedUserInterface = "AXEnhancedUserInterface";
  // Attributes of windows and other elements.
  static constexpr const char* kRole = "AXRole";
  static constexpr const char* kSubrole = "AXSubrole";
  static constexpr const char* kTitle = "AXTitle";
  static constexpr const char* kDescription = "AXDescription";
  static constexpr const char* kIdentifier = "AXIdentifier";
  static constexpr const char* kValue = "AXValue";
  static constexpr const char* kSelected = "AXSelected";
  static constexpr const char* kMinimized = "AXMinimized";
  static constexpr const char* kPosition = "AXPosition";
  static constexpr const char* kSize = "AXSize";
  static constexpr const char* kChildren = "AXChildren";
  static constexpr const char* kTabs = "AXTabs";
  // Actions.
  static constexpr const char* kPress = "AXPress";
  static constexpr const char* kRaise = "AXRaise";
  // Notifications.
  static constexpr const char* kFocusedWindowChanged = "AXFocusedWindowChanged";
  // Roles of tab-strip containers.
  static constexpr const char* kTabGroupRole = "AXTabGroup";
  static constexpr const char* kOpaqueProviderGroupRole = "AXOpaqueProviderGroup";
  // Subroles (read through AXSubrole; named here for the backends and the tab strips).
  static constexpr const char* kStandardWindowSubrole = "AXStandardWindow";
  static constexpr const char* kDialogSubrole = "AXDialog";
  static constexpr const char* kDocumentWindowSubrole = "AXDocumentWindow";
  static constexpr const char* kSystemDialogSubrole = "AXSystemDialog";
  static constexpr const char* kFloatingWindowSubrole = "AXFloatingWindow";
  static constexpr const char* kSystemFloatingWindowSubrole = "AXSystemFloatingWindow";
  static constexpr const char* kTabButtonSubrole = "AXTabButton";
};

}  // namespace quorvel
