#pragma once

#include <cstdint>

namespace quorvel {

class AppSettings;
struct PassSettings;

// The settings that decide which windows become cards, condensed into one value. The registry keeps
// the value it saw last and forces a rebuild of the card list only when a defaults change alters
// it; settings that only reorder cards are not part of it. Values are comparable only within one
// run (the hash is seeded per process).
class SettingsGate {
 public:
  // Reads the settings on the calling thread, as a refresh pass reads them; takes no lock.
  static int64_t readGateSettings(const AppSettings& settings);
  // The digest of the membership settings of a pass's settings record.
  static int64_t digest(const PassSettings& settings);
};

}  // namespace quorvel
