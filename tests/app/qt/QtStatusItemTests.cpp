#include <gtest/gtest.h>

#include <QApplication>
#include <QMenu>
#include <QSystemTrayIcon>

#include <cstdlib>

#include "app/AppMenus.h"
#include "app/qt/QtStatusItem.h"

namespace quorvel {
namespace {

// Widgets need their application object; the tests show them offscreen.
class WidgetsEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "test_app_qt";
    static char* argv[] = {name, nullptr};
    application_ = new QApplication(argc, argv);
  }
  void TearDown() override { delete application_; }

 private:
  QApplication* application_ = nullptr;
};
const auto* const environment = ::testing::AddGlobalTestEnvironment(new WidgetsEnvironment);

// A left click on the tray icon opens the status menu, as the right click's context menu does;
// the other activations (a double click, the middle button) leave it closed. Each opening is told
// before the menu shows.
TEST(QtStatusItem, ALeftClickOpensTheStatusMenu) {
  std::vector<MenuAction> chosen;
  int openings = 0;
  QtStatusItem item(
      AppMenus::statusMenu(false, true), [&](MenuAction action) { chosen.push_back(action); },
      [&] {
        ++openings;
        EXPECT_FALSE(item.menu().isVisible());
      });
  ASSERT_FALSE(item.menu().isVisible());
  for (auto reason : {QSystemTrayIcon::DoubleClick, QSystemTrayIcon::MiddleClick}) {
    emit item.icon().activated(reason);
    EXPECT_FALSE(item.menu().isVisible()) << reason;
  }
  emit item.icon().activated(QSystemTrayIcon::Trigger);
  EXPECT_TRUE(item.menu().isVisible());
  EXPECT_EQ(openings, 1);
  item.menu().hide();
}

}  // namespace
}  // namespace quorvel
