#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QPainterPath>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTimer>

#include "scene/CardPose.h"
#include "settings_ui/AboutPane.h"
#include "settings_ui/AppLists.h"
#include "settings_ui/AppearancePane.h"
#include "settings_ui/BackdropPane.h"
#include "settings_ui/BackdropPreview.h"
#include "settings_ui/PointerPane.h"
#include "settings_ui/SettingsNavigator.h"
#include "settings_ui/SettingsUiFixture.h"
#include "settings_ui/SettingsWindowController.h"
#include "settings_ui/StylePreview.h"
#include "settings_ui/WindowsPane.h"

namespace quorvel {
namespace {

using K = AppSettings::Key;

class PaneRowsTest : public SettingsUiTest {
 protected:
  SettingsBindings binds{settings, loop.main()};
  SettingsNavigator navigator;
  // Whether a control's row shows in its pane (the row may be hidden while the pane is not shown).
  static bool shown(const QWidget* pane, const char* name) {
    const auto* control = pane->findChild<QWidget*>(name);
    return control && control->isVisibleTo(pane);
  }
  static bool enabled(const QWidget* pane, const char* name) { return pane->findChild<QWidget*>(name)->isEnabled(); }
};

// Rows that belong to one arrangement or one mark show only then, and their values stay stored.
TEST_F(PaneRowsTest, AppearanceRowsFollowTheArrangementAndTheMarks) {
  AppearancePane pane(binds);
  struct Case {
    const char* style;
    bool grid, arrows;
    const char* description;
  };
  for (const Case& c : std::vector<Case>{{"expo", true, false, "Every window at once"},
                                         {"cylinder", false, true, "A panorama wrapped"},
                                         {"row", false, false, "A straight line"},
                                         {"nonsense", false, false, "A shallow arc"}}) {
    store.set(K::switcherStyle, c.style);
    EXPECT_EQ(shown(&pane, K::gridOrder), c.grid) << c.style;
    EXPECT_EQ(shown(&pane, K::panoramaArrows), c.arrows) << c.style;
    const QList<QLabel*> labels = pane.findChildren<QLabel*>();
    EXPECT_TRUE(std::any_of(labels.begin(), labels.end(), [&](QLabel* l) {
      return l->text().startsWith(c.description) && l->text().contains(". Pick one with the switcher open");
    })) << c.style;
  }
  EXPECT_EQ(pane.findChild<QComboBox*>(K::switcherStyle)->currentIndex(), -1);  // a name of no arrangement

  store.setMany({{K::showWindowTitle, false}, {K::showCardTitles, true}, {K::showAppIcons, false}});
  EXPECT_FALSE(shown(&pane, K::titlePlacement));
  EXPECT_FALSE(shown(&pane, K::titleSize));
  EXPECT_FALSE(shown(&pane, K::fadeSelectedTitle));
  EXPECT_TRUE(shown(&pane, K::iconPosition));
  EXPECT_FALSE(enabled(&pane, K::iconPosition));
  store.set(K::showWindowTitle, true);
  EXPECT_TRUE(shown(&pane, K::fadeSelectedTitle));
}

// The flight's footnote promises what the desktop's animation switch does only where there is one.
TEST_F(PaneRowsTest, TheReducedMotionPromiseOnlyWhereTheDesktopHasTheSwitch) {
  for (const std::optional<bool> published : {std::optional<bool>(), std::optional<bool>(true), std::optional<bool>(false)}) {
    services.desktopAnimations = [published] { return published; };
    SettingsWindowController controller(services);
    controller.select(SettingsPane::appearance);
    controller.show();
    auto* pane = dynamic_cast<AppearancePane*>(controller.currentPane());
    ASSERT_TRUE(pane);
    EXPECT_EQ(pane->motionNote()->text().contains("Reduced motion"), published.has_value());
  }
}

TEST_F(PaneRowsTest, WindowsAndPointerRowsKeepTheirValuesWhileHiddenOrDimmed) {
  auto* windowsPane = new WindowsPane(binds, services, navigator);
  navigator.setRoot(windowsPane);  // taken
  WindowsPane& windows = *windowsPane;
  store.setMany({{K::privateWindowsDisplay, "blur"}, {K::privateWindowNames, true}, {K::windowActionsEnabled, false}});
  EXPECT_TRUE(shown(&windows, K::privateWindowNames));
  EXPECT_FALSE(shown(&windows, K::showActionButtons));
  store.set(K::privateWindowsDisplay, "show");
  EXPECT_FALSE(shown(&windows, K::privateWindowNames));
  EXPECT_TRUE(store.boolValue(K::privateWindowNames));

  // The hidden applications' count follows a change made on their screen.
  windows.hiddenAppsRow()->click();
  ASSERT_EQ(navigator.depth(), 2);
  settings.setHiddenBundleIDs({"x11.gimp", "x11.xterm"});
  navigator.pop();
  EXPECT_EQ(windows.hiddenAppsRow()->findChild<QLabel*>("value")->text(), "2");

  PointerPane pointer(binds, navigator);
  store.set(K::hoverSelects, false);
  EXPECT_TRUE(shown(&pointer, K::hoverSelectMode));
  EXPECT_FALSE(enabled(&pointer, K::hoverSelectMode));
}

// A preset is ringed whatever the letter case of the stored colour, and choosing one stores its
// text exactly; a still that arrives after the pane has gone is dropped.
TEST_F(PaneRowsTest, BackdropPresetsAndALateStill) {
  std::function<void(std::optional<DesktopStill>)> deliver;
  services.desktopStill = [&](std::function<void(std::optional<DesktopStill>)> done) { deliver = std::move(done); };
  store.setMany({{K::backdropStyle, "solidColor"}, {K::backdropColor, "#1C1C1E"}});
  auto pane = std::make_unique<BackdropPane>(binds, services);
  auto* charcoal = pane->findChild<QPushButton*>("preset:#1c1c1e");
  ASSERT_NE(charcoal, nullptr);
  pane->findChild<QPushButton*>("preset:#f2f2f7")->click();
  EXPECT_EQ(store.string(K::backdropColor), "#f2f2f7");
  store.set(K::backdropStyle, "SOLIDCOLOR");
  EXPECT_TRUE(pane->preview()->isVisibleTo(pane.get()));
  EXPECT_TRUE(pane->blurSlider()->isVisibleTo(pane.get()));

  DesktopStill still{2, 1, {0xff0000ffu, 0xff00ff00u}};
  ASSERT_TRUE(deliver);
  deliver(still);
  EXPECT_TRUE(pane->preview()->hasDesktop());
  pane.reset();
  deliver(still);  // nothing left to show it in
}

// A card a corner of which is behind the eye is left out whole; tiny cards are plain polygons.
TEST(StylePreviewShapeTest, CardsBehindTheEyeAndTinyCards) {
  class Behind final : public LayoutEngine {
   public:
    AppSettings::SwitcherStyle style() const override { return AppSettings::SwitcherStyle::row; }
    CardPose pose(int index, int, int, float, float, double) const override {
      CardPose p;
      p.position = {0, 0, index == 1 ? 5.0f : 0.0f};  // card 1 stands at the eye
      return p;
    }
    Camera camera(int, int, float) const override { return {{0, 0, 5}, {0, 0, 0}}; }
  };
  StylePreviewFrame::Input in;
  in.current = std::make_shared<Behind>();
  in.cards = 3;
  in.width = 360;
  in.height = 200;
  const auto cards = StylePreviewFrame::cards(in);
  ASSERT_EQ(cards.size(), 2u);
  for (const auto& card : cards) EXPECT_NE(card.index, 1);

  const QPainterPath tiny = StylePreview::cardShape({{{0, 0}, {2, 0}, {2, 2}, {0, 2}}});
  EXPECT_EQ(tiny.elementCount(), 5);  // four corners and the close
  const QPainterPath rounded = StylePreview::cardShape({{{0, 0}, {100, 0}, {100, 60}, {0, 60}}});
  EXPECT_GT(rounded.elementCount(), 5);
  EXPECT_FALSE(rounded.contains(QPointF(0.3, 0.3)));  // the corner is cut
  EXPECT_TRUE(rounded.contains(QPointF(50, 30)));
}

TEST_F(PaneRowsTest, EveryPaneIsBuiltAndTheFeedbackAndTourButtonsOnlyWithWhatTheyOpen) {
  int opened = 0;
  int tours = 0;
  services.sendFeedback = [&] { ++opened; };
  services.showTour = [&] { ++tours; };
  SettingsWindowController controller(services);
  controller.show();
  for (SettingsPane pane : {SettingsPane::general, SettingsPane::shortcuts, SettingsPane::windows,
                            SettingsPane::appearance, SettingsPane::backdrop, SettingsPane::pointer, SettingsPane::about}) {
    controller.choose(pane);
    ASSERT_NE(controller.currentPane(), nullptr);
    EXPECT_GT(controller.currentPane()->findChildren<QGroupBox*>().size(), 1) << static_cast<int>(pane);
    // Settings that nothing on X11 can carry out have no control at all.
    for (const char* absent : {K::hapticTicks, K::hideFromScreenSharing, K::hiddenAppsDisplay, K::windowlessAppsDisplay})
      EXPECT_EQ(controller.currentPane()->findChild<QWidget*>(absent), nullptr) << absent;
  }
  controller.currentPane()->findChild<QPushButton*>("sendFeedback")->click();
  EXPECT_EQ(opened, 1);
  controller.currentPane()->findChild<QPushButton*>("showTour")->click();
  EXPECT_EQ(tours, 1);
  AboutPane without({});
  EXPECT_EQ(without.findChild<QPushButton*>("sendFeedback"), nullptr);
  EXPECT_EQ(without.findChild<QPushButton*>("showTour"), nullptr);
}

}  // namespace
}  // namespace quorvel

namespace quorvel {
namespace {

// The chooser's sentence sits in its body; its title bar gets a short title that is not cut off.
TEST_F(PaneRowsTest, TheAppChooserHasAShortTitleAndItsSentenceInItsBody) {
  const QString message = "Choose an app whose windows the switcher should never show.";
  QString title;
  bool sentenceShown = false;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    title = dialog->windowTitle();
    for (const QLabel* label : dialog->findChildren<QLabel*>()) sentenceShown |= label->text() == message;
    dialog->reject();
  });
  EXPECT_TRUE(chooseApps(nullptr, message, "Hide", {{"xterm", "XTerm", ""}}).empty());
  EXPECT_EQ(title, "Choose an app");
  EXPECT_TRUE(sentenceShown);
}

}  // namespace
}  // namespace quorvel
