#pragma once

#include "platform/PlatformServices.h"

namespace quorvel {

class ActivatorHooks;
class AppSettings;
class AXFunnel;
class Runtime;
class TabActivation;

// What the activator is given: the runtime whose main queue its routes run on, the operating-system
// services (Accessibility, the workspace, the program's own application, the pointer), the serial
// Accessibility queue, the settings, the tab activation of the browser tabs, and the hooks through
// which it reports raises and tab presses to the window registry. Every service outlives the
// activator and the routes it starts.
struct ActivatorServices {
  Runtime& runtime;
  PlatformServices platform;
  AXFunnel& axFunnel;
  AppSettings& settings;
  TabActivation& tabActivation;  // runs on the Accessibility queue only
  ActivatorHooks& hooks;
};

}  // namespace quorvel
