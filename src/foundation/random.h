#pragma once
// A seeded random source, owned by whoever needs one (the process state, a worker, a test)
// and passed explicitly. Thread-safe.
#include <cstdint>
#include <mutex>
#include <random>

namespace px {

class RandomSource {
public:
  RandomSource();                          // seeded from std::random_device
  explicit RandomSource(uint64_t seed);    // deterministic, for tests
  // Uniform in [0, n); 0 when n == 0.
  uint64_t Below(uint64_t n);

private:
  std::mutex mutex_;
  std::mt19937_64 gen_;
};

}  // namespace px
