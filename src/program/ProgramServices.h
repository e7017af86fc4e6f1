#pragma once

#include <memory>
#include <string>

#include "app/AppServices.h"
#include "base/Subscription.h"
#include "settings/AppSettings.h"
#include "tabs/TabAdapter.h"
#include "windows/ActivatorHooks.h"
#include "windows/ChromeWindowCensus.h"

namespace quorvel {

class X11DesktopSettings;

class AXFunnel;
class BootTimeExecutor;
class CacheChromeTextures;
class SystemWindowActions;
class CapturePictureSource;
class GpuPicturePreparation;
class LiveHero;
class PlatformOverlayDesktop;
class QtOverlayTextMetrics;
class RegistryCardSource;
class WindowCapture;
class Activator;
class ActionBadgeCache;
class CardLabelCache;
class EvdevContactSource;
class FaviconResolver;
class FaviconStore;
class Executor;
class FocusObserver;
class GpuChromeUploader;
class IconCache;
class IconDecoder;
class GpuContext;
class QtRaster;
class Runtime;
class SiteIconUploader;
class StatusBadgeCache;
class TabActivation;
class TabWalker;
class ThumbnailCache;
class WindowRegistry;
class KeyEventSource;
class X11Platform;
class DesktopStillMaker;

// The program's service graph on the X session: every long-lived service, built once in the fixed
// order (the shortcut manager and the trackpad monitor; the window registry with its neighbours;
// the shared GPU context and the picture cache on it; the icon, status-badge, action-badge and
// label caches; the site-icon store and its resolver rooted at the home folder; the activator; the
// overlay), with the registry's tab-card sink holding the resolver. Building starts nothing.
//
// Made and destroyed on the main thread; the runtime, the platform and the settings outlive it.
class ProgramServices final : public AppServices {
 public:
  // `keys`: the global key events of the display; `census`: the program's own open windows.
  ProgramServices(Runtime& runtime, X11Platform& platform, std::string displayName, AppSettings& settings,
                  KeyEventSource& keys, ChromeWindowCensus& census);
  ~ProgramServices() override;

  std::shared_ptr<HotkeyManager> hotkey() override { return hotkey_; }
  std::shared_ptr<TrackpadGestureMonitor> gestures() override { return gestures_; }
  std::shared_ptr<SwitcherOverlay> overlay() override { return overlay_; }

  void startRegistry() override;
  void prewarmIcons() override;
  void removeSiteIconCopies() override;
  void prewarmStatusBadges() override;
  void prewarmActionBadges() override;
  void startHotkey() override;
  void startGestures() override;
  // Follows the switcher's summons and quick flips ("Quorvel.switcherDidSummon").
  Subscription addSummonObserver(std::function<void()> observer);
  // Whether the machine has a touchpad now (readable or not).
  bool touchpadPresent();
  // Ends the touchpad reader's thread: no contact frame comes in after (the program's end).
  void stopTouchpadReader();

 private:
  Runtime& runtime_;
  X11Platform& platform_;
  const std::string displayName_;
  AppSettings& settings_;

  // Input.
  std::unique_ptr<EvdevContactSource> contacts_;
  std::shared_ptr<HotkeyManager> hotkey_;
  std::shared_ptr<TrackpadGestureMonitor> gestures_;

  // The window model and its neighbours.
  std::unique_ptr<AXFunnel> funnel_;
  std::shared_ptr<FocusObserver> focus_;
  std::unique_ptr<TabAdapter::NudgeRecord> nudges_;
  std::unique_ptr<TabWalker> walker_;
  ChromeWindowCensus& census_;
  ActivatorHooks hooks_;
  std::shared_ptr<WindowRegistry> registry_;

  // Pictures and textures.
  std::shared_ptr<GpuContext> context_;
  // The picture cache's idle waits, counted in suspended time too (on the main queue).
  std::unique_ptr<BootTimeExecutor> idleTimers_;
  std::unique_ptr<ThumbnailCache> cache_;
  std::unique_ptr<GpuPicturePreparation> preparation_;
  std::unique_ptr<WindowCapture> capture_;
  std::unique_ptr<LiveHero> live_;
  std::unique_ptr<QtRaster> raster_;
  std::unique_ptr<GpuChromeUploader> uploader_;
  std::shared_ptr<IconCache> icons_;
  std::shared_ptr<StatusBadgeCache> statusBadges_;
  std::shared_ptr<ActionBadgeCache> actionBadges_;
  std::shared_ptr<CardLabelCache> labels_;

  // Site icons.
  std::unique_ptr<SiteIconUploader> siteIconMaker_;
  std::unique_ptr<IconDecoder> iconDecoder_;
  std::shared_ptr<Executor> iconDecodeQueue_;  // outlives the store, which posts to it
  std::shared_ptr<FaviconStore> favicons_;
  std::shared_ptr<FaviconResolver> faviconResolver_;

  // Bringing cards forward.
  std::unique_ptr<TabActivation> tabActivation_;
  std::unique_ptr<Activator> activator_;

  // The overlay and its adapters onto the services above.
  std::unique_ptr<RegistryCardSource> cards_;
  std::unique_ptr<CapturePictureSource> pictures_;
  std::unique_ptr<CacheChromeTextures> textures_;
  std::unique_ptr<SystemWindowActions> windowActions_;
  // The desktop's animation switch, which keeps the flight off when it is off.
  std::unique_ptr<X11DesktopSettings> desktopSettings_;
  std::unique_ptr<PlatformOverlayDesktop> desktop_;
  std::unique_ptr<QtOverlayTextMetrics> metrics_;
  std::unique_ptr<DesktopStillMaker> stills_;
  std::shared_ptr<SwitcherOverlay> overlay_;

  std::shared_ptr<SwitcherOverlay> makeOverlay();
};

}  // namespace quorvel
