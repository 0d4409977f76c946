// The information pop-up's content per zone, the preview of odd files, the two columns, and
// placement with cutting.
#include "desk/hint_builder.h"
#include "store/index_value.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace px;
using namespace px::desk;

namespace {

store::DocRecord Row(std::string name, std::string ext, int flags = 0) {
  store::DocRecord r;
  r.folder = "/nowhere/";
  r.name = std::move(name);
  r.ext = std::move(ext);
  r.flags = flags;
  return r;
}

std::string Texts(const HintContent& c) {
  std::string out;
  for (const HintLine& l : c.lines) out += l.head + l.text + "\n";
  return out;
}

HintEnvironment Env() {
  HintEnvironment env;
  env.formatDate = [](DateTime) { return std::string("D"); };
  env.typeName = [](const std::string&) { return std::string("OpenDocument text"); };
  env.groupMembers = [](const store::DocRecord&) { return StringList{"\"Zed\" <z@x>", "\"Amy\" <a@x>"}; };
  env.contactSummary = [](const store::DocRecord&) { return std::string("\"Ann Lee\" <ann@x>\nPhone: 123"); };
  env.summaryOfAddress = [](std::string_view a) { return a == "ann@x" ? std::string("Ann card") : std::string(); };
  return env;
}

}  // namespace

TEST(HintBuilder, TextsOfTheActionZones) {
  HintEnvironment env = Env();
  store::DocRecord doc = Row("a.odt", "odt");
  store::DocRecord card = Row("ann.vcf", "vcf");
  store::DocRecord pendingMsg = Row("m.txt", "txt", store::dfPending | store::dfOutgoing);
  store::DocRecord parent = Row("p.eml", "eml", store::dfCollapsed);
  parent.searchState = store::rsHasChildren;
  store::DocRecord stickered = doc;
  stickered.sticker = "note";
  struct Case {
    int zone;
    const store::DocRecord* row;
    GridTab tab;
    bool dragging;
    std::string text;
  } cases[] = {
      {1, &doc, GridTab::Files, false, "Open file\n"},
      {1, &card, GridTab::Contacts, false, "Edit contact information\n"},
      {1, &pendingMsg, GridTab::Files, true, "Attach files to this message\n"},
      {1, &pendingMsg, GridTab::Files, false, "Open file\n"},
      {2, &parent, GridTab::Files, false, "Show attachments\n"},
      {2, &parent, GridTab::Contacts, false, "Show additional information\n"},
      {2, &pendingMsg, GridTab::Files, false, "Write cover message\n"},
      {2, &card, GridTab::Contacts, false, "Compose new message to this address\n"},
      {3, &doc, GridTab::Files, false, "Attach sticker note\n"},
      {3, &stickered, GridTab::Files, false, "Edit sticker note\n"},
      {4, &doc, GridTab::Files, false, "Color code\n"},
      {6, &doc, GridTab::Files, false, ""},
      {7, &doc, GridTab::Contacts, false, ""},  // the type belongs to the files tab
  };
  for (const Case& c : cases) {
    env.tab = c.tab;
    env.dragging = c.dragging;
    const HintContent h = BuildHint(c.zone, *c.row, env);
    EXPECT_EQ(Texts(h), c.text) << c.zone;
    EXPECT_FALSE(h.gridInfo);
  }
}

