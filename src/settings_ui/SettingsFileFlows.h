#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "settings/AppSettings.h"

namespace quorvel {

// What an export or import tells the user afterwards.
struct TransferReport {
  std::string title;
  std::string message;
  bool operator==(const TransferReport&) const = default;
};

// The General pane's settings file flows: export, import and restore, each behind a dialog.
// An export writes a new file and renames it over the chosen one, so a failed write leaves the old
// file whole; an import reads only a regular file of reasonable size and checks the whole file
// before it changes anything; a restore puts every setting back to its default, leaving the login
// item and the window's own keys alone.
class SettingsFileFlows {
 public:
  struct Dialogs {
    // The file to export to or import from; none when the user cancels.
    std::function<std::optional<std::filesystem::path>()> chooseExportFile;
    std::function<std::optional<std::filesystem::path>()> chooseImportFile;
    // True when the user confirms the restore.
    std::function<bool()> confirmRestore;
  };

  static constexpr const char* kSuggestedName = "Quorvel Settings.json";

  SettingsFileFlows(AppSettings& settings, Dialogs dialogs) : settings_(settings), dialogs_(std::move(dialogs)) {}

  // None when cancelled or written; a report when the file could not be written.
  std::optional<TransferReport> exportSettings();
  // None when cancelled; else what came in, or why nothing did.
  std::optional<TransferReport> importSettings();
  // True when the settings went back to their defaults.
  bool restoreDefaults();

  // For tests: see SettingsTransfer::setWriteInterruptionForTesting.
  void setExportInterruptionForTesting(std::function<bool()> hook) { interruption_ = std::move(hook); }

 private:
  AppSettings& settings_;
  Dialogs dialogs_;
  std::function<bool()> interruption_;
};

}  // namespace quorvel
