#include "platform/sim/SimWindow.h"

namespace quorvel {

bool SimWindow::focus() { return desktop_->focusWindow(number); }
bool SimWindow::raise() { return desktop_->raiseWindow(number); }
bool SimWindow::minimize(bool minimized) { return desktop_->minimizeWindow(number, minimized); }
bool SimWindow::close() { return desktop_->closeWindow(number); }
bool SimWindow::setTitle(std::optional<std::string> title) { return desktop_->setWindowTitle(number, std::move(title)); }
bool SimWindow::setFrame(Rect frame) { return desktop_->setWindowFrame(number, frame); }
bool SimWindow::moveToDesktop(int64_t spaceID) { return desktop_->moveWindowToDesktop(number, spaceID); }
bool SimWindow::setSticky(bool sticky) { return desktop_->setSticky(number, sticky); }
bool SimWindow::exists() const { return desktop_->windowExists(number); }
bool SimWindow::isOnScreen() const { return desktop_->isOnScreen(number); }
std::optional<Rect> SimWindow::frame() const { return desktop_->windowFrame(number); }
SimElementId SimWindow::element() const { return desktop_->windowElement(number); }
AXElementRef SimWindow::ref() const { return desktop_->ref(element()); }
SimElementId SimWindow::addElement(SimElementSpec spec) { return desktop_->addElement(element(), std::move(spec)); }

}  // namespace quorvel
