#include "windows/PrivateTitleStep.h"

#include <unordered_map>
#include <utility>

#include "ax/AXFunnel.h"
#include "settings/AppSettings.h"
#include "tabs/TabWalker.h"
#include "windows/PrivateWindowMarkers.h"
#include "windows/WindowFingerprints.h"

namespace quorvel {

namespace {

// One browser process whose windows' titles are to be read.
struct Candidate {
  int32_t pid = 0;
  PrivateWindowMarkers::Family family{};
  std::optional<std::string> bundleID;
  std::vector<std::pair<uint32_t, AXHandleRef>> windows;
};

}  // namespace

PrivateTitleStep::PrivateTitleStep(Shared shared, const RegistryServices& services)
    : shared_(shared), services_(services) {}

Task<void> PrivateTitleStep::readPrivateTitles(const std::vector<WindowCard>& windowCards,
                                               const std::vector<RawWindow>& rawWindows,
                                               const std::unordered_set<int32_t>& coveredPids,
                                               std::optional<int32_t> deepVerifiedPid, bool trusted,
                                               AppSettings::PrivateWindowsDisplay privateWindowsDisplay) {
  if (privateWindowsDisplay == AppSettings::PrivateWindowsDisplay::show || !trusted) {
    shared_.lock.withLock([&] {
      shared_.axPrivateWindows.clear();
      shared_.axTitleCacheByPID.clear();
    });
    co_return;
  }

  std::vector<Candidate> candidates;
  std::unordered_map<int32_t, size_t> candidateIndex;
  for (const WindowCard& card : windowCards) {
    if (coveredPids.contains(card.pid) || !card.bundleID || card.bundleID->empty()) continue;
    const auto family = PrivateWindowMarkers::family(card.bundleID);
    if (!family || !card.ax) continue;
    auto [it, inserted] = candidateIndex.try_emplace(card.pid, candidates.size());
    if (inserted) candidates.push_back(Candidate{card.pid, *family, card.bundleID, {}});
    candidates[it->second].windows.emplace_back(card.id, card.ax);
  }
  shared_.lock.withLock([&] {
    std::erase_if(shared_.axTitleCacheByPID, [&](const auto& entry) { return !candidateIndex.contains(entry.first); });
  });
  if (candidates.empty()) co_return;

  std::unordered_map<int32_t, std::vector<const RawWindow*>> rawByPid;
  for (const RawWindow& window : rawWindows) {
    if (candidateIndex.contains(window.pid)) rawByPid[window.pid].push_back(&window);
  }

  std::unordered_set<uint32_t> found;
  TabWalker& walker = services_.tabWalker;
  for (const Candidate& candidate : candidates) {
    const int32_t pid = candidate.pid;
    const int64_t fingerprint = WindowFingerprints::titleFingerprint(rawByPid[pid]);
    if (pid != deepVerifiedPid) {
      const bool unchanged = shared_.lock.withLock([&] {
        const auto cached = shared_.axTitleCacheByPID.find(pid);
        return cached != shared_.axTitleCacheByPID.end() && cached->second.fingerprint == fingerprint;
      });
      if (unchanged) continue;
    }
    // Firefox and Safari keep their window titles without being asked to switch their tree on.
    const bool nudgeFirst = candidate.family != PrivateWindowMarkers::Family::firefox &&
                            candidate.family != PrivateWindowMarkers::Family::safari;
    const auto& windows = candidate.windows;
    TabWalker::WindowTitles titles = co_await services_.axFunnel.run([&walker, &windows, pid, nudgeFirst] {
      return walker.readWindowTitles(windows, pid, nudgeFirst);
    });
    for (const auto& [id, title] : titles.titles) {
      if (!title.empty() && PrivateWindowMarkers::isPrivateTabTitle(candidate.bundleID, title)) found.insert(id);
    }
    shared_.lock.withLock([&] {
      if (titles.mayCache) {
        shared_.axTitleCacheByPID[pid] = RegistryState::CachedAXTitles{fingerprint};
      } else {
        shared_.axTitleCacheByPID.erase(pid);
      }
    });
  }
  if (!found.empty()) {
    shared_.lock.withLock([&] { shared_.axPrivateWindows.insert(found.begin(), found.end()); });
  }
}

}  // namespace quorvel
