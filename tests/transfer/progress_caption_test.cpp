// The transfer bars' numbers: range, clamping, percentage and the caption's amounts.
#include "desk/progress_caption.h"

#include <gtest/gtest.h>

namespace px::desk {
namespace {

TEST(ProgressCaption, AmountsInKilobytesAndMegabytes) {
  const std::vector<std::pair<int64_t, std::string>> cases = {
      {0, "0"},          {1, "1K"},           {999, "1K"},        {1000, "1K"},         {1499, "1K"},
      {1500, "2K"},      {999499, "999K"},    {999500, "1000K"},  {1000000, "1.0M"},    {1049999, "1.0M"},
      {1050000, "1.1M"}, {52428800, "52.4M"}, {5000000000LL, "5000.0M"},
  };
  for (const auto& [n, text] : cases) EXPECT_EQ(ProgressModel::Amount(n), text) << n;
}

TEST(ProgressCaption, PercentageCaptionAndClamping) {
  ProgressModel m;
  m.SetRange(0, 2000);
  m.SetPosition(500);
  EXPECT_EQ(m.Caption(), "25% (1K of 2K)");
  m.SetPosition(5000);
  EXPECT_EQ(m.Position(), 2000);
  EXPECT_EQ(m.Percentage(), 100);
  m.SetPosition(-3);
  EXPECT_EQ(m.Position(), 0);
  m.SetRange(0, 0);
  EXPECT_EQ(m.Percentage(), 0);
  EXPECT_EQ(m.Caption(), "0% (0 of 0)");
  m.SetShowText(false);
  EXPECT_EQ(m.Caption(), "");
}

TEST(ProgressCaption, LargeTransfersDoNotOverflow) {
  ProgressModel m;
  const int64_t max = 6LL * 1000 * 1000 * 1000;  // six gigabytes of mail in one run
  m.SetRange(0, max);
  m.SetPosition(max / 2);
  EXPECT_EQ(m.Percentage(), 50);
  EXPECT_EQ(m.BarWidth(200), 100);
}

TEST(ProgressCaption, BoundsAreRefusedAcrossEachOther) {
  ProgressModel m;
  m.SetPosition(80);
  EXPECT_FALSE(m.SetMin(150).empty());
  EXPECT_EQ(m.Min(), 0);
  EXPECT_FALSE(m.SetMax(-1).empty());
  EXPECT_TRUE(m.SetMax(50).empty());
  EXPECT_EQ(m.Position(), 50);  // pulled into the new range
  EXPECT_TRUE(m.SetMin(50).empty());
  EXPECT_EQ(m.Percentage(), 0);
}

}  // namespace
}  // namespace px::desk
