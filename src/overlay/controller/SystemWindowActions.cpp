#include "overlay/controller/SystemWindowActions.h"

#include "actions/Activator.h"
#include "actions/WindowActions.h"
#include "ax/AXFunnel.h"
#include "base/Task.h"
#include "platform/Accessibility.h"

namespace quorvel {

namespace {

Task<void> closeThenReport(Task<void> close, std::function<void()> done) {
  co_await std::move(close);
  if (done) done();
}

Task<void> minimizeThenReport(AXFunnel& funnel, Accessibility& accessibility, AXElementRef element, bool minimized,
                              std::function<void()> done) {
  // The job takes everything by reference from this frame, which outlives it: GCC 12 destroys a
  // closure held by a temporary awaiter twice, so it must own nothing (a copied handle would be
  // released twice).
  co_await funnel.run([&accessibility, &element, minimized] {
    accessibility.setMessagingTimeout(element, WindowActions::kMessagingTimeout);
    accessibility.setAttributeValue(element, "AXMinimized", minimized);
  });
  if (done) done();
}

}  // namespace

std::optional<OwnWindow> SystemWindowActions::ownWindow(const WindowCard& card) {
  return services_.activator.ownWindow(card);
}

void SystemWindowActions::closeOwnWindow(uint32_t number) { services_.ownApplication.performClose(number); }

void SystemWindowActions::setOwnWindowMinimized(uint32_t number, bool minimized) {
  if (minimized) services_.ownApplication.minimize(number);
  else services_.ownApplication.unminimize(number);
}

void SystemWindowActions::close(const AXHandleRef& window, std::function<void()> done) {
  spawn(services_.main, closeThenReport(services_.activator.windowActions().close(window), std::move(done)));
}

void SystemWindowActions::setMinimized(const AXHandleRef& window, bool minimized, std::function<void()> done) {
  const AXElementRef element = window ? window->element() : nullptr;
  if (!element) {
    services_.main.post(std::move(done));
    return;
  }
  spawn(services_.main,
        minimizeThenReport(services_.funnel, services_.accessibility, element, minimized, std::move(done)));
}

void SystemWindowActions::beep() {
  if (services_.beep) services_.beep();
}

}  // namespace quorvel
