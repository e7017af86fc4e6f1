#include "windows/Hasher.h"

#include <cstring>
#include <random>

namespace quorvel {

namespace {

constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;

uint64_t mix(uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

}  // namespace

uint64_t Hasher::processSeed() {
  static const uint64_t seed = [] {
    std::random_device device;
    return (static_cast<uint64_t>(device()) << 32) ^ device();
  }();
  return seed;
}

Hasher::Hasher() : Hasher(processSeed()) {}

Hasher::Hasher(uint64_t seed) : state_(mix(seed ^ kMultiplier)) {}

void Hasher::combine(uint64_t value) {
  ++count_;
  state_ = mix(state_ ^ mix(value + kMultiplier * count_));
}

void Hasher::combine(double value) {
  if (value == 0) value = 0;  // -0.0 hashes as 0.0
  uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  combine(bits);
}

void Hasher::combine(std::string_view text) {
  combine(static_cast<uint64_t>(text.size()));
  size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    uint64_t word = 0;
    std::memcpy(&word, text.data() + i, 8);
    combine(word);
  }
  if (i < text.size()) {
    uint64_t word = 0;
    std::memcpy(&word, text.data() + i, text.size() - i);
    combine(word);
  }
}

uint64_t Hasher::derivedSeed() const { return mix(state_ + count_); }

uint64_t Hasher::finalize() const { return mix(state_ ^ (count_ * kMultiplier)); }

}  // namespace quorvel
