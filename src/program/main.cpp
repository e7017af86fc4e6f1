// The program's entry: one Quorvel per X display, on Qt's event loop, until it is quit from its
// menu or ended by a signal (SIGTERM, SIGINT, SIGHUP), after which it ends as ProgramEnd says
// (the settings saved first, the render threads waited for, then every service torn down in order)
// and the process exits with status 0, or until its X display goes away, when the toolkit exits the
// process from within its loop after the same end. The log says which of them ended it, and every
// end closes the log with "Quorvel has ended" and the status.

#include <dlfcn.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QIcon>
#include <QSocketNotifier>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "app/AppDelegate.h"
#include "app/AppServices.h"
#include "app/CommandLine.h"
#include "app/HotkeyManager.h"
#include "app/LoginItem.h"
#include "app/ShortcutAdvice.h"
#include "app/SwipeTakers.h"
#include "program/ProgramEnd.h"
#include "program/ProgramServices.h"
#include "program/SettingsWindowSupport.h"
#include "app/qt/QtAppShell.h"
#include "base/DefaultsFile.h"
#include "base/DefaultsStore.h"
#include "base/FreedMemory.h"
#include "base/Logger.h"
#include "base/ObserverList.h"
#include "base/SystemClock.h"
#include "feedback/FeedbackClient.h"
#include "feedback/curl/CurlHttpsPoster.h"
#include "feedback/qt/FeedbackWindowController.h"
#include "onboarding/OnboardingWindow.h"
#include "onboarding/PermissionLostWindow.h"
#include "onboarding/PermissionWatcher.h"
#include "platform/InotifyFolderWatch.h"
#include "platform/SignalWatch.h"
#include "platform/qt/QtRuntime.h"
#include "platform/x11/GsettingsKeybindings.h"
#include "platform/x11/X11Accessibility.h"
#include "platform/x11/X11DesktopReader.h"
#include "platform/x11/X11InstanceLock.h"
#include "platform/x11/X11KeySource.h"
#include "platform/x11/X11Platform.h"
#include "platform/x11/X11ScreenCapture.h"
#include "platform/x11/WindowManagerProcess.h"
#include "settings/AppSettings.h"
#include "settings/KeyNames.h"
#include "settings_ui/SettingsBindings.h"
#include "windows/ChromeWindowCensus.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>

// The CPU driver and the Khronos layer keep a few allocations to the end of the process; they are
// theirs, not ours (the drivers stay loaded, below, so that the leak check can name them). So does
// fontconfig when the toolkit ends the process from its event loop (the X server went away)
// without taking its fonts down.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libVkLayer_khronos_validation.so\nleak:libvulkan_lvp.so\nleak:libLLVM\nleak:libfontconfig.so\n";
}
#endif

namespace {

// With no session bus to use, the toolkits' D-Bus libraries start one of their own through the X
// server, a bus launcher and a daemon that outlive the program. The session bus is the one the
// environment names, else the user's bus socket (which the libraries find by themselves); with
// neither, the environment names an address no library can connect to, so none starts a bus.
void keepToTheSessionBus() {
  const char* named = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (named && named[0]) return;
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && runtime[0]) {
    struct stat socket {};
    if (::stat((std::string(runtime) + "/bus").c_str(), &socket) == 0 && S_ISSOCK(socket.st_mode)) return;
  }
  setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
}

// The toolkit's status when it ends the process because its X display went away.
constexpr int kDisplayLostStatus = 1;

// What ends the program when the process ends while the event loop runs. exit() destroys the
// calling thread's thread-local objects before any object of static storage (so before any static
// the services' threads read), and the toolkit calls it on the main thread.
struct EndInTheLoop {
  std::function<void()> end;
  ~EndInTheLoop() {
    if (std::function<void()> ending = std::exchange(end, nullptr)) {
      quorvel::Logger("Program").notice(
          "Quorvel ends: the toolkit ends the process from within its event loop (the X display went away); "
          "its services end first");
      ending();
    }
  }
};
thread_local EndInTheLoop endInTheLoop;

// The process ends with the log's last line, before the exit handlers: a build with the leak
// checker has it look now, after an orderly end (what is still held is reachable then).
void checkLeaks() {
#if defined(__SANITIZE_ADDRESS__)
  __lsan_do_leak_check();
#endif
}

