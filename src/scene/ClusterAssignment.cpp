#include "scene/ClusterAssignment.h"

#include <algorithm>
#include <cmath>

namespace quorvel {
namespace {

int64_t floorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0); }
int64_t floorMod(int64_t a, int64_t b) { return a - floorDiv(a, b) * b; }
bool mappable(double x) { return std::isfinite(x) && std::fabs(x) < 1e12; }

}  // namespace

const std::shared_ptr<const ClusterAssignment::Data>& ClusterAssignment::emptyData() {
  // Never destroyed, like the scene's other shared constants: a frame may read it while the process ends.
  static const auto* const empty = new std::shared_ptr<const Data>(std::make_shared<const Data>());
  return *empty;
}

ClusterAssignment::ClusterAssignment() : data_(emptyData()) {}

ClusterAssignment ClusterAssignment::build(const std::vector<ClusterKey>& keys) {
  if (keys.empty()) return ClusterAssignment();
  auto data = std::make_shared<Data>();
  data->ofCard.reserve(keys.size());
  for (size_t i = 0; i < keys.size(); ++i) {
    const bool joins = i > 0 && keys[i].kind() != ClusterKey::Kind::alone && keys[i] == keys[i - 1];
    if (joins) {
      ++data->width.back();
      data->bunches = true;
    } else {
      data->first.push_back(static_cast<int32_t>(i));
      data->width.push_back(1);
    }
    data->ofCard.push_back(static_cast<int32_t>(data->first.size() - 1));
  }
  return ClusterAssignment(std::move(data));
}

bool ClusterAssignment::operator==(const ClusterAssignment& other) const {
  if (data_ == other.data_) return true;
  return data_->bunches == other.data_->bunches && data_->ofCard == other.data_->ofCard &&
         data_->first == other.data_->first && data_->width == other.data_->width;
}

int64_t ClusterAssignment::firstCard(int64_t place) const {
  const int64_t k = pileCount();
  if (k == 0) return place;
  const int64_t lap = floorDiv(place, k);
  return data_->first[static_cast<size_t>(floorMod(place, k))] + lap * cardCount();
}

int64_t ClusterAssignment::lastCard(int64_t place) const {
  const int64_t k = pileCount();
  if (k == 0) return place;
  const auto r = static_cast<size_t>(floorMod(place, k));
  return data_->first[r] + data_->width[r] - 1 + floorDiv(place, k) * cardCount();
}

int64_t ClusterAssignment::place(int64_t card) const {
  const int64_t n = cardCount();
  if (n == 0) return card;
  return data_->ofCard[static_cast<size_t>(floorMod(card, n))] + floorDiv(card, n) * pileCount();
}

double ClusterAssignment::placePosition(double x) const {
  if (cardCount() == 0 || !mappable(x)) return x;
  const double f = std::floor(x);
  const auto fi = static_cast<int64_t>(f);
  const double a = static_cast<double>(place(fi));
  return a + (x - f) * (static_cast<double>(place(fi + 1)) - a);
}

double ClusterAssignment::cardPosition(double x) const {
  if (pileCount() == 0 || !mappable(x)) return x;
  const double f = std::floor(x);
  const auto fi = static_cast<int64_t>(f);
  const double a = static_cast<double>(firstCard(fi));
  return a + (x - f) * (static_cast<double>(firstCard(fi + 1)) - a);
}

double ClusterAssignment::cardPositionLast(double x) const {
  if (pileCount() == 0 || !mappable(x)) return x;
  const double f = std::floor(x);
  const auto fi = static_cast<int64_t>(f);
  if (x - f <= 0) return static_cast<double>(firstCard(fi));
  return static_cast<double>(lastCard(fi)) + (x - f);
}

int64_t ClusterAssignment::selectedCard(int64_t placeIndex, double focus) const {
  const int64_t firstOfPile = firstCard(placeIndex);
  const int64_t k = pileCount();
  if (k == 0) return firstOfPile;
  const double distance = circularDistance(static_cast<double>(placeIndex), placePosition(focus), k);
  const double closeness = std::isfinite(distance) ? std::clamp(1 - distance, 0.0, 1.0) : 0.0;
  const double c = closeness * closeness * (3 - 2 * closeness);
  if (c < 0.5) return firstOfPile;
  const int64_t lastOfPile = lastCard(placeIndex);
  const int32_t pileWidth = data_->width[static_cast<size_t>(floorMod(placeIndex, k))];
  double local = unwrap(focus, static_cast<double>(firstOfPile), static_cast<double>(lastOfPile), cardCount()) -
                 static_cast<double>(firstOfPile);
  if (!std::isfinite(local)) local = 0;
  local = std::clamp(local, 0.0, static_cast<double>(std::max(pileWidth - 1, 0)));
  return firstOfPile + static_cast<int64_t>(std::round(local));
}

double ClusterAssignment::circularDistance(double index, double position, int64_t count) {
  const double d = index - position;
  if (count > 0 && std::isfinite(d)) {
    const double m = static_cast<double>(count);
    return std::fabs(d - std::round(d / m) * m);
  }
  return std::fabs(d);
}

double ClusterAssignment::unwrap(double x, double a, double b, int64_t count) {
  if (count <= 0 || !mappable(x)) return x;
  const double m = static_cast<double>(count);
  return x - std::round((x - (a + b) / 2) / m) * m;
}

}  // namespace quorvel
