// The filter panel: its controls give the criteria the search captures, and its buttons follow
// the busy state.
#include "search/ui/pnl_filter.h"

#include <QCalendarWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace px::search {
namespace {

TEST(FilterPanel, ControlsGiveTheCriteria) {
  TpnlFilter p;
  p.show();
  EXPECT_EQ(p.objectName(), "pnlFilter");
  EXPECT_EQ(p.cbSearchInside->text(), "Search inside files");
  QTest::keyClicks(p.edtFilterKeywords, "car, parts");
  p.cbSearchWords->setChecked(true);
  p.cbSearchInside->setChecked(true);
  p.rbFilterKeywordsOr->setChecked(true);
  p.edtFilterAddress->setText("Ann <ann@example.org>");
  p.cbSearchIgnoreFrom->setChecked(true);
  EXPECT_FALSE(p.cbSearchCombined->isVisible());  // only with "Search in subfolders"
  p.cbSearchFolders->setChecked(true);
  EXPECT_TRUE(p.cbSearchCombined->isVisible());
  p.FilterCalendar->setSelectedDate(QDate(2024, 3, 5));
  QTest::mouseClick(p.btnFilterDate1, Qt::LeftButton);
  EXPECT_FALSE(p.edtFilterDate1->text().isEmpty());

  const FilterCriteria c = CriteriaFromPanel(p.State(), "");
  EXPECT_EQ(c.keywords, (StringList{"car", "parts"}));
  EXPECT_TRUE(c.wholeWords && c.searchInside && c.anyKeyword && c.subfolders && c.ignoreFrom);
  EXPECT_EQ(c.addresses, (StringList{"ann@example.org"}));
  EXPECT_GT(c.lowerBound, 0);
  EXPECT_EQ(c.upperBound, 0);
  QTest::mouseClick(p.btnFilterDate1Clear, Qt::LeftButton);
  EXPECT_EQ(p.State().lowerBound, 0);

  // Changing the year combo moves the calendar.
  p.cbFilterYear->setCurrentText("2020");
  EXPECT_EQ(p.FilterCalendar->yearShown(), 2020);
}

TEST(FilterPanel, ButtonsFollowTheBusyState) {
  TpnlFilter p;
  p.show();
  QSignalSpy search(&p, &TpnlFilter::SearchClicked);
  QSignalSpy stop(&p, &TpnlFilter::StopClicked);
  QTest::mouseClick(p.btnDoFilter, Qt::LeftButton);
  EXPECT_EQ(search.count(), 1);
  p.ShowSearching(true);
  EXPECT_FALSE(p.btnDoFilter->isVisible());
  EXPECT_TRUE(p.btnStopSearch->isVisible());
  EXPECT_TRUE(p.lblSearching->isVisible());
  QTest::mouseClick(p.btnStopSearch, Qt::LeftButton);
  EXPECT_EQ(stop.count(), 1);
  p.ShowSearching(false);
  EXPECT_TRUE(p.btnDoFilter->isVisible());
  EXPECT_FALSE(p.lblSearching->isVisible());
}

TEST(FilterPanel, IndexBuildProgressShowsWhileItRuns) {
  TpnlFilter p;
  p.show();
  EXPECT_FALSE(p.pbIndex->isVisible());
  p.ShowIndexing(30, 120);
  EXPECT_TRUE(p.pbIndex->isVisible());
  EXPECT_TRUE(p.lblIndexing->isVisible());
  EXPECT_EQ(p.pbIndex->maximum(), 120);
  EXPECT_EQ(p.pbIndex->value(), 30);
  EXPECT_EQ(p.pbIndex->text(), "30 / 120 folders");
  p.ShowIndexing(120, 120);  // done
  EXPECT_FALSE(p.pbIndex->isVisible());
  p.ShowIndexing(0, 0);  // ended (stopped or failed)
  EXPECT_FALSE(p.lblIndexing->isVisible());
}

}  // namespace
}  // namespace px::search
