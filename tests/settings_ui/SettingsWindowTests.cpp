#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QToolButton>

#include "settings_ui/AdviceView.h"
#include "settings_ui/AppLists.h"
#include "settings_ui/KeyReferenceScreen.h"
#include "settings_ui/PassThroughAppsScreen.h"
#include "settings_ui/SettingsForm.h"
#include "settings_ui/SettingsNavigator.h"
#include "settings_ui/SettingsPanes.h"
#include "settings_ui/SettingsUiFixture.h"
#include "settings_ui/SettingsWindowController.h"
#include "settings_ui/ShortcutRecorderRow.h"
#include "settings_ui/ShortcutsPane.h"
#include "base/ObserverList.h"

namespace quorvel {
namespace {

using K = AppSettings::Key;

TEST(SettingsPanesTest, TheStoredPaneComesBackWithItsOldNames) {
  const std::vector<std::pair<std::string, SettingsPane>> cases = {
      {"style", SettingsPane::appearance}, {"motion", SettingsPane::pointer},  {"pointer", SettingsPane::pointer},
      {"Pointer", SettingsPane::general},  {"desktops", SettingsPane::general}, {"", SettingsPane::general},
      {"about", SettingsPane::about},
  };
  for (const auto& [stored, pane] : cases) EXPECT_EQ(SettingsPanes::fromStored(stored), pane) << stored;
}

TEST(SettingsWindowFitTest, WidthAndHeightHaveAFloorAndTheFrameStaysOnScreen) {
  const Rect screen{0, 30, 1280, 770};
  struct Case {
    Rect saved, fitted;
  };
  const std::vector<Case> cases = {
      {{100, 100, 900, 600}, {100, 100, 900, 600}},  // wider (a tiling manager's tile): kept
      {{100, 100, 600, 600}, {100, 100, 779, 600}},  // narrower: back to 779
      {{0, 30, 2000, 500}, {0, 30, 1280, 500}},      // wider than the screen: cut to it
      {{100, 100, 779, 300}, {100, 100, 779, 460}},  // too short: grows downward, top kept
      {{900, -50, 779, 500}, {501, 30, 779, 500}},   // partly off screen: moved inside
      {{10, 40, 779, 2000}, {10, 30, 779, 770}},     // taller than the screen: cut to it
  };
  for (const Case& c : cases) EXPECT_EQ(SettingsWindowController::fitFrame(c.saved, screen), c.fitted);
  EXPECT_EQ(SettingsWindowController::fitFrame({5, 5, 10, 10}, std::nullopt), (Rect{5, 5, 779, 460}));
  EXPECT_EQ(SettingsWindowController::fitFrame({50, 50, 779, 500}, Rect{0, 0, 600, 400}), (Rect{0, 0, 779, 400}));
}

class SettingsWindowTest : public SettingsUiTest {};

TEST_F(SettingsWindowTest, OneWindowThatKeepsItsPaneAndClosesOnEscape) {
  store.set(SettingsPanes::storedPaneKey, "style");
  SettingsWindowController controller(services);
  EXPECT_EQ(controller.selectedPane(), SettingsPane::appearance);
  controller.select(SettingsPane::shortcuts);
  controller.show();
  QMainWindow* window = controller.window();
  EXPECT_EQ(window->windowTitle(), QString::fromUtf8("Shortcuts \u2014 Quorvel Settings"));
  EXPECT_EQ(store.string(SettingsPanes::storedPaneKey), "shortcuts");
  EXPECT_TRUE(dynamic_cast<ShortcutsPane*>(controller.currentPane()));
  EXPECT_EQ(census.openWindowNumbers().size(), 1u);
  EXPECT_EQ(window->width(), SettingsWindowController::kContentWidth);

  const int before = writes;
  controller.choose(SettingsPane::shortcuts);  // the row already chosen: nothing written
  EXPECT_EQ(writes, before);
  controller.select(SettingsPane::about);  // the menu's About: applied by the next show
  controller.show();
  EXPECT_EQ(controller.window(), window);
  EXPECT_EQ(window->windowTitle(), QString::fromUtf8("About \u2014 Quorvel Settings"));
  EXPECT_EQ(store.string(SettingsPanes::storedPaneKey), "about");

  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(window, &escape);
  EXPECT_FALSE(window->isVisible());
  EXPECT_TRUE(census.openWindowNumbers().empty());
  controller.show();
  EXPECT_EQ(window->windowTitle(), QString::fromUtf8("About \u2014 Quorvel Settings"));
}

TEST_F(SettingsWindowTest, TheFrameIsStoredAsItChangesOncePerPause) {
  SettingsWindowController controller(services);
  controller.show();
  QMainWindow* window = controller.window();
  const auto stored = [&] { return store.object(SettingsWindowController::frameKey).value_or(nlohmann::json()); };
  for (int x : {140, 150, 160}) window->move(x, 90);  // a drag: many moves in a row
  const int before = writes;
  loop.advance(SettingsBindings::writePause / 2);
  EXPECT_EQ(writes, before);  // nothing while the moves go on
  loop.advance(SettingsBindings::writePause);
  EXPECT_EQ(writes, before + 1);
  const QRect g = window->geometry();
  EXPECT_EQ(stored(), nlohmann::json::array({g.x(), g.y(), g.width(), g.height()}));
  window->resize(SettingsWindowController::kContentWidth, 600);
  loop.advance(SettingsBindings::writePause * 2);
  EXPECT_EQ(stored()[3], 600);
}

class ShortcutsPaneTest : public SettingsUiTest {
 protected:
  ShortcutsPane& pane() {
    if (!pane_) pane_ = std::make_unique<ShortcutsPane>(bindings, services, navigator);
    return *pane_;
  }
  QPushButton* press(ShortcutRecorderRow* row, int64_t key, Qt::KeyboardModifiers modifiers) {
    row->recordButton()->click();
    QKeyEvent event(QEvent::KeyPress, Qt::Key_K, modifiers, static_cast<quint32>(key), 0, 0);
    QApplication::sendEvent(row->recordButton(), &event);
    return row->recordButton();
  }
  SettingsBindings bindings{settings, loop.main()};
  SettingsNavigator navigator;
  std::unique_ptr<ShortcutsPane> pane_;
};

TEST_F(ShortcutsPaneTest, RecordingStoresTheShortcutAndTheRowsFollowTheStore) {
  using Row = ShortcutsPane::Row;
  EXPECT_EQ(pane().shortcut(Row::first), (HotkeyBinding{48, HotkeyBinding::optionFlag}));
  EXPECT_TRUE(pane().usesTabShortcut());
  QComboBox* scope2 = pane().findChild<QComboBox*>(K::hotkeyScope2);
  EXPECT_TRUE(scope2->isHidden());
  press(pane().recorder(Row::second), 48, Qt::AltModifier);  // Alt+Tab is the first one's
  EXPECT_EQ(pane().recorder(Row::second)->model().message(), ShortcutRecorderModel::kConflict);
  press(pane().recorder(Row::second), 40, Qt::AltModifier);  // a second click stops it, a third records
  press(pane().recorder(Row::second), 40, Qt::ControlModifier | Qt::AltModifier);
  EXPECT_EQ(store.storedObject(K::hotkeyBinding2), (nlohmann::json{{"keyCode", 40}, {"flags", 0xC0000}}));
  EXPECT_FALSE(scope2->isHidden());
  pane().recorder(Row::second)->removeButton()->click();
  EXPECT_EQ(store.storedObject(K::hotkeyBinding2), nlohmann::json::object());
  EXPECT_TRUE(scope2->isHidden());

  // Changes made elsewhere: an import, another window, the file.
  store.set(K::hotkeyBinding1, nlohmann::json{{"keyCode", 40}, {"flags", HotkeyBinding::commandFlag}});
  store.set(K::cancelBinding, nlohmann::json{{"keyCode", 96}, {"flags", 0}});
  store.set(K::passThroughBundleIDs, nlohmann::json::array({"x11.a", "x11.b"}));
  EXPECT_EQ(pane().recorder(Row::first)->recordButton()->text(), "Super+K");
  EXPECT_EQ(pane().recorder(Row::cancel)->recordButton()->text(), "F5");
  EXPECT_FALSE(pane().usesTabShortcut());
  EXPECT_TRUE(pane().findChild<QCheckBox*>(K::graveCyclesBackward)->isHidden());
  EXPECT_EQ(pane().passThroughRow()->findChild<QLabel*>("value")->text(), "2");
  store.set(K::hotkeyBinding1, nlohmann::json{{"keyCode", 40}, {"flags", HotkeyBinding::shiftFlag}});  // refused on reading
  EXPECT_EQ(pane().shortcut(Row::first), std::nullopt);
  EXPECT_EQ(pane().recorder(Row::first)->recordButton()->text(), "Record a shortcut");
}

// A shortcut that another program holds, however it was chosen (recorded, restored, imported), is
// said under its row with the advice, for as long as it is held; one pressed while recording is
// refused there.
TEST_F(ShortcutsPaneTest, AShortcutAnotherProgramHoldsIsSaidUnderItsRowUntilItIsFreed) {
  using Row = ShortcutsPane::Row;
  std::vector<HotkeyBinding> taken = {{48, HotkeyBinding::optionFlag}};
  ObserverList<> owners;
  services.shortcutTaken = [&](const HotkeyBinding& b) -> std::optional<AdviceText> {
    if (std::find(taken.begin(), taken.end(), b) == taken.end()) return std::nullopt;
    return AdviceText("taken: " + b.displayString(names));
  };
  services.observeShortcutOwners = [&](std::function<void()> f) { return owners.add(std::move(f)); };
  ShortcutRecorderRow* first = pane().recorder(Row::first);
  EXPECT_EQ(first->messageView()->text(), "taken: Alt+Tab");
  EXPECT_FALSE(first->messageView()->isHidden());
  EXPECT_TRUE(pane().recorder(Row::second)->messageView()->isHidden());

  press(first, 40, Qt::ControlModifier | Qt::AltModifier);
  EXPECT_TRUE(first->messageView()->isHidden());
  taken.push_back({40, HotkeyBinding::controlFlag});
  press(first, 40, Qt::ControlModifier);
  EXPECT_EQ(first->model().message(), AdviceText("taken: Ctrl+K"));
  EXPECT_TRUE(first->model().isRecording());
  first->model().stop();

  // Restoring the settings brings Alt+Tab back: said here, not in a window of its own.
  store.set(K::hotkeyBinding1, HotkeyBinding{48, HotkeyBinding::optionFlag}.storedValue());
  EXPECT_EQ(first->messageView()->text(), "taken: Alt+Tab");
  taken.clear();
  owners.notify();  // the window manager let go of it
  EXPECT_TRUE(first->messageView()->isHidden());
}

// The key above Tab that another program holds (metacity's Alt+`) is said under the keys with the
// advice the key source gives, its commands whole with their Copy buttons, for as long as it flips
// back and is held; the note follows the key changing hands, and goes once it is freed.
TEST_F(ShortcutsPaneTest, TheKeysSayHowToFreeTheKeyAboveTabWhileAnotherProgramHoldsIt) {
  bool held = true;
  ObserverList<> owners;
  ShortcutAdvice::Findings found;
  found.managerHolds = true;
  found.gsettingsHolders = {{"switch-group", {}}, {"switch-group-backward", {}}};
  const AdviceText advice = ShortcutAdvice::advice("Metacity", "Alt+`", found);
  services.shortcutTaken = [&](const HotkeyBinding& b) -> std::optional<AdviceText> {
    if (!held || b != HotkeyBinding{50, HotkeyBinding::optionFlag}) return std::nullopt;
    return advice;
  };
  services.observeShortcutOwners = [&](std::function<void()> f) { return owners.add(std::move(f)); };
  pane().resize(SettingsForm::kWidth, 1400);
  pane().show();
  const AdviceView* note = pane().flipKeyNote();
  auto shown = [&] { return note->isVisibleTo(&pane()); };
  ASSERT_EQ(pane().flipKeyHeldElsewhere(), (QuickFlipKey::Held{{50, HotkeyBinding::optionFlag}, advice}));
  ASSERT_TRUE(shown());
  EXPECT_TRUE(note->text().startsWith("Alt+` is held by the window manager, Metacity."));
  EXPECT_TRUE(note->text().endsWith("Until Alt+` is free, it does not flip outside the switcher."));
  std::vector<std::string> commands;
  for (const AdviceText::Part& part : advice.parts) {
    if (part.kind == AdviceText::Part::Kind::command) commands.push_back(part.text);
  }
  ASSERT_EQ(commands.size(), 3u);  // two gsettings commands and the restart
  const std::vector<std::pair<std::string, std::string>> taken = commandsTaken(*note);
  ASSERT_EQ(taken.size(), commands.size());
  for (size_t i = 0; i < taken.size(); ++i) EXPECT_EQ(taken[i], std::pair(commands[i], commands[i]));
  EXPECT_EQ(clippedTexts(pane()), std::vector<std::string>{});

  store.set(K::graveCyclesBackward, false);  // no flip, nothing to free
  EXPECT_FALSE(shown());
  store.set(K::graveCyclesBackward, true);
  EXPECT_TRUE(shown());
  held = false;  // freed: the window manager let go of it
  owners.notify();
  EXPECT_FALSE(shown());
  held = true;  // taken again
  owners.notify();
  EXPECT_TRUE(shown());
}

// The advice under the rows stands whole, also when the other row's refusal takes lines of its own;
// each command, softly wrapped at the pane's width, is taken whole by a triple-click or its Copy
// button.
TEST_F(ShortcutsPaneTest, TheAdviceUnderTheRowsIsNeverCutOffAndItsCommandsCanBeSelected) {
  using Row = ShortcutsPane::Row;
  services.shortcutTaken = [](const HotkeyBinding&) -> std::optional<AdviceText> { return longAdvice(); };
  pane().show();
  QApplication::processEvents();  // the window takes the keyboard first: no recording ends on it
  press(pane().recorder(Row::second), 40, Qt::ControlModifier | Qt::AltModifier);
  ASSERT_TRUE(pane().recorder(Row::second)->model().message());
  EXPECT_EQ(clippedTexts(pane()), std::vector<std::string>{});
  for (Row row : {Row::first, Row::second}) {
    const AdviceView* view = pane().recorder(row)->messageView();
    const std::vector<QLabel*> commands = view->commandLabels();
    ASSERT_EQ(commands.size(), 2u);
    // The longer one wraps at this width.
    EXPECT_GT(commands[1]->height(), 2 * commands[1]->fontMetrics().height());
    const std::vector<std::pair<std::string, std::string>> taken = commandsTaken(*view);
    ASSERT_EQ(taken.size(), 2u);
    for (size_t i = 0; i < taken.size(); ++i) {
      EXPECT_EQ(taken[i].first, longAdvice().parts[i + 1].text);
      EXPECT_EQ(taken[i].second, longAdvice().parts[i + 1].text);
    }
  }
}

// Lines to take out of a file stand as that file's text, with no Copy button: only commands carry
// one, and it says "Copied" for a moment after each copy, on the main queue's clock.
TEST_F(SettingsWindowTest, OnlyCommandsCarryACopyButtonAndItSaysWhenItCopied) {
  ShortcutAdvice::Findings found;
  found.managerHolds = true;
  found.bindings = {"bindsym $mod+Tab focus right", "bindsym $mod+Shift+Tab focus left"};
  found.systemFile = "/etc/i3/config";
  AdviceView view(loop.main());
  view.setAdvice(ShortcutAdvice::advice("i3", "Alt+Tab", found));
  view.resize(480, 400);
  ASSERT_EQ(view.fileLabels().size(), 1u);
  EXPECT_EQ(view.fileLabels()[0]->text(), "bindsym $mod+Tab focus right\nbindsym $mod+Shift+Tab focus left");
  std::vector<std::string> commands;
  for (const QLabel* label : view.commandLabels()) commands.push_back(label->text().toStdString());
  EXPECT_EQ(commands, (std::vector<std::string>{"mkdir -p ~/.config/i3 && cp /etc/i3/config ~/.config/i3/config",
                                                "i3-msg restart"}));
  const std::vector<QPushButton*> buttons = view.copyButtons();
  ASSERT_EQ(buttons.size(), 2u);
  const int width = buttons[0]->minimumWidth();
  struct Step {
    const char* what;
    int button;        // clicked, or -1
    Duration advance;  // then the clock moves on
    std::array<const char*, 2> words;
  };
  const Duration moment = CopyFeedback::shownFor;
  const std::chrono::milliseconds ms(1);
  const Step steps[] = {
      {"at rest", -1, {}, {"Copy", "Copy"}},
      {"copied", 0, {}, {"Copied", "Copy"}},
      {"a moment on, less a millisecond", -1, moment - ms, {"Copied", "Copy"}},
      {"the moment over", -1, ms, {"Copy", "Copy"}},
      {"copied again, and the other", 0, moment / 2, {"Copied", "Copy"}},
      {"a copy again starts the moment again", 0, moment - ms, {"Copied", "Copy"}},
      {"the other", 1, ms, {"Copy", "Copied"}},
      {"both over", -1, moment, {"Copy", "Copy"}},
  };
  for (const Step& step : steps) {
    if (step.button >= 0) buttons[step.button]->click();
    loop.advance(step.advance);
    EXPECT_EQ(buttons[0]->text().toStdString(), step.words[0]) << step.what;
    EXPECT_EQ(buttons[1]->text().toStdString(), step.words[1]) << step.what;
  }
  EXPECT_EQ(QApplication::clipboard()->text().toStdString(), "i3-msg restart");
  EXPECT_EQ(buttons[0]->minimumWidth(), width);  // nothing beside it moves
  EXPECT_GE(width, QFontMetrics(buttons[0]->font()).horizontalAdvance("Copied"));
}

TEST_F(ShortcutsPaneTest, TheKeyReferenceFollowsItsSettings) {
  pane().keyReferenceRow()->click();
  auto* screen = dynamic_cast<KeyReferenceScreen*>(navigator.top());
  ASSERT_TRUE(screen);
  EXPECT_TRUE(screen->shown() == KeyReferenceScreen::lines(true, true, true, std::nullopt));  // the house look's vim keys
  EXPECT_EQ(screen->shown()[1].key, "H, J, K and L");
  EXPECT_EQ(screen->shown().back().key, "Esc");
  store.set(K::vimKeys, false);
  store.set(K::windowActionsEnabled, false);
  store.set(K::cancelBinding, nlohmann::json{{"keyCode", 96}, {"flags", 0}});
  EXPECT_TRUE(screen->shown() == KeyReferenceScreen::lines(false, true, false, std::string("F5")));
  EXPECT_EQ(screen->shown()[1].key, "Tab");
  EXPECT_EQ(screen->shown().back().action, "Close the switcher as well");
  store.set(K::cancelBinding, nlohmann::json{{"keyCode", 53}, {"flags", 0}});  // Esc is no extra key
  EXPECT_EQ(screen->shown().back().key, "Esc");
}

TEST_F(ShortcutsPaneTest, PassThroughAppsAreAddedOnceSortedAndRemoved) {
  AppDisplayNames::clearForTesting();
  store.set(K::passThroughBundleIDs, nlohmann::json::array({"x11.qemu-system-"}));
  pane().passThroughRow()->click();
  auto* screen = dynamic_cast<PassThroughAppsScreen*>(navigator.top());
  ASSERT_TRUE(screen);
  services.applications = [] { return std::vector<AppChoice>{{"x11.remmina", "Remmina", ""}}; };
  screen->chooser = [] { return std::vector<std::string>{"x11.remmina", "x11.qemu-system-", " x11.krdc "}; };
  screen->addApps();
  EXPECT_EQ(screen->apps(), (std::vector<std::string>{"x11.krdc", "x11.qemu-system-", "x11.remmina"}));
  EXPECT_EQ(AppDisplayNames::name("x11.remmina", services.applications), "Remmina");
  EXPECT_EQ(AppDisplayNames::name("x11.qemu-system-", services.applications), "qemu-system-");
  screen->chooser = [] { return std::vector<std::string>{}; };  // cancelled
  screen->addApps();
  EXPECT_EQ(screen->apps().size(), 3u);
  screen->removeApp("x11.krdc");
  screen->removeApp("x11.remmina");
  store.set(K::passThroughBundleIDs, nlohmann::json::array());  // elsewhere
  EXPECT_TRUE(screen->apps().empty());
  navigator.pop();
  EXPECT_EQ(pane().passThroughRow()->findChild<QLabel*>("value")->text(), "None");
}

// An application is shown by the name and icon of its desktop entry, its window class under the
// name; an entry ending in "." by the first application it covers; a default nobody installed by
// its own name.
TEST_F(ShortcutsPaneTest, PassThroughAppsShowNamesIconsAndClasses) {
  AppDisplayNames::clearForTesting();
  services.applications = [] {
    return std::vector<AppChoice>{{"x11.org.remmina.remmina", "Remmina", "/nowhere/remmina.png"},
                                  {"x11.firefox-esr", "Firefox ESR", ""}};
  };
  struct Case {
    const char* identifier;
    const char* name;
    const char* windowClass;  // none: the same as the name
    const char* icon;
  };
  for (const Case& c : std::vector<Case>{{"x11.org.remmina.", "Remmina", "org.remmina.*", "/nowhere/remmina.png"},
                                         {"x11.firefox-esr", "Firefox ESR", "firefox-esr", ""},
                                         {"x11.gnome-boxes", "Boxes", "gnome-boxes", ""},
                                         {"x11.qemu-system-x86_64", "QEMU", "qemu-system-x86_64", ""},
                                         {"x11.xterm", "xterm", nullptr, ""}}) {
    const AppChoice app = AppDisplayNames::find(c.identifier, services.applications);
    EXPECT_EQ(app, (AppChoice{c.identifier, c.name, c.icon})) << c.identifier;
    std::unique_ptr<QWidget> row(appListRow(app, nullptr));
    EXPECT_EQ(row->findChild<QLabel*>("name")->text().toStdString(), c.name);
    const QLabel* caption = row->findChild<QLabel*>("class");
    EXPECT_EQ(caption ? caption->text().toStdString() : std::string(), c.windowClass ? c.windowClass : "");
  }
  store.set(K::passThroughBundleIDs, nlohmann::json::array({"x11.org.remmina.", "x11.gnome-boxes"}));
  pane().passThroughRow()->click();
  auto* screen = dynamic_cast<PassThroughAppsScreen*>(navigator.top());
  ASSERT_TRUE(screen);
  QStringList names;
  for (const QLabel* label : screen->findChildren<QLabel*>("name")) names << label->text();
  EXPECT_EQ(names, (QStringList{"Remmina", "Boxes"}));
}

}  // namespace
}  // namespace quorvel
