// Browser tabs on a real desktop: Debian's firefox-esr and chromium in a private X session with
// its own session bus and accessibility bus, each with a fresh profile and four local pages. The
// window registry lists their tabs as cards, a picked tab card brings that tab forward, and a
// private window is recognised. Skipped, with the reason, only when a browser cannot start here.
//
// With QUORVEL_RECORD_ATSPI_FIXTURES set to a folder, the browsers' trees are recorded there as
// the fixtures that tests/atspi plays back.

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>

#include "X11PlatformTest.h"
#include "actions/Activator.h"
#include "ax/AXFunnel.h"
#include "base/DefaultsStore.h"
#include "platform/Accessibility.h"
#include "platform/atspi/AtspiDbusBus.h"
#include "settings/AppSettings.h"
#include "support/RecordedAtspiBus.h"
#include "tabs/TabActivation.h"
#include "tabs/TabAdapter.h"
#include "tabs/TabWalker.h"
#include "windows/ActivatorHooks.h"
#include "windows/ChromeWindowCensus.h"
#include "windows/FocusObserver.h"
#include "windows/PrivateWindowMarkers.h"
#include "windows/RegistryServices.h"
#include "windows/WindowRegistry.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;

// How long a browser may take to show its first window on a machine with every core busy.
constexpr auto kBrowserStart = 60s;
constexpr auto kTabsAppear = 45s;

struct BrowserUnderTest {
  std::string program;       // on the PATH
  std::string bundlePrefix;  // its X11 identity
  std::string fixture;       // the recording's file name
  bool titleMarksPrivate;    // whether a private window's own title says so
  // The command that opens `urls` in a window (a private one when asked) of the profile `profile`.
  std::vector<std::string> (*command)(const std::string& profile, const std::vector<std::string>& urls, bool privately);
};

void PrintTo(const BrowserUnderTest& browser, std::ostream* out) { *out << browser.program; }

std::vector<std::string> firefox(const std::string& profile, const std::vector<std::string>& urls, bool privately) {
  std::vector<std::string> argv{"firefox-esr", "--profile", profile};
  if (privately) argv.push_back("--private-window");
  argv.insert(argv.end(), urls.begin(), urls.end());
  return argv;
}

std::vector<std::string> chromium(const std::string& profile, const std::vector<std::string>& urls, bool privately) {
  std::vector<std::string> argv{"chromium", "--user-data-dir=" + profile, "--no-first-run", "--no-default-browser-check",
                                "--password-store=basic", "--disable-gpu"};
  // Its sandbox refuses to run as root (as in containers and CI).
  if (::geteuid() == 0) argv.push_back("--no-sandbox");
  if (privately) argv.push_back("--incognito");
  argv.insert(argv.end(), urls.begin(), urls.end());
  return argv;
}

bool onPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    if (!dir.empty() && ::access((dir + "/" + program).c_str(), X_OK) == 0) return true;
  }
  return false;
}

// The last lines of a log, for a failure or skip message.
std::string tail(const std::string& text, size_t lines = 15) {
  size_t at = text.size();
  for (size_t n = 0; n <= lines; ++n) {
    if (at == 0) return text;
    at = text.rfind('\n', at - 1);
    if (at == std::string::npos) return text;
  }
  return text.substr(at + 1);
}

class X11BrowserTabsTest : public X11PlatformTest, public ::testing::WithParamInterface<BrowserUnderTest> {
 protected:
  void SetUp() override {
    X11PlatformTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    // A session bus of the test's own; the accessibility bus is started from it on demand.
    int out = -1;
    ASSERT_GT(session->launchProgram("dbus", {"dbus-daemon", "--session", "--nofork", "--print-address=1"}, &out), 0);
    std::string address;
    pollfd p{out, POLLIN, 0};
    char buffer[512];
    while (address.find('\n') == std::string::npos && ::poll(&p, 1, 10000) > 0) {
      const ssize_t n = ::read(out, buffer, sizeof buffer);
      if (n <= 0) break;
      address.append(buffer, static_cast<size_t>(n));
    }
    ::close(out);
    ASSERT_NE(address.find('\n'), std::string::npos) << "no session bus: " << session->log("dbus");
    address.resize(address.find('\n'));
    if (const char* old = std::getenv("DBUS_SESSION_BUS_ADDRESS")) savedBus = old;
    if (const char* old = std::getenv("AT_SPI_BUS_ADDRESS")) savedAtspi = old;
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    ::unsetenv("AT_SPI_BUS_ADDRESS");
    busAddress = address;

    store.setMany({{AppSettings::Key::windowOrder, "recent"},
                   {AppSettings::Key::groupByApp, false},
                   {AppSettings::Key::otherSpacesDisplay, "show"},
                   {AppSettings::Key::minimizedDisplay, "show"},
                   {AppSettings::Key::hiddenAppsDisplay, "show"},
                   {AppSettings::Key::windowlessAppsDisplay, "show"},
                   {AppSettings::Key::privateWindowsDisplay, "blur"},
                   {AppSettings::Key::tabsDisplay, "always"}});
    settings.registerDefaults();
    funnel = std::make_unique<AXFunnel>(*runtime);
    focus = FocusObserver::create(*runtime, platform->services().accessibility, *funnel);
    nudges = std::make_unique<TabAdapter::NudgeRecord>(platform->services().accessibility, runtime->clock());
    walker = std::make_unique<TabWalker>(platform->services().accessibility, *nudges);
    tabs = std::make_unique<TabActivation>(platform->services().accessibility, *walker);
    registry = WindowRegistry::create(
        RegistryServices{*runtime, platform->services(), *funnel, settings, *focus, *walker, *nudges, census, hooks});
    activator = std::make_unique<Activator>(
        ActivatorServices{*runtime, platform->services(), *funnel, settings, *tabs, hooks});

    for (int i = 1; i <= 4; ++i) {
      const std::string file = session->folder() + "/page" + std::to_string(i) + ".html";
      std::ofstream(file) << "<!doctype html><html><head><title>Page " << i << "</title></head><body><p>Page " << i
                          << "</p></body></html>\n";
      urls.push_back("file://" + file);
    }
  }

