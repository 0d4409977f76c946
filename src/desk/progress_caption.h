#pragma once
// The range, position and caption of the desk's progress bars (TPXProgressBar draws them).
// Amounts are bytes in 64 bits: a 50 MB attachment counted in 32-bit kilobytes of several
// messages would not overflow, but a whole mailbox in bytes would.
#include <cstdint>
#include <string>

namespace px::desk {

class ProgressModel {
public:
  int64_t Min() const { return min_; }
  int64_t Max() const { return max_; }
  int64_t Position() const { return position_; }
  bool ShowText() const { return showText_; }

  // A minimum above the maximum (or a maximum below the minimum) is refused with the returned
  // error text; "" when taken. The position is pulled into the new range.
  std::string SetMin(int64_t value);
  std::string SetMax(int64_t value);
  // Both bounds at once (no intermediate refusal); min above max is taken as max.
  void SetRange(int64_t min, int64_t max);
  // Out-of-range values are replaced by the nearer bound.
  void SetPosition(int64_t value);
  void SetShowText(bool value) { showText_ = value; }

  // round((Position - Min) * 100 / (Max - Min)); 0 when Max = Min.
  int Percentage() const;
  // The bar's width in a client area `width` pixels wide.
  int BarWidth(int width) const;
  // "25% (1K of 2K)"; "" when ShowText is off.
  std::string Caption() const;
  // 0 -> "0", below 1000 -> "1K", then kilobytes, then megabytes with one decimal.
  static std::string Amount(int64_t bytes);

private:
  int64_t min_ = 0;
  int64_t max_ = 100;
  int64_t position_ = 0;
  bool showText_ = true;
};

}  // namespace px::desk
