#pragma once

#include <map>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "settings/SettingEnums.h"

namespace quorvel {

class AppSettings;

// The settings that decide which windows of a refresh pass become cards and how, read once at the
// start of the filter and used by every later step of the same pass.
struct PassSettings {
  SettingEnums::CategoryDisplay otherSpacesDisplay = SettingEnums::CategoryDisplay::show;
  SettingEnums::CategoryDisplay minimizedDisplay = SettingEnums::CategoryDisplay::show;
  SettingEnums::CategoryDisplay hiddenAppsDisplay = SettingEnums::CategoryDisplay::show;
  SettingEnums::CategoryDisplay windowlessAppsDisplay = SettingEnums::CategoryDisplay::show;
  std::vector<std::string> hiddenBundleIDList;  // "hiddenBundleIDs" as stored
  std::unordered_set<std::string> hiddenBundleIDs;
  std::map<std::string, std::vector<std::string>> hiddenTitlePatterns;  // words normalised
  SettingEnums::PrivateWindowsDisplay privateWindowsDisplay = SettingEnums::PrivateWindowsDisplay::show;
  bool privateWindowNames = false;
  SettingEnums::TabsDisplay tabsDisplay = SettingEnums::TabsDisplay::whileSearching;
  bool tabSiteIcons = false;

  static PassSettings read(const AppSettings& settings);

  // The four category displays packed for the category move.
  uint32_t packedCategoryDisplays() const;
  // Whether the user's hide rules remove a window of this application with this title: its
  // application is listed as hidden, with no title words or with a word the lower-cased title
  // contains.
  bool hidesByUserRules(const std::optional<std::string>& bundleID, const std::string& title) const;
};

}  // namespace quorvel
