#include "platform/x11/X11Accessibility.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>

#include "X11PlatformTest.h"
#include "ax/AXWindow.h"
#include "platform/x11/X11Element.h"
#include "platform/x11/X11Observer.h"
#include "platform/x11/X11Workspace.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;

class X11AccessibilityTest : public X11PlatformTest {
 protected:
  Accessibility& ax() { return platform->accessibility(); }
  AXAttributeResult get(const AXElementRef& e, const std::string& attribute) {
    return ax().copyAttributeValue(e, attribute);
  }
  template <class T>
  std::optional<T> value(const AXElementRef& e, const std::string& attribute) {
    AXAttributeResult r = get(e, attribute);
    if (!r.ok() || !r.value.get<T>()) return std::nullopt;
    return *r.value.get<T>();
  }
  bool same(const AXElementRef& a, const AXElementRef& b) { return AXElementEqual{}(a, b); }
  // The backend's own read of an application's windows gives what the element reads give.
  void expectWindowsReadAsElementsRead(int32_t pid) {
    for (const AXWindowFacts::Wanted wanted : {AXWindowFacts::Wanted{}, AXWindowFacts::Wanted{true, true}}) {
      const auto native = ax().applicationWindows(pid, wanted);
      const auto generic = ax().Accessibility::applicationWindows(pid, wanted);
      ASSERT_EQ(native.has_value(), generic.has_value());
      if (!native) continue;
      ASSERT_EQ(native->size(), generic->size());
      for (size_t i = 0; i < native->size(); ++i) {
        const AXWindowFacts& a = (*native)[i];
        const AXWindowFacts& b = (*generic)[i];
        EXPECT_TRUE(same(a.element, b.element));
        EXPECT_EQ(a.number, b.number);
        EXPECT_EQ(a.isMinimized, b.isMinimized);
        EXPECT_EQ(a.subrole, b.subrole);
        EXPECT_EQ(a.frame, b.frame);
        EXPECT_EQ(a.title, b.title);
      }
    }
  }
};

TEST_F(X11AccessibilityTest, ApplicationsListTheirWindowsAndTheFocusedOne) {
  pid_t alphaPid = 0, betaPid = 0;
  const uint32_t alpha = launch({"--title", "alpha", "--class", "alpha,AlphaApp"}, &alphaPid);
  const uint32_t beta = launch({"--title", "beta", "--class", "beta,BetaApp"}, &betaPid);
  ASSERT_TRUE(alpha && beta);
  EXPECT_TRUE(ax().isProcessTrusted());
  EXPECT_TRUE(ax().isProcessTrustedWithPrompt(true));

  const AXElementRef app = ax().applicationElement(alphaPid);
  EXPECT_EQ(value<std::string>(app, "AXRole"), "AXApplication");
  EXPECT_EQ(value<std::string>(app, "AXTitle"), "AlphaApp");
  const auto windows = value<AXValue::Elements>(app, "AXWindows");
  ASSERT_TRUE(windows);
  ASSERT_EQ(windows->size(), 1u);
  const AXElementRef window = (*windows)[0];
  EXPECT_EQ(ax().windowNumber(window), alpha);
  EXPECT_EQ(ax().pid(window), alphaPid);
  EXPECT_EQ(ax().windowNumber(app), std::nullopt);

  // Identity is what the element stands for, not the object that answers.
  EXPECT_TRUE(same(window, X11Element::window(alphaPid, alpha)));
  EXPECT_FALSE(same(window, X11Element::window(betaPid, alpha)));
  EXPECT_FALSE(same(window, X11Element::closeButton(alphaPid, alpha)));
  EXPECT_EQ(AXElementHash{}(window), AXElementHash{}(X11Element::window(alphaPid, alpha)));

  ASSERT_TRUE(activate(beta));
  EXPECT_EQ(value<bool>(app, "AXFrontmost"), false);
  // Not the active window, but the one it would focus.
  EXPECT_TRUE(same(*value<AXElementRef>(app, "AXFocusedWindow"), window));
  EXPECT_EQ(value<bool>(window, "AXMain"), false);
  ASSERT_TRUE(activate(alpha));
  EXPECT_EQ(value<bool>(app, "AXFrontmost"), true);
  EXPECT_EQ(value<bool>(window, "AXFocused"), true);
  EXPECT_EQ(value<bool>(window, "AXMain"), true);

  // What the registry reads of an application's windows.
  const auto table = AXWindow::windows(ax(), alphaPid);
  ASSERT_EQ(table.size(), 1u);
  ASSERT_TRUE(table.contains(alpha));
  EXPECT_FALSE(table.at(alpha).isMinimized);
  EXPECT_EQ(table.at(alpha).subrole, AXSubrole::standardWindow);
}

