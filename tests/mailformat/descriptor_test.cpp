// Part descriptors and message ids.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QTimeZone>

#include "foundation/dates.h"
#include "mailformat/message_id.h"
#include "mailformat/part_descriptor.h"
#include "mailformat/stored_part.h"

namespace px::mailformat {
namespace {

TEST(Descriptor, WritesSixLinesThenTaggedLinesAndReadsThemBack) {
  PartDescriptor d;
  d.to = "b@y";
  d.from = "\"A\" <a@x>";
  d.kind = "txt";
  d.name = "Subject\r\nwith break";
  d.AddTag("To: ", "b@y");
  d.AddTag("CHARSET: ", "utf-8\n_Outbound");
  std::string bytes = FormatPartDescriptor(d);
  EXPECT_EQ(bytes, "b@y\r\n\"A\" <a@x>\r\ntxt\r\nSubject  with break\r\n\r\n\r\nTo: b@y\r\nCHARSET: utf-8 _Outbound\r\n");
  PartDescriptor back = ParsePartDescriptor(bytes);
  EXPECT_EQ(back.to, "b@y");
  EXPECT_EQ(back.from, "\"A\" <a@x>");
  EXPECT_EQ(back.kind, "txt");
  EXPECT_EQ(back.name, "Subject  with break");
  EXPECT_EQ(back.tagged, (std::vector<std::string>{"To: b@y", "CHARSET: utf-8 _Outbound"}));
  EXPECT_EQ(FormatPartDescriptor(back), bytes);
}

TEST(Descriptor, ShortOrLfOnlyFilesAreRead) {
  PartDescriptor d = ParsePartDescriptor("\nme@x\n$$$_\n");
  EXPECT_EQ(d.from, "me@x");
  EXPECT_EQ(d.kind, "$$$_");
  EXPECT_TRUE(IsMarkerKind(d.kind));
  EXPECT_TRUE(d.tagged.empty());
  EXPECT_TRUE(ParsePartDescriptor("").to.empty());
}

TEST(Descriptor, TaggedLinesBecomeIndexKeysInLineOrder) {
  PartDescriptor d;
  d.tagged = {"To: a@x",          "Date: Tue, 4 Mar 2003 10:00:00 +0100",
              "Reply-To: r@x",    "CC: c@x",
              "bcc: d@x",         "Charset: koi8-r",
              "X-Multiple-to: m@x", "x-multiple-to: ignored@x",
              "_Outbound",        "_Outbound extra",
              "_Draft",           "_Read",
              "_Encrypted",       "_Folder: A\\B",
              "X-Plumadex-Account: home", "MsgID: 123:002/003",
              "msgid: 9"};
  DescriptorTags t = ReadDescriptorTags(d);
  std::vector<std::pair<std::string, std::string>> want = {
      {"To", "a@x"},      {"Sent", "Tue, 4 Mar 2003 10:00:00 +0100"},
      {"Cc", "c@x"},      {"Bcc", "d@x"},
      {"Charset", "koi8-r"}, {"To", "m@x"},
      {"Account", "home"}, {"MsgID", "123:002/003"}};
  EXPECT_EQ(t.keys, want);
  EXPECT_TRUE(t.outbound && t.draft && t.read && t.encrypted);
  EXPECT_TRUE(t.hasFolder);
  EXPECT_EQ(t.folder, "A\\B");
  EXPECT_EQ(t.Key("To"), "m@x");
}

TEST(Descriptor, ReceivedDateIsUtcShownAsLocalTime) {
  PartDescriptor d;
  d.tagged = {"X-DATE-RECEIVED: 03/04/03 09:00:00"};
  DateTime t = ReadDescriptorTags(d).time;
  QDateTime utc(QDate(2003, 3, 4), QTime(9, 0), QTimeZone::utc());
  QDateTime local = utc.toLocalTime();
  EXPECT_EQ(FormatShortDate(t), local.toString("MM/dd/yy hh:mm:ss").toStdString());
}

TEST(Descriptor, AolDates) {
  struct Case { const char* text; const char* expected; };
  const Case cases[] = {
      {"_AOL Date:3/4/2003 1:05:09 PM", "03/04/03 13:05:09"},
      {"_AOL Date: 3/4/2003 12:30:00 AM", "03/04/03 00:30:00"},
      {"_AOL Date: 3/4/2003 12:30:00 pm", "03/04/03 12:30:00"},
      {"_AOL Date: 3/4/2003 12:30:00", ""},
      {"_AOL Date: 3/4 12:30:00 PM", ""},
      {"_aol date: 3/4/2003 1:00:00 PM", ""},  // exact case only
  };
  for (const Case& c : cases) {
    PartDescriptor d;
    d.tagged = {c.text};
    EXPECT_EQ(FormatShortDate(ReadDescriptorTags(d).time), c.expected) << c.text;
  }
}

TEST(MessageIdTest, ParseFormatAndGrouping) {
  MessageId a = ParseMessageId("20030304100000123456:002/003");
  EXPECT_EQ(a.base, "20030304100000123456");
  EXPECT_EQ(a.part, 2u);
  EXPECT_EQ(a.total, 3u);
  MessageId b = ParseMessageId("abc");
  EXPECT_EQ(b.base, "abc");
  EXPECT_EQ(b.part, 0u);
  EXPECT_EQ(ParseMessageId("x:zz/q").part, 0u);
  EXPECT_EQ(ParseMessageId("x:7").part, 7u);
  EXPECT_EQ(ParseMessageId("x:99999999999999").part, 0u);
  EXPECT_EQ(FormatMessageId("b", 2, 3), "b:002/003");
  EXPECT_EQ(FormatMessageId("b", 1), "b:001");
  EXPECT_EQ(FormatMessageId("b", 1234), "b:1234");
  EXPECT_EQ(FormatMessageId("b", 0), "b");
  EXPECT_TRUE(SameMessage("123:001/002", "123:002/002"));
  EXPECT_FALSE(SameMessage("123", "1234:001"));
  EXPECT_TRUE(SameMessage("123", "123:005"));
}

}  // namespace
}  // namespace px::mailformat

namespace px::mailformat {
namespace {

TEST(StoredPart, FlagWords) {
  auto tags = [](std::vector<std::string> lines) {
    PartDescriptor d;
    d.tagged = std::move(lines);
    return ReadDescriptorTags(d);
  };
  EXPECT_EQ(FiledFlags(tags({}), "txt"), 0x1201);
  EXPECT_EQ(FiledFlags(tags({}), "VCF"), 0x1200);
  EXPECT_EQ(FiledFlags(tags({"_Read"}), "txt"), 0x1001);
  EXPECT_EQ(FiledFlags(tags({"_Outbound"}), "txt"), 0x2001);
  EXPECT_EQ(FiledFlags(tags({"_Draft"}), "eml"), 0x6400);
  EXPECT_EQ(FiledFlags(tags({"_Outbound", "_Encrypted"}), "txt"), 0x2041);
  EXPECT_EQ(FiledFlags(tags({"_Encrypted"}), "pdf"), 0x1241);
  EXPECT_EQ(ComposedFlags(false, false), 0x2400);
  EXPECT_EQ(ComposedFlags(true, true), 0x6440);
  EXPECT_EQ(DeliveredFlags(0x2400, "txt"), 0x2001);
  EXPECT_EQ(DeliveredFlags(0x2440, "vcf"), 0x2040);
}

}  // namespace
}  // namespace px::mailformat
