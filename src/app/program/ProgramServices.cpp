#include "app/program/ProgramServices.h"

#include <cstdlib>
#include <filesystem>

#include "actions/Activator.h"
#include "app/HotkeyManager.h"
#include "app/SwitcherOverlay.h"
#include "app/TrackpadGestureMonitor.h"
#include "base/BootTimeClock.h"
#include "base/Task.h"
#include "gpu/vulkan/VulkanDevice.h"
#include "pictures/ActionBadgeCache.h"
#include "pictures/CardLabelCache.h"
#include "pictures/GpuChromeUploader.h"
#include "pictures/IconCache.h"
#include "pictures/MetalContext.h"
#include "pictures/SiteIconUploader.h"
#include "pictures/StatusBadgeCache.h"
#include "pictures/TextureRasterizer.h"
#include "pictures/ThumbnailCache.h"
#include "platform/evdev/EvdevContactSource.h"
#include "platform/qt/QtRaster.h"
#include "platform/x11/X11AppIcons.h"
#include "platform/x11/X11Platform.h"
#include "scene/SceneWake.h"
#include "tabs/FaviconResolver.h"
#include "tabs/FaviconStore.h"
#include "tabs/TabActivation.h"
#include "tabs/TabWalker.h"
#include "tabs/qt/QtIconDecoder.h"
#include "windows/FaviconRequests.h"
#include "windows/FocusObserver.h"
#include "windows/RegistryServices.h"
#include "windows/WindowRegistry.h"
#include "windows/ax/AXFunnel.h"

namespace quorvel {

namespace {

std::filesystem::path homeFolder() {
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home && home[0] ? home : "/");
}

Task<void> resolveSiteIcons(std::shared_ptr<FaviconResolver> resolver, std::vector<FaviconResolver::Request> requests,
                            bool siteIconsOn) {
  co_await resolver->request(std::move(requests), siteIconsOn);
}

Task<void> clearSiteIconCopies(std::shared_ptr<FaviconResolver> resolver) { co_await resolver->clearCopies(); }

}  // namespace

ProgramServices::ProgramServices(Runtime& runtime, X11Platform& platform, AppSettings& settings,
                                 KeyEventSource& keys, ChromeWindowCensus& census)
    : runtime_(runtime), platform_(platform), settings_(settings), census_(census) {
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
  context_ = MetalContext::shared([](std::string* error) -> std::shared_ptr<GpuDevice> {
    return VulkanDevice::make(VulkanDeviceOptions{}, error);
  });
  cache_ = std::make_unique<ThumbnailCache>(context_, main, BootTimeClock::shared(), wakeScene);

  // The chrome texture caches, in order.
  raster_ = std::make_unique<QtRaster>();
  uploader_ = std::make_unique<GpuChromeUploader>(TextureRasterizer{context_});
  ChromeServices chrome{main, *raster_, *uploader_, wakeScene};
  icons_ = std::make_shared<IconCache>(chrome, os.workspace, platform.appIcons());
  statusBadges_ = std::make_shared<StatusBadgeCache>(chrome);
  actionBadges_ = std::make_shared<ActionBadgeCache>(chrome);
  labels_ = std::make_shared<CardLabelCache>(chrome);

  // The site-icon store and its resolver, rooted at the home folder.
  siteIconMaker_ = std::make_unique<SiteIconUploader>(*uploader_);
  iconDecoder_ = std::make_unique<QtIconDecoder>();
  favicons_ = FaviconStore::create(*siteIconMaker_, *iconDecoder_, wakeScene, main);
  faviconResolver_ = std::make_shared<FaviconResolver>(runtime, *favicons_, homeFolder());

  // Bringing a card forward.
  tabActivation_ = std::make_unique<TabActivation>(os.accessibility, *walker_);
  activator_ = std::make_unique<Activator>(ActivatorServices{runtime, os, *funnel_, settings, *tabActivation_, hooks_});

  overlay_ = makeOverlay();

  // The registry's tab cards go to the resolver, which the sink holds.
  registry_->lock().withLock([&] {
    std::shared_ptr<FaviconResolver> resolver = faviconResolver_;
    Executor* pool = &runtime.pool();
    registry_->setTabCardSink([resolver, pool](std::vector<WindowCard> tabCards, bool resolveSiteIcons) {
      std::vector<FaviconResolver::Request> requests = FaviconRequests::requests(tabCards);
      (void)spawn(*pool, resolveSiteIcons(resolver, std::move(requests), resolveSiteIcons));
    });
  });
}

ProgramServices::~ProgramServices() {
  // The overlay first (it holds every other service), then the registry, whose loop and observers
  // must stop before its neighbours go; the key source stops its threads before the runtime goes.
  overlay_.reset();
  registry_.reset();
  hotkey_.reset();
  gestures_.reset();
  contacts_.reset();
}

void ProgramServices::startRegistry() { registry_->start(); }

void ProgramServices::prewarmIcons() { icons_->prewarm(); }

void ProgramServices::removeSiteIconCopies() { (void)spawn(runtime_.pool(), clearSiteIconCopies(faviconResolver_)); }

void ProgramServices::prewarmStatusBadges() { statusBadges_->prewarm(); }

void ProgramServices::prewarmActionBadges() { actionBadges_->prewarm(); }

void ProgramServices::startHotkey() { hotkey_->start(); }

void ProgramServices::startGestures() { gestures_->start(); }

}  // namespace quorvel
