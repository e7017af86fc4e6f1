#include "windows/SettingsGate.h"

#include <string>
#include <vector>

#include "settings/AppSettings.h"
#include "windows/PassSettings.h"
#include "windows/Hasher.h"

namespace quorvel {

int64_t SettingsGate::readGateSettings(const AppSettings& settings) { return digest(PassSettings::read(settings)); }

int64_t SettingsGate::digest(const PassSettings& settings) {
  Hasher hasher;
  hasher.combine(AppSettings::rawValue(settings.otherSpacesDisplay));
  hasher.combine(AppSettings::rawValue(settings.minimizedDisplay));
  hasher.combine(AppSettings::rawValue(settings.hiddenAppsDisplay));
  hasher.combine(AppSettings::rawValue(settings.windowlessAppsDisplay));
  hasher.combine(AppSettings::rawValue(settings.privateWindowsDisplay));
  // A missing or unknown value reads as "whileSearching".
  hasher.combine(AppSettings::rawValue(settings.tabsDisplay));

  const std::vector<std::string>& hidden = settings.hiddenBundleIDList;
  hasher.combine(static_cast<uint64_t>(hidden.size()));
  for (const std::string& id : hidden) hasher.combine(std::string_view(id));

  // The title patterns count independently of the order of their entries.
  uint64_t patterns = 0;
  for (const auto& [bundleID, words] : settings.hiddenTitlePatterns) {
    Hasher entry(hasher.derivedSeed());
    entry.combine(std::string_view(bundleID));
    entry.combine(static_cast<uint64_t>(words.size()));
    for (const std::string& word : words) entry.combine(std::string_view(word));
    patterns ^= entry.finalize();
  }
  hasher.combine(patterns);
  return static_cast<int64_t>(hasher.finalize());
}

}  // namespace quorvel