TEST(HintBuilder, NameZoneOfContactsGroupsAndDocuments) {
  test::TempHome home;
  HintEnvironment env = Env();
  store::DocRecord group = Row("Friends.", std::string(1, '\x12'));
  EXPECT_EQ(Texts(BuildHint(5, group, env)), "\"Amy\" <a@x>\n\"Zed\" <z@x>\n");  // sorted

  env.tab = GridTab::Contacts;
  const HintContent card = BuildHint(5, Row("ann.vcf", "vcf"), env);
  ASSERT_EQ(card.lines.size(), 2u);
  EXPECT_EQ(card.lines[1].head, "Phone: ");  // the name lines in the label column
  EXPECT_EQ(card.lines[1].text, "123");

  env.tab = GridTab::Files;
  test::writeFile(home.path("n.txt"), "First: line\nsecond\n\n\n");
  store::DocRecord txt = Row("n.txt", "txt");
  txt.folder = home.root();
  txt.sticker = store::EncodeIndexValue({"my", "note"});
  HintContent h = BuildHint(5, txt, env);
  EXPECT_TRUE(h.lines.empty());  // nothing read yet
  EXPECT_TRUE(FinishHint(h));
  EXPECT_TRUE(h.gridInfo);
  EXPECT_EQ(h.sticker, "my\nnote");
  EXPECT_EQ(Texts(h), "First: line\nsecond\n");  // trailing empty lines gone
  ASSERT_FALSE(h.lines.empty());
  EXPECT_EQ(h.lines[0].head, "First: ");

  env.showPreview = false;
  h = BuildHint(5, txt, env);
  EXPECT_TRUE(h.lines.empty());
  EXPECT_EQ(h.sticker, "my\nnote");

  env.showPreview = true;
  txt.Set(store::DocKey::Charset, "utf-16");
  h = BuildHint(5, txt, env);
  EXPECT_TRUE(h.previewPath.empty());  // UTF-16 is not previewed

  store::DocRecord eml = Row("m.eml", "eml");
  eml.folder = home.root();
  test::writeFile(home.path("m.eml"), "Subject: s\r\nContent-Type: text/plain\r\n\r\nHello there\r\n");
  h = BuildHint(5, eml, env);
  EXPECT_TRUE(h.previewMessage);
  std::atomic<bool> cancelled{true};
  HintContent cancelledHint = h;
  EXPECT_FALSE(FinishHint(cancelledHint, &cancelled));
  EXPECT_TRUE(cancelledHint.lines.empty());
  EXPECT_TRUE(FinishHint(h));
  EXPECT_EQ(Texts(h), "Hello there\n");
}

