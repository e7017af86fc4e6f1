#include "program/ProgramServices.h"

#include <QApplication>
#include <cstdlib>
#include <filesystem>

#include "actions/Activator.h"
#include "app/BuildProvenance.h"
#include "platform/x11/X11DesktopSettings.h"
#include "app/HotkeyManager.h"
#include "app/SwitcherOverlay.h"
#include "app/TrackpadGestureMonitor.h"
#include "program/ControllerOverlay.h"
#include "program/DesktopStillMaker.h"
#include "ax/AXFunnel.h"
#include "base/BootTimeClock.h"
#include "base/BootTimeExecutor.h"
#include "base/Logger.h"
#include "base/Task.h"
#include "gpu/vulkan/VulkanDevice.h"
#include "gpu/x11/VulkanWindowSurface.h"
#include "overlay/controller/CacheChromeTextures.h"
#include "overlay/controller/CapturePictureSource.h"
#include "overlay/controller/OverlayController.h"
#include "overlay/controller/PlatformOverlayDesktop.h"
#include "overlay/controller/RegistryCardSource.h"
#include "overlay/controller/RendererScene.h"
#include "overlay/controller/SystemWindowActions.h"
#include "overlay/qt/QtOverlayTextMetrics.h"
#include "overlay/x11/X11OverlayWindow.h"
#include "pictures/ActionBadgeCache.h"
#include "pictures/CardLabelCache.h"
#include "pictures/GpuChromeUploader.h"
#include "pictures/GpuContext.h"
#include "pictures/GpuPicturePreparation.h"
#include "pictures/IconCache.h"
#include "pictures/LiveHero.h"
#include "pictures/SiteIconUploader.h"
#include "pictures/StatusBadgeCache.h"
#include "pictures/TextureRasterizer.h"
#include "pictures/ThumbnailCache.h"
#include "pictures/WindowCapture.h"
#include "platform/evdev/EvdevContactSource.h"
#include "platform/qt/QtRaster.h"
#include "platform/x11/X11AppIcons.h"
#include "platform/x11/X11Platform.h"
#include "platform/x11/X11ScreenCapture.h"
#include "scene/SceneWake.h"
#include "scene/render/FrameClock.h"
#include "tabs/FaviconResolver.h"
#include "tabs/FaviconStore.h"
#include "tabs/TabActivation.h"
#include "tabs/TabWalker.h"
#include "tabs/qt/QtIconDecoder.h"
#include "windows/FaviconRequests.h"
#include "windows/FocusObserver.h"
#include "windows/RegistryServices.h"
#include "windows/WindowList.h"
#include "windows/WindowRegistry.h"

namespace quorvel {

namespace {

// Frames a second of the overlay's animations on a device that draws on the CPU.
constexpr double kSoftwareFrameCap = 30;

std::filesystem::path homeFolder() {
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home && home[0] ? home : "/");
}

Task<void> runSiteIconPass(std::shared_ptr<FaviconResolver> resolver, std::vector<FaviconResolver::Request> requests,
                           bool siteIconsOn) {
  co_await resolver->request(std::move(requests), siteIconsOn);
}

Task<void> clearSiteIconCopies(std::shared_ptr<FaviconResolver> resolver) { co_await resolver->clearCopies(); }

}  // namespace

