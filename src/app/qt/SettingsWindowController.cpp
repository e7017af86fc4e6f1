#include "app/qt/SettingsWindowController.h"

#include <QCloseEvent>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>

#include "app/BuildProvenance.h"
#include "app/qt/QtMenuBuilder.h"
#include "windows/ChromeWindowCensus.h"

namespace quorvel {

namespace {

// The window's close tells the controller, which takes it out of the census.
class SettingsMainWindow final : public QMainWindow {
 public:
  explicit SettingsMainWindow(std::function<void()> onClose) : onClose_(std::move(onClose)) {}

 protected:
  void closeEvent(QCloseEvent* event) override {
    if (onClose_) onClose_();
    QMainWindow::closeEvent(event);
  }

 private:
  std::function<void()> onClose_;
};

}  // namespace

SettingsWindowController::SettingsWindowController(ChromeWindowCensus& census, std::filesystem::path settingsFile)
    : census_(census), settingsFile_(std::move(settingsFile)) {}

SettingsWindowController::~SettingsWindowController() {
  if (countedWindow_) census_.windowClosed(*countedWindow_);
  delete window_.data();
}

std::string SettingsWindowController::bodyText(const std::filesystem::path& settingsFile) {
  std::string text = "Quorvel keeps its settings in " + settingsFile.string() + ".";
  if (std::optional<std::string> build = BuildProvenance::description()) text += "\n\n" + *build;
  return text;
}

void SettingsWindowController::build() {
  auto* window = new SettingsMainWindow([this] {
    if (countedWindow_) census_.windowClosed(*countedWindow_);
    countedWindow_.reset();
  });
  window->setWindowTitle("Quorvel Settings");
  auto* label = new QLabel(QString::fromStdString(bodyText(settingsFile_)), window);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  label->setWordWrap(true);
  label->setMargin(24);
  window->setCentralWidget(label);
  window->resize(560, 200);
  window_ = window;
  installMenu();
}

void SettingsWindowController::setMainMenu(std::vector<Menu> menus, AppShell::MenuHandler handler) {
  menus_ = std::move(menus);
  handler_ = std::move(handler);
  if (window_) installMenu();
}

void SettingsWindowController::installMenu() {
  QMenuBar* bar = window_->menuBar();
  bar->clear();
  for (const Menu& menu : menus_) {
    QMenu* qmenu = bar->addMenu(QString::fromStdString(menu.title));
    QtMenuBuilder::fill(*qmenu, menu, handler_);
  }
}

void SettingsWindowController::show() {
  if (!window_) build();
  window_->show();
  window_->raise();
  window_->activateWindow();
  // The activation policy has no meaning on X11: the window takes the keyboard as it is.
  const auto number = static_cast<uint32_t>(window_->winId());
  if (countedWindow_ != number) {
    if (countedWindow_) census_.windowClosed(*countedWindow_);
    census_.windowOpened(number);
    countedWindow_ = number;
  }
}

}  // namespace quorvel
