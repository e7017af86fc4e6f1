#include "platform/sim/SimApp.h"

#include "platform/sim/SimWindow.h"

namespace quorvel {

SimWindow& SimApp::openWindow(SimWindowSpec spec) { return desktop_->openWindow(pid, std::move(spec)); }
bool SimApp::activate(bool allWindows) { return desktop_->activateApp(pid, allWindows); }
bool SimApp::hide() { return desktop_->hideApp(pid); }
bool SimApp::unhide() { return desktop_->unhideApp(pid); }
bool SimApp::quit() { return desktop_->quitApp(pid); }
bool SimApp::isRunning() const { return desktop_->isRunning(pid); }
bool SimApp::isHidden() const { return desktop_->isHidden(pid); }
std::vector<uint32_t> SimApp::windows() const { return desktop_->windowsOf(pid); }
std::optional<uint32_t> SimApp::focusedWindow() const { return desktop_->focusedWindow(pid); }
SimElementId SimApp::element() const { return desktop_->applicationElement(pid); }
AXElementRef SimApp::ref() const { return desktop_->ref(element()); }
SimElementId SimApp::addElement(SimElementSpec spec) { return desktop_->addElement(element(), std::move(spec)); }

}  // namespace quorvel