ProgramServices::ProgramServices(Runtime& runtime, X11Platform& platform, std::string displayName,
                                 AppSettings& settings, KeyEventSource& keys, ChromeWindowCensus& census)
    : runtime_(runtime),
      platform_(platform),
      displayName_(std::move(displayName)),
      settings_(settings),
      census_(census) {
  Executor& main = runtime.main();
  PlatformServices os = platform.services();
  const auto wakeScene = [] { SceneWake::shared().bump(); };

  // The shortcut manager and the trackpad monitor.
  contacts_ = std::make_unique<EvdevContactSource>();
  hotkey_ = HotkeyManager::create(settings, os.workspace, keys, main);
  gestures_ = TrackpadGestureMonitor::create(settings, *contacts_, main, runtime.pool());

  // The window registry.
  funnel_ = std::make_unique<AXFunnel>(runtime);
  focus_ = FocusObserver::create(runtime, os.accessibility, *funnel_);
  nudges_ = std::make_unique<TabAdapter::NudgeRecord>(os.accessibility, runtime.clock());
  walker_ = std::make_unique<TabWalker>(os.accessibility, *nudges_);
  registry_ = WindowRegistry::create(
      RegistryServices{runtime, os, *funnel_, settings, *focus_, *walker_, *nudges_, census_, hooks_});

  // The shared GPU context (the process stops with a message when there is no device), then the
  // picture cache on it.
  context_ = GpuContext::shared([](std::string* error) -> std::shared_ptr<GpuDevice> {
    return VulkanDevice::make(VulkanDeviceOptions{}, error);
  });
  idleTimers_ = std::make_unique<BootTimeExecutor>(main);
  cache_ = std::make_unique<ThumbnailCache>(context_, *idleTimers_, BootTimeClock::shared(), wakeScene);
  preparation_ = std::make_unique<GpuPicturePreparation>(*cache_);
  ScreenCapture* screenCapture = platform.screenCapture();
  if (!screenCapture) {
    // The platform opened, so the display is there; a second connection failing is fatal here.
    Logger("AppDelegate").fault("Pictures of windows cannot be taken: no connection for them to the X display.");
    std::abort();
  }
  AppSettings* settingsPointer = &settings;
  WindowServer* windowServer = &os.windowServer;
  capture_ = std::make_unique<WindowCapture>(WindowCapture::Services{
      *cache_, *preparation_, os.shareableContent, *screenCapture, os.workspace.ownPid(),
      [settingsPointer] { return settingsPointer->boolValue(AppSettings::Key::hideFromScreenSharing); },
      [windowServer] { return WindowList(*windowServer).zOrderByWindowID(); }});
  live_ = std::make_unique<LiveHero>(*cache_, *preparation_, os.shareableContent, *screenCapture);

  // The chrome texture caches, in order.
  raster_ = std::make_unique<QtRaster>();
  uploader_ = std::make_unique<GpuChromeUploader>(TextureRasterizer{context_});
  ChromeServices chrome{main, *raster_, *uploader_, wakeScene};
  icons_ = std::make_shared<IconCache>(chrome, os.workspace, platform.appIcons());
  statusBadges_ = StatusBadgeCache::make(chrome);
  actionBadges_ = std::make_shared<ActionBadgeCache>(chrome);
  labels_ = CardLabelCache::make(chrome);

  // The site-icon store and its resolver, rooted at the home folder.
  siteIconMaker_ = std::make_unique<SiteIconUploader>(*uploader_);
  iconDecoder_ = std::make_unique<QtIconDecoder>();
  iconDecodeQueue_ = runtime.makeSerialQueue("net.tarmeq.quorvel.favicon-decoding", QueueQos::utility);
  favicons_ = FaviconStore::create(*siteIconMaker_, *iconDecoder_, wakeScene, main, *iconDecodeQueue_);
  faviconResolver_ = std::make_shared<FaviconResolver>(runtime, *favicons_, homeFolder());

  // Bringing a card forward.
  tabActivation_ = std::make_unique<TabActivation>(os.accessibility, *walker_);
  activator_ = std::make_unique<Activator>(ActivatorServices{runtime, os, *funnel_, settings, *tabActivation_, hooks_});

  // Site icons cropped from tab strips go to the store, which the sink holds.
  {
    std::shared_ptr<FaviconStore> store = favicons_;
    cache_->setFaviconSink([store](uint32_t tab, std::shared_ptr<GpuTexture> texture) {
      store->insertCrop(tab, SiteIconUploader::iconTexture(std::make_shared<GpuChromeUploader::Texture>(texture)));
    });
  }

  overlay_ = makeOverlay();

  // The registry's tab cards go to the resolver, and the windows the user left to the picture
  // captures; each sink holds its target (the setters take the registry's lock).
  {
    WindowCapture* capture = capture_.get();
    Executor* captures = &runtime.pool();
    registry_->setLeaveCaptureSink([capture, captures](std::vector<WindowCard> cards,
                                                       std::unordered_map<uint32_t, uint32_t> showingTabByHost,
                                                       std::unordered_map<uint32_t, uint64_t> visitTicks) {
      WindowCapture::VisitTicks ticks;
      for (const auto& [id, tick] : visitTicks) ticks[id] = static_cast<int64_t>(tick);
      (void)spawn(*captures, capture->captureOnLeave(std::move(cards), std::move(showingTabByHost), std::move(ticks)));
    });
    std::shared_ptr<FaviconResolver> resolver = faviconResolver_;
    Executor* pool = &runtime.pool();
    registry_->setTabCardSink([resolver, pool](std::vector<WindowCard> tabCards, bool resolveSiteIcons) {
      std::vector<FaviconResolver::Request> requests = FaviconRequests::requests(tabCards);
      (void)spawn(*pool, runSiteIconPass(resolver, std::move(requests), resolveSiteIcons));
    });
  }
}

