#include "actions/OverviewGeometry.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <utility>

namespace quorvel {

namespace {

bool isUsable(const Rect& r) {
  return std::isfinite(r.x) && std::isfinite(r.y) && std::isfinite(r.width) && std::isfinite(r.height) &&
         r.width > 0 && r.height > 0;
}

}  // namespace

OverviewGeometry::Plan OverviewGeometry::makePlan(const std::vector<DesktopMap::Display>& displays,
                                                  const std::vector<WindowItem>& items, const Metrics& m,
                                                  double canvasWidth, double canvasHeight) {
  std::vector<const DesktopMap::Display*> usable;
  for (const DesktopMap::Display& d : displays) {
    if (!d.desktops.empty() && isUsable(d.frame)) usable.push_back(&d);
  }
  const size_t b = usable.size();
  if (b == 0 || !std::isfinite(canvasWidth) || !std::isfinite(canvasHeight) || canvasWidth <= 0 || canvasHeight <= 0) {
    return {};
  }
  const double w = canvasWidth - 2 * m.margin;
  const double h = canvasHeight - 2 * m.margin;
  Plan tooSmall;
  tooSmall.isTooSmall = true;
  if (w <= 0 || h <= 0) return tooSmall;

  const auto n = [&](size_t i) { return static_cast<double>(usable[i]->desktops.size()); };
  const auto aspect = [&](size_t i) { return usable[i]->frame.width / usable[i]->frame.height; };

  // Stacked: one band per row.
  double fitWidth = std::numeric_limits<double>::max();
  for (size_t i = 0; i < b; ++i) {
    const double room = w - m.desktopGap * (n(i) - 1);
    if (aspect(i) > 0 && room > 0) fitWidth = std::min(fitWidth, room / (aspect(i) * n(i)));
  }
  const double bands = static_cast<double>(b);
  const double fitRows = (h - (bands - 1) * m.bandGap - bands * m.labelHeight) / bands;
  const double stacked = std::min(fitWidth, fitRows);

  // Side by side: every band in one row.
  double row = 0;
  double sum = 0, gaps = (bands - 1) * m.bandGap;
  bool allPositive = true;
  for (size_t i = 0; i < b; ++i) {
    allPositive = allPositive && aspect(i) > 0;
    sum += aspect(i) * n(i);
    gaps += m.desktopGap * (n(i) - 1);
  }
  const double rest = w - gaps;
  if (allPositive && sum > 0 && rest > 0) row = std::min(rest / sum, h - m.labelHeight);

  const bool sideBySide = row > stacked;
  const double height = std::max(row, stacked);
  if (!std::isfinite(height) || height < m.minimumDesktopHeight) return tooSmall;

  Plan plan;
  std::vector<double> widths(b);
  double total = 0;
  for (size_t i = 0; i < b; ++i) {
    widths[i] = m.desktopGap * (n(i) - 1) + height * aspect(i) * n(i);
    total += widths[i];
  }
  double x = m.margin + (w - ((bands - 1) * m.bandGap + total)) / 2;
  const double rowLabelY = m.margin + (h - height - m.labelHeight) / 2;
  for (size_t i = 0; i < b; ++i) {
    const DesktopMap::Display& display = *usable[i];
    Band band;
    band.displayID = display.displayID;
    band.name = display.name;
    if (sideBySide) {
      band.labelRect = {x, rowLabelY, widths[i], m.labelHeight};
      band.rect = {x, rowLabelY + m.labelHeight, widths[i], height};
      x += widths[i] + m.bandGap;
    } else {
      const double y = m.margin + static_cast<double>(i) * (m.bandGap + m.labelHeight + height);
      const double bx = m.margin + (w - widths[i]) / 2;
      band.labelRect = {bx, y, widths[i], m.labelHeight};
      band.rect = {bx, y + m.labelHeight, widths[i], height};
    }
    const double desktopWidth = height * aspect(i);
    for (size_t j = 0; j < display.desktops.size(); ++j) {
      const DesktopMap::Desktop& desktop = display.desktops[j];
      Region region;
      region.spaceID = desktop.spaceID;
      region.displayID = display.displayID;
      region.number = desktop.number;
      region.isCurrent = desktop.isCurrent;
      region.isFullscreen = desktop.isFullscreen;
      region.rect = {band.rect.x + static_cast<double>(j) * (desktopWidth + m.desktopGap), band.rect.y, desktopWidth,
                     height};
      region.displayFrame = display.frame;
      plan.regions.push_back(region);
    }
    plan.bands.push_back(std::move(band));
  }
  plan.cells = cells(items, plan.regions);
  return plan;
}

std::vector<OverviewGeometry::Cell> OverviewGeometry::cells(const std::vector<WindowItem>& items,
                                                            const std::vector<Region>& regions) {
  std::map<int64_t, size_t> bySpace;
  std::map<std::pair<int64_t, uint32_t>, size_t> bySpaceOnDisplay;
  for (size_t i = 0; i < regions.size(); ++i) {
    bySpace.try_emplace(regions[i].spaceID, i);
    bySpaceOnDisplay.try_emplace({regions[i].spaceID, regions[i].displayID}, i);
  }
  std::vector<Cell> out;
  for (const WindowItem& item : items) {
    std::optional<size_t> index;
    if (item.displayID) {
      if (auto it = bySpaceOnDisplay.find({item.spaceID, *item.displayID}); it != bySpaceOnDisplay.end()) index = it->second;
    } else if (auto it = bySpace.find(item.spaceID); it != bySpace.end()) {
      index = it->second;
    }
    if (!index) continue;
    if (auto rect = miniatureRect(regions[*index], item.frame)) out.push_back({item.windowID, *index, *rect});
  }
  return out;
}

std::optional<Rect> OverviewGeometry::miniatureRect(const Region& region, const Rect& frame) {
  if (!isUsable(region.displayFrame) || !isUsable(frame)) return std::nullopt;
  const double sx = region.rect.width / region.displayFrame.width;
  const double sy = region.rect.height / region.displayFrame.height;
  return Rect{region.rect.minX() + sx * (frame.minX() - region.displayFrame.minX()),
              region.rect.minY() + sy * (frame.minY() - region.displayFrame.minY()), sx * frame.width,
              sy * frame.height};
}

}  // namespace quorvel