TEST_F(X11AccessibilityTest, AnInactiveApplicationsFocusedWindowIsItsLastActiveOne) {
  pid_t multiPid = 0;
  const uint32_t first = launch({"--title", "first", "--class", "multi,MultiApp", "--windows", "2"}, &multiPid);
  const uint32_t other = launch({"--title", "other", "--class", "other,OtherApp"});
  ASSERT_TRUE(first && other);
  std::optional<uint32_t> second;
  ASSERT_TRUE(X11Session::waitUntil([&] {
    for (const X11Window& w : windows->readAll()) {
      if (w.title == "first 2") second = w.id;
    }
    return second.has_value();
  }));
  ASSERT_TRUE(activate(first));
  ASSERT_TRUE(activate(*second));
  // The focus history follows the server's property events, which read the active window of the
  // moment: the second window must have been seen active before the focus moves on.
  ASSERT_TRUE(X11Session::waitUntil([&] {
    const auto now = value<AXElementRef>(ax().applicationElement(multiPid), "AXFocusedWindow");
    return now && ax().windowNumber(*now) == second;
  }));
  ASSERT_TRUE(activate(other));
  // The first window raised above the second without the focus: the stacking no longer tells.
  ASSERT_TRUE(session->runTool({"xdotool", "windowraise", std::to_string(first)}));
  ASSERT_TRUE(X11Session::waitUntil([&] {
    const std::vector<uint32_t> order = windows->frontToBack();
    return std::find(order.begin(), order.end(), first) < std::find(order.begin(), order.end(), *second);
  }));
  const auto focused = value<AXElementRef>(ax().applicationElement(multiPid), "AXFocusedWindow");
  ASSERT_TRUE(focused);
  EXPECT_EQ(ax().windowNumber(*focused), second);
}

TEST_F(X11AccessibilityTest, WindowsAnswerTheirRoleTitleFrameAndState) {
  pid_t pid = 0;
  const uint32_t id = launch({"--title", "R\xC3\xA9sum\xC3\xA9", "--geometry", "400x300+100+120"}, &pid);
  ASSERT_NE(id, 0u);
  const AXElementRef w = X11Element::window(pid, id);
  EXPECT_EQ(value<std::string>(w, "AXRole"), "AXWindow");
  EXPECT_EQ(value<std::string>(w, "AXSubrole"), "AXStandardWindow");
  EXPECT_EQ(value<std::string>(w, "AXTitle"), "R\xC3\xA9sum\xC3\xA9");
  EXPECT_EQ(value<bool>(w, "AXMinimized"), false);
  EXPECT_EQ(value<bool>(w, "AXFullScreen"), false);
  EXPECT_EQ(AXWindow::frame(ax(), w), read(id)->frame.toRect());
  EXPECT_EQ(value<Point>(w, "AXPosition"), (Point{100, 120}));

  const std::vector<AXAttributeResult> several =
      ax().copyMultipleAttributeValues(w, {"AXMinimized", "AXNope", "AXRole"});
  ASSERT_EQ(several.size(), 3u);
  EXPECT_TRUE(several[0].ok());
  EXPECT_EQ(several[1].error, AXError::attributeUnsupported);
  EXPECT_EQ(*several[2].value.get<std::string>(), "AXWindow");

  std::vector<std::string> names;
  ASSERT_EQ(ax().copyAttributeNames(w, names), AXError::success);
  EXPECT_NE(std::find(names.begin(), names.end(), "AXCloseButton"), names.end());
  EXPECT_EQ(ax().setMessagingTimeout(w, 0.5f), AXError::success);

  const AXElementRef button = *value<AXElementRef>(w, "AXCloseButton");
  EXPECT_EQ(value<std::string>(button, "AXRole"), "AXButton");
  EXPECT_EQ(value<std::string>(button, "AXSubrole"), "AXCloseButton");
  EXPECT_EQ(ax().windowNumber(button), std::nullopt);
}

