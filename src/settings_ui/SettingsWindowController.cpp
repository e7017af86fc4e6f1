#include "settings_ui/SettingsWindowController.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QLinearGradient>
#include <QMainWindow>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>

#include "settings/AppSettings.h"
#include "settings_ui/AboutPane.h"
#include "settings_ui/BackdropPane.h"
#include "settings_ui/AppearancePane.h"
#include "settings_ui/GeneralPane.h"
#include "settings_ui/PointerPane.h"
#include "settings_ui/SettingsBindings.h"
#include "settings_ui/SettingsForm.h"
#include "settings_ui/SettingsNavigator.h"
#include "settings_ui/SettingsPanes.h"
#include "settings_ui/ShortcutsPane.h"
#include "settings_ui/WindowsPane.h"

namespace quorvel {

namespace {

// Escape closes the window as its close button does; the close, and every move or resize of the
// window, tell the controller.
class SettingsMainWindow final : public QMainWindow {
 public:
  SettingsMainWindow(std::function<void()> onClose, std::function<void()> onFrameChange)
      : onClose_(std::move(onClose)), onFrameChange_(std::move(onFrameChange)) {}

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
      close();
      return;
    }
    QMainWindow::keyPressEvent(event);
  }
  void closeEvent(QCloseEvent* event) override {
    if (onClose_) onClose_();
    QMainWindow::closeEvent(event);
  }
  void moveEvent(QMoveEvent* event) override {
    QMainWindow::moveEvent(event);
    if (onFrameChange_) onFrameChange_();
  }
  void resizeEvent(QResizeEvent* event) override {
    QMainWindow::resizeEvent(event);
    if (onFrameChange_) onFrameChange_();
  }

 private:
  std::function<void()> onClose_;
  std::function<void()> onFrameChange_;
};

QString qstring(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// A sidebar row's icon: a rounded tile in the pane's colour with the desktop theme's icon for the
// pane on it (the tile alone when the theme has none).
QIcon paneIcon(SettingsPane pane) {
  struct Look {
    QColor tile;
    const char* themeIcon;
  };
  const Look look = [pane]() -> Look {
    switch (pane) {
      case SettingsPane::general: return {QColor(0x8e, 0x8e, 0x93), "preferences-system"};
      case SettingsPane::shortcuts: return {QColor(0x0a, 0x84, 0xff), "preferences-desktop-keyboard-shortcuts"};
      case SettingsPane::windows: return {QColor(0x5e, 0x5c, 0xe6), "preferences-system-windows"};
      case SettingsPane::appearance: return {QColor(0xbf, 0x5a, 0xf2), "preferences-desktop-theme"};
      case SettingsPane::backdrop: return {QColor(0x30, 0xb0, 0xc7), "preferences-desktop-wallpaper"};
      case SettingsPane::pointer: return {QColor(0xff, 0x9f, 0x0a), "input-mouse"};
    case SettingsPane::about: return {QColor(0x30, 0xd1, 0x58), "help-about"};
    }
    return {QColor(Qt::gray), ""};
  }();
  QPixmap pixmap(40, 40);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  QLinearGradient gradient(0, 0, 0, 40);
  gradient.setColorAt(0, look.tile.lighter(115));
  gradient.setColorAt(1, look.tile.darker(110));
  QPainterPath tile;
  tile.addRoundedRect(QRectF(0, 0, 40, 40), 10, 10);
  painter.fillPath(tile, gradient);
  const QIcon symbol = QIcon::fromTheme(look.themeIcon);
  if (!symbol.isNull()) symbol.paint(&painter, QRect(8, 8, 24, 24));
  painter.end();
  return QIcon(pixmap);
}

}  // namespace

SettingsWindowController::SettingsWindowController(SettingsWindowServices services)
    : services_(std::move(services)),
      bindings_(std::make_unique<SettingsBindings>(services_.settings, services_.main)),
      pane_(SettingsPanes::fromStored(services_.settings.store().string(SettingsPanes::storedPaneKey).value_or(""))) {}

SettingsWindowController::~SettingsWindowController() {
  if (decorationTimer_) services_.main.cancel(*decorationTimer_);
  storeSubscription_.cancel();
  countedWindow_.gone();
  delete window_.data();
}

