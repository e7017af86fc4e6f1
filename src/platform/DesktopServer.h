#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvel {

// One desktop as the window server lists it under a display; fields may be missing.
struct ManagedSpace {
  std::optional<int64_t> id64;
  std::optional<int64_t> type;  // 0 normal desktop, 4 full-screen desktop, others unnumbered
};

struct ManagedDisplaySpaces {
  std::optional<std::string> displayIdentifier;  // a UUID string, or "Main"
  std::optional<int64_t> currentSpaceID;
  std::vector<ManagedSpace> spaces;
};

// The window server's desktop calls, which exist outside its public interface. Each group may be
// unavailable for the whole run; an unavailable group answers none or false every time.
class DesktopServer {
 public:
  enum class Group { blur, spaces, windowList, move };
  virtual ~DesktopServer() = default;

  virtual bool isAvailable(Group group) = 0;
  // Every display with its desktops, in the window server's order; none when the call fails.
  virtual std::optional<std::vector<ManagedDisplaySpaces>> copyManagedDisplaySpaces() = 0;
  // The windows on one desktop (options 7: every window of the desktop); none when the call fails.
  virtual std::optional<std::vector<uint32_t>> copyWindowsOnSpace(int64_t spaceID, uint32_t options) = 0;
  // The desktops of the given windows, merged (mask 7); none when the call fails.
  virtual std::optional<std::vector<int64_t>> copySpacesForWindows(const std::vector<uint32_t>& windows,
                                                                   uint32_t mask) = 0;
  // Asks the window server to move the windows to a desktop; true when the request was made (not
  // that the windows moved).
  virtual bool moveWindowsToSpace(const std::vector<uint32_t>& windows, int64_t spaceID) = 0;
  // Sets the background blur behind one of our own windows; the platform's status code (0 = done).
  virtual int32_t setWindowBackgroundBlur(uint32_t window, int32_t radius) = 0;
};

}  // namespace quorvel
