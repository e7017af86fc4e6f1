#include "program/SettingsWindowSupport.h"

#include <algorithm>
#include <set>

#include "platform/Workspace.h"
#include "platform/x11/X11Connection.h"
#include "platform/x11/X11KeyCodes.h"
#include "platform/x11/X11Platform.h"
#include "platform/x11/X11Window.h"
#include "platform/x11/X11Workspace.h"
#include "platform/x11/XkbKeyboardLayout.h"

namespace quorvel {

SettingsWindowSupport::SettingsWindowSupport(X11Platform& platform)
    : platform_(platform),
      layout_(XkbKeyboardLayout::open(platform.connection().xcb())),
      login_(LoginItem::forCurrentUser()),
      desktop_(DesktopDirs::fromEnvironment()),
      desktopSettings_(platform.connection()) {
  names_ = layout_ ? std::make_unique<KeyNames>(*layout_) : std::make_unique<KeyNames>(usLayout_);
}

SettingsWindowSupport::~SettingsWindowSupport() = default;

std::vector<AppChoice> SettingsWindowSupport::applications() {
  std::vector<AppChoice> out;
  std::set<std::string> seen;
  for (const DesktopEntryIcons::Application& app : desktop_.applications()) {
    std::optional<std::string> id = X11Window::bundleIdentifierFor(app.windowClass);
    if (!id || !seen.insert(*id).second) continue;
    out.push_back({*id, app.name, app.icon.empty() ? std::string() : desktop_.findIcon(app.icon).value_or("")});
  }
  // Running applications without an entry of their own (Quorvel itself left out).
  const int32_t own = platform_.workspace().ownPid();
  for (const RunningApplication& app : platform_.workspace().runningApplications()) {
    if (app.pid == own || !app.bundleIdentifier || !seen.insert(*app.bundleIdentifier).second) continue;
    out.push_back({*app.bundleIdentifier, app.localizedName.value_or(*app.bundleIdentifier), {}});
  }
  std::stable_sort(out.begin(), out.end(), [](const AppChoice& a, const AppChoice& b) { return a.name < b.name; });
  return out;
}

SettingsWindowServices SettingsWindowSupport::services(AppSettings& settings, Executor& main, ChromeWindowCensus& census,
                                                       std::function<void(bool)> suspendShortcuts) {
  SettingsWindowServices services{settings, main, census, *names_};
  services.setLoginItem = [this](bool wanted) { return login_.setEnabled(wanted); };
  services.loginItemEnabled = [this] { return login_.isEnabled(); };
  services.suspendShortcuts = std::move(suspendShortcuts);
  services.virtualKeyCode = [](uint32_t nativeKeyCode) -> std::optional<int64_t> {
    if (nativeKeyCode > 255) return std::nullopt;
    return X11KeyCodes::virtualKeyCode(static_cast<uint8_t>(nativeKeyCode));
  };
  services.applications = [this] { return applications(); };
  services.desktopAnimations = [this] { return desktopSettings_.animationsEnabled(); };
  stills_ = std::make_unique<DesktopStillMaker>(platform_, main);
  services.desktopStill = [this](std::function<void(std::optional<DesktopStill>)> done) { stills_->make(std::move(done)); };
  // The switcher blurs the desktop's still itself, at the strength set.
  services.blurAdjustable = true;
  services.beforeShow = [this] {
    if (layout_) layout_->reload();
  };
  return services;
}

}  // namespace quorvel
