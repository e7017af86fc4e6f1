#include "settings_ui/KeyReferenceScreen.h"

#include <QFormLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "settings/AppSettings.h"
#include "settings/KeyNames.h"
#include "settings_ui/SettingsBindings.h"
#include "settings_ui/SettingsForm.h"

namespace quorvel {

KeyReferenceScreen::KeyReferenceScreen(SettingsBindings& bindings, const KeyNames& names, QWidget* parent)
    : QWidget(parent), bindings_(bindings), names_(names) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  setFixedWidth(SettingsForm::kWidth);
  reload();
  subscription_ = bindings_.observe([this] { reload(); });
}

KeyReferenceScreen::~KeyReferenceScreen() = default;

std::vector<KeyReferenceScreen::Line> KeyReferenceScreen::lines(bool vimKeys, bool searchEnabled,
                                                                bool windowActionsEnabled,
                                                                const std::optional<std::string>& cancelKeyText) {
  std::vector<Line> out;
  const std::string moving = "Moving around", acting = "Acting on a window", leaving = "Leaving";
  out.push_back({moving, "Arrow keys", "Move between windows"});
  if (vimKeys) out.push_back({moving, "H, J, K and L", "Move between windows"});
  out.push_back({moving, "Tab", "Step forward"});
  out.push_back({moving, "Shift+Tab", "Step back"});
  out.push_back({moving, "Shift with the shortcut", "Cycle backward"});
  if (searchEnabled) out.push_back({moving, "Space", "Search your windows"});
  out.push_back({acting, "Return", "Switch to the selected window"});
  if (windowActionsEnabled) {
    out.push_back({acting, "W", "Close the selected window"});
    out.push_back({acting, "M", "Minimize it, or bring it back"});
  }
  out.push_back({leaving, "Esc", "Close the switcher"});
  if (cancelKeyText) out.push_back({leaving, *cancelKeyText, "Close the switcher as well"});
  return out;
}

void KeyReferenceScreen::reload() {
  using K = AppSettings::Key;
  const std::optional<HotkeyBinding> cancel = HotkeyBinding::fromStoredCancel(bindings_.value(K::cancelBinding));
  std::vector<Line> wanted = lines(bindings_.flag(K::vimKeys), bindings_.flag(K::searchEnabled),
                                   bindings_.flag(K::windowActionsEnabled),
                                   cancel ? std::optional<std::string>(cancel->displayString(names_)) : std::nullopt);
  if (form_ && wanted == shown_) return;
  shown_ = std::move(wanted);
  delete form_;
  form_ = new SettingsForm;
  QFormLayout* section = nullptr;
  std::string current;
  for (const Line& line : shown_) {
    if (!section || line.section != current) {
      current = line.section;
      section = form_->section(QString::fromStdString(current));
    }
    auto* action = new QLabel(QString::fromStdString(line.action));
    action->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    section->addRow(QString::fromStdString(line.key), action);
  }
  form_->finish();
  layout()->addWidget(form_);
}

}  // namespace quorvel
