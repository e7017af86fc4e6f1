#pragma once

#include "platform/PlatformServices.h"
#include "tabs/TabAdapter.h"

namespace quorvel {

class ActivatorHooks;
class AppSettings;
class AXFunnel;
class ChromeWindowCensus;
class FocusObserver;
class Runtime;
class TabWalker;

// What the window registry and the steps of its refresh pass are given: the runtime they run on,
// the operating-system services, the serial Accessibility queue, the settings, and the neighbouring
// services they call or install handlers on. Every service outlives the registry.
struct RegistryServices {
  Runtime& runtime;
  PlatformServices platform;
  AXFunnel& axFunnel;
  AppSettings& settings;
  FocusObserver& focusObserver;
  TabWalker& tabWalker;               // runs on the Accessibility queue only
  TabAdapter::NudgeRecord& nudges;    // touched on the Accessibility queue only
  ChromeWindowCensus& chromeWindows;  // read on the main thread
  ActivatorHooks& activatorHooks;
};

}  // namespace quorvel
