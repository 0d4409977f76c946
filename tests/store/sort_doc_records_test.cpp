// The listing order under the grid's sort codes.
#include "foundation/dates.h"
#include "store/doc_sort.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace px::store {
namespace {

using ::testing::ElementsAre;

DocRecord Doc(std::string title, DateTime date = 0, uint64_t size = 0, std::string ext = "txt") {
  DocRecord r;
  r.folder = "/f/";
  r.name = title + "." + ext;
  r.title = std::move(title);
  r.date = date;
  r.size = size;
  r.ext = std::move(ext);
  return r;
}

std::vector<std::string> Titles(const DocRows& rows) {
  std::vector<std::string> t;
  for (const DocRecord& r : rows) t.push_back(r.title);
  return t;
}

DocRows Sorted(DocRows rows, int sorting, bool contactsTab = false, bool firstFirst = true) {
  SortDocRecords(rows, SortOptions{sorting, contactsTab, firstFirst});
  return rows;
}

TEST(SortDocRecords, DateAndNameDirections) {
  DocRows rows = {Doc("b", MakeDateTime(2020, 1, 1)), Doc("C", MakeDateTime(2022, 1, 1)),
                  Doc("a", MakeDateTime(2021, 1, 1)), Doc("none", 0)};
  EXPECT_THAT(Titles(Sorted(rows, -1)), ElementsAre("C", "a", "b", "none"));
  EXPECT_THAT(Titles(Sorted(rows, 1)), ElementsAre("none", "b", "a", "C"));
  EXPECT_THAT(Titles(Sorted(rows, 4)), ElementsAre("a", "b", "C", "none"));
  EXPECT_THAT(Titles(Sorted(rows, -4)), ElementsAre("none", "C", "b", "a"));
  // Out-of-range codes read as date descending.
  EXPECT_THAT(Titles(Sorted(rows, 0)), ElementsAre("C", "a", "b", "none"));
  EXPECT_EQ(NormalizeSorting(9), -1);
  EXPECT_EQ(NormalizeSorting(-7), -7);
}

TEST(SortDocRecords, TitlesSortNaturally) {
  struct Case {
    std::vector<std::string> titles;
    std::vector<std::string> sorted;
  };
  const Case cases[] = {
      {{"bulk 149", "bulk 99", "bulk 1000", "bulk 9"}, {"bulk 9", "bulk 99", "bulk 149", "bulk 1000"}},
      {{"v10.2", "v2.10", "v2.9"}, {"v2.9", "v2.10", "v10.2"}},
      {{"a 007", "a 8", "a 06"}, {"a 06", "a 007", "a 8"}},
      {{"Report 2", "report 10", "Report"}, {"Report", "Report 2", "report 10"}},
      {{"x1y", "x", "x y", "xa"}, {"x", "x y", "x1y", "xa"}},
      {{"123456789012345678901234567890", "99"}, {"99", "123456789012345678901234567890"}},
  };
  for (const Case& c : cases) {
    DocRows rows;
    for (const auto& t : c.titles) rows.push_back(Doc(t));
    EXPECT_EQ(Titles(Sorted(rows, 4)), c.sorted);
    std::vector<std::string> reversed(c.sorted.rbegin(), c.sorted.rend());
    EXPECT_EQ(Titles(Sorted(rows, -4)), reversed);
  }
}

TEST(SortDocRecords, SizesCompareAsSixtyFourBitNumbers) {
  DocRows rows = {Doc("big", 0, 5'000'000'000ull), Doc("small", 0, 1000), Doc("mid", 0, 0xFFFFFFFFull)};
  EXPECT_THAT(Titles(Sorted(rows, 7)), ElementsAre("small", "mid", "big"));
  EXPECT_THAT(Titles(Sorted(rows, -7)), ElementsAre("big", "mid", "small"));
}

TEST(SortDocRecords, ContactsSortApartFromDocuments) {
  DocRecord contact = Doc("Zed, Ann", NowDateTime() + 100000, 0, "vcf");
  contact.address = "ann@x.org";
  DocRecord group = Doc("Aardvarks", NowDateTime() + 100000, 0, std::string(1, '\x12'));
  DocRecord mailedCard = Doc("card", MakeDateTime(2019, 1, 1), 0, "vcf");
  mailedCard.flags = dfReceivedCard;
  DocRows rows = {Doc("b", MakeDateTime(2020, 1, 1), 10), contact, group, mailedCard,
                  Doc("a", MakeDateTime(2021, 1, 1), 5)};
  // By name: after every document; a received card is a document.
  EXPECT_THAT(Titles(Sorted(rows, 4)), ElementsAre("a", "b", "card", "Aardvarks", "Zed, Ann"));
  // By date ascending: before every dated document (not at now + 100000 days).
  EXPECT_THAT(Titles(Sorted(rows, 1)), ElementsAre("Aardvarks", "Zed, Ann", "card", "b", "a"));
  // By size: as empty files.
  EXPECT_THAT(Titles(Sorted(rows, 7)), ElementsAre("Zed, Ann", "Aardvarks", "card", "a", "b"));
}

TEST(SortDocRecords, BundlePartsKeepTheirOrderInBothDirections) {
  const DateTime t = MakeDateTime(2020, 5, 5, 10, 0, 0);
  DocRows rows;
  for (const char* id : {"m:003/003", "m:001/003", "m:002/003"}) {
    DocRecord r = Doc(id, t);
    r.msgId = id;
    rows.push_back(r);
  }
  rows.push_back(Doc("later", t + 1));
  EXPECT_THAT(Titles(Sorted(rows, -1)), ElementsAre("later", "m:001/003", "m:002/003", "m:003/003"));
  EXPECT_THAT(Titles(Sorted(rows, 1)), ElementsAre("m:001/003", "m:002/003", "m:003/003", "later"));
  EXPECT_THAT(Titles(Sorted(rows, -6)), ElementsAre("later", "m:001/003", "m:002/003", "m:003/003"));
}

TEST(SortDocRecords, OtherKeys) {
  DocRecord red = Doc("red", 0, 0, "PDF");
  red.flags = 2 * 3;
  DocRecord none = Doc("none", 0, 0, "doc");
  DocRecord blue = Doc("Blue", 0, 0, "pdf");
  blue.flags = 2 * 1;
  DocRows rows = {red, none, blue};
  EXPECT_THAT(Titles(Sorted(rows, 5)), ElementsAre("none", "Blue", "red"));
  EXPECT_THAT(Titles(Sorted(rows, 3)), ElementsAre("none", "Blue", "red"));  // ext, then title

  DocRecord in = Doc("in", MakeDateTime(2020, 1, 1));
  in.flags = dfReceived;
  DocRecord out = Doc("out", MakeDateTime(2019, 1, 1));
  out.flags = dfOutgoing;
  DocRecord plain = Doc("plain", MakeDateTime(2021, 1, 1));
  EXPECT_THAT(Titles(Sorted({in, out, plain}, 6)), ElementsAre("plain", "in", "out"));

  DocRecord x = Doc("x", MakeDateTime(2020, 1, 1));
  x.shownAddress = "bob";
  DocRecord y = Doc("y", MakeDateTime(2021, 1, 1));
  y.shownAddress = "Ann";
  DocRecord z = Doc("z", MakeDateTime(2019, 1, 1));
  z.shownAddress = "ann";
  EXPECT_THAT(Titles(Sorted({x, y, z}, 2)), ElementsAre("z", "y", "x"));
}

TEST(SortDocRecords, ContactsViewSortsByFormattedName) {
  auto contact = [](std::string name, std::string title, std::string msgId = "") {
    DocRecord r = Doc(title, 0, 0, "vcf");
    r.name = std::move(name);
    r.msgId = std::move(msgId);
    r.shownAddress = r.name;
    return r;
  };
  DocRows rows = {contact("a.vcf", "Smith, John"), contact("b.vcf", ",Zoe Adams"), contact("c.vcf", "Brown, Al")};
  // ",Zoe Adams" has an empty last name: it sorts as "Zoe Adams" in either name order.
  EXPECT_THAT(Titles(Sorted(rows, 4, true, false)), ElementsAre("Brown, Al", "Smith, John", ",Zoe Adams"));
  EXPECT_THAT(Titles(Sorted(rows, 4, true, true)), ElementsAre("Brown, Al", "Smith, John", ",Zoe Adams"));

  // Child rows of a contact keep their keys' order.
  DocRows parts = {contact("d.vcf", "Doe", "d.vcf:002"), contact("d.vcf", "Doe", "d.vcf:001")};
  DocRows sorted = Sorted(parts, 4, true);
  EXPECT_EQ(sorted[0].msgId, "d.vcf:001");
}

TEST(SortDocRecords, SortsOnlyFromFirst) {
  DocRows rows = {Doc("z"), Doc("b"), Doc("a")};
  SortDocRecords(rows, SortOptions{4}, 1);
  EXPECT_THAT(Titles(rows), ElementsAre("z", "a", "b"));
  EXPECT_THAT(SortOrder(rows, SortOptions{-4}, 1), ElementsAre(2u, 1u));
}

TEST(SortDocRecords, LargeInputIsAPermutation) {
  DocRows rows;
  for (int i = 0; i < 5000; ++i) rows.push_back(Doc("t" + std::to_string((i * 7919) % 5000), (i * 31) % 97));
  DocRows sorted = Sorted(rows, 4);
  // Natural order: "t9" before "t10".
  for (size_t i = 1; i < sorted.size(); ++i)
    EXPECT_LE(std::stoi(sorted[i - 1].title.substr(1)), std::stoi(sorted[i].title.substr(1)));
  EXPECT_EQ(sorted.size(), rows.size());
}

}  // namespace
}  // namespace px::store
