#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quorvel {

// A streaming hasher for fingerprints and digests that are compared only within one run. Every
// hasher of the process starts from one seed chosen at random when the process first hashes, so
// values must never be stored or compared across launches. Texts are fed with their length, so two
// different sequences of texts give different input streams.
class Hasher {
 public:
  // A hasher seeded with the process seed.
  Hasher();
  // A hasher seeded with an explicit value (to derive an inner hasher from an outer one).
  explicit Hasher(uint64_t seed);

  void combine(uint64_t value);
  void combine(int64_t value) { combine(static_cast<uint64_t>(value)); }
  void combine(uint32_t value) { combine(static_cast<uint64_t>(value)); }
  void combine(int32_t value) { combine(static_cast<uint64_t>(static_cast<int64_t>(value))); }
  void combine(bool value) { combine(static_cast<uint64_t>(value ? 1 : 0)); }
  // The bit pattern of the value; a negative zero counts as zero.
  void combine(double value);
  void combine(std::string_view text);
  void combine(const char* text) { combine(std::string_view(text)); }

  // The current state as a seed for a derived hasher (does not end this one).
  uint64_t derivedSeed() const;
  // The hash of everything fed so far.
  uint64_t finalize() const;

  static uint64_t processSeed();

 private:
  uint64_t state_;
  uint64_t count_ = 0;
};

}  // namespace quorvel
