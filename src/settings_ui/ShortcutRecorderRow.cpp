#include "settings_ui/ShortcutRecorderRow.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindow>

#include "settings/KeyNames.h"
#include "settings_ui/AdviceView.h"

namespace quorvel {

ShortcutRecorderRow::ShortcutRecorderRow(Config config, const KeyNames& names, KeyTranslator translate,
                                         ShortcutRecorderModel::Suspend suspend, Executor& main, QWidget* parent)
    : QWidget(parent),
      config_(std::move(config)),
      names_(names),
      translate_(std::move(translate)),
      model_(std::move(suspend)),
      record_(new QPushButton),
      message_(new AdviceView(main)) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(6);
  auto* row = new QHBoxLayout;
  row->setSpacing(6);
  record_->setObjectName("record");
  record_->setMinimumWidth(150);
  row->addWidget(record_);
  if (config_.clearable) {
    remove_ = new QToolButton;
    remove_->setObjectName("remove");
    remove_->setAutoRaise(true);
    remove_->setText(QString::fromUtf8("\u2715"));
    remove_->setToolTip("Remove this shortcut");
    remove_->setAccessibleName("Remove this shortcut");
    QObject::connect(remove_, &QToolButton::clicked, this, [this] {
      model_.stop();
      if (onClear) onClear();
    });
    row->addWidget(remove_);
  }
  row->addStretch(1);
  column->addLayout(row);
  message_->setObjectName("message");
  message_->setProseRole(QPalette::PlaceholderText);
  column->addWidget(message_);
  QObject::connect(record_, &QPushButton::clicked, this, [this] { startOrStop(); });
  // A window of the program giving up the keyboard (to another of its windows or to another
  // program) ends a recording. The keyboard coming to a window while none of the program's had it
  // does not: the window manager may focus this window only after the click that started it.
  keyWindow_ = QGuiApplication::focusWindow();
  QObject::connect(qApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow* focused) {
    const bool resigned = !keyWindow_.isNull();
    keyWindow_ = focused;
    if (resigned) model_.stop();
  });
  model_.onChange = [this] { update(); };
  update();
}

ShortcutRecorderRow::~ShortcutRecorderRow() {
  model_.onChange = nullptr;
  model_.stop();
  if (grabbed_) grabbed_->setKeyboardGrabEnabled(false);
  if (filtering_) qApp->removeEventFilter(this);
}

void ShortcutRecorderRow::setBinding(const std::optional<HotkeyBinding>& binding) {
  binding_ = binding;
  refreshTaken();
}

void ShortcutRecorderRow::setTakenCheck(TakenCheck check, bool noteUnderRow) {
  takenCheck_ = noteUnderRow ? check : nullptr;
  model_.takenAdvice = std::move(check);
  refreshTaken();
}

void ShortcutRecorderRow::refreshTaken() {
  taken_ = binding_ && takenCheck_ ? takenCheck_(*binding_) : std::nullopt;
  update();
}

void ShortcutRecorderRow::startOrStop() {
  std::vector<HotkeyBinding> conflicts;
  for (const auto& other : conflicts_) {
    if (other) conflicts.push_back(*other);
  }
  model_.toggle(config_.role, std::move(conflicts), [this](const HotkeyBinding& binding) {
    if (onRecord) onRecord(binding);
  });
}

void ShortcutRecorderRow::update() {
  const bool recording = model_.isRecording();
  if (recording && !filtering_) {
    qApp->installEventFilter(this);
    filtering_ = true;
  } else if (!recording && filtering_) {
    qApp->removeEventFilter(this);
    filtering_ = false;
  }
  // The window takes the whole keyboard while recording: passive grabs of other programs (a window
  // manager's Alt+Tab) do not fire during an active grab, so the combination comes here.
  if (recording && !grabbed_) {
    if (QWindow* handle = window() ? window()->windowHandle() : nullptr; handle && handle->setKeyboardGrabEnabled(true)) {
      grabbed_ = handle;
    }
  } else if (!recording && grabbed_) {
    grabbed_->setKeyboardGrabEnabled(false);
    grabbed_.clear();
  }
  record_->setText(recording ? config_.recordingLabel
                   : binding_ ? QString::fromStdString(binding_->displayString(names_))
                              : config_.emptyLabel);
  record_->setToolTip(recording ? "Press the keys you want to use, or Esc to leave it as it is."
                                : "Click, then press the keys you want to use.");
  // While recording the button takes the accent colour.
  QPalette colours = palette();
  if (recording) {
    colours.setColor(QPalette::Button, colours.color(QPalette::Highlight));
    colours.setColor(QPalette::ButtonText, colours.color(QPalette::HighlightedText));
  }
  record_->setPalette(colours);
  if (remove_) remove_->setEnabled(binding_.has_value());
  // The recorder's own sentence first; else, while the shortcut shown is held elsewhere, the advice.
  const std::optional<AdviceText> message = model_.message() ? model_.message() : recording ? std::nullopt : taken_;
  const bool changed = message.value_or(AdviceText()) != message_->advice() || message_->isHidden() == message.has_value();
  message_->setAdvice(message.value_or(AdviceText()));
  message_->setVisible(message.has_value());
  if (changed && onMessageChange) onMessageChange();
}

void ShortcutRecorderRow::hideEvent(QHideEvent* event) {
  model_.stop();
  QWidget::hideEvent(event);
}

int64_t ShortcutRecorderRow::flagsOf(Qt::KeyboardModifiers modifiers) {
  int64_t flags = 0;
  if (modifiers & Qt::ControlModifier) flags |= HotkeyBinding::controlFlag;
  if (modifiers & Qt::AltModifier) flags |= HotkeyBinding::optionFlag;
  if (modifiers & Qt::MetaModifier) flags |= HotkeyBinding::commandFlag;
  if (modifiers & Qt::ShiftModifier) flags |= HotkeyBinding::shiftFlag;
  return flags;
}

bool ShortcutRecorderRow::eventFilter(QObject* watched, QEvent* event) {
  if (!model_.isRecording()) return QWidget::eventFilter(watched, event);
  if (event->type() == QEvent::ShortcutOverride) {
    event->accept();  // no menu shortcut fires while recording; the press comes as a key press
    return true;
  }
  if (event->type() != QEvent::KeyPress || !watched->isWidgetType()) return QWidget::eventFilter(watched, event);
  auto* key = static_cast<QKeyEvent*>(event);
  switch (key->key()) {
    case Qt::Key_Shift: case Qt::Key_Control: case Qt::Key_Alt: case Qt::Key_Meta: case Qt::Key_Super_L:
    case Qt::Key_Super_R: case Qt::Key_AltGr: case Qt::Key_CapsLock: case Qt::Key_NumLock:
      return false;  // a modifier alone changes nothing
    default:
      break;
  }
  const std::optional<int64_t> code = translate_ ? translate_(key->nativeScanCode()) : std::nullopt;
  if (!code) return true;  // a key the program cannot name: ignored while recording
  return model_.handleKeyDown(*code, flagsOf(key->modifiers()));
}

}  // namespace quorvel