int fail(const std::string& message) {
  std::fprintf(stderr, "quorvel: %s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace quorvel;
  // --help, --version and mistakes are answered before anything looks for a display.
  if (const std::optional<int> status = CommandLine::answer(argc, argv, stdout, stderr)) return *status;
  limitHeapArenas();
#if defined(__SANITIZE_ADDRESS__)
  for (const char* library : {"libVkLayer_khronos_validation.so", "libvulkan_lvp.so"})
    (void)dlopen(library, RTLD_NOW | RTLD_NODELETE);
#endif

  const char* display = std::getenv("DISPLAY");
  if (!display || !display[0]) {
    return fail("Quorvel runs in an X11 session, and there is none here (DISPLAY is not set). Start it from "
                "a terminal of your desktop session, or set DISPLAY to your X display (for example DISPLAY=:0).");
  }
  const std::string displayName = display;

  X11InstanceLock::Outcome outcome;
  std::unique_ptr<X11InstanceLock> instance = X11InstanceLock::acquire(displayName, outcome);
  if (outcome == X11InstanceLock::Outcome::noDisplay) {
    return fail("Quorvel cannot reach the X display " + displayName + ".");
  }
  if (outcome == X11InstanceLock::Outcome::heldElsewhere) {
    // The running one opens its settings window, as a reopened application does.
    if (X11InstanceLock::askHolderToReopen(displayName)) {
      std::fprintf(stderr, "quorvel: Quorvel is already running on display %s; its settings window opens.\n",
                   displayName.c_str());
      return 0;
    }
    return fail("Quorvel is already running on display " + displayName + ".");
  }

  // Qt draws the tray item and the settings window on the same X display.
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  keepToTheSessionBus();
  QApplication application(argc, argv);
  QApplication::setApplicationName("Quorvel");
  // Every window carries the program's icon: the icon theme's (installed with the program), else
  // the drawing built into it. The desktop entry of the same name lets desktops join them up.
  QIcon icon = QIcon::fromTheme(LoginItem::kIconName);
  if (icon.isNull()) icon = QIcon(":/quorvel/quorvel.svg");
  QApplication::setWindowIcon(icon);
  QGuiApplication::setDesktopFileName("quorvel");
  QApplication::setQuitOnLastWindowClosed(false);
  // Every way out of the event loop says why in the log: a signal as it comes (read by the end's
  // watch, which hears it even while the main thread is held up), a Quit where it is chosen.
  const Logger logger("Program");
  std::unique_ptr<SignalWatch> endingSignals = SignalWatch::install({SIGTERM, SIGINT, SIGHUP});
  if (!endingSignals) return fail("cannot watch for signals.");
  ProgramEnd end(endingSignals.get(),
                 {SystemClock::shared(),
                  [&application] { QMetaObject::invokeMethod(&application, [] { QCoreApplication::quit(); }); },
                  [](int status) { ::_exit(status); }},
                 ProgramEnd::Timing{});
  // The X server's going away starts the end's limit too, also while the main thread is held up.
  if (auto* x11 = application.nativeInterface<QNativeInterface::QX11Application>())
    end.watchDisplay(xcb_get_file_descriptor(x11->connection()));
  // A desktop session that ends asks the program to save its work first.
  QObject::connect(&application, &QGuiApplication::commitDataRequest, &application,
                   [&] { logger.notice("the desktop session is ending"); });

  int status = 0;
  {
    QtRuntime runtime;
    // A change another program makes to the settings file takes effect at once.
    InotifyFolderWatch folderWatch;
    std::shared_ptr<Executor> settingsFileQueue = runtime.makeSerialQueue("Settings file", QueueQos::utility);
    DefaultsStore store(DefaultsStore::defaultFilePath());
    store.follow(folderWatch, *settingsFileQueue);
    AppSettings settings(store);
    std::unique_ptr<X11Platform> platform = X11Platform::open(runtime, displayName);
    if (!platform) return fail("the X display " + displayName + " has no window manager that Quorvel can work with.");
    std::unique_ptr<X11KeySource> keys = X11KeySource::open(runtime.main(), displayName);
    if (!keys) return fail("the X display " + displayName + " lacks the XInput 2 extension the shortcut needs.");

    ChromeWindowCensus census;
    SettingsWindowSupport settingsSupport(*platform);
    std::shared_ptr<AppDelegate> delegate;
    // The shortcut recorder pauses the global shortcut while it records.
    SettingsWindowServices settingsServices =
        settingsSupport.services(settings, runtime.main(), census, [&delegate](bool recording) {
          if (!delegate) return;
          if (std::shared_ptr<HotkeyManager> hotkey = delegate->services().hotkey()) hotkey->setRecording(recording);
        });
    // Who holds a shortcut's keys is asked of the key source; what to do about it is said in the words
    // of the window manager that runs here, naming its GSettings keys where it keeps them there.
    X11Platform* x11 = platform.get();
    X11KeySource* keySource = keys.get();
    const KeyNames& keyNames = settingsServices.keyNames;
    auto shortcutAdvice = [x11, &keyNames](const KeyInterest& shortcut, const std::string& name) {
      const uint64_t modifiers = shortcut.requiredFlags & KeyFlags::shortcutModifiers;
      X11DesktopReader desktop(x11->connection());
      const std::string manager = desktop.windowManagerName().value_or(std::string());
      auto variable = [](const char* name) {
        const char* value = std::getenv(name);
        return std::string(value ? value : "");
      };
      // The manager reads its files with its own command line and environment; ours stand in for
      // what its process does not show.
      ShortcutAdvice::Environment environment{variable("HOME"), variable("XDG_CONFIG_HOME"),
                                              variable("XDG_CONFIG_DIRS"), variable("ICEWM_PRIVCFG"), {}, {}};
      const std::string program = ShortcutAdvice::processName(manager);
      if (!program.empty()) {
        if (const std::optional<WindowManagerProcess> process =
                WindowManagerProcess::find(desktop.windowManagerPid(), program, variable("DISPLAY"))) {
          environment.commandLine = process->commandLine;
          environment.workingDirectory = process->workingDirectory;
          if (!process->environment.empty()) {
            environment.home = process->variable("HOME");
            environment.configHome = process->variable("XDG_CONFIG_HOME");
            environment.configDirs = process->variable("XDG_CONFIG_DIRS");
            environment.icewmPrivateConfig = process->variable("ICEWM_PRIVCFG");
          }
        }
      }
      // A path that is a folder, or a file that cannot be read, reads as none: never an exception.
      auto readFile = [](const std::string& path) -> std::optional<std::string> {
        std::string bytes;
        int error = 0;
        if (DefaultsFile::read(path, size_t{1} << 20, bytes, error) != DefaultsFile::ReadOutcome::read) return std::nullopt;
        return bytes;
      };
      auto gsettings = [](std::string_view schema) {
        std::vector<ShortcutAdvice::GsettingsKey> keys;
        for (GsettingsKeybindings::Key& key : GsettingsKeybindings::read(schema)) {
          keys.push_back({std::move(key.name), std::move(key.accelerators), key.isList});
        }
        return keys;
      };
      auto isDirectory = [](const std::string& path) {
        struct stat info {};
        return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
      };
      const ShortcutAdvice::Findings found = ShortcutAdvice::find(manager, modifiers, keyNames.name(shortcut.keyCode),
                                                                  environment, readFile, gsettings, isDirectory);
      return ShortcutAdvice::advice(manager, name, found);
    };
    auto shortcutTaken = [keySource, shortcutAdvice,
                          &keyNames](const HotkeyBinding& binding) -> std::optional<AdviceText> {
      const KeyInterest keys{binding.keyCode,
                             static_cast<uint64_t>(binding.requiredFlags) & KeyFlags::shortcutModifiers};
      if (!keySource->heldByAnotherProgram(keys)) return std::nullopt;
      return shortcutAdvice(keys, binding.displayString(keyNames));
    };
    // The settings window's shortcut rows follow the keys changing hands.
    ObserverList<> shortcutOwners;
    settingsServices.shortcutTaken = shortcutTaken;
    settingsServices.observeShortcutOwners = [&shortcutOwners](std::function<void()> observer) {
      return shortcutOwners.add(std::move(observer));
    };
    QtAppShell* shellHandle = nullptr;
    // Feedback is offered only by a build given a host to send it to.
    const bool feedbackHost = FeedbackClient::endpoint(FeedbackClient::builtInHost()).has_value();
    if (feedbackHost) {
      settingsServices.sendFeedback = [&shellHandle] {
        if (shellHandle) shellHandle->showFeedback();
      };
    }
    // The tour and the "Shortcut needed" window; made once the services they look at exist.
    OnboardingServices onboardingServices{settings, runtime.main(), census, settingsServices.keyNames};
    onboardingServices.setLoginItem = settingsServices.setLoginItem;
    onboardingServices.loginItemEnabled = settingsServices.loginItemEnabled;
    onboardingServices.suspendShortcuts = settingsServices.suspendShortcuts;
    onboardingServices.virtualKeyCode = settingsServices.virtualKeyCode;
    onboardingServices.shortcutTaken = shortcutTaken;
    onboardingServices.observeShortcutOwners = settingsServices.observeShortcutOwners;
    std::unique_ptr<OnboardingWindowController> tour;
    std::unique_ptr<PermissionLostWindowController> shortcutNeeded;
    std::unique_ptr<PermissionWatcher> watcher;
    settingsServices.showTour = [&tour] {
      if (tour) tour->showTour();
    };
    // Closing a window where the shortcut is chosen leaves a shortcut still taken to the watcher.
    settingsServices.onClose = [&watcher] {
      if (watcher) watcher->answeringWindowClosed();
    };
    onboardingServices.tourClosed = settingsServices.onClose;
    QtAppShell shell(std::move(settingsServices));
    shellHandle = &shell;
    // Feedback goes to the host this build was given, one send at a time on a queue of its own.
    std::unique_ptr<FeedbackWindowController> feedback;
    if (feedbackHost) {
      feedback = std::make_unique<FeedbackWindowController>(
          census, FeedbackWindowController::programServices(
                      store, std::make_shared<FeedbackClient>(std::make_shared<CurlHttpsPoster>(), FeedbackClient::builtInHost()),
                      runtime.makeSerialQueue("Feedback", QueueQos::utility), runtime.main()));
      shell.setFeedbackOpener([&feedback] { feedback->show(); });
    }
    auto programServices = std::make_unique<ProgramServices>(runtime, *platform, displayName, settings, *keys, census);
    ProgramServices* program = programServices.get();
    delegate = AppDelegate::create(std::move(programServices), shell, settings, runtime.main());

    std::weak_ptr<HotkeyManager> hotkey = program->hotkey();
    onboardingServices.shortcutHeldElsewhere = [hotkey] {
      auto manager = hotkey.lock();
      return manager && manager->keysHeldElsewhere();
    };
    onboardingServices.askForShortcutAgain = [hotkey] {
      if (auto manager = hotkey.lock()) manager->askForKeysAgain();
    };
    X11ScreenCapture* capture = platform->screenCapture();
    onboardingServices.windowPicturesAvailable = [capture] { return capture && capture->hasComposite(); };
    // The accessibility bus may take its time to answer: it is asked off the main thread, and the
    // answer kept for the next question.
    struct TreesReadable {
      std::atomic<bool> readable{false};
      std::atomic<bool> asking{false};
    };
    auto trees = std::make_shared<TreesReadable>();
    std::shared_ptr<Executor> treesQueue = runtime.makeSerialQueue("AccessibilityCheck", QueueQos::utility);
    X11Accessibility* accessibility = &platform->accessibility();
    onboardingServices.browserTabsReadable = [trees, treesQueue, accessibility] {
      if (!trees->asking.exchange(true)) {
        treesQueue->post([trees, accessibility] {
          trees->readable = accessibility->elementTreesReadable(std::chrono::milliseconds(500));
          trees->asking = false;
        });
      }
      return trees->readable.load();
    };
    (void)onboardingServices.browserTabsReadable();
    onboardingServices.windowManagerName = [x11] {
      return X11DesktopReader(x11->connection()).windowManagerName().value_or(std::string());
    };
    // The advice on freeing a taken shortcut speaks of the window manager that runs.
    program->hotkey()->windowManagerName = onboardingServices.windowManagerName;
    // The log line and the tray's message say the same as the windows, GSettings keys and all.
    program->hotkey()->shortcutAdvice = [shortcutAdvice](const KeyInterest& shortcut, const std::string& name) {
      return shortcutAdvice(shortcut, name).plain();
    };
    onboardingServices.touchpadPresent = [program] { return program->touchpadPresent(); };
    // GNOME Shell and the gesture programs answer swipes of their own; other managers take none.
    onboardingServices.swipeConflicts = [x11](AppSettings::SummonGesture gesture, AppSettings::SummonSwipeDirection) {
      if (gesture == AppSettings::SummonGesture::off) return false;
      const std::string manager = X11DesktopReader(x11->connection()).windowManagerName().value_or(std::string());
      return !SwipeTakers::find(manager, SwipeTakers::userProcessNames()).empty();
    };
    onboardingServices.observeSummons = [program](std::function<void()> observer) {
      return program->addSummonObserver(std::move(observer));
    };
    onboardingServices.quit = [] { QCoreApplication::quit(); };
    onboardingServices.showShortcutSettings = [&shell] { shell.showSettings(SettingsPane::shortcuts); };
    tour = std::make_unique<OnboardingWindowController>(onboardingServices);
    shortcutNeeded = std::make_unique<PermissionLostWindowController>(onboardingServices);
    watcher = std::make_unique<PermissionWatcher>(store, runtime.main(), onboardingServices.shortcutHeldElsewhere,
                                                  [&shortcutNeeded](bool lost) { shortcutNeeded->show(lost); });
    // A shortcut chosen in the settings or the tour that another program holds is said there.
    watcher->setAnsweredInPlace([&shell, &tour] {
      const QWidget* settingsWindow = shell.settingsWindow().window();
      const QWidget* tourWindow = tour ? tour->window() : nullptr;
      return (settingsWindow && settingsWindow->isVisible()) || (tourWindow && tourWindow->isVisible());
    });
    // Before the tour has been completed, a taken shortcut that no window says is told beside the
    // tray item, in short: the settings' Shortcuts pane has the rest.
    watcher->setNotice([&shell, &settings, &keyNames, shortcutTaken](bool shown) {
      if (!shown) {
        shell.withdrawStatusMessage();
        return;
      }
      const std::optional<HotkeyBinding> binding = settings.hotkeyBinding(HotkeySlot::first);
      // The holder the Shortcuts pane's advice names.
      const std::optional<AdviceText> advice = binding ? shortcutTaken(*binding) : std::nullopt;
      shell.showStatusMessage("Quorvel", PermissionWatcher::noticeText(binding ? binding->displayString(keyNames) : "",
                                                                       advice.value_or(AdviceText()).heldBy()));
    });
    program->hotkey()->onOwnershipChange = [&watcher, &shortcutOwners] {
      shortcutOwners.notify();
      if (watcher) watcher->ownershipChanged();
    };
    shell.setTourHooks([&tour] { tour->showIfNeeded(); }, [&watcher] { watcher->start(); });

    QSocketNotifier reopen(instance->fd(), QSocketNotifier::Read);
    QObject::connect(&reopen, &QSocketNotifier::activated, &application, [&] {
      if (instance->takeReopenRequests() > 0) delegate->applicationShouldHandleReopen();
    });
    QTimer::singleShot(0, &application, [&] { delegate->applicationDidFinishLaunching(); });

    // No teardown is promised, but an orderly one. The settings first: what the settings window
    // still holds (a slider being moved) and changes that still wait for the file (another program
    // writing it) are saved, or kept for the next start, before the end waits for anything.
    // The store itself may be saved from any thread.
    ProgramEnd::Steps steps;
    steps.save = [&] {
      shell.settingsWindow().bindings().flush();
      store.close();
    };
    steps.saveElsewhere = [&store] { store.close(); };
    // Then, once no render thread draws any more (the end waits for them first), the take-down,
    // in an order that leaves no thread calling into what has gone:
    //  1. the feedback window: closing it ends a send under way on its queue, which would otherwise
    //     hold the end until the network gave up;
    //  2. the threads that call in from outside, each waited for and calling nothing after: the
    //     platform's X event thread (the window model, the workspace's and the focus observers'
    //     notifications), the picture reads' worker, event thread and live-picture streams (the
    //     read under way finishes, reads not begun are dropped), the key source's reader and
    //     watchdog (its grabs let go of), the touchpad reader and the settings folder's watch;
    //  3. the worker queues (the pool and every serial queue: picture preparation, chrome uploads,
    //     site icons, accessibility, the focus observer's, the settings file's): the work that is
    //     ready runs, later posts are dropped;
    //  4. the tour's windows (they follow the overlay's summons), then the services;
    //  5. the key source and the platform themselves.
    // What is left calls nothing that has gone: the main queue never runs again once its loop has
    // ended (its jobs are dropped unrun with the runtime), the picture cache's timer thread only
    // hands its jobs to the main queue, GLib's D-Bus thread (under the accessibility calls) runs
    // nothing of ours, the GPU's completion thread calls only handlers that hold what they use or
    // whose owners wait for them, and the process ends with the log's last line, before any exit
    // handler.
    steps.takeDown = [&] {
      feedback.reset();
      platform->stop();
      keys->stop();
      program->stopTouchpadReader();
      folderWatch.stop();
      runtime.shutdownWorkers();
      program->hotkey()->onOwnershipChange = nullptr;
      watcher.reset();
      shortcutNeeded.reset();
      tour.reset();
      delegate.reset();
      keys.reset();
      platform.reset();
    };
    end.setSteps(std::move(steps));
    // The toolkit ends the process from within its event loop, by exit(), when the X server goes
    // away: the same end then runs first thing in exit(), before a static object is destroyed.
    endInTheLoop.end = [&end] {
      end.run(kDisplayLostStatus);
      checkLeaks();
      end.finish(kDisplayLostStatus);
    };
    status = QApplication::exec();
    endInTheLoop.end = nullptr;
    logger.notice("the event loop has ended (status %d); the services end", status);
    // (A frame that never returns has the process end around it in there.)
    end.run(status);
  }
  instance.reset();
  checkLeaks();
  end.finish(status);
  return status;
}
