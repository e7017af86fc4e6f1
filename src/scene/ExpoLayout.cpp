#include "scene/ExpoLayout.h"

#include <algorithm>
#include <cmath>

namespace quorvel {
namespace {

constexpr Float3 kAxisX{1, 0, 0};
constexpr Float3 kAxisU{0, 0.9130889f, -0.4077604f};
constexpr Float3 kNormal{0, 0.4077604f, 0.9130889f};

int floorDiv(int a, int b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0); }

}  // namespace

float ExpoLayout::gap() const { return std::max(0.3f * spacing_, 0.29999995f); }

ExpoLayout::Grid ExpoLayout::grid(int count) const {
  const int n = std::max(count, 1);
  const float g = gap();
  const float cellW = g + 1.6f, cellH = g + 1.0f;
  const int c0 = std::max(1, static_cast<int>(std::round(std::sqrt(static_cast<float>(n) * 1.6f * cellH / cellW))));
  Grid best{1, n};
  float bestScore = INFINITY;
  for (int c = std::max(c0 - 1, 1); c <= std::min(c0 + 1, n); ++c) {
    const int rows = (n + c - 1) / c;
    const float score = std::fabs(cellW * static_cast<float>(c) / (cellH * static_cast<float>(rows)) - 1.6f);
    if (score < bestScore) {
      bestScore = score;
      best = {c, rows};
    }
  }
  return best;
}

Float2 ExpoLayout::gridPoint(int k, const Grid& grid) const {
  const float g = gap();
  const int cc = std::max(grid.cols, 1);
  const int row = floorDiv(k, cc);
  int col = k - row * cc;
  if (order_ == AppSettings::GridOrder::snake && (row % 2 != 0)) col = cc - 1 - col;
  return {(static_cast<float>(col) - static_cast<float>(grid.cols - 1) / 2) * (g + 1.6f),
          (static_cast<float>(grid.rows - 1) / 2 - static_cast<float>(row)) * (g + 1.0f)};
}

CardPose ExpoLayout::pose(int index, int count, int, float aspect, float heightFactor, double focus) const {
  const Grid shape = grid(count);
  Float2 focusPoint;
  if (count >= 1) {
    const double f = std::isfinite(focus) ? std::clamp(focus, 0.0, static_cast<double>(count - 1)) : 0.0;
    const int i = static_cast<int>(std::floor(f));
    const int j = std::min(i + 1, count - 1);
    const Float2 pi = gridPoint(i, shape), pj = gridPoint(j, shape);
    focusPoint = pi + (pj - pi) * static_cast<float>(f - i);
  }
  const float d = static_cast<float>(index - focus);
  const float close = std::isfinite(d) ? std::max(0.0f, 1 - std::fabs(d)) : 0.0f;
  const Float2 local = gridPoint(index, shape) - focusPoint * 0.12f;
  CardPose pose;
  pose.position = kAxisX * local.x + kAxisU * local.y + kNormal * (0.12f * close);
  pose.size = CardPose::cardSize(aspect, heightFactor) * (1 + 0.059999943f * close);
  pose.pitch = -0.42f;
  return pose;
}

LayoutEngine::Camera ExpoLayout::camera(int count, int, float extra) const {
  const Grid shape = grid(count);
  const float g = gap();
  const float halfH = (g + 1.0f) * static_cast<float>(shape.rows - 1) / 2 * 1.12f + 0.53f;
  const float halfW = (g + 1.6f) * static_cast<float>(shape.cols - 1) / 2 * 1.12f + 1.06f + std::max(extra, 0.0f);
  const Float3 forward{0, 0.15931821f, 0.98722726f};
  const Float3 up{0, 0.98722726f, -0.15931821f};
  float distance = 1.0f;
  for (float sx : {-1.0f, 1.0f}) {
    for (float sy : {-1.0f, 1.0f}) {
      const Float3 corner = kAxisX * (sx * halfW) + kAxisU * (sy * halfH) + kNormal * 0.12f;
      const float need =
          dot(corner, forward) + std::max(std::fabs(corner.x) / 0.7010935f, std::fabs(dot(corner, up)) / 0.4523184f);
      distance = std::max(distance, need);
    }
  }
  return {forward * distance, {0, 0, 0}};
}

std::optional<int> ExpoLayout::neighbour(int index, int count, uint8_t direction, int) const {
  if (count < 1) return std::nullopt;
  const Grid shape = grid(count);
  const int cc = std::max(shape.cols, 1);
  const bool snake = order_ == AppSettings::GridOrder::snake;
  const int i = std::clamp(index, 0, count - 1);
  int row = i / cc;
  int col = i % cc;
  if (snake && row % 2 != 0) col = cc - 1 - col;  // the visible column
  switch (direction) {
    case left: --col; break;
    case right: ++col; break;
    case up: --row; break;
    case down: ++row; break;
    default: return std::nullopt;
  }
  if (col < 0 || col >= shape.cols || row < 0 || row >= shape.rows) return std::nullopt;
  const int stored = (snake && row % 2 != 0) ? cc - 1 - col : col;
  const int next = row * cc + stored;
  if (next >= count) return std::nullopt;
  return next;
}

}  // namespace quorvel