TEST_F(X11AccessibilityTest, SubrolesFollowTheWindowType) {
  struct Case {
    std::vector<std::string> arguments;
    std::string subrole;
  };
  const std::vector<Case> cases = {
      {{"--type", "dialog"}, "AXDialog"},
      {{"--state", "MODAL"}, "AXDialog"},
      {{"--type", "utility"}, "AXFloatingWindow"},
      {{"--type", "toolbar"}, "AXFloatingWindow"},
      {{"--type", "splash"}, "AXUnknown"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> arguments{"--title", c.subrole};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    pid_t pid = 0;
    const uint32_t id = launch(arguments, &pid);
    ASSERT_NE(id, 0u);
    EXPECT_EQ(value<std::string>(X11Element::window(pid, id), "AXSubrole"), c.subrole) << c.arguments[1];
    expectWindowsReadAsElementsRead(pid);
  }
}

TEST_F(X11AccessibilityTest, RaisingMinimizingAndRestoringGoThroughTheWindowManager) {
  pid_t pid = 0;
  const uint32_t first = launch({"--title", "first"}, &pid);
  const uint32_t second = launch({"--title", "second"});
  ASSERT_TRUE(first && second);
  ASSERT_TRUE(activate(second));
  const AXElementRef w = X11Element::window(pid, first);

  EXPECT_EQ(ax().performAction(w, "AXRaise"), AXError::success);
  EXPECT_TRUE(X11Session::waitUntil([&] { return desktops->activeWindow() == first; }));
  EXPECT_EQ(windows->frontToBack().front(), first);

  EXPECT_EQ(ax().setAttributeValue(w, "AXMinimized", true), AXError::success);
  EXPECT_TRUE(eventually(first, [](const X11Window& x) { return x.minimized; }));
  EXPECT_EQ(value<bool>(w, "AXMinimized"), true);
  expectWindowsReadAsElementsRead(pid);

  EXPECT_EQ(ax().setAttributeValue(w, "AXMinimized", false), AXError::success);
  EXPECT_TRUE(eventually(first, [](const X11Window& x) { return !x.minimized && x.isViewable; }));
  EXPECT_TRUE(X11Session::waitUntil([&] { return desktops->activeWindow() == first; }));

  ASSERT_TRUE(activate(second));
  EXPECT_EQ(ax().setAttributeValue(w, "AXMain", true), AXError::success);
  EXPECT_TRUE(X11Session::waitUntil([&] { return desktops->activeWindow() == first; }));

  // Restoring a window that is not minimized leaves the focus where it is.
  ASSERT_TRUE(activate(second));
  EXPECT_EQ(ax().setAttributeValue(w, "AXMinimized", false), AXError::success);
  EXPECT_EQ(ax().setAttributeValue(w, "AXFocused", false), AXError::success);
  EXPECT_FALSE(X11Session::waitUntil([&] { return desktops->activeWindow() != second; }, 300ms));

  EXPECT_EQ(ax().setAttributeValue(w, "AXMinimized", "yes"), AXError::illegalArgument);
  EXPECT_EQ(ax().setAttributeValue(w, "AXTitle", "renamed"), AXError::attributeUnsupported);
  EXPECT_EQ(ax().setAttributeValue(ax().applicationElement(pid), "AXFrontmost", true), AXError::attributeUnsupported);
  EXPECT_EQ(ax().performAction(w, "AXShowMenu"), AXError::actionUnsupported);
  EXPECT_EQ(ax().performAction(ax().applicationElement(pid), "AXRaise"), AXError::actionUnsupported);
}

TEST_F(X11AccessibilityTest, ClosedWindowsAndTheirProcessesBecomeInvalid) {
  pid_t pressedPid = 0, closedPid = 0;
  const uint32_t pressed = launch({"--title", "pressed"}, &pressedPid);
  const uint32_t closed = launch({"--title", "closed"}, &closedPid);
  ASSERT_TRUE(pressed && closed);

  // The close button, as the window actions press it.
  const AXElementRef button = *value<AXElementRef>(X11Element::window(pressedPid, pressed), "AXCloseButton");
  EXPECT_EQ(ax().performAction(button, "AXPress"), AXError::success);
  EXPECT_TRUE(session->waitForExit(pressedPid, 5000ms));

  const AXElementRef w = X11Element::window(closedPid, closed);
  EXPECT_EQ(ax().performAction(w, X11Accessibility::kCloseAction), AXError::success);
  EXPECT_TRUE(session->waitForExit(closedPid, 5000ms));
  ASSERT_TRUE(X11Session::waitUntil([&] { return !read(closed); }));

  EXPECT_EQ(get(w, "AXTitle").error, AXError::invalidElement);
  EXPECT_EQ(ax().performAction(w, "AXRaise"), AXError::invalidElement);
  EXPECT_EQ(ax().setAttributeValue(w, "AXMinimized", true), AXError::invalidElement);
  EXPECT_EQ(ax().performAction(button, "AXPress"), AXError::invalidElement);
  std::vector<std::string> names;
  EXPECT_EQ(ax().copyAttributeNames(w, names), AXError::invalidElement);
  EXPECT_EQ(get(ax().applicationElement(closedPid), "AXWindows").error, AXError::invalidElement);
  EXPECT_EQ(get(ax().applicationElement(0), "AXWindows").error, AXError::invalidElement);
  EXPECT_EQ(get(ax().applicationElement(-1), "AXWindows").error, AXError::invalidElement);
  EXPECT_TRUE(AXWindow::windows(ax(), closedPid).empty());
  EXPECT_EQ(ax().applicationWindows(closedPid, {}), std::nullopt);
  expectWindowsReadAsElementsRead(closedPid);

  // A window id that is not ours to claim: a live window under another process id.
  const uint32_t other = launch({"--title", "other"});
  ASSERT_NE(other, 0u);
  EXPECT_EQ(get(X11Element::window(closedPid, other), "AXTitle").error, AXError::invalidElement);
}

TEST_F(X11AccessibilityTest, FocusChangesReachTheObserversOfTheWindowsProcess) {
  pid_t alphaPid = 0, betaPid = 0;
  const uint32_t alpha = launch({"--title", "alpha"}, &alphaPid);
  const uint32_t beta = launch({"--title", "beta"}, &betaPid);
  ASSERT_TRUE(alpha && beta);
  ASSERT_TRUE(activate(beta));
  // The platform's own thread may not have seen beta come forward yet; observers made before it
  // has would hear of it. Its workspace notification (posted after the focus change is handed on)
  // says it has.
  auto betaActivations = std::make_shared<int>(0);
  Subscription token = platform->workspace().addObserver(
      Workspace::Event::didActivateApplication,
      [betaActivations, betaPid](Workspace::Event, const RunningApplication& app) {
        if (app.pid == betaPid) ++*betaActivations;
      });
  ASSERT_TRUE(runUntil([&] { return *betaActivations > 0; }));
  token.cancel();

  struct Delivery {
    std::optional<uint32_t> window;
    std::string notification;
    void* context = nullptr;
    bool onMain = false;
  };
  std::vector<Delivery> alphaSeen, betaSeen;  // main thread only
  const auto recorder = [&](std::vector<Delivery>& into) {
    return [&](const AXElementRef& element, const std::string& notification, void* context) {
      into.push_back({ax().windowNumber(element), notification, context, runtime->main().isCurrent()});
    };
  };
  auto [alphaError, alphaObserver] = ax().createObserver(alphaPid, recorder(alphaSeen));
  auto [betaError, betaObserver] = ax().createObserver(betaPid, recorder(betaSeen));
  ASSERT_EQ(alphaError, AXError::success);
  ASSERT_EQ(betaError, AXError::success);
  int alphaContext = 0, betaContext = 0;
  const AXElementRef alphaApp = ax().applicationElement(alphaPid);
  ASSERT_EQ(alphaObserver->addNotification(alphaApp, X11Observer::kFocusedWindowChanged, &alphaContext),
            AXError::success);
  ASSERT_EQ(betaObserver->addNotification(ax().applicationElement(betaPid), X11Observer::kFocusedWindowChanged,
                                          &betaContext),
            AXError::success);
  alphaObserver->schedule(runtime->main());
  betaObserver->schedule(runtime->main());

  // Registrations: once each, on the observer's own process, focus changes only.
  EXPECT_EQ(alphaObserver->addNotification(alphaApp, X11Observer::kFocusedWindowChanged, nullptr),
            AXError::notificationAlreadyRegistered);
  EXPECT_EQ(alphaObserver->addNotification(ax().applicationElement(betaPid), X11Observer::kFocusedWindowChanged,
                                           nullptr),
            AXError::illegalArgument);
  EXPECT_EQ(alphaObserver->addNotification(alphaApp, "AXTitleChanged", nullptr), AXError::notificationUnsupported);
  EXPECT_EQ(ax().createObserver(0, [](const AXElementRef&, const std::string&, void*) {}).first,
            AXError::illegalArgument);

  ASSERT_TRUE(activate(alpha));
  ASSERT_TRUE(runUntil([&] { return !alphaSeen.empty(); }));
  ASSERT_EQ(alphaSeen.size(), 1u);
  EXPECT_EQ(alphaSeen[0].window, alpha);
  EXPECT_EQ(alphaSeen[0].notification, "AXFocusedWindowChanged");
  EXPECT_EQ(alphaSeen[0].context, &alphaContext);
  EXPECT_TRUE(alphaSeen[0].onMain);
  EXPECT_TRUE(betaSeen.empty());

  ASSERT_TRUE(activate(beta));
  ASSERT_TRUE(runUntil([&] { return !betaSeen.empty(); }));
  EXPECT_EQ(betaSeen[0].window, beta);
  EXPECT_EQ(betaSeen[0].context, &betaContext);
  EXPECT_EQ(alphaSeen.size(), 1u);

  // Unscheduled, or with the registration removed, nothing more arrives.
  alphaObserver->unschedule();
  ASSERT_EQ(betaObserver->removeNotification(ax().applicationElement(betaPid), X11Observer::kFocusedWindowChanged),
            AXError::success);
  EXPECT_EQ(betaObserver->removeNotification(ax().applicationElement(betaPid), X11Observer::kFocusedWindowChanged),
            AXError::notificationNotRegistered);
  ASSERT_TRUE(activate(alpha));
  ASSERT_TRUE(activate(beta));
  EXPECT_FALSE(runUntil([&] { return alphaSeen.size() > 1 || betaSeen.size() > 1; }, 500ms));
}

}  // namespace
}  // namespace quorvel
