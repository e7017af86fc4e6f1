#pragma once

#include <QString>
#include <QWidget>

class QFormLayout;
class QLabel;
class QPushButton;
class QVBoxLayout;

namespace quorvel {

// The grouped form every pane and sub-screen is built on: sections one below the other, each with a
// short header, its rows, and at most one footnote of explaining sentences; 520 pixels wide.
class SettingsForm final : public QWidget {
 public:
  static constexpr int kWidth = 520;

  explicit SettingsForm(QWidget* parent = nullptr);

  // A new section; an empty header shows none. Its rows go into the returned layout.
  QFormLayout* section(const QString& header);
  // The footnote of the section added last (a wrapped, dimmed text).
  QLabel* footnote(const QString& text);
  // More of the footnote of the section added last (advice, a button) in the footnote's margins;
  // the returned holder shows and hides it whole.
  QWidget* footnoteContent(QWidget* content);
  // A heading over the whole form (the pane's title).
  QLabel* heading(const QString& text);
  // Ends the form: whatever space is left stays below the sections.
  void finish();

  // A wrapped text in the dimmed style of the explaining sentences.
  static QLabel* explainer(const QString& text);
  // A row that opens a sub-screen: its title on the left, a value and an arrow on the right.
  static QPushButton* drillRow(const QString& title, const QString& value = QString());
  static void setDrillValue(QPushButton* row, const QString& value);
  // A drill row's value: the count, or `empty` when it is 0.
  static QString countText(size_t count, const QString& empty);

 private:
  QVBoxLayout* layout_;
};

}  // namespace quorvel