Rect SettingsWindowController::fitFrame(Rect content, std::optional<Rect> visible) {
  // A wider frame (the user's, or the tile a tiling manager gives) is kept, within the screen.
  Rect frame{content.x, content.y, std::max(content.width, double{kContentWidth}),
             std::max(content.height, double{kMinimumHeight})};
  if (!visible) return frame;
  const Rect& v = *visible;
  frame.width = std::max(double{kContentWidth}, std::min(frame.width, v.width));
  frame.height = std::min(frame.height, v.height);
  frame.y = std::min(v.maxY() - frame.height, std::max(frame.y, v.minY()));
  frame.x = std::min(std::max(v.maxX() - frame.width, v.minX()), std::max(frame.x, v.minX()));
  return frame;
}

QString SettingsWindowController::windowTitle(SettingsPane pane) {
  return qstring(SettingsPanes::title(pane)) + QString::fromUtf8(" \u2014 Quorvel Settings");
}

void SettingsWindowController::select(SettingsPane pane) { pane_ = pane; }

void SettingsWindowController::setMenuInstaller(std::function<void(QMainWindow&)> installer) {
  menuInstaller_ = std::move(installer);
  if (window_ && menuInstaller_) menuInstaller_(*window_);
}

void SettingsWindowController::build() {
  auto* window = new SettingsMainWindow([this] { closed(); }, [this] { frameChanged(); });
  window->setObjectName("SettingsWindow");
  auto* central = new QWidget;
  auto* row = new QHBoxLayout(central);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(0);

  sidebar_ = new QListWidget;
  sidebar_->setObjectName("sidebar");
  sidebar_->setFixedWidth(kSidebarWidth);
  sidebar_->setFrameShape(QFrame::NoFrame);
  sidebar_->setSpacing(2);
  sidebar_->setIconSize(QSize(20, 20));
  for (SettingsPane pane : SettingsPanes::sidebar()) {
    auto* item = new QListWidgetItem(paneIcon(pane), qstring(SettingsPanes::title(pane)));
    item->setData(Qt::UserRole, static_cast<int>(pane));
    sidebar_->addItem(item);
  }
  QObject::connect(sidebar_, &QListWidget::currentRowChanged, window, [this](int row) {
    if (row >= 0) choose(SettingsPanes::sidebar()[static_cast<size_t>(row)]);
  });
  row->addWidget(sidebar_);

  auto* detail = new QWidget;
  auto* column = new QVBoxLayout(detail);
  column->setContentsMargins(0, 0, 0, 0);
  problem_ = new QLabel;
  problem_->setObjectName("fileProblem");
  problem_->setWordWrap(true);
  problem_->setMargin(10);
  problem_->setStyleSheet("QLabel { background: #fff3cd; color: #5c4400; }");
  problem_->hide();
  column->addWidget(problem_);
  navigator_ = new SettingsNavigator;
  column->addWidget(navigator_, 1);
  row->addWidget(detail, 1);

  window->setCentralWidget(central);
  // No widest size: a tiling manager (i3) gives the window the whole tile whatever it asks, and a
  // window kept narrower than its frame leaves the rest of it unpainted.
  window->setMinimumSize(kContentWidth, kMinimumHeight);
  window->resize(kContentWidth, kInitialHeight);
  // The frame kept from an earlier run, else the middle of the screen.
  const std::optional<nlohmann::json> saved = services_.settings.store().object(frameKey);
  if (saved && saved->is_array() && saved->size() == 4 && std::all_of(saved->begin(), saved->end(), [](const auto& v) {
        return v.is_number();
      })) {
    window->setGeometry((*saved)[0].get<int>(), (*saved)[1].get<int>(), (*saved)[2].get<int>(), (*saved)[3].get<int>());
  } else if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    window->move(area.center() - QPoint(kContentWidth / 2, kInitialHeight / 2));
  }
  window_ = window;
  if (menuInstaller_) menuInstaller_(*window_);
  storeSubscription_ = bindings_->observe([this] { refreshProblem(); });
}

void SettingsWindowController::fit() {
  const QRect g = window_->geometry();
  std::optional<Rect> visible;
  QScreen* screen = window_->screen() ? window_->screen() : QGuiApplication::primaryScreen();
  if (screen) {
    // What must stay on the screen is the frame the window manager draws, title bar included: the
    // content may use the free area less the decorations around it.
    const QRect a = screen->availableGeometry();
    const QMargins m = decorations_;
    visible = Rect{double(a.x() + m.left()), double(a.y() + m.top()), double(a.width() - m.left() - m.right()),
                   double(a.height() - m.top() - m.bottom())};
  }
  const Rect fitted = fitFrame(Rect{double(g.x()), double(g.y()), double(g.width()), double(g.height())}, visible);
  const QRect target(int(fitted.x), int(fitted.y), int(fitted.width), int(fitted.height));
  if (target != g) window_->setGeometry(target);
}

