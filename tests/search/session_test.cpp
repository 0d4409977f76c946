#include "search/filter_session.h"

#include "support/test_support.h"

#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <string>

namespace px::search {
namespace {

using px::test::TempHome;
using px::test::makeDirs;
using px::test::writeFile;

TEST(FilterPanelCriteria, SearchTakesASnapshotOfTheControls) {
  FilterPanelState p;
  p.keywordText = " car, parts;";
  p.addressText = "\"Ann\" <Ann@Example.org>, bob@example.org";
  p.combine = true;  // without subfolders it has no meaning
  FilterCriteria c = CriteriaFromPanel(p, "/c/");
  EXPECT_EQ(c.keywords, (StringList{"car", "parts"}));
  EXPECT_EQ(c.addresses, (StringList{"ann@example.org", "bob@example.org"}));
  EXPECT_FALSE(c.combine);
  EXPECT_EQ(c.contactsFolder, "/c/");
  p.subfolders = true;
  EXPECT_TRUE(CriteriaFromPanel(p, "").combine);
}

TEST(FilterSessionTest, RunsOneSearchAtATimeAndKeepsTheCounts) {
  TempHome home;
  const std::string root = home.path("docs/");
  makeDirs(root + "a");
  writeFile(root + "alpha here.txt", "x");
  writeFile(root + "a/alpha there.txt", "x");
  writeFile(root + "a/inside.rtf", "{\\rtf1 the alpha inside}");

  FilterSession s;
  FilterPanelState p;
  p.keywordText = "alpha";
  EXPECT_FALSE(s.StartSearch(root, "", {}));  // not active
  s.Activate(CriteriaFromPanel(p, ""));
  EXPECT_FALSE(s.StartSearch(root, "", {}));  // subfolders not asked
  store::DocRecord d;
  d.title = "beta";
  EXPECT_FALSE(s.Matches(d));

  p.subfolders = true;
  p.combine = true;
  p.searchInside = true;
  s.Activate(CriteriaFromPanel(p, ""));
  QEventLoop loop;
  bool stopped = true;
  QObject::connect(&s, &FilterSession::SearchFinished, &loop, [&](bool st, const QString&) {
    stopped = st;
    loop.quit();
  });
  QTimer::singleShot(30000, &loop, &QEventLoop::quit);
  ASSERT_TRUE(s.StartSearch(root, "", {}));
  // A second start stops the first: only one worker at a time.
  ASSERT_TRUE(s.StartSearch(root, "", {}));
  loop.exec();
  EXPECT_FALSE(stopped);
  EXPECT_FALSE(s.Running());
  ASSERT_EQ(s.Counts().count(root), 1u);
  EXPECT_EQ(s.Counts().at(root).own, 1);
  EXPECT_EQ(s.Counts().at(root).total, 3);
  EXPECT_EQ(s.TakeFound().size(), 2u);  // the subfolder's; the root's are in the grid

  s.Deactivate();
  EXPECT_TRUE(s.Counts().empty());
  EXPECT_TRUE(s.Matches(d));
}

}  // namespace
}  // namespace px::search
