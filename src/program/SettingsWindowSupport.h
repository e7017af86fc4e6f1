#pragma once

#include <functional>
#include <memory>

#include "app/LoginItem.h"
#include "program/DesktopStillMaker.h"
#include "platform/UsKeyboardLayout.h"
#include "platform/x11/DesktopEntryIcons.h"
#include "platform/x11/X11DesktopSettings.h"
#include "settings/KeyNames.h"
#include "settings_ui/SettingsWindowServices.h"

namespace quorvel {

class X11Platform;
class XkbKeyboardLayout;

// What the settings window takes from the X session, kept for the program's run: key names from
// the user's keyboard layout (a US layout when the server's cannot be read), the login item, the
// desktop's application entries and the running applications for the application lists, and the
// X key codes of key events, and stills of the desktop without Quorvel's windows. Main thread only.
class SettingsWindowSupport {
 public:
  explicit SettingsWindowSupport(X11Platform& platform);
  ~SettingsWindowSupport();

  // `suspendShortcuts` pauses the global shortcut while a shortcut is recorded.
  SettingsWindowServices services(AppSettings& settings, Executor& main, ChromeWindowCensus& census,
                                  std::function<void(bool)> suspendShortcuts);

 private:
  std::vector<AppChoice> applications();

  X11Platform& platform_;
  std::unique_ptr<DesktopStillMaker> stills_;
  std::unique_ptr<XkbKeyboardLayout> layout_;
  UsKeyboardLayout usLayout_;
  std::unique_ptr<KeyNames> names_;
  LoginItem login_;
  DesktopEntryIcons desktop_;
  X11DesktopSettings desktopSettings_;
};

}  // namespace quorvel
