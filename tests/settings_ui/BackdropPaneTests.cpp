#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>

#include <QLineEdit>
#include <QPainter>

#include <cstdlib>

#include "settings_ui/AboutPane.h"
#include "pictures/BackdropBlur.h"
#include "settings_ui/BackdropPane.h"
#include "settings_ui/BackdropPreview.h"
#include "settings_ui/SettingsUiFixture.h"

namespace quorvel {
namespace {

using K = AppSettings::Key;

class BackdropPaneTest : public SettingsUiTest {
 protected:
  SettingsBindings binds{settings, loop.main()};
};

TEST_F(BackdropPaneTest, KindRuleColourTextAndPresets) {
  for (const char* stored : {"liveDesktop", "SolidColor", "solidcolour", ""}) EXPECT_FALSE(BackdropPane::isSolidColor(stored));
  EXPECT_TRUE(BackdropPane::isSolidColor("solidColor"));

  EXPECT_EQ(BackdropPane::colorOf(" #0A0E15"), QColor(0x0a, 0x0e, 0x15));
  EXPECT_EQ(BackdropPane::colorOf("#12345"), QColor(Qt::black));
  EXPECT_EQ(BackdropPane::hexOf(QColor::fromRgbF(1, 1, 1)), "#ffffff");
  EXPECT_EQ(BackdropPane::hexOf(QColor::fromRgbF(0.5f, 0, 0)), "#800000");  // 127.5 rounds away from zero
  EXPECT_EQ(BackdropPane::hexOf(QColor()), "#000000");

  store.setMany({{K::backdropStyle, "solidColor"}, {K::backdropColor, "#1c1c1e"}});
  BackdropPane pane(binds, services);
  // Typed with the keyboard in the field, which keeps it after Return.
  pane.show();
  pane.activateWindow();
  pane.hexField()->setFocus();
  QApplication::processEvents();
  ASSERT_TRUE(pane.hexField()->hasFocus());
  struct Case {
    const char* typed;
    const char* stored;
  };
  for (const Case& c : std::vector<Case>{{" #F2F2F7 ", "#f2f2f7"},   // good text, stored in its one form
                                         {"purple", "#f2f2f7"},  // bad text keeps the old colour, and shows it
                                         {"#12345", "#f2f2f7"},
                                         {"0a0e15", "#0a0e15"}}) {
    pane.enterHex(c.typed);
    EXPECT_EQ(store.string(K::backdropColor), c.stored) << c.typed;
    EXPECT_EQ(pane.hexField()->text().toStdString(), c.stored) << c.typed;
  }
  pane.pickColor(QColor::fromRgbF(0.5f, 1, 0));
  EXPECT_EQ(store.string(K::backdropColor), "#80ff00");
  EXPECT_TRUE(pane.swatch()->isVisibleTo(&pane));
  EXPECT_FALSE(pane.preview()->isVisibleTo(&pane));
  EXPECT_FALSE(pane.blurSlider()->isEnabled());  // this desktop offers no blur strength
}

TEST_F(BackdropPaneTest, PreviewBlursAndVeilsTheStillOrTheStandIn) {
  BackdropPreview preview;
  EXPECT_FALSE(preview.hasDesktop());
  EXPECT_EQ(preview.shown().size(), QSize(640, 400));
  preview.setValues(0.0003, -1);  // radius 0.0078: no blur at all; no veil
  EXPECT_EQ(preview.shown(), BackdropPreview::standIn());
  EXPECT_DOUBLE_EQ(preview.veil(), 0);
  preview.setValues(5, 3);
  EXPECT_DOUBLE_EQ(preview.veil(), 1);
  EXPECT_DOUBLE_EQ(BackdropBlur::radiusFor(5), 26);
  EXPECT_NE(preview.shown(), BackdropPreview::standIn());
}

TEST(AboutPaneTest, VersionLineReadsQuestionMarksForMissingParts) {
  EXPECT_EQ(AboutPane::versionLine("1.4", "27"), "Version 1.4 (27)");
  EXPECT_EQ(AboutPane::versionLine("1.4", std::nullopt), "Version 1.4 (?)");
  EXPECT_EQ(AboutPane::versionLine(std::nullopt, std::nullopt), "Version ? (?)");
}

// A build with a feedback host has the button and says what Send sends; one without has neither.
TEST(AboutPaneTest, FeedbackOnlyWhereTheBuildCanSendIt) {
  for (bool offered : {true, false}) {
    AboutPane pane(offered ? std::function<void()>([] {}) : std::function<void()>());
    EXPECT_EQ(pane.findChild<QPushButton*>("sendFeedback") != nullptr, offered);
    bool mentioned = false;
    for (const QLabel* label : pane.findChildren<QLabel*>()) mentioned |= label->text().contains("feedback window");
    EXPECT_EQ(mentioned, offered);
  }
}

// The privacy words say when pictures are taken, as the settings have it: never "only while it is
// open" while a window's picture is also taken as the user leaves it.
TEST(AboutPaneTest, PrivacySaysWhenPicturesAreTaken) {
  DefaultsStore store;
  AppSettings settings(store);
  settings.registerDefaults();
  const struct {
    bool onLeave;
    std::string backdrop;
    bool saysLeave, saysBackdrop;
  } cases[] = {{true, "liveDesktop", true, true}, {false, "solidColor", false, false}};
  for (const auto& c : cases) {
    store.set(AppSettings::Key::refreshPictureOnLeave, c.onLeave);
    store.set(AppSettings::Key::backdropStyle, c.backdrop);
    const QString first = AboutPane::privacyParagraphs(false, AboutPane::pictureMoments(settings)).front();
    EXPECT_FALSE(first.contains("only while it is open"));
    EXPECT_TRUE(first.contains("once as it starts")) << first.toStdString();
    EXPECT_EQ(first.contains("each time you leave a window"), c.saysLeave) << first.toStdString();
    EXPECT_EQ(first.contains("for the backdrop each time the switcher opens"), c.saysBackdrop) << first.toStdString();
    EXPECT_TRUE(first.endsWith("Nothing it sees ever leaves your computer: no accounts, no analytics, no tracking."));
  }
}

}  // namespace
}  // namespace quorvel
