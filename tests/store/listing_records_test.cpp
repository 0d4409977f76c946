// Document records built from index lines: keys, dates, shown addresses, unread counting.
#include "foundation/dates.h"
#include "store/doc_record.h"
#include "store/folder_listing.h"

#include <gtest/gtest.h>

#include <map>

namespace px::store {
namespace {

DocRecord Build(const StringList& lines, std::string_view name = "file.txt", DateTime fileDate = 40000.5,
                const AddressLookup& lookup = {}) {
  return BuildDocRecord("/f/", name, "", "", 10, fileDate, lines, lookup);
}

TEST(ListingRecords, KeysAreTrimmedCaseInsensitiveAndTheFirstWins) {
  DocRecord r = Build({"  TITLE  =  Hello  ", "flags=4", "garbage line", "Flags= 512 ", "msgid=abc:001/002",
                       "CC=x@y.z", "charset=utf-8", "Sticker=a~b", "Unknown=1", "To=first", "to=second"});
  EXPECT_EQ(r.title, "Hello");
  EXPECT_EQ(r.flags, 4);  // as the INI class reads a repeated key
  EXPECT_EQ(r.msgId, "abc:001/002");
  EXPECT_EQ(r.cc(), "x@y.z");
  EXPECT_EQ(r.charset(), "utf-8");
  EXPECT_EQ(r.to(), "first");
  EXPECT_EQ(r.sticker, "a~b");
  EXPECT_EQ(r.ext, "txt");
  EXPECT_EQ(r.rowKind, kRowListed);
}

TEST(ListingRecords, DefaultsAndInvalidValues) {
  struct Case {
    StringList lines;
    std::string name;
    std::string title;
    std::string ext;
    int flags;
  };
  const Case cases[] = {
      {{}, "report.final.doc", "report.final", "doc", 0},
      {{"Title="}, "noext", "noext", "", 0},
      {{"Flags=abc"}, "a.txt", "a", "txt", 0},
      {{"Flags=12x"}, "a.txt", "a", "txt", 0},
      {{"Flags=70000"}, "a.txt", "a", "txt", 70000 & 0xFFFF},
      {{"Flags=$1F"}, "a.TXT", "a", "TXT", 0x1F},
  };
  for (const Case& c : cases) {
    DocRecord r = Build(c.lines, c.name);
    EXPECT_EQ(r.title, c.title) << c.name;
    EXPECT_EQ(r.ext, c.ext) << c.name;
    EXPECT_EQ(r.flags, c.flags) << c.name;
  }
}

TEST(ListingRecords, MailIsDatedByItsTime) {
  const DateTime file = 40000.25;
  // Received mail: Time replaces the file date.
  DocRecord r = Build({"Flags=4609", "Time=01/05/03 10:30:00"}, "m.txt", file);
  EXPECT_DOUBLE_EQ(r.date, MakeDateTime(2003, 1, 5, 10, 30, 0));
  // Outgoing mail likewise; an unparsable Time gives no date; a missing one keeps the file's.
  EXPECT_DOUBLE_EQ(Build({"Flags=8192", "Time=12/31/99 23:59:59"}, "m.txt", file).date,
                   MakeDateTime(1999, 12, 31, 23, 59, 59));
  EXPECT_EQ(Build({"Flags=4096", "Time=00/05/03 10:30:00"}, "m.txt", file).date, 0);
  EXPECT_EQ(Build({"Flags=4096", "Time=rubbish"}, "m.txt", file).date, 0);
  EXPECT_DOUBLE_EQ(Build({"Flags=4096"}, "m.txt", file).date, file);
  // Not mail: the file date stands whatever Time says.
  EXPECT_DOUBLE_EQ(Build({"Time=01/05/03 10:30:00"}, "m.txt", file).date, file);
}

TEST(ListingRecords, LinkTakesItsExtensionFromTheTarget) {
  DocRecord r = BuildDocRecord("/f/", "shortcut", kLinkPrefix, "/other/$$$X.photo.JPG", 5, 1, StringList{}, {});
  EXPECT_EQ(r.ext, "JPG");
  EXPECT_EQ(r.title, "shortcut");
  EXPECT_EQ(r.FilePath(), "/other/photo.JPG");
  EXPECT_TRUE(r.IsLink());
}

TEST(ListingRecords, ShownAddress) {
  std::map<std::string, std::string> book = {{"ann@x.org", "Ann Contact"}, {"bob", "Bob Service"}};
  AddressLookup lookup = [&](std::string_view bare, std::string& name) {
    auto it = book.find(std::string(bare));
    if (it == book.end()) return false;
    name = it->second;
    return true;
  };
  struct Case {
    int flags;
    std::string address, cc, bcc;
    bool withLookup;
    std::string shown;
  };
  const Case cases[] = {
      {0x1000, "\"Ann\" <ANN@X.org>", "", "", true, "Ann Contact"},
      {0x1000, "\"Ann\" <ANN@X.org>", "", "", false, "Ann"},
      {0x1000, "bob@plumadex.net", "", "", true, "Bob Service"},  // service domain stripped
      {0x1000, "\"Doe, John\" <j@d.com>", "", "", true, "Doe, John"},  // comma inside quotes
      {0x1000, "a@b.c, d@e.f", "", "", true, "(LIST)"},
      {0x2000, "ann@x.org", "c@d.e", "", true, "(LIST)"},
      {0x2000, "ann@x.org", "", "c@d.e", true, "(LIST)"},
      {0x1000, "ann@x.org", "c@d.e", "", true, "Ann Contact"},  // Cc counts only when outgoing
      {0, "<unknown@x.org>", "", "", true, "unknown@x.org"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ShownAddressOf(c.flags, c.address, c.cc, c.bcc, c.withLookup ? lookup : AddressLookup{}), c.shown)
        << c.address;
  }
}

TEST(ListingRecords, RareKeysArePackedAndReplaceable) {
  DocRecord r;
  r.Set(DocKey::Cc, "a");
  r.Set(DocKey::Original, "R,/x/y.txt");
  r.Set(DocKey::Cc, "bb");
  EXPECT_EQ(r.cc(), "bb");
  EXPECT_EQ(r.original(), "R,/x/y.txt");
  r.Set(DocKey::Cc, "");
  EXPECT_EQ(r.cc(), "");
  EXPECT_EQ(r.original(), "R,/x/y.txt");
  DocRecord copy = r;
  EXPECT_EQ(copy.original(), "R,/x/y.txt");
  SelectionRecord s = MakeSelectionRecord(r, 7);
  EXPECT_EQ(s.row, 7u);
}

DocRecord Row(const std::string& msgId, int flags, std::string prefix = "") {
  DocRecord r;
  r.folder = "/f/";
  r.name = msgId + ".txt";
  r.msgId = msgId;
  r.flags = flags;
  r.prefix = std::move(prefix);
  return r;
}

TEST(ListingRecords, UnreadBundlePartsCountWithTheirMessage) {
  // Stored ids write the count with three digits; part 1 is matched by base and part.
  DocRows rows = {Row("b1:001/003", dfUnread | 0x1000), Row("b1:002/003", dfUnread | 0x1000),
                  Row("b1:003/003", dfUnread | 0x1000)};
  EXPECT_EQ(CountUnread(rows), 1);
  // Part 1 read: its unread attachments do not count on their own while it is listed.
  rows[0].flags = 0x1000;
  EXPECT_EQ(CountUnread(rows), 0);
  // Without part 1 in the folder, each unread part counts.
  DocRows orphans = {Row("b2:002/003", dfUnread), Row("b2:003/003", dfUnread), Row("", dfUnread),
                     Row("solo", dfUnread)};
  EXPECT_EQ(CountUnread(orphans), 4);
  // A link shows another folder's entry: it is counted there, not here.
  DocRows links = {Row("c:001", dfUnread, std::string(kLinkPrefix)), Row("d", dfUnread)};
  EXPECT_EQ(CountUnread(links), 1);
}

}  // namespace
}  // namespace px::store
