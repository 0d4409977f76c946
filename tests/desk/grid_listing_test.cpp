// Listing for the grid, in place and in a worker.
#include <gtest/gtest.h>

#include "desk/grid_listing.h"
#include "store/index_file.h"
#include "support/test_support.h"

#include <QCoreApplication>
#include <QElapsedTimer>

namespace px::desk {
namespace {

class ListingFixture : public ::testing::Test {
protected:
  void SetUp() override {
    folder = home.path("Documents/Mail/");
    test::makeDirs(folder);
    test::writeFile(folder + "Hello.txt", "body");
    test::writeFile(folder + "a.pdf", "pdf");
    test::writeFile(folder + "z.doc", "doc");
    store::TPXIniFile ini(registry, store::IndexPathOf(folder));
    ini.WriteString("Hello.txt", "Flags", "4609");  // 0x1201: received, unread
    ini.WriteString("Hello.txt", "MsgID", "B:001/002");
    ini.WriteString("Hello.txt", "Time", "01/05/03 10:30:00");
    ini.WriteString("a.pdf", "Flags", "4609");
    ini.WriteString("a.pdf", "MsgID", "B:002/002");
    ini.WriteString("a.pdf", "Time", "01/05/03 10:30:00");
    EXPECT_TRUE(ini.Release().ok());
    request.folder = folder;
    request.ctx.registry = &registry;
    request.ctx.documentsFolder = home.path("Documents/");
    request.options = {GridTab::Files, -1};
  }

  test::TempHome home;
  std::string folder;
  store::IniRegistry registry;
  ListingRequest request;
};

TEST_F(ListingFixture, RunListingGivesASortedGroupedModelAndTheUnreadCount) {
  ListingOutcome out = RunListing(request);
  ASSERT_EQ(out.model.size(), 3u);
  EXPECT_EQ(out.model.rows()[0].title, "z");  // newest file first; the bundle is dated 2003
  EXPECT_EQ(out.model.rows()[1].title, "Hello");
  EXPECT_TRUE(out.model.rows()[1].searchState & store::rsHasChildren);
  // The unread attachment counts with its message.
  EXPECT_EQ(out.unread, 1);
}

TEST_F(ListingFixture, WorkerDeliversOnlyTheLatestRequest) {
  ListingWorker worker;
  int delivered = 0;
  size_t rows = 0;
  worker.Start(request, [&](ListingOutcome&) { delivered += 100; });  // superseded
  worker.Start(request, [&](ListingOutcome& o) {
    ++delivered;
    rows = o.model.size();
  });
  QElapsedTimer t;
  t.start();
  while (worker.Running() && t.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_EQ(delivered, 1);
  EXPECT_EQ(rows, 3u);

  worker.Start(request, [&](ListingOutcome&) { delivered += 10; });
  worker.Cancel();
  while (worker.Running() && t.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_EQ(delivered, 1);
}

TEST_F(ListingFixture, EntryCountStopsAtTheLimit) {
  EXPECT_EQ(CountEntriesUpTo(folder, 2), 2u);
  EXPECT_GE(CountEntriesUpTo(folder, 100), 4u);  // ".", "..", files, index
  EXPECT_EQ(CountEntriesUpTo(folder + "missing/", 100), 0u);
}

}  // namespace
}  // namespace px::desk