void SettingsWindowController::watchDecorations(int looksLeft) {
  // The window manager frames a window some time after it is mapped, and tells the window nothing
  // when the frame leaves it where it was: the decorations are looked at a few times a second for
  // a while, and the window is fitted again once they are known (or when they changed).
  if (!window_ || !window_->isVisible() || !window_->windowHandle()) return;
  const QMargins now = window_->windowHandle()->frameMargins();
  if (now != decorations_) {
    decorations_ = now;
    fit();
    return;
  }
  if (looksLeft <= 0) return;
  decorationTimer_ = services_.main.postAfter(std::chrono::milliseconds(100), [this, looksLeft] {
    decorationTimer_.reset();
    watchDecorations(looksLeft - 1);
  });
}

void SettingsWindowController::frameChanged() {
  // Kept as it changes (one write per pause in the changes), so that a frame the user moved or
  // resized survives a Quorvel that ends with the window open.
  if (!window_ || !window_->isVisible()) return;
  const QRect g = window_->geometry();
  bindings_->writeSoon(frameKey, nlohmann::json::array({g.x(), g.y(), g.width(), g.height()}));
}

void SettingsWindowController::show() {
  if (services_.beforeShow) services_.beforeShow();
  const bool made = !window_;
  if (made) build();
  fit();
  window_->show();
  window_->raise();
  window_->activateWindow();
  if (decorationTimer_) services_.main.cancel(*decorationTimer_);
  decorationTimer_.reset();
  watchDecorations(20);
  countedWindow_.shown(static_cast<uint32_t>(window_->winId()));
  refreshProblem();
  // The selected pane: its row in the sidebar, its key, the title, and its content when it changed.
  const bool changed = made || !navigator_->root() || navigator_->root()->property("pane").toInt() != static_cast<int>(pane_);
  paneDidChange();
  if (changed) showPane();
}

void SettingsWindowController::choose(SettingsPane pane) {
  if (pane == pane_ && navigator_ && navigator_->root()) return;
  pane_ = pane;
  paneDidChange();
  showPane();
}

void SettingsWindowController::paneDidChange() {
  bindings_->write(SettingsPanes::storedPaneKey, std::string(SettingsPanes::rawValue(pane_)));
  if (!window_) return;
  window_->setWindowTitle(windowTitle(pane_));
  const auto panes = SettingsPanes::sidebar();
  const int row = static_cast<int>(std::find(panes.begin(), panes.end(), pane_) - panes.begin());
  if (sidebar_->currentRow() != row) {
    const QSignalBlocker quiet(sidebar_);
    sidebar_->setCurrentRow(row);
  }
}

void SettingsWindowController::showPane() {
  bindings_->flush();  // what the old pane still held
  QWidget* content = nullptr;
  switch (pane_) {
    case SettingsPane::general:
      content = new GeneralPane(*bindings_, services_);
      break;
    case SettingsPane::shortcuts:
      content = new ShortcutsPane(*bindings_, services_, *navigator_);
      break;
    case SettingsPane::windows:
      content = new WindowsPane(*bindings_, services_, *navigator_);
      break;
    case SettingsPane::appearance:
      content = new AppearancePane(*bindings_,
                                   services_.desktopAnimations && services_.desktopAnimations().has_value());
      break;
    case SettingsPane::pointer:
      content = new PointerPane(*bindings_, *navigator_);
      break;
    case SettingsPane::backdrop:
      content = new BackdropPane(*bindings_, services_);
      break;
    case SettingsPane::about:
      content = new AboutPane(services_.sendFeedback, services_.showTour, AboutPane::pictureMoments(bindings_->settings()));
      break;
  }
  content->setProperty("pane", static_cast<int>(pane_));
  navigator_->setRoot(content);
}

QWidget* SettingsWindowController::currentPane() const { return navigator_ ? navigator_->root() : nullptr; }

void SettingsWindowController::refreshProblem() {
  if (!problem_) return;
  const std::optional<std::string> problem = bindings_->fileProblem();
  problem_->setText(problem ? QString::fromStdString(*problem) : QString());
  problem_->setVisible(problem.has_value());
}

void SettingsWindowController::saveFrame() {
  if (!window_) return;
  const QRect g = window_->geometry();
  bindings_->write(frameKey, nlohmann::json::array({g.x(), g.y(), g.width(), g.height()}));
}

void SettingsWindowController::closed() {
  saveFrame();
  bindings_->flush();
  countedWindow_.gone();
  if (services_.onClose) services_.onClose();
}

}  // namespace quorvel
