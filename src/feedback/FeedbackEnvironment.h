#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace quorvel {

class DefaultsStore;

// The facts a feedback report carries when the user includes system info, and the lines the
// feedback form shows of them: this build's version and build number, the operating system's name
// and version, the machine's model and a summary of every registered setting. Gathered afresh on
// every call, never cached; gathering cannot fail (a missing fact reads "unknown").
//
// Nothing here names another application or a window: the three settings that hold other
// applications' identifiers or words the user typed are reduced to counts.
struct FeedbackEnvironment {
  std::string appVersion;
  std::string build;
  // The operating system's name and version, e.g. "Debian GNU/Linux 12.0.0".
  std::string osVersion;
  std::string hardwareModel;
  std::map<std::string, std::string> settings;

  // Where the facts are read from; the defaults are this build and this machine.
  struct Sources {
    std::optional<std::string> appVersion;
    std::optional<std::string> build;
    std::filesystem::path osRelease;
    // Tried in order; the first that gives a model wins.
    std::vector<std::filesystem::path> modelFiles;
  };
  static Sources systemSources();

  // `store` holds the settings with their registered defaults beneath.
  static FeedbackEnvironment current(const DefaultsStore& store, const Sources& sources = systemSources());

  // Four lines of the facts, then one "key: text" line per setting in ascending key order.
  std::vector<std::string> detailsText() const;

  // One entry for every registered settings key (and no other), from the store.
  static std::map<std::string, std::string> settingsSummary(const DefaultsStore& store);
  // "3 apps" for a list default; "5 words for 2 apps" for a map of word lists.
  static std::string countSummary(const std::string& key, const nlohmann::json& registeredDefault,
                                  const DefaultsStore& store);
  static const std::set<std::string>& countedKeys();

  // os-release text: its NAME and its VERSION_ID as three decimal parts ("12" reads 12.0.0).
  static std::string systemVersion(const std::optional<std::string>& osReleaseText);
  // The first model file that holds text up to its first zero byte, trimmed, as UTF-8 (invalid
  // sequences replaced); none when none does.
  static std::optional<std::string> readHardwareModel(const std::vector<std::filesystem::path>& files);
};

}  // namespace quorvel