TEST(HintBuilder, PreviewOfOddFiles) {
  test::TempHome home;
  std::string many;
  for (int i = 0; i < 150; ++i) many += "line " + std::to_string(i) + "\n";
  std::string huge(200 * 1024, 'a');
  std::string hugeLines;
  while (hugeLines.size() < 100 * 1024) hugeLines += "short\n";
  struct Case {
    std::string name;
    std::string bytes;
    std::string charset;
    std::function<void(const std::string&)> check;
  } cases[] = {
      {"binary", std::string("\x7F" "ELF\x02\x01\x01\0\0\0", 10) + std::string(100, '\0'), "",
       [](const std::string& p) { EXPECT_EQ(p, ""); }},
      {"bom16", std::string("\xFF\xFE" "a\0b\0", 6), "", [](const std::string& p) { EXPECT_EQ(p, ""); }},
      {"charset16", "plain", "utf-16", [](const std::string& p) { EXPECT_EQ(p, ""); }},
      {"oneline", huge, "",
       [](const std::string& p) {
         EXPECT_LT(p.size(), 500u);  // one line cut to 400 characters
         EXPECT_EQ(p.substr(p.size() - 4), " ...");
       }},
      {"many", many, "",
       [](const std::string& p) {
         EXPECT_EQ(std::count(p.begin(), p.end(), '\n'), 99);
         EXPECT_NE(p.find("line 99"), std::string::npos);
         EXPECT_EQ(p.find("line 100"), std::string::npos);
         EXPECT_EQ(p.substr(p.size() - 4), " ...");
       }},
      {"hugelines", hugeLines, "",
       [](const std::string& p) { EXPECT_EQ(std::count(p.begin(), p.end(), '\n'), 99); }},
      {"latin1", "caf\xE9 cr\xE8me\n", "", [](const std::string& p) { EXPECT_EQ(p, "caf\xC3\xA9 cr\xC3\xA8me"); }},
      {"named", "caf\xE9\n", "iso-8859-1", [](const std::string& p) { EXPECT_EQ(p, "caf\xC3\xA9"); }},
      {"bom8", "\xEF\xBB\xBFhello\r\nworld\r\n", "", [](const std::string& p) { EXPECT_EQ(p, "hello\nworld"); }},
      {"empty", "", "", [](const std::string& p) { EXPECT_EQ(p, ""); }},
      {"malformed", "ok \xC3\x28 \xF0\x9F\x98 end\n", "", [](const std::string& p) { EXPECT_NE(p.find("end"), std::string::npos); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::writeFile(home.path(c.name), c.bytes);
    c.check(ReadPreview(home.path(c.name), c.charset));
  }
  EXPECT_EQ(ReadPreview(home.path("missing"), ""), "");
  // A UTF-8 character at the read limit is not cut in two.
  std::string edge(kPreviewMaxBytes - 1, 'x');
  edge += "\xC3\xA9 more text after the limit";
  test::writeFile(home.path("edge"), edge);
  const std::string p = ReadPreview(home.path("edge"), "");
  EXPECT_EQ(p.find('\xC3'), std::string::npos);
  std::atomic<bool> cancelled{true};
  EXPECT_EQ(ReadPreview(home.path("many"), "", &cancelled), "");
}

TEST(HintBuilder, MessagePreviewIsBoundedAndCancellable) {
  test::TempHome home;
  std::string body;
  for (int i = 0; i < 300; ++i) body += "body line " + std::to_string(i) + "\r\n";
  test::writeFile(home.path("m.eml"), "From: a@x\r\nSubject: s\r\nContent-Type: text/plain\r\n\r\n" + body);
  const std::string p = ReadMessagePreview(home.path("m.eml"));
  EXPECT_NE(p.find("body line 0"), std::string::npos);
  EXPECT_LE(std::count(p.begin(), p.end(), '\n'), 99);
  std::atomic<bool> cancelled{true};
  EXPECT_EQ(ReadMessagePreview(home.path("m.eml"), &cancelled), "");
  test::writeFile(home.path("bad.eml"), std::string("\0\0\xFF garbage", 11));
  (void)ReadMessagePreview(home.path("bad.eml"));  // no crash, whatever it reads
}

TEST(HintBuilder, TypeSizeAndHistory) {
  HintEnvironment env = Env();
  store::DocRecord doc = Row("a.odt", "odt");
  doc.size = 999;
  EXPECT_EQ(Texts(BuildHint(7, doc, env)), "File type: OpenDocument text\nSize: 999 bytes\n");
  doc.size = 1500;
  env.typeName = {};
  doc.ext = "xyz";
  EXPECT_EQ(Texts(BuildHint(7, doc, env)), "File type: XYZ file\nSize: 2K\n");

  store::DocRecord in = Row("m.txt", "txt", store::dfReceived | store::dfEncrypted);
  in.msgId = "2026:001/2";
  in.size = 10;
  in.Set(store::DocKey::Sent, "Thu, 10 Dec 2026 10:00:00 +0100");
  in.Set(store::DocKey::Replied, "12/10/26 10:30:00 bob@x;carl@x,12/11/26 09:00:00");
  in.Set(store::DocKey::Charset, "iso-8859-1");
  EXPECT_EQ(Texts(BuildHint(7, in, env)),
            "File type: Plain Text E-mail Message\nSize: 10 bytes\nEncoding: Western European (ISO)\n"
            "Sent: Thu, 10 Dec 2026 10:00:00 (UTC+0100)\nEncrypted: PGP\n"
            "Replied: D to bob@x,carl@x\nReplied: D to the recepient\n");

  store::DocRecord out = Row("o.txt", "txt", store::dfOutgoing);
  out.msgId = "2026:002/2";  // an attachment of a message
  out.Set(store::DocKey::Delivered, "12/10/26 10:30:00 \"Bob B\" <bob@x>");
  env.typeName = [](const std::string&) { return std::string("plain text document"); };
  EXPECT_EQ(Texts(BuildHint(7, out, env)), "File type: plain text document\nSize: 0 bytes\nDelivered: D to Bob B\n");
}

TEST(HintBuilder, AddressZone) {
  HintEnvironment env = Env();
  env.expandGroups = [](std::string_view list, std::string_view) {
    return std::string(list) == "Team (GROUP)" ? std::string("a@x, b@x") : std::string(list);
  };
  store::DocRecord in = Row("m.txt", "txt", store::dfReceived);
  in.address = "ann@x";
  in.Set(store::DocKey::To, "me@x, you@x");
  HintContent h = BuildHint(9, in, env);
  EXPECT_EQ(Texts(h), "From: ann@x\nTo: me@x\nyou@x\n");
  EXPECT_EQ(h.sticker, "Ann card");

  store::DocRecord out = Row("o.txt", "txt", store::dfOutgoing);
  out.address = "Team (GROUP)";
  out.Set(store::DocKey::From, "me@x");
  out.Set(store::DocKey::Cc, "c@x");
  h = BuildHint(9, out, env);
  EXPECT_EQ(Texts(h), "From: me@x\nTo: a@x\nb@x\nCc: c@x\n");
  EXPECT_TRUE(h.sticker.empty());
  EXPECT_TRUE(BuildHint(9, Row("a.odt", "odt"), env).Empty());  // not mail
}

TEST(HintBuilder, ColumnsPlacementAndCutting) {
  const auto cols = SplitColumns("From: a\n\"Ann\" <a@x>: no\n<x>: no\nplain\nKey: v: w");
  ASSERT_EQ(cols.size(), 5u);
  EXPECT_EQ(cols[0].head, "From: ");
  EXPECT_EQ(cols[1].head, "");
  EXPECT_EQ(cols[2].head, "");
  EXPECT_EQ(cols[3].text, "plain");
  EXPECT_EQ(cols[4].head, "Key: ");
  EXPECT_EQ(cols[4].text, "v: w");

  HintGeometry g;
  g.workTop = 0;
  g.workBottom = 1000;
  g.workLeft = 0;
  g.workRight = 800;
  g.width = 300;
  g.left = 700;
  g.lineHeight = 10;
  g.frame = 10;
  g.rowTop = 100;
  g.rowBottom = 120;
  g.infoLines = 5;
  HintPlacement p = PlaceHint(g);
  EXPECT_EQ(p.y, 120);  // below the row
  EXPECT_EQ(p.x, 500);  // kept on the screen
  EXPECT_FALSE(p.cut);

  g.rowTop = 950;
  g.rowBottom = 970;
  p = PlaceHint(g);
  EXPECT_EQ(p.y, 950 - 60);  // above: it did not fit below

  g.raise = true;
  g.rowTop = 500;
  g.rowBottom = 520;
  EXPECT_EQ(PlaceHint(g).y, 500 - 60);

  // Fits neither way: the sticker loses lines down to five, then the information panel.
  g.raise = false;
  g.rowTop = 300;
  g.rowBottom = 320;
  g.workBottom = 500;
  g.infoLines = 30;
  g.stickerLines = 20;
  p = PlaceHint(g);
  EXPECT_TRUE(p.cut);
  EXPECT_EQ(p.stickerLines, 5u);
  EXPECT_EQ(p.infoLines, 23u);  // above is the larger side: (300 - 2 * 10) / 10 = 28 lines, 5 of them sticker
  EXPECT_EQ(p.y, 0);
  HintContent c;
  for (int i = 0; i < 30; ++i) c.lines.push_back({{}, "l" + std::to_string(i)});
  for (int i = 0; i < 20; ++i) c.sticker += (i ? "\n" : "") + std::string("s") + std::to_string(i);
  CutHint(c, p);
  EXPECT_EQ(c.lines.size(), 23u);
  EXPECT_EQ(c.lines.back().text, "l22 ...");
  EXPECT_EQ(c.sticker, "s0\ns1\ns2\ns3\ns4 ...");
}
