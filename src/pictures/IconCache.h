#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/Lock.h"
#include "pictures/ChromeServices.h"
#include "pictures/ChromeTexture.h"

namespace quorvel {

class AppIconSource;
class Workspace;

// The application icons of the cards: one 256 × 256 mipmapped texture per application, shared by
// every process of an application with a bundle identifier, dropped by the sweep once the
// application is gone.
//
// Threads and lock: prepare, prewarm, runningRequests and sweep run on the main queue (checked);
// the icon is read, drawn and uploaded outside the lock. liveTexture runs on any thread (the
// render thread) and takes the lock only for its lookup; it never draws. A texture the sweep
// removes stays valid for a frame still drawing it.
class IconCache {
 public:
  static constexpr int kSide = 256;
  static constexpr const char* kMipLabel = "Quorvel icon mipmaps";

  // An application: its bundle identifier when it has a non-empty one, else its process.
  struct Identity {
    enum class Kind { bundle, process } kind = Kind::process;
    std::string bundleID;
    int32_t pid = 0;
    bool operator==(const Identity&) const = default;
    static Identity of(int32_t pid, const std::optional<std::string>& bundleID);
  };
  struct IdentityHash {
    size_t operator()(const Identity& identity) const;
  };
  struct Request {
    int32_t pid = 0;
    std::optional<std::string> bundleID;
    bool operator==(const Request&) const = default;
  };
  struct Live {
    Identity identity;
    ChromeTextureRef texture;
  };

  IconCache(ChromeServices services, Workspace& workspace, AppIconSource& icons);
  IconCache(const IconCache&) = delete;
  IconCache& operator=(const IconCache&) = delete;

  // Main queue: the icons of the running applications of the regular kind (not accessories), in the workspace's order.
  void prewarm();
  // Main queue: makes sure each request's process has an icon texture. A process that has quit or
  // has no icon is skipped (a later request tries again).
  void prepare(const std::vector<Request>& requests);
  // Any thread: the texture the process uses, or nothing.
  ChromeTextureRef liveTexture(int32_t pid);
  // Main queue: one request per running application of every activation policy.
  std::vector<Request> runningRequests();
  // Main queue: forgets every process and identity not in `running` (an empty list forgets all).
  void sweep(const std::vector<Request>& running);

  size_t textureCount();
  size_t liveCount();

 private:
  ChromeTextureRef draw(int32_t pid);

  ChromeServices services_;
  Workspace& workspace_;
  AppIconSource& icons_;
  Lock lock_;
  std::unordered_map<Identity, ChromeTextureRef, IdentityHash> textures_;
  std::unordered_map<int32_t, Live> live_;
  std::vector<int32_t> doomedPIDs_;
  std::vector<Identity> doomedIdentities_;
};

}  // namespace quorvel
