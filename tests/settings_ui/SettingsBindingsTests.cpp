#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QSlider>
#include <QWheelEvent>
#include <QWidget>

#include "settings/SettingsSchema.h"
#include "settings_ui/AppearancePane.h"
#include "settings_ui/BoundControls.h"
#include "settings_ui/SettingsUiFixture.h"

namespace quorvel {
namespace {

const auto* const environment = ::testing::AddGlobalTestEnvironment(new QtWidgetsEnvironment);

using ValueType = SettingsSchema::ValueType;

class BoundControlsTest : public SettingsUiTest {
 protected:
  SettingsBindings bindings{settings, loop.main()};
  QWidget parent;
  BoundControls controls{bindings, &parent};
};

TEST_F(BoundControlsTest, EveryToggleAndPickerOfTheTableRoundTripsAndFollowsTheStoreWithoutWritingBack) {
  for (const SettingsSchema::Entry& entry : SettingsSchema::effective()) {
    SCOPED_TRACE(entry.key);
    if (entry.type == ValueType::boolean) {
      QCheckBox* box = controls.toggle(entry.key, "x");
      EXPECT_EQ(box->isChecked(), entry.value.get<bool>());  // the registered default
      box->click();
      EXPECT_EQ(store.storedObject(entry.key), nlohmann::json(!entry.value.get<bool>()));
      const int before = writes;
      store.set(entry.key, entry.value.get<bool>());  // elsewhere: the overlay, the file, an import
      EXPECT_EQ(box->isChecked(), entry.value.get<bool>());
      EXPECT_EQ(writes, before + 1);
    } else if (!entry.cases.empty()) {
      QComboBox* combo = controls.picker(entry.key, {});
      ASSERT_EQ(combo->count(), static_cast<int>(entry.cases.size()));
      EXPECT_EQ(combo->currentData().toString().toStdString(), entry.value.get<std::string>());
      const int other = entry.cases.back() == entry.value.get<std::string>() ? 0 : combo->count() - 1;
      combo->setCurrentIndex(other);
      emit combo->activated(other);
      EXPECT_EQ(store.storedObject(entry.key), nlohmann::json(std::string(entry.cases[static_cast<size_t>(other)])));
      const int before = writes;
      store.set(entry.key, entry.value);
      EXPECT_EQ(combo->currentData().toString().toStdString(), entry.value.get<std::string>());
      store.set(entry.key, "noSuchCase");  // names no case: nothing selected
      EXPECT_EQ(combo->currentIndex(), -1);
      EXPECT_EQ(writes, before + 2);
    }
  }
}

// Left unaccepted, a wheel event goes on to the widgets around the control: the page scrolls.
TEST_F(BoundControlsTest, AWheelOverAControlNotChosenGoesOnToThePage) {
  AppearancePane pane(bindings);
  QWidget* picker = controls.picker(AppSettings::Key::holdStyle, {});
  QWidget* slider = controls.slider(AppSettings::Key::backdropDim, 0, 1, 100);
  for (QWidget* control : {picker, slider, static_cast<QWidget*>(pane.findChild<QSlider*>("cardSpacing"))}) {
    ASSERT_TRUE(control);
    const int before = writes;
    QWheelEvent wheel(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(control, &wheel);
    loop.advance(SettingsBindings::writePause * 2);
    EXPECT_FALSE(wheel.isAccepted()) << control->objectName().toStdString();
    EXPECT_EQ(writes, before) << control->objectName().toStdString();
  }
  EXPECT_EQ(qobject_cast<QComboBox*>(picker)->currentIndex(), 0);
}

TEST_F(BoundControlsTest, AKeyNobodyRegisteredReadsItsBaseDefault) {
  DefaultsStore bare;
  AppSettings plain(bare);
  SettingsBindings unregistered(plain, loop.main());
  EXPECT_EQ(unregistered.text(AppSettings::Key::titleSize), "medium");  // the registered look says "large"
  EXPECT_EQ(bindings.text(AppSettings::Key::titleSize), "large");
  EXPECT_TRUE(unregistered.flag(AppSettings::Key::showMenuBarIcon));
}

TEST_F(BoundControlsTest, DraggingASliderForASecondWritesOnceWhenLetGo) {
  const std::string key = AppSettings::Key::backdropDim;
  QSlider* slider = controls.slider(key, 0.0, 1.0, 100);
  const int before = writes;
  slider->setSliderDown(true);
  for (int tick = 0; tick < 60; ++tick) {  // one second of a 60 Hz drag
    slider->setValue(tick);
    loop.advance(std::chrono::milliseconds(16));
  }
  EXPECT_EQ(writes, before);
  EXPECT_NEAR(bindings.number(key), 0.59, 1e-9);  // what the hand holds reads back meanwhile
  slider->setSliderDown(false);  // let go: written at once
  EXPECT_EQ(writes, before + 1);
  EXPECT_NEAR(store.doubleValue(key), 0.59, 1e-9);
  slider->setValue(20);  // a key press on the slider: written after the pause
  loop.advance(SettingsBindings::writePause);
  EXPECT_EQ(writes, before + 2);
}

TEST(SettingsBindingsFileTest, AFileThatCannotBeReadOrWrittenIsToldInWords) {
  ManualLoop loop;
  const std::string folder = ::testing::TempDir() + "/quorvel-settings-file-" + std::to_string(::getpid());
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  {
    const std::string blocker = folder + "/not-a-folder";
    std::FILE* f = std::fopen(blocker.c_str(), "w");
    std::fclose(f);
    DefaultsStore store(blocker + "/defaults.json");  // cannot be opened: this run saves nothing
    AppSettings settings(store);
    SettingsBindings bindings(settings, loop.main());
    ASSERT_TRUE(bindings.fileProblem());
    EXPECT_NE(bindings.fileProblem()->find("could not read its settings file"), std::string::npos);
  }
  DefaultsStore store(folder + "/defaults.json");
  AppSettings settings(store);
  SettingsBindings bindings(settings, loop.main());
  EXPECT_FALSE(bindings.fileProblem());
  bindings.write(AppSettings::Key::backdropColor, std::string(DefaultsStore::maximumFileSize, 'a'));  // too large
  ASSERT_TRUE(bindings.fileProblem());
  EXPECT_NE(bindings.fileProblem()->find("could not save your last change"), std::string::npos);
  bindings.write(AppSettings::Key::backdropColor, "#000000");
  EXPECT_FALSE(bindings.fileProblem());
}

}  // namespace
}  // namespace quorvel
