#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>

#include <memory>
#include <string>
#include <vector>

#include "app/ShortcutAdvice.h"
#include "settings_ui/AdviceView.h"
#include "base/DefaultsStore.h"
#include "base/ManualLoop.h"
#include "platform/UsKeyboardLayout.h"
#include "settings/AppSettings.h"
#include "settings/KeyNames.h"
#include "settings_ui/SettingsBindings.h"
#include "settings_ui/SettingsWindowServices.h"
#include "windows/ChromeWindowCensus.h"

namespace quorvel {

// Qt's widgets, offscreen: the settings window's logic runs without a display.
class QtWidgetsEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "test_settings_ui";
    static char* argv[] = {name, nullptr};
    app_ = std::make_unique<QApplication>(argc, argv);
  }
  void TearDown() override { app_.reset(); }

 private:
  std::unique_ptr<QApplication> app_;
};

// A store with the registered defaults, a manual loop for the main queue, and the window's services
// over them; `writes` counts the store's changes.
class SettingsUiTest : public ::testing::Test {
 protected:
  SettingsUiTest() {
    settings.registerDefaults();
    counter = store.addObserver([this] { ++writes; });
    services.virtualKeyCode = [](uint32_t native) -> std::optional<int64_t> { return native; };
    services.suspendShortcuts = [this](bool on) { suspensions.push_back(on); };
  }

  ManualLoop loop;
  DefaultsStore store;
  AppSettings settings{store};
  ChromeWindowCensus census;
  UsKeyboardLayout layout;
  KeyNames names{layout};
  SettingsWindowServices services{settings, loop.main(), census, names};
  int writes = 0;
  std::vector<bool> suspensions;
  Subscription counter;
};

// The longest advice a stock desktop gives: Metacity's for Alt+Tab, two commands of some 90 characters.
inline AdviceText longAdvice() {
  ShortcutAdvice::Findings found;
  found.managerHolds = true;
  found.gsettingsHolders = {{"switch-applications", {"<Super>Tab"}}, {"switch-applications-backward", {"<Shift><Super>Tab"}}};
  return ShortcutAdvice::advice("Metacity", "Alt+Tab", found);
}

// Each command of `view` as the user takes it: what a triple-click on its first line selects, and
// what its Copy button puts on the clipboard.
inline std::vector<std::pair<std::string, std::string>> commandsTaken(const AdviceView& view) {
  std::vector<std::pair<std::string, std::string>> taken;
  const std::vector<QLabel*> labels = view.commandLabels();
  const std::vector<QPushButton*> buttons = view.copyButtons();
  for (size_t i = 0; i < labels.size() && i < buttons.size(); ++i) {
    QLabel* label = labels[i];
    const QPointF at(label->contentsMargins().left() + 4, label->contentsMargins().top() + 4);
    const QPointF global = label->mapToGlobal(at);
    auto send = [&](QEvent::Type type, Qt::MouseButtons buttons) {
      QMouseEvent event(type, at, global, Qt::LeftButton, buttons, Qt::NoModifier);
      QApplication::sendEvent(label, &event);
    };
    // Press, release, the double click's press and release, then the third press.
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick,
                              QEvent::MouseButtonRelease, QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
      send(type, type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton);
    }
    QApplication::clipboard()->clear();
    buttons[i]->click();
    taken.emplace_back(label->selectedText().toStdString(), QApplication::clipboard()->text().toStdString());
  }
  return taken;
}

// The texts of `window` that are cut off: a wrapped label lower than its text at its width, a label
// that does not wrap narrower than its text, a label reaching past its parent's edges (into the
// next row) or the window's.
inline std::vector<std::string> clippedTexts(QWidget& window) {
  QApplication::processEvents();
  std::vector<std::string> clipped;
  for (QLabel* label : window.findChildren<QLabel*>()) {
    if (!label->isVisibleTo(&window) || label->text().isEmpty()) continue;
    const QRect inWindow(label->mapTo(&window, QPoint(0, 0)), label->size());
    const bool cut = label->wordWrap() ? label->height() < label->heightForWidth(label->width())
                                       : label->width() < label->sizeHint().width();
    const bool outside = !window.rect().contains(inWindow) ||
                         (label->parentWidget() && !label->parentWidget()->rect().contains(label->geometry()));
    if (cut || outside) clipped.push_back(label->text().toStdString());
  }
  return clipped;
}

}  // namespace quorvel