  void TearDown() override {
    activator.reset();
    if (registry) {
      std::weak_ptr<WindowRegistry> weak = registry;
      registry.reset();
      runUntil([&] { return weak.expired(); }, 2000ms);
    }
    // The Accessibility queue ends (with what it still runs) before what its jobs use.
    focus.reset();
    funnel.reset();
    tabs.reset();
    walker.reset();
    nudges.reset();
    X11PlatformTest::TearDown();
    if (savedBus) ::setenv("DBUS_SESSION_BUS_ADDRESS", savedBus->c_str(), 1); else ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    if (savedAtspi) ::setenv("AT_SPI_BUS_ADDRESS", savedAtspi->c_str(), 1);
  }

  // The window cards of the last pass and the tab cards of their hosts.
  std::vector<WindowCard> cards() {
    return registry->lock().withLock([&] {
      std::vector<WindowCard> all = *registry->state().cards;
      for (const auto& [host, list] : *registry->state().tabCards) all.insert(all.end(), list.begin(), list.end());
      return all;
    });
  }
  bool passNow() {
    TaskHandle<void> task = registry->lock().withLock([&] {
      registry->state().mustRunNextPass = true;
      // Each pass reads the browser's tree afresh: a loaded browser fills its tabs in late, and a
      // tree read before that would be kept until the window's own title changes or the periodic
      // deep read comes round.
      registry->state().tabCache.clear();
      return registry->requestRefresh();
    });
    return runUntil([&] { return task.isDone(); }, 8000ms);
  }
  // Runs passes until `condition` holds of the cards or the time runs out.
  bool passesUntil(const std::function<bool(const std::vector<WindowCard>&)>& condition,
                   std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      passNow();
      if (condition(cards())) return true;
      runUntil([] { return false; }, 300ms);
    }
    return condition(cards());
  }
  bool ofBrowser(const WindowCard& c) const {
    return c.bundleID && c.bundleID->starts_with(GetParam().bundlePrefix);
  }
  std::vector<WindowCard> windowCards(bool privately) {
    std::vector<WindowCard> out;
    for (const WindowCard& c : cards()) {
      if (ofBrowser(c) && c.state != WindowState::browserTab && c.isPrivate == privately) out.push_back(c);
    }
    return out;
  }
  // Every page's title as a card of the browser's window `host`: the tab it shows as the window's
  // own card, the others as tab cards.
  std::set<std::string> pagesOf(const std::vector<WindowCard>& all, uint32_t host) {
    std::set<std::string> pages;
    for (const WindowCard& c : all) {
      if (c.id == host) pages.insert(c.title.substr(0, 6));
      if (c.tab && c.tab->hostWindowID == host) pages.insert(c.title);
    }
    return pages;
  }

  // What the accessibility bus says, for failure messages.
  std::string busReport() {
    AtspiDbusBus bus(busAddress);
    std::string report = "accessibility bus: ";
    auto on = bus.isEnabled(2000ms);
    report += on.ok() ? (on.value ? "enabled; " : "disabled; ") : "no answer; ";
    auto apps = bus.applications(2000ms);
    if (!apps.ok()) return report + "no registry (" + std::to_string(axErrorCode(apps.error)) + ")";
    for (const AtspiNode& app : apps.value) {
      auto owner = bus.processOf(app.bus, 2000ms);
      auto object = bus.object(app, 2000ms);
      report += (object.ok() ? object.value.name : "?") + " (" + std::to_string(owner.value) + ") with " +
                std::to_string(object.value.childCount) + " windows; ";
    }
    for (const WindowCard& c : windowCards(false)) {
      if (!c.ax) continue;
      Accessibility& ax = platform->services().accessibility;
      auto children = ax.elementsAttribute(c.ax->element(), "AXChildren");
      report += "\nwindow " + c.title + ": " + std::to_string(children ? children->size() : -1) + " children, title " +
                ax.stringAttribute(c.ax->element(), "AXTitle").value_or("?");
      const TabWalker::Walk walked = walker->walk(*c.ax, c.pid, *TabAdapter::find(*c.bundleID), true, true);
      report += ", " + std::to_string(walked.tabs.size()) + " tabs";
    }
    return report;
  }

  void record() {
    const char* folder = std::getenv("QUORVEL_RECORD_ATSPI_FIXTURES");
    if (!folder || !*folder) return;
    AtspiDbusBus bus(busAddress);
    auto apps = bus.applications(2000ms);
    ASSERT_TRUE(apps.ok());
    const int32_t pid = windowCards(false).front().pid;
    for (const AtspiNode& app : apps.value) {
      auto owner = bus.processOf(app.bus, 2000ms);
      if (!owner.ok() || owner.value != pid) continue;
      std::ofstream(std::string(folder) + "/" + GetParam().fixture)
          << RecordedAtspiBus::record(bus, app.bus, pid).dump(1) << "\n";
    }
  }

  std::optional<std::string> savedBus, savedAtspi;
  std::string busAddress;
  std::vector<std::string> urls;
  DefaultsStore store;
  AppSettings settings{store};
  ChromeWindowCensus census;
  ActivatorHooks hooks;
  std::unique_ptr<AXFunnel> funnel;
  std::shared_ptr<FocusObserver> focus;
  std::unique_ptr<TabAdapter::NudgeRecord> nudges;
  std::unique_ptr<TabWalker> walker;
  std::unique_ptr<TabActivation> tabs;
  std::shared_ptr<WindowRegistry> registry;
  std::unique_ptr<Activator> activator;
};

