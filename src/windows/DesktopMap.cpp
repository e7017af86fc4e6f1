#include "windows/DesktopMap.h"

#include <unordered_map>

#include "base/Logger.h"
#include "platform/Displays.h"
#include "windows/Hasher.h"

namespace quorvel {

namespace {

const Logger& overviewLog() {
  // Never destroyed: threads still running as the process ends may log.
  static const Logger& logger = *new Logger("Overview");
  return logger;
}

// Tolerance, in square points, within which two overlaps count as equal.
constexpr double kOverlapTie = 0.5;

Rect flipped(const Rect& rect, double flipHeight) {
  return Rect{rect.x, flipHeight - rect.maxY(), rect.width, rect.height};
}

}  // namespace

void hashRect(Hasher& hasher, const Rect& rect) {
  const Rect r = rect.standardized();
  hasher.combine(r.x);
  hasher.combine(r.y);
  hasher.combine(r.width);
  hasher.combine(r.height);
}

void ScreenReading::hash(Hasher& hasher) const {
  hasher.combine(std::string_view(uuid));
  hasher.combine(displayID);
  hashRect(hasher, frame);
  hashRect(hasher, visibleFrame);
  hasher.combine(isMain);
  hasher.combine(std::string_view(name));
}

void DesktopMap::Desktop::hash(Hasher& hasher) const {
  hasher.combine(spaceID);
  if (number) {
    hasher.combine(uint64_t{1});
    hasher.combine(static_cast<int64_t>(*number));
  } else {
    hasher.combine(uint64_t{0});
  }
  hasher.combine(isFullscreen);
  hasher.combine(isCurrent);
}

void DesktopMap::Display::hash(Hasher& hasher) const {
  hasher.combine(displayID);
  hashRect(hasher, frame);
  hashRect(hasher, visibleFrame);
  hasher.combine(isMain);
  hasher.combine(std::string_view(name));
  hasher.combine(static_cast<uint64_t>(desktops.size()));
  for (const Desktop& desktop : desktops) desktop.hash(hasher);
}

std::vector<ScreenReading> DesktopMap::readScreens(Displays& displays) {
  std::vector<ScreenReading> readings;
  for (const ScreenInfo& screen : displays.screens()) {
    ScreenReading reading;
    reading.displayID = screen.screenNumber ? *screen.screenNumber : displays.mainDisplayID();
    reading.uuid = screen.uuid;
    reading.frame = screen.frame;
    reading.visibleFrame = screen.visibleFrame;
    reading.isMain = screen.frame.x == 0 && screen.frame.y == 0;
    reading.name = screen.localizedName;
    readings.push_back(std::move(reading));
  }
  return readings;
}

std::optional<DesktopMap> DesktopMap::read(const SpaceMap& spaces, Displays& displays) {
  const auto topology = spaces.topology();
  if (!topology) {
    overviewLog().notice("the window server would not say which desktops exist, so the Desktops overview cannot open");
    return std::nullopt;
  }
  const std::vector<ScreenReading> screens = readScreens(displays);
  DesktopMap map;
  map.separateSpaces = displays.screensHaveSeparateSpaces();
  map.displays = join(*topology, screens);
  long desktopCount = 0;
  for (const Display& display : map.displays) desktopCount += static_cast<long>(display.desktops.size());
  overviewLog().notice("desk read: %ld listed by the window server, %ld screens attached, %ld joined, %ld desktops",
                       static_cast<long>(topology->displays.size()), static_cast<long>(screens.size()),
                       static_cast<long>(map.displays.size()), desktopCount);
  return map;
}

std::vector<DesktopMap::Display> DesktopMap::join(const SpaceMap::Topology& topology,
                                                  const std::vector<ScreenReading>& screens) {
  const ScreenReading* mainReading = nullptr;
  for (const ScreenReading& reading : screens) {
    if (reading.isMain) {
      mainReading = &reading;
      break;
    }
  }
  if (!mainReading && !screens.empty()) mainReading = &screens.front();
  const double flipHeight = mainReading ? mainReading->frame.height : 0;

  std::unordered_map<std::string, const ScreenReading*> byUUID;
  for (const ScreenReading& reading : screens) byUUID.try_emplace(reading.uuid, &reading);

  std::vector<Display> joined;
  for (const SpaceMap::DisplaySpaces& listed : topology.displays) {
    const ScreenReading* reading = nullptr;
    if (listed.identifier == "Main") {
      reading = mainReading;
      if (!reading) continue;
    } else {
      auto it = byUUID.find(listed.identifier);
      if (it != byUUID.end()) {
        reading = it->second;
      } else if (screens.size() == 1 && topology.displays.size() == 1) {
        reading = &screens.front();
      } else {
        overviewLog().notice(
            "a display the window server listed matches no attached screen, so its desktops are left out of the overview");
        continue;
      }
    }
    Display display;
    display.displayID = reading->displayID;
    display.frame = flipped(reading->frame, flipHeight);
    display.visibleFrame = flipped(reading->visibleFrame, flipHeight);
    display.isMain = reading->isMain;
    display.name = reading->name;
    for (int64_t spaceID : listed.spaceIDs) {
      Desktop desktop;
      desktop.spaceID = spaceID;
      if (auto it = topology.indexBySpaceID.find(spaceID); it != topology.indexBySpaceID.end()) {
        desktop.number = it->second;
      }
      desktop.isFullscreen = topology.fullscreenSpaceIDs.contains(spaceID);
      desktop.isCurrent = listed.currentSpaceID && *listed.currentSpaceID == spaceID;
      display.desktops.push_back(desktop);
    }
    joined.push_back(std::move(display));
  }
  return joined;
}

std::vector<DesktopMap::Desktop> DesktopMap::allDesktops() const {
  std::vector<Desktop> all;
  for (const Display& display : displays) all.insert(all.end(), display.desktops.begin(), display.desktops.end());
  return all;
}

std::optional<DesktopMap::Display> DesktopMap::displayContaining(const Rect& rect) const {
  std::vector<Rect> frames;
  frames.reserve(displays.size());
  for (const Display& display : displays) frames.push_back(display.frame);
  const auto index = largestOverlapIndex(frames, rect);
  if (!index) return std::nullopt;
  return displays[*index];
}

std::optional<size_t> largestOverlapIndex(const std::vector<Rect>& frames, const Rect& rect) {
  const Point centre = rect.center();
  std::optional<size_t> best;
  double bestArea = 0;
  bool bestHoldsCentre = false;
  for (size_t i = 0; i < frames.size(); ++i) {
    const Rect overlap = frames[i].intersection(rect);
    if (overlap.isNull()) continue;
    const double area = overlap.width * overlap.height;
    if (!(area > 0)) continue;
    const bool holdsCentre = frames[i].containsPoint(centre);
    if (!best || area > bestArea + kOverlapTie ||
        (std::fabs(area - bestArea) <= kOverlapTie && holdsCentre && !bestHoldsCentre)) {
      best = i;
      bestArea = area;
      bestHoldsCentre = holdsCentre;
    }
  }
  return best;
}

}  // namespace quorvel

size_t std::hash<quorvel::ScreenReading>::operator()(const quorvel::ScreenReading& value) const {
  quorvel::Hasher hasher;
  value.hash(hasher);
  return static_cast<size_t>(hasher.finalize());
}

size_t std::hash<quorvel::DesktopMap::Desktop>::operator()(const quorvel::DesktopMap::Desktop& value) const {
  quorvel::Hasher hasher;
  value.hash(hasher);
  return static_cast<size_t>(hasher.finalize());
}

size_t std::hash<quorvel::DesktopMap::Display>::operator()(const quorvel::DesktopMap::Display& value) const {
  quorvel::Hasher hasher;
  value.hash(hasher);
  return static_cast<size_t>(hasher.finalize());
}
