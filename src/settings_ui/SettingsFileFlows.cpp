#include "settings_ui/SettingsFileFlows.h"

#include "settings/SettingsTransfer.h"

namespace quorvel {

std::optional<TransferReport> SettingsFileFlows::exportSettings() {
  if (!dialogs_.chooseExportFile) return std::nullopt;
  const std::optional<std::filesystem::path> file = dialogs_.chooseExportFile();
  if (!file || file->empty()) return std::nullopt;
  SettingsTransfer transfer(settings_);
  if (interruption_) transfer.setWriteInterruptionForTesting(interruption_);
  if (transfer.exportToFile(settings_.store(), *file).succeeded()) return std::nullopt;
  return TransferReport{"Could not save your settings",
                        "The file could not be written there. Try somewhere you own, like your home folder or "
                        "your Documents folder."};
}

std::optional<TransferReport> SettingsFileFlows::importSettings() {
  if (!dialogs_.chooseImportFile) return std::nullopt;
  const std::optional<std::filesystem::path> file = dialogs_.chooseImportFile();
  if (!file || file->empty()) return std::nullopt;
  SettingsTransfer transfer(settings_);
  const SettingsTransfer::ImportResult result = transfer.importFile(*file, settings_.store());
  if (result.failure) return TransferReport{"Could not read that file", SettingsTransfer::message(*result.failure)};
  const std::string count = result.written == 1 ? "1 setting came in" : std::to_string(result.written) + " settings came in";
  if (!result.saved) {
    return TransferReport{"Settings not saved", count + " from that file, but they could not be saved to disk, so they "
                                                        "last only until Quorvel quits."};
  }
  return TransferReport{"Settings brought in",
                        count + " from that file. Everything the file did not mention was left as it was."};
}

bool SettingsFileFlows::restoreDefaults() {
  if (!dialogs_.confirmRestore || !dialogs_.confirmRestore()) return false;
  settings_.resetAll();
  return true;
}

}  // namespace quorvel
