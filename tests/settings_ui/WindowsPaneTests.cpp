#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include "settings_ui/DragAndDropScreen.h"
#include "settings_ui/HiddenAppsScreen.h"
#include "settings_ui/PointerPane.h"
#include "settings_ui/SettingsNavigator.h"
#include "settings_ui/SettingsUiFixture.h"
#include "settings_ui/StacksAndTabsScreen.h"
#include "settings_ui/WindowsPane.h"

namespace quorvel {
namespace {

using K = AppSettings::Key;
using Json = nlohmann::json;

class WindowsPaneTest : public SettingsUiTest {
 protected:
  WindowsPaneTest() { AppDisplayNames::clearForTesting(); }
  SettingsBindings binds{settings, loop.main()};
  SettingsNavigator navigator;
};

TEST_F(WindowsPaneTest, StacksSummaryAndOrderFootnoteFollowTheSettings) {
  WindowsPane pane(binds, services, navigator);
  struct Case {
    const char* tabs;
    bool bunchTabs, bunchApps, group;
    const char* summary;
  };
  for (const Case& c : std::vector<Case>{{"always", true, true, true, "Tabs and app windows stacked"},
                                         {"whileSearching", true, false, true, "Tabs stacked"},
                                         {"off", true, true, true, "App windows stacked"},
                                         {"off", true, false, false, "Nothing stacked"},
                                         {"always", false, true, false, "Nothing stacked"},
                                         {"sometimes", true, false, false, "Tabs stacked"}}) {
    store.setMany({{K::tabsDisplay, c.tabs}, {K::bunchTabs, c.bunchTabs}, {K::bunchAppWindows, c.bunchApps},
                   {K::groupByApp, c.group}});
    EXPECT_EQ(pane.stacksSummary(), c.summary) << c.tabs << c.bunchTabs << c.bunchApps << c.group;
  }
  store.setMany({{K::windowOrder, "sideways"}, {K::groupByApp, false}});
  EXPECT_TRUE(pane.orderExplanation().startsWith("Recently used:"));
  store.setMany({{K::windowOrder, "bySpace"}, {K::groupByApp, true}});
  EXPECT_TRUE(pane.orderExplanation().startsWith("By desktop:"));
  EXPECT_TRUE(pane.orderExplanation().endsWith(
      "come last. Each app's windows are kept together in one unbroken row inside that order, which is set under "
      "Stacks and tabs."));
}

// A box keeps exactly what is typed (and its cursor) while the store holds the words normalised; a
// change from elsewhere rewrites it; removing the application forgets its words.
TEST_F(WindowsPaneTest, TitleWordsKeepTheTypedTextAndCursor) {
  settings.setHiddenBundleIDs({"x11.firefox", "x11.xterm"});
  HiddenAppsScreen screen(binds, services);
  QLineEdit* field = screen.wordsField("x11.firefox");
  ASSERT_NE(field, nullptr);
  const QString typed = "Bank, private,, BANK, ";
  for (int i = 1; i <= typed.size(); ++i) {
    field->setCursorPosition(field->text().size());
    field->insert(typed.mid(i - 1, 1));  // one keystroke, stored at once
    loop.runUntilIdle();
    ASSERT_EQ(screen.wordsField("x11.firefox"), field) << "the row was built again";
    EXPECT_EQ(field->cursorPosition(), i);
  }
  EXPECT_EQ(field->text(), typed);
  EXPECT_EQ(settings.hiddenTitlePatterns().at("x11.firefox"), (std::vector<std::string>{"bank", "private"}));
  HiddenAppsScreen reopened(binds, services);
  EXPECT_EQ(reopened.wordsField("x11.firefox")->text(), "bank, private");

  settings.setHiddenTitlePatterns({{"x11.firefox", {"bank", "private"}}, {"x11.xterm", {"root"}}});
  loop.runUntilIdle();
  EXPECT_EQ(field->text(), typed);  // still means the stored words
  EXPECT_EQ(screen.wordsField("x11.xterm")->text(), "root");

  screen.removeApp("x11.firefox");
  screen.chooser = [] { return std::vector<std::string>{"x11.firefox"}; };
  screen.addApps();
  EXPECT_EQ(screen.wordsField("x11.firefox")->text(), "");
  EXPECT_EQ(settings.hiddenTitlePatterns().count("x11.firefox"), 0u);
}

TEST_F(WindowsPaneTest, DependentRowsShowAndDimWithoutChangingValues) {
  store.setMany({{K::tabsDisplay, "off"}, {K::bunchTabs, true}, {K::bunchAppWindows, true}, {K::groupByApp, false}});
  StacksAndTabsScreen stacks(binds);
  EXPECT_FALSE(stacks.showsStacksSection());
  store.set(K::groupByApp, true);
  EXPECT_TRUE(stacks.showsStacksSection());
  EXPECT_EQ(StacksAndTabsScreen::listed({"A", "B", "C"}), "A, B and C");
  EXPECT_TRUE(StacksAndTabsScreen::tabBrowserNames().startsWith("Firefox, Chrome"));

  PointerPane pointer(binds, navigator);
  store.set(K::dragToSwitch, false);
  EXPECT_EQ(pointer.dragRow()->findChild<QWidget*>("value")->property("text").toString(), "Off");
  store.setMany({{K::dragToSwitch, true}, {K::dragCommitMode, "release"}});
  DragAndDropScreen drag(binds);
  auto* rest = drag.findChild<QComboBox*>(K::dragRestTime);
  EXPECT_FALSE(rest->isEnabled());
  store.set(K::dragCommitMode, "dwell");
  EXPECT_TRUE(rest->isEnabled());
  rest->activated(2);
  EXPECT_EQ(store.string(K::dragRestTime), "long");
  EXPECT_EQ(pointer.dragRow()->findChild<QWidget*>("value")->property("text").toString(), "On");
}

}  // namespace
}  // namespace quorvel