TEST_P(X11BrowserTabsTest, TabsAreCardsAPickedTabComesForwardAndPrivateWindowsAreRecognised) {
  const BrowserUnderTest& browser = GetParam();
  if (!onPath(browser.program)) GTEST_SKIP() << browser.program << " is not installed, so it cannot start here";
  const std::string profile = session->folder() + "/profile-" + browser.program;
  std::filesystem::create_directories(profile);
  if (browser.program == "firefox-esr") {
    // A fresh profile opens no welcome or privacy-notice pages of its own.
    std::ofstream(profile + "/user.js") << R"(user_pref("browser.startup.homepage_override.mstone", "ignore");
user_pref("startup.homepage_welcome_url", "");
user_pref("startup.homepage_welcome_url.additional", "");
user_pref("datareporting.policy.firstRunURL", "");
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("browser.aboutwelcome.enabled", false);
user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("browser.tabs.warnOnClose", false);
)";
  }
  // Browsers read the session's assistive-technology switch when they start: the program's nudge
  // turns it on (as the tab walk does with the first browser window it meets), then they start.
  Accessibility& ax = platform->services().accessibility;
  ASSERT_EQ(ax.setAttributeValue(ax.applicationElement(::getpid()), "AXManualAccessibility", AXValue(true)),
            AXError::success);
  ASSERT_GT(session->launchProgram(browser.program, browser.command(profile, urls, false)), 0);
  if (!passesUntil([&](const std::vector<WindowCard>&) { return !windowCards(false).empty(); }, kBrowserStart)) {
    GTEST_SKIP() << browser.program << " did not start on this machine (no window within "
                 << kBrowserStart.count() << " s):\n" << tail(session->log(browser.program));
  }
  // Every page is a card with its title, in one window of the browser (a loaded browser may show
  // and replace another window first).
  const std::set<std::string> all{"Page 1", "Page 2", "Page 3", "Page 4"};
  uint32_t host = windowCards(false).front().id;
  const bool listed = passesUntil(
      [&](const std::vector<WindowCard>& now) {
        for (const WindowCard& window : windowCards(false)) {
          const std::set<std::string> pages = pagesOf(now, window.id);
          if (!std::includes(pages.begin(), pages.end(), all.begin(), all.end())) continue;
          host = window.id;
          return true;
        }
        return false;
      },
      kTabsAppear);
  ASSERT_TRUE(listed) << "pages listed: " << ::testing::PrintToString(pagesOf(cards(), host)) << " of "
                      << windowCards(false).size() << " windows\n"
                      << busReport() << " window pid " << windowCards(false).front().pid << "\n"
                      << tail(session->log(browser.program));

  // A private window is recognised, and its tabs are not offered. Asking the running browser for
  // one starts a second browser process, as slow on a busy machine as the first start: the test
  // waits for what makes the window private, each step for as long as it may take, rather than
  // for one fixed time: the new window of the browser appearing, then its title marking it private
  // (the title that the registry recognises it by), then the registry's next passes.
  std::set<uint32_t> before;
  for (const X11Window& w : windows->readClients()) before.insert(w.id);
  ASSERT_GT(session->launchProgram(browser.program + "-private", browser.command(profile, {urls[1]}, true)), 0);
  std::optional<X11Window> opened;
  const bool appeared = X11Session::waitUntil(
      [&] {
        for (const X11Window& w : windows->readClients()) {
          const std::optional<std::string> bundle = w.bundleIdentifier();
          if (!before.contains(w.id) && bundle && bundle->starts_with(browser.bundlePrefix)) opened = w;
        }
        return opened.has_value();
      },
      kBrowserStart);
  ASSERT_TRUE(appeared) << "no new window of " << browser.program << " within " << kBrowserStart.count() << " s\n"
                        << tail(session->log(browser.program + "-private"));
  const auto privateTitle = [&] {
    opened = read(opened->id);
    return opened && PrivateWindowMarkers::isPrivate(opened->bundleIdentifier(), opened->title);
  };
  // A browser whose window title does not say so is recognised from its tree instead.
  if (browser.titleMarksPrivate) {
    ASSERT_TRUE(X11Session::waitUntil(privateTitle, kTabsAppear))
        << "the new window is titled \"" << (opened ? opened->title : "(gone)") << "\"";
  }
  const bool recognised = passesUntil([&](const std::vector<WindowCard>&) { return !windowCards(true).empty(); },
                                      kTabsAppear);
  ASSERT_TRUE(recognised) << "no private window among " << cards().size() << " cards";
  const uint32_t privateHost = windowCards(true).front().id;
  for (const WindowCard& c : cards()) EXPECT_FALSE(c.tab && c.tab->hostWindowID == privateHost);

  record();

  // Picking the card of the third page brings that tab forward in its window.
  // A pass that meets the busy browser mid-read may list fewer tabs for a moment: wait for the page.
  std::optional<WindowCard> third;
  passesUntil(
      [&](const std::vector<WindowCard>& now) {
        for (const WindowCard& c : now) {
          if (c.tab && c.tab->hostWindowID == host && c.title == "Page 3") third = c;
        }
        return third.has_value();
      },
      kTabsAppear);
  ASSERT_TRUE(third) << "tab cards of the window: " << ::testing::PrintToString(pagesOf(cards(), host));
  std::atomic<bool> pressed{false};
  std::atomic<uint32_t> raised{0};
  hooks.setDidPressTab([&pressed](uint32_t, uint32_t) { pressed = true; });
  hooks.setDidRaiseWindow([&raised](uint32_t window, int32_t) { raised = window; });
  // A pick presses the tab when the browser answers the walk of its strip within the
  // Accessibility time-out. A busy browser may not: then nothing is pressed and the window comes
  // forward as it is (the route ends with its raise), and the test picks again, as a person would.
  int picks = 0;
  for (const auto deadline = std::chrono::steady_clock::now() + kTabsAppear;
       !pressed && std::chrono::steady_clock::now() < deadline; ++picks) {
    raised = 0;
    activator->pick(*third);
    runUntil([&] { return pressed || raised == host; }, kTabsAppear);
  }
  ASSERT_TRUE(pressed) << "no pick of " << picks << " pressed the tab";
  const bool forward = runUntil(
      [&] {
        const std::optional<X11Window> w = read(host);
        return w && w->title.starts_with("Page 3");
      },
      kTabsAppear);
  EXPECT_TRUE(forward) << "the window still shows " << (read(host) ? read(host)->title : "nothing");
  // The pick's route ends with the raise of the tab's window.
  EXPECT_TRUE(runUntil([&] { return raised == host; }, kTabsAppear));
}

INSTANTIATE_TEST_SUITE_P(Browsers, X11BrowserTabsTest,
                         ::testing::Values(BrowserUnderTest{"firefox-esr", "x11.firefox", "firefox-esr.json", true, firefox},
                                           BrowserUnderTest{"chromium", "x11.chromium", "chromium.json", false, chromium}),
                         [](const ::testing::TestParamInfo<BrowserUnderTest>& info) {
                           return info.param.program == "firefox-esr" ? std::string("FirefoxEsr")
                                                                      : std::string("Chromium");
                         });

}  // namespace
}  // namespace quorvel
