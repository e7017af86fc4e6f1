// quorvel-overview-demo: opens the desktops overview on the X display, over the whole screen, for a
// person to try: every desktop of every monitor as a tile with the windows on it. Drag a window to
// another tile to move it to that desktop or monitor; click a tile to go to that desktop; Escape or
// a click outside every tile closes it, and the program ends.
//
//   quorvel-overview-demo [--seconds S]
//
// With --seconds it ends after S seconds even while the overview is open.
#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "actions/Activator.h"
#include "actions/OverviewDisplays.h"
#include "actions/WindowMover.h"
#include "actions/overview/OverviewController.h"
#include "actions/overview/RegistryOverviewSources.h"
#include "actions/overview/x11/X11OverviewWindow.h"
#include "ax/AXFunnel.h"
#include "base/BootTimeClock.h"
#include "base/DefaultsStore.h"
#include "base/ThreadRuntime.h"
#include "gpu/vulkan/VulkanDevice.h"
#include "pictures/GpuPicturePreparation.h"
#include "pictures/ThumbnailCache.h"
#include "pictures/WindowCapture.h"
#include "platform/Accessibility.h"
#include "platform/DesktopServer.h"
#include "platform/Workspace.h"
#include "platform/x11/X11Platform.h"
#include "platform/x11/X11ScreenCapture.h"
#include "settings/AppSettings.h"
#include "tabs/TabActivation.h"
#include "tabs/TabWalker.h"
#include "windows/ActivatorHooks.h"
#include "windows/ChromeWindowCensus.h"
#include "windows/FocusObserver.h"
#include "windows/RegistryServices.h"
#include "windows/SpaceMap.h"
#include "windows/WindowList.h"
#include "windows/WindowRegistry.h"

namespace quorvel {
namespace {

// The size of the X screen: the overview covers it.
Rect screenFrame() {
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  Rect frame{0, 0, 1920, 1080};
  if (c && !xcb_connection_has_error(c)) {
    if (const xcb_screen_t* s = xcb_setup_roots_iterator(xcb_get_setup(c)).data) {
      frame = {0, 0, double(s->width_in_pixels), double(s->height_in_pixels)};
    }
  }
  if (c) xcb_disconnect(c);
  return frame;
}

int run(double seconds) {
  ThreadRuntime runtime;
  std::unique_ptr<X11Platform> platform = X11Platform::open(runtime);
  if (!platform) {
    std::fprintf(stderr, "quorvel-overview-demo: cannot open the X display\n");
    return 1;
  }
  const PlatformServices os = platform->services();
  DefaultsStore store;
  AppSettings settings(store);
  settings.registerDefaults();
  AXFunnel funnel(runtime);
  std::shared_ptr<FocusObserver> focus = FocusObserver::create(runtime, os.accessibility, funnel);
  TabAdapter::NudgeRecord nudges(os.accessibility, runtime.clock());
  TabWalker walker(os.accessibility, nudges);
  ChromeWindowCensus census;
  ActivatorHooks hooks;
  std::shared_ptr<WindowRegistry> registry =
      WindowRegistry::create(RegistryServices{runtime, os, funnel, settings, *focus, walker, nudges, census, hooks});
  TabActivation tabs(os.accessibility, walker);
  Activator activator(ActivatorServices{runtime, os, funnel, settings, tabs, hooks});

  std::string error;
  std::shared_ptr<VulkanDevice> device = VulkanDevice::make(VulkanDeviceOptions{}, &error);
  if (!device) {
    std::fprintf(stderr, "quorvel-overview-demo: no GPU: %s\n", error.c_str());
    return 1;
  }
  std::shared_ptr<GpuContext> context = GpuContext::make(device);
  ThumbnailCache cache(context, runtime.main(), BootTimeClock::shared(), {});
  GpuPicturePreparation preparation(cache);
  ScreenCapture* screenCapture = platform->screenCapture();
  if (!screenCapture) {
    std::fprintf(stderr, "quorvel-overview-demo: no window pictures on this display\n");
    return 1;
  }
  WindowServer* windowServer = &os.windowServer;
  WindowCapture capture(WindowCapture::Services{cache, preparation, os.shareableContent, *screenCapture,
                                                os.workspace.ownPid(), [] { return false; },
                                                [windowServer] { return WindowList(*windowServer).zOrderByWindowID(); }});

  SpaceMap spaces(os.desktopServer);
  // The session's assistive-technology switch stands in for an application's own here: left alone.
  WindowMover mover({os.accessibility, spaces, os.displays, false});
  RegistryOverviewCards cards(registry);
  CacheOverviewPictures pictures(cache, capture, registry, runtime.pool());

  std::unique_ptr<X11OverviewWindow> window = X11OverviewWindow::open({}, screenFrame(), device, &error);
  if (!window) {
    std::fprintf(stderr, "quorvel-overview-demo: no window: %s\n", error.c_str());
    return 1;
  }
  std::unique_ptr<OverviewRenderer> renderer = OverviewRenderer::make(context, window->surface());
  if (!renderer) {
    std::fprintf(stderr, "quorvel-overview-demo: the card pipeline cannot be made\n");
    return 1;
  }
  std::shared_ptr<OverviewController> controller = OverviewController::make(
      {runtime.main(), cards, pictures, mover, funnel, os.ownApplication, settings, os.workspace.ownPid(),
       [&activator](const WindowCard& card) { activator.pick(card); },
       [&] {
         std::optional<DesktopMap> map = DesktopMap::read(spaces, os.displays);
         if (map) map = OverviewDisplays::spanningScreens(*map, DesktopMap::readScreens(os.displays));
         return map;
       },
       [&os] { return os.accessibility.isProcessTrusted(); }, os.desktopServer.isAvailable(DesktopServer::Group::move)});
  controller->attach(window.get(), renderer.get());
  window->pointer().setDelegate(controller);
  window->onGeometryChange = [&controller] { controller->show(); };

  registry->start();
  // The first pass has the cards the overview shows.
  runtime.runMainUntil([&] { return !cards.cards().empty(); }, std::chrono::seconds(5));
  controller->open();

  const auto start = std::chrono::steady_clock::now();
  while (window->isVisible()) {
    window->pump();
    runtime.runMainUntil([] { return false; }, std::chrono::milliseconds(16));
    if (seconds > 0 && std::chrono::steady_clock::now() - start > std::chrono::duration<double>(seconds)) break;
  }
  controller->hide();
  // Let a raise the last click asked for reach the window manager.
  runtime.runMainUntil([] { return false; }, std::chrono::milliseconds(300));
  return 0;
}

}  // namespace
}  // namespace quorvel

int main(int argc, char** argv) {
  double seconds = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
      seconds = std::atof(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: quorvel-overview-demo [--seconds S]\n");
      return 2;
    }
  }
  return quorvel::run(seconds);
}
