// One reader of index entries: flags in every form, the first of repeated keys, the same in the
// listing, the operations and the command line.
#include "ops_fixture.h"

#include "foundation/ini_file.h"
#include "store/folder_listing.h"
#include "store/index_entry.h"

#include <gtest/gtest.h>

using namespace px;
using namespace px::store;
using namespace px::store::test;

namespace {

TEST(IndexEntry, FlagsInEveryAcceptedForm) {
  struct Case {
    const char* text;
    int flags;
  } cases[] = {
      {"4609", 0x1201},   {" 4609 ", 0x1201}, {"$1201", 0x1201}, {"0x1201", 0x1201},
      {"0X1201", 0x1201}, {"$abcd", 0xABCD},  {"+512", 0x200},   {"-1", 0xFFFF},
      {"70000", 70000 & 0xFFFF},              {"", 0},           {"$", 0},
      {"0x", 0},          {"12abc", 0},       {"abc", 0},        {"1 2", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseEntryFlags(c.text), c.flags) << "\"" << c.text << "\"";
}

TEST(IndexEntry, FirstOfRepeatedKeysWinsAndKeysIgnoreCaseAndBlanks) {
  const StringList lines = {"Title=one", " flags =$200", "FLAGS=1", "Title=two", "Empty="};
  EXPECT_EQ(EntryValue(lines, "Title").value_or("-"), "one");
  EXPECT_EQ(EntryFlags(lines, 7), 0x200);
  EXPECT_EQ(EntryValue(lines, "Empty").value_or("-"), "");
  EXPECT_FALSE(EntryValue(lines, "Address"));
  EXPECT_EQ(EntryFlags(StringList{"Title=x"}, 7), 7);  // no Flags line: the default

  TPXIniBase ini("");
  ini.SetText("[m.eml]\r\nFlags=0x1201\r\nFlags=0\r\n");
  EXPECT_EQ(ReadEntryFlags(ini, "m.eml", 5), 0x1201);
  EXPECT_EQ(ReadEntryFlags(ini, "missing", 5), 5);
}

TEST(IndexEntry, ListingTakesTheFirstOfRepeatedKeys) {
  const StringList lines = {"Title=first", "Flags=$1201", "Address=a@x.org", "Title=second",
                            "Flags=0", "Address=b@x.org"};
  DocRecord r = BuildDocRecord("/f/", "m.eml", "", "", 10, 1, lines, {});
  EXPECT_EQ(r.title, "first");
  EXPECT_EQ(r.flags, 0x1201);
  EXPECT_EQ(r.address, "a@x.org");
}

// Unread counts follow hexadecimal flags through a move and a delete.
TEST_F(OpsFixture, HexadecimalFlagsKeepUnreadCountsThroughMoveAndDelete) {
  const std::string a = dir("A"), b = dir("B");
  doc(a, "m.eml", "m", {"Flags=$1201"});
  doc(a, "n.eml", "n", {"Flags=0x1201"});
  unread.ChangeUnreadCount(a, 2, false);
  OpItem m = item(a, "m.eml", "m", b);
  ASSERT_TRUE(ops->RunDocOperation(opMove, m));
  EXPECT_EQ(unread.GetUnreadCount(a).own, 1);
  EXPECT_EQ(unread.GetUnreadCount(b).own, 1);
  OpItem n = item(a, "n.eml", "n");
  ASSERT_TRUE(ops->RunDocOperation(opDelete, n));
  EXPECT_EQ(unread.GetUnreadCount(a).own, 0);
}

}  // namespace
