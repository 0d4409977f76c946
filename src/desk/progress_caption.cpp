#include "desk/progress_caption.h"

#include <algorithm>
#include <cmath>

namespace px::desk {

std::string ProgressModel::SetMin(int64_t value) {
  if (value > max_) return "Value must be between 0 and " + std::to_string(max_);
  min_ = value;
  position_ = std::clamp(position_, min_, max_);
  return {};
}

std::string ProgressModel::SetMax(int64_t value) {
  if (value < min_) return "Value must be between " + std::to_string(min_) + " and " + std::to_string(INT64_MAX);
  max_ = value;
  position_ = std::clamp(position_, min_, max_);
  return {};
}

void ProgressModel::SetRange(int64_t min, int64_t max) {
  max_ = max;
  min_ = std::min(min, max);
  position_ = std::clamp(position_, min_, max_);
}

void ProgressModel::SetPosition(int64_t value) { position_ = std::clamp(value, min_, max_); }

int ProgressModel::Percentage() const {
  if (max_ == min_) return 0;
  // long double keeps the product exact enough for any byte count.
  const long double p = static_cast<long double>(position_ - min_) * 100.0L / static_cast<long double>(max_ - min_);
  return static_cast<int>(std::llround(p));
}

int ProgressModel::BarWidth(int width) const {
  return std::min(width, static_cast<int>(std::lround(Percentage() * static_cast<double>(width) / 100.0)));
}

std::string ProgressModel::Amount(int64_t n) {
  if (n <= 0) return "0";
  if (n < 1000) return "1K";
  if (n < 1000000) return std::to_string((n + 500) / 1000) + "K";
  return std::to_string((n + 50000) / 1000000) + "." + std::to_string(((n + 50000) % 1000000) / 100000) + "M";
}

std::string ProgressModel::Caption() const {
  if (!showText_) return {};
  return std::to_string(Percentage()) + "% (" + Amount(position_) + " of " + Amount(max_) + ")";
}

}  // namespace px::desk