ProgramServices::~ProgramServices() {
  // The overlay first (it uses every other service), then the registry, whose loop and observers
  // must stop before its neighbours go.
  overlay_.reset();
  registry_->setLeaveCaptureSink(nullptr);
  registry_->setTabCardSink(nullptr);
  registry_.reset();
  hotkey_.reset();
  gestures_.reset();
  contacts_.reset();
}

bool ProgramServices::touchpadPresent() { return contacts_ && contacts_->touchpadPresent(); }

void ProgramServices::stopTouchpadReader() {
  if (contacts_) contacts_->stopReading();
}

Subscription ProgramServices::addSummonObserver(std::function<void()> observer) {
  return static_cast<ControllerOverlay&>(*overlay_).controller().addSummonObserver(std::move(observer));
}

std::shared_ptr<SwitcherOverlay> ProgramServices::makeOverlay() {
  Executor& main = runtime_.main();
  PlatformServices os = platform_.services();
  cards_ = std::make_unique<RegistryCardSource>(registry_, os.windowServer, main);
  pictures_ = std::make_unique<CapturePictureSource>(*cache_, *capture_, *live_, runtime_.pool(), main);
  textures_ = std::make_unique<CacheChromeTextures>(
      CacheChromeTextures::Caches{*cache_, *icons_, *statusBadges_, *actionBadges_, *labels_, *favicons_,
                                  faviconResolver_.get()});
  // A refused action rings the display's bell, the X session's alert sound.
  windowActions_ = std::make_unique<SystemWindowActions>(SystemWindowActions::Services{
      main, *activator_, os.ownApplication, os.accessibility, *funnel_, [] { QApplication::beep(); }});

  PlatformOverlayDesktop::Hooks hooks;
  Runtime* runtime = &runtime_;
  Displays* displays = &os.displays;
  const std::string display = displayName_;
  std::shared_ptr<const KeyStreamOrder> keyOrder = hotkey_->keyOrder();
  std::weak_ptr<HotkeyManager> hotkey = hotkey_;
  ProgramServices* self = this;
  hooks.makeWindow = [runtime, displays, display, keyOrder, hotkey,
                      self](const ScreenInfo& screen) -> std::unique_ptr<OverlayWindow> {
    // The display service's frame (bottom-left origin on the main screen, y up) to X's rectangle.
    double primary = 0;
    const std::vector<ScreenInfo> all = displays->screens();
    for (const ScreenInfo& s : all)
      if (s.frame.x == 0 && s.frame.y == 0) primary = s.frame.height;
    if (primary == 0 && !all.empty()) primary = all.front().frame.height;
    const Rect monitor{screen.frame.x, primary - screen.frame.y - screen.frame.height, screen.frame.width,
                       screen.frame.height};
    std::string error;
    std::unique_ptr<X11OverlayWindow> window = X11OverlayWindow::open(display, monitor, runtime->main(), &error);
    if (!window) Logger("OverlayController").error("The overlay window could not be made: %{public}s", error);
    if (window) {
      window->setKeyOrder(keyOrder);
      // While the overlay holds the keyboard, the shortcut's keys reach its window, not the key
      // stream: they step as they would from the stream. The window acts on its keys in the order
      // typed with the stream's, so the step comes in its place.
      window->shortcutKey = [hotkey, self](int64_t keyCode, uint64_t flags) {
        auto manager = hotkey.lock();
        if (!manager || !self->overlay_ || !self->overlay_->isVisible()) return false;
        const auto press = manager->overlayShortcutPress(keyCode, flags);
        if (!press) return false;
        self->overlay_->stepByPress(press->direction);
        return true;
      };
      window->takeKeyboardFromStream = [hotkey] {
        auto manager = hotkey.lock();
        return manager && manager->handOverKeyboard();
      };
    }
    return window;
  };
  // X11 asks no permission for pictures of windows.
  hooks.screenCaptureGrantedAtLaunch = true;
  desktopSettings_ = std::make_unique<X11DesktopSettings>(platform_.connection());
  X11DesktopSettings* desktopSettings = desktopSettings_.get();
  hooks.reduceMotion = [desktopSettings] { return desktopSettings->reduceMotion(); };
  desktop_ = std::make_unique<PlatformOverlayDesktop>(os, hooks);

  metrics_ = std::make_unique<QtOverlayTextMetrics>();
  OverlayContentView::Services content{*metrics_,
                                       main,
                                       settings_,
                                       [] { return false; },
                                       [](int, int) { return false; },
                                       [] { return false; },
                                       [] { return BuildProvenance::description(); },
                                       [](bool) {},
                                       [] { return true; }};

  std::shared_ptr<GpuContext> context = context_;
  std::shared_ptr<VulkanDevice> device = std::dynamic_pointer_cast<VulkanDevice>(context_->device);
  CacheChromeTextures* textures = textures_.get();
  AppSettings* settings = &settings_;
  Raster* chromeRaster = raster_.get();
  // The chrome's uploads wait for the frames queued before them: off the main thread.
  std::shared_ptr<Executor> chromeQueue = runtime->makeSerialQueue("ChromeUpload", QueueQos::userInteractive);
  OverlayController::SceneFactory makeScene =
      [runtime, context, device, textures, settings, chromeRaster, chromeQueue](OverlayContentView&, OverlayWindow& window,
                                                     std::function<void(int, FocusChangeSource)> onFocus)
      -> std::unique_ptr<OverlayScene> {
    std::shared_ptr<GpuSurface> surface;
    if (auto* x11 = dynamic_cast<X11OverlayWindow*>(&window); x11 && device) {
      std::string error;
      surface = VulkanWindowSurface::make(device, x11->connection().xcb(), x11->xWindow(), "Quorvel overlay", &error);
      if (!surface) Logger("SceneRenderer").error("The overlay cannot be drawn: %{public}s", error);
      // The drawable covers the whole window, one pixel a point: a scene is made anew for a
      // display whose frame changed.
      if (surface) {
        surface->setBounds(Size{window.frame().width, window.frame().height});
        surface->setContentsScale(1);
      }
    }
    const Clock& clock = runtime->clock();
    // A device that draws on the CPU animates at 30 frames a second: each frame costs tens of
    // milliseconds of CPU there, and the animations keep to the clock at any rate.
    const double frameCap = device && device->isSoftware() ? kSoftwareFrameCap : 0;
    return RendererScene::make(context, surface, textures->providers(), std::move(onFocus),
                               SceneRenderer::Services{runtime->main(), clock, SceneWake::shared(), *settings,
                                                       [&clock, frameCap] {
                                                         return std::make_shared<FrameClock>(clock, 60, frameCap);
                                                       }},
                               chromeRaster, chromeQueue);
  };
  Activator* activator = activator_.get();
  OverlayController::Services services{
      main, settings_, SceneWake::shared(), *cards_, *pictures_, *textures_, *desktop_, content, std::move(makeScene),
      [activator](const WindowCard& card) { activator->pick(card); }, nullptr, windowActions_.get()};
  // The backdrop's still is made as the settings preview's is, so it never shows our own windows.
  stills_ = std::make_unique<DesktopStillMaker>(platform_, main);
  services.desktopStill = [stills = stills_.get()](const ScreenInfo& screen, int width,
                                                   std::function<void(std::optional<DesktopStill>)> done) {
    stills->make(screen.screenNumber, width, std::move(done));
  };
  // A tap of the shortcut is timed by its key events' own times.
  services.keyTime = [hotkey]() -> std::optional<uint32_t> {
    auto manager = hotkey.lock();
    return manager ? manager->keyEventTime() : std::nullopt;
  };
  auto controller = std::make_unique<OverlayController>(std::move(services));
  return std::make_shared<ControllerOverlay>(std::move(controller));
}

void ProgramServices::startRegistry() { registry_->start(); }

void ProgramServices::prewarmIcons() { icons_->prewarm(); }

void ProgramServices::removeSiteIconCopies() { (void)spawn(runtime_.pool(), clearSiteIconCopies(faviconResolver_)); }

void ProgramServices::prewarmStatusBadges() { statusBadges_->prewarm(); }

void ProgramServices::prewarmActionBadges() { actionBadges_->prewarm(); }

void ProgramServices::startHotkey() { hotkey_->start(); }

void ProgramServices::startGestures() { gestures_->start(); }

}  // namespace quorvel
