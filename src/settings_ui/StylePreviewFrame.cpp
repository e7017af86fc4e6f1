#include "settings_ui/StylePreviewFrame.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "scene/CameraRig.h"
#include "scene/CardPose.h"
#include "scene/LayoutBlend.h"

namespace quorvel {

namespace {

constexpr std::array<float, 7> kAspects = {1.6f, 2.0f, 1.33f, 1.62f, 1.78f, 0.85f, 1.5f};
constexpr std::array<float, 7> kHeights = {1.0f, 0.7f, 0.62f, 0.92f, 0.8f, 0.74f, 0.88f};
constexpr std::array<Float2, 4> kUnitCorners = {{{-0.5f, -0.5f}, {0.5f, -0.5f}, {0.5f, 0.5f}, {-0.5f, 0.5f}}};

}  // namespace

int StylePreviewFrame::cardCount(AppSettings::SwitcherStyle style) {
  return style == AppSettings::SwitcherStyle::cylinder ? 14 : 7;
}

double StylePreviewFrame::focusAt(double seconds, int cards) {
  const double f = 1.5 + 1.5 * std::sin(2 * std::numbers::pi * seconds / kSweepSeconds);
  return std::min(f, static_cast<double>(cards - 1));
}

float StylePreviewFrame::morphT(double since) {
  if (std::isnan(since) || since >= kMorphSeconds) return 1.0f;
  return scene::smoothstep(static_cast<float>(since / kMorphSeconds));
}

float StylePreviewFrame::aspect(int index) { return kAspects[static_cast<size_t>(scene::wrapIndex(index, 7))]; }
float StylePreviewFrame::heightFactor(int index) { return kHeights[static_cast<size_t>(scene::wrapIndex(index, 7))]; }

StylePreviewFrame::Band StylePreviewFrame::band(double width, double height) {
  const float a = std::min(static_cast<float>(width / height), kWidestBand);
  return {(width - height * a) / 2, 0, height * a, height};
}

std::vector<StylePreviewFrame::Card> StylePreviewFrame::cards(const Input& in) {
  std::vector<Card> out;
  if (in.width <= 1 || in.height <= 1 || !in.current) return out;
  const int n = std::max(in.cards, 0);
  const Band r = band(in.width, in.height);
  const LayoutBlend layout(in.current, in.outgoing, in.outgoing ? in.t : 1.0f);
  const CameraRig rig = CameraRig::make(layout, {n, n, 0}, std::nullopt, 1, static_cast<float>(r.width),
                                        static_cast<float>(r.height));
  out.reserve(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    const float hf = in.preserveProportions ? heightFactor(i) : 1.0f;
    const CardPose pose = layout.pose(i, n, n, aspect(i), hf, in.focus);
    const Float4x4 mvp = rig.viewProjection * pose.modelMatrix();
    Card card;
    card.index = i;
    bool drawn = true;
    for (size_t c = 0; c < 4 && drawn; ++c) {
      const Float4 clip = mvp * Float4{kUnitCorners[c].x, kUnitCorners[c].y, 0, 1};
      const float nx = clip.x / clip.w, ny = clip.y / clip.w;
      if (!(clip.w > 0.0001f) || !std::isfinite(nx) || !std::isfinite(ny)) {
        drawn = false;
        break;
      }
      card.points[c] = {static_cast<float>(r.x + r.width * (0.5 + 0.5 * nx)),
                        static_cast<float>(r.y + r.height * (0.5 - 0.5 * ny))};
    }
    if (!drawn) continue;
    card.depth = rig.viewDepth(pose.position);
    card.facing = std::clamp(static_cast<double>(layout.shade(i, n, n, in.focus)), 0.0, 1.0);
    card.hero = std::max(0.0, 1.0 - std::fabs(i - in.focus));
    out.push_back(card);
  }
  std::stable_sort(out.begin(), out.end(), [](const Card& a, const Card& b) { return a.depth < b.depth; });
  return out;
}

std::vector<StylePreviewFrame::Ink> StylePreviewFrame::inks(const std::vector<Card>& cards) {
  std::vector<Ink> out;
  if (cards.empty()) return out;
  out.reserve(cards.size());
  const double zmin = cards.front().depth;
  const double range = cards.back().depth - zmin;
  for (const Card& card : cards) {
    const double fade = range <= 0.0001 ? 1.0 : 0.75 + 0.25 * (card.depth - zmin) / range;
    const double light = (0.32 + 0.68 * card.facing) * fade;
    out.push_back({(0.16 + 0.16 * card.hero) * light, (0.32 + 0.38 * card.hero) * light});
  }
  return out;
}

}  // namespace quorvel
