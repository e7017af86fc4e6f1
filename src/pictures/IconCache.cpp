#include "pictures/IconCache.h"

#include <algorithm>
#include <cassert>
#include <unordered_set>

#include "base/Executor.h"
#include "platform/AppIconSource.h"
#include "platform/Raster.h"
#include "platform/Workspace.h"

namespace quorvel {

IconCache::Identity IconCache::Identity::of(int32_t pid, const std::optional<std::string>& bundleID) {
  if (bundleID && !bundleID->empty()) return {Kind::bundle, *bundleID, 0};
  return {Kind::process, {}, pid};
}

size_t IconCache::IdentityHash::operator()(const Identity& identity) const {
  if (identity.kind == Identity::Kind::bundle) return std::hash<std::string>{}(identity.bundleID) * 2;
  return std::hash<int32_t>{}(identity.pid) * 2 + 1;
}

IconCache::IconCache(ChromeServices services, Workspace& workspace, AppIconSource& icons)
    : services_(std::move(services)), workspace_(workspace), icons_(icons) {}

void IconCache::prewarm() {
  assert(services_.main.isCurrent() && "IconCache::prewarm: main queue only");
  std::vector<Request> requests;
  for (const RunningApplication& app : workspace_.runningApplications()) {
    if (app.activationPolicy == ActivationPolicy::regular) requests.push_back({app.pid, app.bundleIdentifier});
  }
  prepare(requests);
}

std::vector<IconCache::Request> IconCache::runningRequests() {
  assert(services_.main.isCurrent() && "IconCache::runningRequests: main queue only");
  std::vector<Request> requests;
  for (const RunningApplication& app : workspace_.runningApplications()) {
    requests.push_back({app.pid, app.bundleIdentifier});
  }
  return requests;
}

ChromeTextureRef IconCache::draw(int32_t pid) {
  std::optional<AppIcon> icon = icons_.icon(pid);
  if (!icon) return nullptr;
  std::optional<RasterBitmap> image;
  if (icon->hasPixels()) {
    image = RasterBitmap::fromStraightArgb(icon->width, icon->height, icon->argb.data(), icon->argb.size());
  } else if (!icon->file.empty()) {
    image = services_.raster.decodeImage(icon->file, kSide);
  }
  if (!image) return nullptr;
  std::optional<RasterBitmap> bitmap = RasterBitmap::make(kSide, kSide);
  if (!bitmap) return nullptr;
  {
    std::unique_ptr<RasterCanvas> canvas = services_.raster.beginDrawing(*bitmap);
    if (!canvas) return nullptr;
    // Application icons are square; an X11 icon that is not is fitted, centred, keeping its shape.
    const double scale = static_cast<double>(kSide) / std::max(image->width(), image->height());
    const double w = image->width() * scale, h = image->height() * scale;
    canvas->drawImage(*image, {(kSide - w) / 2, (kSide - h) / 2, w, h});
  }
  return services_.uploader.upload(*bitmap, kMipLabel);
}

void IconCache::prepare(const std::vector<Request>& requests) {
  assert(services_.main.isCurrent() && "IconCache::prepare: main queue only");
  // The running processes, read once and only when some request needs drawing.
  std::optional<std::unordered_set<int32_t>> running;
  for (const Request& request : requests) {
    const Identity identity = Identity::of(request.pid, request.bundleID);
    const bool done = lock_.withLock([&] {
      if (auto it = live_.find(request.pid); it != live_.end() && it->second.identity == identity) return true;
      if (auto it = textures_.find(identity); it != textures_.end()) {
        live_[request.pid] = Live{identity, it->second};
        return true;
      }
      return false;
    });
    if (done) continue;
    if (!running) {
      running.emplace();
      for (const RunningApplication& app : workspace_.runningApplications()) running->insert(app.pid);
    }
    if (!running->contains(request.pid)) continue;
    ChromeTextureRef texture = draw(request.pid);
    if (!texture) continue;
    lock_.withLock([&] {
      textures_[identity] = texture;
      live_[request.pid] = Live{identity, texture};
    });
    // After the store, with the lock released: the frame it wakes finds the icon.
    if (services_.wakeScene) services_.wakeScene();
  }
}

ChromeTextureRef IconCache::liveTexture(int32_t pid) {
  std::lock_guard guard(lock_);
  auto it = live_.find(pid);
  return it != live_.end() ? it->second.texture : nullptr;
}

void IconCache::sweep(const std::vector<Request>& running) {
  assert(services_.main.isCurrent() && "IconCache::sweep: main queue only");
  std::unordered_map<int32_t, Identity> byPid;
  std::unordered_set<Identity, IdentityHash> identities;
  for (const Request& request : running) {
    const Identity identity = Identity::of(request.pid, request.bundleID);
    byPid.insert_or_assign(request.pid, identity);  // a later duplicate of a pid replaces an earlier one
    identities.insert(identity);
  }
  std::vector<ChromeTextureRef> released;  // dropped after the lock
  std::lock_guard guard(lock_);
  doomedPIDs_.clear();
  for (const auto& [pid, entry] : live_) {
    auto it = byPid.find(pid);
    if (it == byPid.end() || !(it->second == entry.identity)) doomedPIDs_.push_back(pid);
  }
  for (int32_t pid : doomedPIDs_) live_.erase(pid);
  doomedIdentities_.clear();
  for (const auto& [identity, texture] : textures_) {
    if (!identities.contains(identity)) doomedIdentities_.push_back(identity);
  }
  for (const Identity& identity : doomedIdentities_) {
    auto it = textures_.find(identity);
    released.push_back(std::move(it->second));
    textures_.erase(it);
  }
}

size_t IconCache::textureCount() {
  return lock_.withLock([&] { return textures_.size(); });
}

size_t IconCache::liveCount() {
  return lock_.withLock([&] { return live_.size(); });
}

}  // namespace quorvel
