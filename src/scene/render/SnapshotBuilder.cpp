#include "scene/render/SnapshotBuilder.h"

#include <cfloat>
#include <cmath>

#include "base/TextServices.h"
#include "pictures/CardLabel.h"
#include "scene/ClusterKey.h"
#include "windows/ApplicationIdentity.h"

namespace quorvel {
namespace {

bool isNormalPositive(float v) { return std::isfinite(v) && v >= FLT_MIN; }

}  // namespace

std::string SnapshotBuilder::elided(std::string_view text, size_t limit, size_t head, size_t tail) {
  const size_t count = TextServices::graphemeCount(text);
  if (count <= limit) return std::string(text);
  const std::string first = TextServices::prefixGraphemes(text, head);
  const std::string upToTail = TextServices::prefixGraphemes(text, count - tail);
  return first + "\u2026" + std::string(text.substr(upToTail.size()));
}

std::string SnapshotBuilder::clippedTitle(std::string_view title, std::string_view appName) {
  return clipped(title, appName);  // the title plates' own rule, so keys and plates agree
}

std::string SnapshotBuilder::shortTabTitle(std::string_view title) { return elided(title, 60, 30, 29); }

float SnapshotBuilder::sessionTallest(const std::vector<WindowCard>& cards) {
  float tallest = 1;
  for (const WindowCard& card : cards) {
    const float h = static_cast<float>(card.frame.height);
    if (std::isfinite(h)) tallest = std::max(tallest, h);
  }
  return tallest;
}

CardSnapshot SnapshotBuilder::snapshot(const WindowCard& card, const std::optional<Rect>& rect, const Options& o) {
  CardSnapshot s;
  s.id = card.id;
  s.pid = card.pid;
  s.status.state = card.state;
  s.status.isTab = card.tab.has_value() || card.state == WindowState::browserTab;
  if (!card.tab && card.state == WindowState::onOtherSpace) {
    s.status.spaceNumber = card.spaceNumber;
    s.status.isFullscreenSpace = card.isOnFullscreenSpace;
  }
  const double w = card.frame.width, h = card.frame.height;
  float aspect = 1.6f;
  if (h > 0 && w > 0) aspect = static_cast<float>(w / h);
  if (!isNormalPositive(aspect)) aspect = 1.6f;
  s.aspect = std::clamp(aspect, 0.35f, 2.0f);
  s.heightFactor = 1;
  if (o.preserveWindowScale) {
    const float ratio = static_cast<float>(h) / o.sessionTallest;
    if (isNormalPositive(ratio)) s.heightFactor = std::clamp(ratio, 0.5f, 1.0f);
  }
  if (rect && o.layerBounds.width > 0 && o.layerBounds.height > 0) {
    const float bw = static_cast<float>(o.layerBounds.width), bh = static_cast<float>(o.layerBounds.height);
    ViewportRect v{{static_cast<float>(rect->x) / bw, static_cast<float>(rect->y) / bh},
                   {static_cast<float>(rect->width) / bw, static_cast<float>(rect->height) / bh}};
    if (v.isUsable()) s.windowRect = v;
  }
  if (o.labelPlaceholders) {
    CardLabel label;
    label.appName = card.appName;
    label.state = card.state;
    if (card.state == WindowState::onOtherSpace) label.spaceNumber = card.spaceNumber;
    label.isPrivate = card.isPrivate;
    if (card.state == WindowState::browserTab && !card.title.empty()) label.tabTitle = shortTabTitle(card.title);
    s.label = label;
  }
  if (o.showCardTitles) s.title = CardTitle{clippedTitle(card.title, card.appName)};
  s.canAct = card.ax != nullptr && card.state != WindowState::windowlessApp && card.state != WindowState::browserTab;
  s.tabsOutOfReach = card.tabsOutOfReach;
  return s;
}

std::vector<CardSnapshot> SnapshotBuilder::snapshots(const std::vector<WindowCard>& cards,
                                                     const std::vector<Rect>& rects, const Options& options) {
  std::vector<CardSnapshot> out;
  out.reserve(cards.size());
  for (size_t i = 0; i < cards.size(); ++i)
    out.push_back(snapshot(cards[i], i < rects.size() ? std::optional<Rect>(rects[i]) : std::nullopt, options));
  return out;
}

ClusterAssignment SnapshotBuilder::clusters(const std::vector<WindowCard>& cards, const Bunching& bunching) {
  std::vector<std::optional<uint32_t>> hosts;
  std::vector<uint32_t> ids;
  hosts.reserve(cards.size());
  ids.reserve(cards.size());
  for (const WindowCard& card : cards) {
    hosts.push_back(card.tab ? std::optional<uint32_t>(card.tab->hostWindowID) : std::nullopt);
    ids.push_back(card.id);
  }
  const auto tabKeys = ClusterKey::tabPileKeys(hosts, ids, bunching.keepWindowCardBesideTabs);
  std::vector<ClusterKey> keys;
  keys.reserve(cards.size());
  // The processes of one application (XTerm's one a window) stack as one.
  const std::vector<int32_t> application =
      bunching.bunchAppWindows ? ApplicationIdentity::applicationPIDs(cards) : std::vector<int32_t>();
  for (size_t i = 0; i < cards.size(); ++i) {
    if (bunching.bunchAppWindows) keys.push_back(ClusterKey::app(application[i]));
    else if (bunching.bunchTabs && tabKeys[i]) keys.push_back(ClusterKey::tabHost(*tabKeys[i]));
    else keys.push_back(ClusterKey::alone());
  }
  return ClusterAssignment::build(keys);
}

}  // namespace quorvel
