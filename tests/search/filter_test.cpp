#include "search/filter.h"
#include "search/search_thread.h"

#include "support/test_support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string>

namespace px::search {
namespace {

using px::test::TempHome;
using px::test::makeDirs;
using px::test::writeFile;
using store::DocKey;
using store::DocRecord;

DocRecord doc(std::string title, double date = 45000.5) {
  DocRecord d;
  d.title = std::move(title);
  d.name = d.title + ".txt";
  d.date = date;
  return d;
}

bool matches(const DocRecord& d, const FilterCriteria& c, const GroupMembersFn& members = {}) {
  TSearchEngine engine;
  ConfigureEngine(engine, c);
  FilterEnv env;
  env.criteria = &c;
  env.engine = &engine;
  env.groupMembers = members;
  return MatchesFilter(d, env);
}

TEST(FilterKeywords, SeparatorsNeverReachTheList) {
  EXPECT_EQ(SplitFilterKeywords("a, b;c  d"), (StringList{"a", "b", "c", "d"}));
  EXPECT_EQ(SplitFilterKeywords("a,,"), (StringList{"a"}));
  EXPECT_TRUE(SplitFilterKeywords(" ;, ").empty());
}

TEST(MatchesFilterTest, DatesBoundTheDocumentsDay) {
  FilterCriteria c;
  c.lowerBound = 45000;
  c.upperBound = 45000;
  EXPECT_TRUE(matches(doc("a", 45000.99), c));   // any time on the upper bound's day
  EXPECT_FALSE(matches(doc("a", 44999.99), c));
  EXPECT_FALSE(matches(doc("a", 45001.0), c));
  EXPECT_TRUE(matches(doc("a", 1), FilterCriteria{}));  // no criteria: everything
}

TEST(MatchesFilterTest, AddressesWithIgnoredFieldsAndGroups) {
  FilterCriteria c;
  c.addresses = FilterAddressesOf("Ann <ann@example.org>");
  DocRecord received = doc("mail");
  received.flags = store::dfReceived;
  received.address = "ann@example.org";
  EXPECT_TRUE(matches(received, c));
  c.ignoreFrom = true;  // a received message's Address is its sender
  EXPECT_FALSE(matches(received, c));

  FilterCriteria g;
  g.addresses = FilterAddressesOf("bob@example.org");
  DocRecord toGroup = doc("to the team");
  toGroup.flags = store::dfOutgoing;
  toGroup.address = "Team (GROUP)";
  const GroupMembersFn members = [](std::string_view name) {
    return name == "Team" ? StringList{"Bob <bob@example.org>", "Cy <cy@example.org>"} : StringList{};
  };
  EXPECT_TRUE(matches(toGroup, g, members));
  toGroup.Set(DocKey::ExcludeTo, "bob@example.org");
  EXPECT_FALSE(matches(toGroup, g, members));
  // A filter item naming the group matches messages that name the group.
  FilterCriteria byGroup;
  byGroup.addresses = FilterAddressesOf("Team (GROUP)");
  EXPECT_TRUE(matches(toGroup, byGroup, members));
  // Any / all
  FilterCriteria two;
  two.addresses = FilterAddressesOf("cy@example.org, zed@example.org");
  EXPECT_FALSE(matches(toGroup, two, members));
  two.anyAddress = true;
  EXPECT_TRUE(matches(toGroup, two, members));
}

TEST(MatchesFilterTest, KeywordsInTheIndexTextThenInsideTheFile) {
  TempHome home;
  FilterCriteria c;
  c.keywords = {"car"};
  c.wholeWords = true;
  // Every occurrence is tried: the whole word after the one inside "Cars".
  EXPECT_TRUE(matches(doc("Cars and car parts"), c));
  EXPECT_FALSE(matches(doc("Cars and carts"), c));

  DocRecord d = doc("Quarterly figures");
  d.folder = home.root();
  writeFile(home.path(d.name), "the spare car is red");
  EXPECT_FALSE(matches(d, c));  // not without "Search inside files"
  c.searchInside = true;
  EXPECT_TRUE(matches(d, c));

  // A sticker note is searched with "Search inside files".
  DocRecord s = doc("Note");
  s.folder = home.root();
  s.sticker = "call about the car";
  writeFile(home.path(s.name), "");
  EXPECT_TRUE(matches(s, c));
}

TEST(MatchesFilterTest, UnreadableFilesAreGatheredNotMatched) {
  FilterCriteria c;
  c.keywords = {"x"};
  c.searchInside = true;
  DocRecord d = doc("gone");
  d.folder = "/nonexistent/folder/";
  d.name = "gone.doc";
  TSearchEngine engine;
  ConfigureEngine(engine, c);
  UnreadableFiles unreadable;
  FilterEnv env;
  env.criteria = &c;
  env.engine = &engine;
  env.unreadable = &unreadable;
  EXPECT_FALSE(MatchesFilter(d, env));
  EXPECT_FALSE(MatchesFilter(d, env));
  const auto files = unreadable.Take();
  ASSERT_EQ(files.size(), 2u);
  const std::string summary = UnreadableFiles::Summary(files);
  EXPECT_NE(summary.find("/nonexistent/folder/gone.doc"), std::string::npos);
  EXPECT_EQ(summary.find("Some files could not be searched:"), 0u);
  // A pending stop reads no file.
  std::atomic<bool> stop{true};
  env.stop = &stop;
  EXPECT_FALSE(MatchesFilter(d, env));
  EXPECT_TRUE(unreadable.Take().empty());
}

TEST(ApplyFilterTest, BundlesStandTogetherAndCombinedRowsGo) {
  store::DocRows rows;
  rows.push_back(doc("body"));
  rows.back().msgId = "M1:001/2";
  rows.push_back(doc("invoice attachment"));
  rows.back().msgId = "M1:002/2";
  rows.push_back(doc("other"));
  rows.push_back(doc("brought in"));
  rows.back().searchState = store::rsBundleMatch;
  FilterCriteria c;
  c.keywords = {"invoice"};
  FilterEnv env;
  env.criteria = &c;
  EXPECT_EQ(ApplyFilter(rows, &env), 2u);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_FALSE(rows[0].searchState & store::rsSearchMiss);
  EXPECT_FALSE(rows[1].searchState & store::rsSearchMiss);
  EXPECT_TRUE(rows[2].searchState & store::rsSearchMiss);
  c.bundles = false;
  EXPECT_EQ(ApplyFilter(rows, &env), 1u);
  EXPECT_EQ(ApplyFilter(rows, nullptr), 3u);
}

class SearchTreeTest : public ::testing::Test {
protected:
  void SetUp() override {
    root = home.path("docs/");
    makeDirs(root + "a/b");
    makeDirs(root + "c");
    makeDirs(home.path("TRASH/"));
    writeFile(root + "top alpha.txt", "x");
    writeFile(root + "a/alpha one.txt", "x");
    writeFile(root + "a/unrelated.txt", "x");
    writeFile(root + "a/b/alpha two.txt", "x");
    writeFile(root + "a/b/inside.txt", "the word alpha is inside");
    writeFile(root + "c/nothing.txt", "x");
    // A link back up the tree, and the trash inside the tree by a second name.
    ASSERT_EQ(::symlink(root.c_str(), (root + "a/b/loop").c_str()), 0);
    ASSERT_EQ(::symlink(home.path("TRASH").c_str(), (root + "trash link").c_str()), 0);
    makeDirs(root + "TRASH");
    writeFile(root + "TRASH/alpha trashed.txt", "x");
  }
  SearchRequest request() {
    SearchRequest r;
    r.root = root;
    r.rootOwnCount = 1;
    r.trashFolder = root + "TRASH/";
    r.criteria.keywords = {"alpha"};
    return r;
  }
  TempHome home;
  std::string root;
};

TEST_F(SearchTreeTest, CountsEachFolderAndItsSubtree) {
  std::atomic<bool> stop{false};
  std::vector<std::string> seen;
  const SearchRunResult r = SearchTree(request(), stop, [&](const std::string& f) { seen.push_back(f); });
  EXPECT_FALSE(r.stopped);
  ASSERT_EQ(r.counts.count(root), 1u);
  EXPECT_EQ(r.counts.at(root).own, 1);
  EXPECT_EQ(r.counts.at(root).total, 3);
  EXPECT_EQ(r.counts.at(root + "a/").own, 1);
  EXPECT_EQ(r.counts.at(root + "a/").total, 2);
  EXPECT_EQ(r.counts.at(root + "a/b/").own, 1);
  EXPECT_EQ(r.counts.count(root + "c/"), 0u);
  EXPECT_EQ(r.counts.count(root + "TRASH/"), 0u);
  EXPECT_EQ(seen, (std::vector<std::string>{root + "a/", root + "a/b/", root + "c/"}));
  EXPECT_TRUE(r.found.empty());  // only kept for "Combine results"
}

TEST_F(SearchTreeTest, InsideFilesAndCombinedResults) {
  std::atomic<bool> stop{false};
  SearchRequest req = request();
  req.criteria.searchInside = true;
  req.keepFound = true;
  const SearchRunResult r = SearchTree(req, stop);
  EXPECT_EQ(r.counts.at(root + "a/b/").own, 2);
  EXPECT_EQ(r.found.size(), 3u);
  for (const DocRecord& d : r.found) EXPECT_TRUE(d.searchState & store::rsBundleMatch);
}

TEST_F(SearchTreeTest, StopEndsTheWalkWithoutCounts) {
  std::atomic<bool> stop{true};
  const SearchRunResult r = SearchTree(request(), stop);
  EXPECT_TRUE(r.stopped);
  EXPECT_LE(r.folders, 1);
}

TEST_F(SearchTreeTest, ThreadReportsProgressAndResult) {
  TSearchThread t(request());
  t.start();
  ASSERT_TRUE(t.wait(30000));
  EXPECT_EQ(t.Result().counts.at(root).total, 3);
}

}  // namespace
}  // namespace px::search
