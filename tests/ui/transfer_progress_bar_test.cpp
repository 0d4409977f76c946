// TPXProgressBar offscreen: it paints its caption and does not repaint for positions that
// change nothing shown.
#include "desk/ui/progress_bar.h"

#include <QApplication>
#include <QImage>
#include <QTest>
#include <gtest/gtest.h>

namespace px::desk {
namespace {

TEST(TransferProgressBar, RepaintsOnlyWhenWhatIsShownChanges) {
  TPXProgressBar bar;
  bar.resize(100, 17);
  bar.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&bar));
  bar.SetRange(0, 10'000'000);
  bar.SetPosition(2'500'000);
  QApplication::processEvents();
  EXPECT_EQ(bar.CaptionText(), QStringLiteral("25% (2.5M of 10.0M)"));
  const int paints = bar.PaintCount();
  // A few bytes more change neither the bar, the percentage nor the amounts.
  for (int i = 1; i < 50; ++i) bar.SetPosition(2'500'000 + i);
  QApplication::processEvents();
  EXPECT_EQ(bar.PaintCount(), paints);
  bar.SetPosition(5'000'000);
  QApplication::processEvents();
  EXPECT_GT(bar.PaintCount(), paints);
}

TEST(TransferProgressBar, TheBarFillsItsShareOfTheWidth) {
  TPXProgressBar bar;
  bar.resize(102, 17);
  bar.SetBarColor(Qt::blue);
  bar.SetShowText(false);
  bar.SetRange(0, 100);
  bar.SetPosition(50);
  QImage img(bar.size(), QImage::Format_RGB32);
  bar.render(&img);
  // Inside the frame: the left half is the bar's colour, the right half is not.
  EXPECT_EQ(QColor(img.pixel(20, 8)), QColor(Qt::blue));
  EXPECT_NE(QColor(img.pixel(80, 8)), QColor(Qt::blue));
}

}  // namespace
}  // namespace px::desk
