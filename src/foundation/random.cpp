#include "foundation/random.h"

namespace px {

RandomSource::RandomSource() {
  std::random_device rd;
  std::seed_seq seq{rd(), rd(), rd(), rd()};
  gen_.seed(seq);
}

RandomSource::RandomSource(uint64_t seed) : gen_(seed) {}

uint64_t RandomSource::Below(uint64_t n) {
  if (n == 0) return 0;
  std::lock_guard<std::mutex> lock(mutex_);
  return std::uniform_int_distribution<uint64_t>(0, n - 1)(gen_);
}

}  // namespace px
