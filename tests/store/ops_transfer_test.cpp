#include "ops_fixture.h"

#include "foundation/charset.h"
#include "foundation/dates.h"
#include "store/tree_ops.h"

#include <algorithm>
#include <utime.h>

using namespace px::store;
using namespace px::store::test;
using px::test::readFile;
using px::test::writeFile;

namespace {
void setTime(const std::string& path, time_t t) {
  struct utimbuf b{t, t};
  utime(path.c_str(), &b);
}
}  // namespace

TEST_F(OpsFixture, MoveTakesFileAndEntryAndUnreadCountAndNamesItAfterItsTitle) {
  const std::string a = dir("A"), b = dir("B");
  doc(a, "x123.txt", "body",
      {"Title=Hello", "Flags=4609", "Address=bob@example.org", "Recv=20240101", "MsgID=m1:001/002"});
  unread.ChangeUnreadCount(a, 1, false);
  OpItem it = item(a, "x123.txt", "Hello", b);
  ASSERT_TRUE(ops->RunDocOperation(opMove, it));
  EXPECT_FALSE(exists(a + "x123.txt"));
  EXPECT_EQ(readFile(b + "Hello.txt"), "body");
  EXPECT_FALSE(hasSection(a, "x123.txt"));
  EXPECT_EQ(value(b, "Hello.txt", "Address"), "bob@example.org");
  EXPECT_EQ(value(b, "Hello.txt", "Flags"), "4609");
  EXPECT_EQ(value(b, "Hello.txt", "Title"), "<none>");  // the name says it
  EXPECT_EQ(value(b, "Hello.txt", "Recv"), "<none>");
  EXPECT_EQ(unread.GetUnreadCount(a).own, 0);
  EXPECT_EQ(unread.GetUnreadCount(b).own, 1);
  EXPECT_EQ(it.folder, b);
  EXPECT_EQ(it.name, "Hello.txt");
  EXPECT_EQ(registry.OpenCount(), 0u);
  EXPECT_TRUE(messages.Pending().empty());
}

TEST_F(OpsFixture, UnreadCountsFollowMessagesNotPartsAsTheListingCounts) {
  const std::string a = dir("A"), b = dir("B"), c = dir("C");
  // An unread message with two unread attachments counts once; a loose unread document once.
  doc(a, "Hello.txt", "m", {"Flags=4609", "Address=bob@x", "MsgID=B1:001/003"});
  doc(a, "a.pdf", "p", {"Flags=4609", "Address=bob@x", "MsgID=B1:002/003"});
  doc(a, "b.jpg", "j", {"Flags=4609", "Address=bob@x", "MsgID=B1:003/003"});
  doc(a, "loose.doc", "d", {"Flags=512"});
  unread.ChangeUnreadCount(a, 2, false);  // as the listing found it
  std::vector<OpItem> message{item(a, "Hello.txt", "Hello", b), item(a, "a.pdf", "a", b),
                              item(a, "b.jpg", "b", b)};
  for (auto& it : message) it.flags = 4609;
  ASSERT_EQ(ops->RunOnSelection(opMove, message), 3u);
  EXPECT_EQ(unread.GetUnreadCount(a).own, 1);
  EXPECT_EQ(unread.GetUnreadCount(b).own, 1);

  // An attachment taken away from its message counts on its own where it goes; the message
  // still counts once.
  OpItem att = item(b, "a.pdf", "a", c);
  att.flags = 4609;
  ASSERT_TRUE(ops->RunDocOperation(opCopy, att));
  EXPECT_EQ(unread.GetUnreadCount(b).own, 1);
  EXPECT_EQ(unread.GetUnreadCount(c).own, 1);

  // Its parts count with the message, so marking the message read leaves nothing counted.
  OpItem read = item(b, "Hello.txt", "Hello");
  read.flags = 4609 & ~0x0200;
  ASSERT_TRUE(ops->RunDocOperation(opWriteFlags, read));
  EXPECT_EQ(unread.GetUnreadCount(b).own, 0);

  // Without their message the unread parts count one by one.
  OpItem gone = item(b, "Hello.txt", "Hello");
  gone.flags = read.flags;
  ASSERT_TRUE(ops->RunDocOperation(opDelete, gone));
  EXPECT_EQ(unread.GetUnreadCount(b).own, 2);
}

TEST_F(OpsFixture, CopyKeepsTimeRaisesUnreadAndAPendingCopyIsNotPending) {
  const std::string a = dir("A"), b = dir("B");
  doc(a, "Out.txt", "text", {"Flags=9344", "Address=x@y", "MsgID=s:001/001"});  // 0x2480
  doc(a, "New.txt", "text2", {"Flags=512"});
  setTime(a + "Out.txt", 1000000000);
  std::vector<OpItem> items{item(a, "Out.txt", "Out", b), item(a, "New.txt", "New", b)};
  ASSERT_EQ(ops->RunOnSelection(opCopy, items), 2u);
  EXPECT_TRUE(exists(a + "Out.txt"));
  EXPECT_EQ(px::FileTimeOf(a + "Out.txt"), px::FileTimeOf(b + "Out.txt"));
  EXPECT_TRUE(px::SameFile(a + "Out.txt", b + "Out.txt"));
  EXPECT_EQ(value(b, "Out.txt", "Flags"), std::to_string(0x2480 & ~0x0480));
  EXPECT_EQ(value(a, "Out.txt", "Flags"), "9344");
  EXPECT_EQ(unread.GetUnreadCount(b).own, 1);
}

TEST_F(OpsFixture, CopyIntoFolderWithSameNamesGivesNumberedNameAndTitle) {
  const std::string a = dir("A"), b = dir("B");
  doc(a, "r.doc", "mine", {"Title=Report"});
  writeFile(b + "Report.doc", "theirs");
  writeFile(b + "Report (2).doc", "theirs too");
  resolver.answers.push_back({CollisionAction::Rename, "", false});
  OpItem it = item(a, "r.doc", "Report", b);
  ASSERT_TRUE(ops->RunDocOperation(opCopy, it));
  EXPECT_EQ(readFile(b + "Report (3).doc"), "mine");
  EXPECT_EQ(value(b, "Report (3).doc", "Title"), "<none>");
  EXPECT_EQ(readFile(b + "Report.doc"), "theirs");
  EXPECT_TRUE(resolver.asked.empty());  // no file of the plain name r.doc in the target
}

TEST_F(OpsFixture, CollisionChoicesReplaceRenameAndCancel) {
  const std::string a = dir("A"), b = dir("B");
  for (const char* n : {"one.txt", "two.txt", "three.txt"}) {
    doc(a, n, std::string("new ") + n, {"Flags=0"});
    writeFile(b + n, std::string("old ") + n);
  }
  {
    TPXIniFile ini(registry, IndexPathOf(b));
    ini.WriteString("one.txt", "Flags", "512");  // the replaced document was unread
  }
  unread.ChangeUnreadCount(b, 1, false);
  resolver.answers = {{CollisionAction::Replace, "", false},
                      {CollisionAction::Rename, "second", false},
                      {CollisionAction::Skip, "", false}};
  std::vector<OpItem> items{item(a, "one.txt", "one", b), item(a, "two.txt", "two", b),
                            item(a, "three.txt", "three", b)};
  EXPECT_EQ(ops->RunOnSelection(opMove, items), 3u);
  EXPECT_EQ(ops->Skipped(), 1u);
  ASSERT_EQ(resolver.asked.size(), 3u);
  EXPECT_EQ(resolver.asked[0].fileName, "one.txt");
  EXPECT_EQ(resolver.asked[0].proposedTitle, "one (2)");
  EXPECT_TRUE(resolver.asked[0].severalItems);
  EXPECT_EQ(readFile(b + "one.txt"), "new one.txt");
  EXPECT_EQ(value(b, "one.txt", "Flags"), "0");
  EXPECT_EQ(unread.GetUnreadCount(b).own, 0);
  EXPECT_EQ(readFile(b + "two.txt"), "old two.txt");
  EXPECT_EQ(readFile(b + "second.txt"), "new two.txt");
  EXPECT_EQ(readFile(b + "three.txt"), "old three.txt");
  EXPECT_EQ(readFile(a + "three.txt"), "new three.txt");  // cancelled: left where it was
  EXPECT_TRUE(hasSection(a, "three.txt"));
}

TEST_F(OpsFixture, MovingIntoTheTrashNeverAsks) {
  const std::string a = dir("A");
  doc(a, "Note.txt", "1", {"Flags=0"});
  writeFile(trash + "Note.txt", "2");
  OpItem it = item(a, "Note.txt", "Note", trash);
  ASSERT_TRUE(ops->RunDocOperation(opMove, it));
  EXPECT_TRUE(resolver.asked.empty());
  EXPECT_EQ(readFile(trash + "Note (2).txt"), "1");
  EXPECT_TRUE(IsTrashFull(trash));
}

TEST_F(OpsFixture, IdenticalTargetIsComparedByBytesBeforeTheSourceIsDropped) {
  const std::string a = dir("A"), b = dir("B");
  // Same name, size and time, different bytes: a collision, never a duplicate.
  doc(a, "Same.txt", "AAAA", {"Flags=0"});
  writeFile(b + "Same.txt", "BBBB");
  setTime(a + "Same.txt", 1200000000);
  setTime(b + "Same.txt", 1200000000);
  resolver.answers.push_back({CollisionAction::Rename, "", false});
  OpItem it = item(a, "Same.txt", "Same", b);
  ASSERT_TRUE(ops->RunDocOperation(opMove, it));
  EXPECT_EQ(readFile(b + "Same.txt"), "BBBB");
  EXPECT_EQ(readFile(b + "Same (2).txt"), "AAAA");

  // Truly identical mail: the source file goes, the entry joins the target under a tag.
  doc(a, "Mail.txt", "MMMM", {"Flags=4608", "Address=a@b", "Time=01/05/03 10:30:00"});
  writeFile(b + "Mail.txt", "MMMM");
  setTime(a + "Mail.txt", 1200000000);
  setTime(b + "Mail.txt", 1200000000);
  OpItem m = item(a, "Mail.txt", "Mail", b);
  ASSERT_TRUE(ops->RunDocOperation(opMove, m));
  EXPECT_FALSE(exists(a + "Mail.txt"));
  EXPECT_EQ(m.prefix, "$$$1.");
  EXPECT_EQ(value(b, "$$$1.Mail.txt", "Address"), "a@b");
  // Copying it back is recognised as the same message: no second entry.
  doc(a, "Mail.txt", "MMMM");
  setTime(a + "Mail.txt", 1200000000);
  OpItem back = item(b, "Mail.txt", "Mail", a);
  back.prefix = "$$$1.";
  ASSERT_TRUE(ops->RunDocOperation(opCopy, back));
  EXPECT_EQ(value(a, "$$$1.Mail.txt", "Address"), "a@b");
  ASSERT_TRUE(ops->RunDocOperation(opCopy, back = [&] { OpItem x = item(b, "Mail.txt", "Mail", a); x.prefix = "$$$1."; return x; }()));
  px::StringList s = sections(a);
  EXPECT_EQ(std::count_if(s.begin(), s.end(), [](const std::string& n) { return n.find("Mail.txt") != std::string::npos; }), 1);
}

TEST_F(OpsFixture, SentDocumentKeepsItsFileWhenItsOwnEntryIsDeletedOrMoved) {
  const std::string a = dir("A"), b = dir("B");
  doc(a, "Plan.doc", "plan", {"Title=Plan"});
  OpItem send = item(a, "Plan.doc", "Plan");
  send.address = "friend@example.org";
  ASSERT_TRUE(ops->RunDocOperation(opOutbox, send));
  ASSERT_FALSE(send.prefix.empty());
  EXPECT_EQ(value(a, send.Section(), "Flags"), std::to_string(0x2400));
  EXPECT_EQ(value(a, send.Section(), "From"), "me@example.org");
  const std::string link = "$$$LNK." + send.msgId;
  EXPECT_EQ(sent->ReadString(link, "Path", ""), a);
  EXPECT_EQ(sent->ReadString(link, "ID", ""), send.Section());
  EXPECT_EQ(value(a, "Plan.doc", "Title"), "Plan");  // the document keeps its own entry

  // Deleting the document keeps the file for the outgoing entry.
  OpItem del = item(a, "Plan.doc", "Plan");
  ASSERT_TRUE(ops->RunDocOperation(opDelete, del));
  EXPECT_TRUE(exists(a + "Plan.doc"));
  EXPECT_FALSE(hasSection(a, "Plan.doc"));
  EXPECT_TRUE(hasSection(a, send.Section()));

  // Moving the outgoing entry now takes the file; sent.ini follows.
  OpItem mv = send;
  mv.targetFolder = b;
  ASSERT_TRUE(ops->RunDocOperation(opMove, mv));
  EXPECT_FALSE(exists(a + "Plan.doc"));
  EXPECT_TRUE(exists(b + "Plan.doc"));
  EXPECT_EQ(sent->ReadString(link, "Path", ""), b);
  EXPECT_EQ(sent->ReadString(link, "ID", ""), "Plan.doc");
}

TEST_F(OpsFixture, MoveOfATaggedEntryWhileAnotherUsesTheFileCopiesIt) {
  const std::string a = dir("A"), b = dir("B");
  doc(a, "Doc.txt", "d", {"Title=Doc"});
  doc(a, "Doc.txt", "d", {"Flags=9216", "MsgID=q:001/001", "Address=z@z"}, "$$$5.");
  sent->WriteString("$$$LNK.q:001/001", "Path", a);
  sent->WriteString("$$$LNK.q:001/001", "ID", "$$$5.Doc.txt");
  OpItem plain = item(a, "Doc.txt", "Doc", b);
  ASSERT_TRUE(ops->RunDocOperation(opMove, plain));
  EXPECT_TRUE(exists(a + "Doc.txt"));
  EXPECT_TRUE(exists(b + "Doc.txt"));
  // The remaining tagged entry takes the plain name, and sent.ini follows it.
  EXPECT_FALSE(hasSection(a, "$$$5.Doc.txt"));
  EXPECT_EQ(value(a, "Doc.txt", "MsgID"), "q:001/001");
  EXPECT_EQ(sent->ReadString("$$$LNK.q:001/001", "ID", ""), "Doc.txt");
}

TEST_F(OpsFixture, AttachmentLeavingItsMessageCarriesTheMessageText) {
  const std::string a = dir("A"), b = dir("B");
  doc(a, "Holiday.txt", "Hi,\r\nsee the picture.\r\n\r\n", {"Flags=4097", "MsgID=m:001/002"});
  doc(a, "pic.png", "png", {"Flags=4097", "MsgID=m:002/002"});
  doc(a, "other.png", "png", {"Flags=4097", "MsgID=n:002/002"});
  DocRows rows(3);
  rows[0].folder = a, rows[0].name = "Holiday.txt", rows[0].title = "Holiday", rows[0].msgId = "m:001/002";
  rows[1].folder = a, rows[1].name = "pic.png", rows[1].msgId = "m:002/002", rows[1].selected = true;
  rows[2].folder = a, rows[2].name = "other.png", rows[2].msgId = "n:002/002", rows[2].selected = true;
  std::vector<OpItem> items{item(a, "pic.png", "pic", b), item(a, "other.png", "other", b)};
  items[0].msgId = rows[1].msgId;
  items[1].msgId = rows[2].msgId;
  MarkOrphanAttachments(rows, items);
  EXPECT_TRUE(items[0].orphanAttachment);
  EXPECT_FALSE(items[1].orphanAttachment);  // its message is not in this folder
  ASSERT_EQ(ops->RunOnSelection(opCopy, items), 2u);
  EXPECT_EQ(value(b, "pic.png", "Sticker"), "Subject: : Holiday~~Hi,~see the picture.");
  EXPECT_EQ(value(b, "other.png", "Sticker"), "<none>");
  // Selected together with its message, the attachment stays plain.
  rows[0].selected = true;
  std::vector<OpItem> both{item(a, "pic.png", "pic", b)};
  both[0].msgId = rows[1].msgId;
  MarkOrphanAttachments(rows, both);
  EXPECT_FALSE(both[0].orphanAttachment);
}

TEST_F(OpsFixture, FolderMoveCarriesCountsAndRewritesRules) {
  struct Rules : SortingRuleLinks {
    std::vector<std::string> FolderMoved(const std::string& o, const std::string& n) override {
      from = o;
      to = n;
      return {"From Bob"};
    }
    std::string from, to;
  } rules;
  DocOperations withRules(ops->Services(), {resolver, noOpenDocs, noQuickboard, rules, noPending});
  const std::string a = dir("A"), sub = dir("A/Sub"), b = dir("B");
  doc(sub, "m.txt", "m", {"Flags=512"});
  {
    TPXIniFile ini(registry, IndexPathOf(a));
    ini.WriteString("Sub.", "Title", "Sub");
  }
  unread.ChangeUnreadCount(sub, 1, false);
  newMail.Add(sub);
  OpItem it = item(a, "Sub", "Sub", b);
  it.ext.clear();
  ASSERT_TRUE(withRules.RunDocOperation(opMove, it));
  EXPECT_TRUE(exists(b + "Sub/m.txt"));
  EXPECT_EQ(value(b + "Sub/", "m.txt", "Flags"), "512");  // the folder's own index went along
  EXPECT_FALSE(hasSection(a, "Sub."));
  EXPECT_TRUE(hasSection(b, "Sub."));
  EXPECT_EQ(unread.GetUnreadCount(b + "Sub/").own, 1);
  EXPECT_EQ(unread.GetUnreadCount(sub).own, 0);
  EXPECT_TRUE(newMail.Contains(b + "Sub/"));
  EXPECT_EQ(rules.from, sub);
  EXPECT_EQ(lastMessage(),
            "Operations with this folder caused changes in mail sorting rules:\r\r     From Bob");
  // A folder cannot go into itself.
  OpItem self = item(b, "Sub", "Sub", b + "Sub/");
  self.ext.clear();
  EXPECT_FALSE(ops->RunDocOperation(opMove, self));
  EXPECT_TRUE(exists(b + "Sub/m.txt"));
}

TEST_F(OpsFixture, ContactReferencesAreCopiedAndMoved) {
  const std::string a = dir("A"), b = dir("B");
  {
    TPXIniFile ini(registry, IndexPathOf(contacts));
    ini.WriteString("c1.vcf", "Title", "Bob");
    ini.WriteString("c1.vcf", "Address", "bob@x");
  }
  writeFile(contacts + "c1.vcf", "BEGIN:VCARD");
  OpItem card = item(contacts, "c1.vcf", "Bob", a);
  ASSERT_TRUE(ops->RunDocOperation(opCopy, card));
  EXPECT_TRUE(hasSection(a, "$$$AB.c1.vcf"));
  EXPECT_TRUE(exists(contacts + "c1.vcf"));
  OpItem ref = item(contacts, "c1.vcf", "Bob", b);
  ref.refFolder = a;
  ref.refPrefix = "$$$AB.";
  ASSERT_TRUE(ops->RunDocOperation(opMove, ref));
  EXPECT_FALSE(hasSection(a, "$$$AB.c1.vcf"));
  EXPECT_TRUE(hasSection(b, "$$$AB.c1.vcf"));
}

TEST_F(OpsFixture, FolderCopyBringsItsUnreadCountsAlong) {
  const std::string a = dir("A"), sub = dir("A/Sub"), deep = dir("A/Sub/Deep"), b = dir("B");
  doc(sub, "m.txt", "m", {"Flags=512"});
  doc(deep, "n.txt", "n", {"Flags=512"});
  doc(deep, "o.txt", "o", {"Flags=512"});
  unread.ChangeUnreadCount(sub, 1, false);
  unread.ChangeUnreadCount(deep, 2, false);
  OpItem it = item(a, "Sub", "Sub", b);
  it.ext.clear();
  ASSERT_TRUE(ops->RunDocOperation(opCopy, it));
  EXPECT_TRUE(exists(b + "Sub/Deep/n.txt"));
  EXPECT_EQ(unread.GetUnreadCount(b + "Sub/").own, 1);
  EXPECT_EQ(unread.GetUnreadCount(b + "Sub/").total, 3);
  EXPECT_EQ(unread.GetUnreadCount(sub).total, 3);  // the original keeps its own
  EXPECT_EQ(unread.GetUnreadCount(docs).total, 6);
}

TEST_F(OpsFixture, CollisionQuestionAndAnswerUseTheItemsCharset) {
  const std::string a = dir("A"), b = dir("B");
  const std::string title = px::EncodeToCharset("Отчёт", "windows-1251");
  ASSERT_NE(title, "Отчёт");
  doc(a, "r.txt", "new", {"Title=" + title, "Charset=windows-1251"});
  writeFile(b + "r.txt", "old");
  OpItem it = item(a, "r.txt", title, b);
  it.charset = "windows-1251";
  // The dialog shows the proposal in the item's charset and returns it so.
  resolver.answers = {{CollisionAction::Rename, "", false}};
  ASSERT_TRUE(ops->RunDocOperation(opCopy, it));
  ASSERT_EQ(resolver.asked.size(), 1u);
  EXPECT_EQ(px::DecodeFromCharset(resolver.asked[0].proposedTitle, "windows-1251"), "Отчёт");
  EXPECT_EQ(readFile(b + "Отчёт.txt"), "new");
  EXPECT_EQ(readFile(b + "r.txt"), "old");

  // A name the user typed in is taken in the same charset.
  OpItem again = item(a, "r.txt", title, b);
  again.charset = "windows-1251";
  resolver.answers = {{CollisionAction::Rename, px::EncodeToCharset("Счёт", "windows-1251"), false}};
  ASSERT_TRUE(ops->RunDocOperation(opCopy, again));
  EXPECT_EQ(readFile(b + "Счёт.txt"), "new");
  EXPECT_EQ(value(b, "Счёт.txt", "Charset"), "windows-1251");
}

namespace px::store::test {

// Thrown away and restored, a document or folder that had no entry leaves none behind, in its
// folder or in the trash.
TEST_F(OpsFixture, RestoringFromTheTrashLeavesNoEmptySections) {
  struct Case {
    const char* what;
    bool folder;
    std::vector<std::string> lines;  // the entry before ("" none)
    const char* title;               // the restored entry's Title ("<none>")
  };
  const Case cases[] = {
      {"document without an entry", false, {}, "<none>"},
      {"document with a colour", false, {"Flags=4"}, "<none>"},
      {"folder without an entry", true, {}, "<none>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string a = dir(std::string("R") + (c.folder ? "F" : "D"));
    const std::string name = c.folder ? "2025" : "red.png";
    const std::string section = c.folder ? name + "." : name;
    if (c.folder) {
      px::test::makeDirs(a + name);
      writeFile(a + name + "/inside.txt", "x");
    } else {
      doc(a, name, "png", c.lines);
    }
    OpItem thrown = item(a, name, c.folder ? name : "red", trash);
    if (c.folder) thrown.ext.clear();
    ASSERT_TRUE(ops->RunDocOperation(opMove, thrown));
    EXPECT_EQ(value(trash, section, std::string(kTrashOriginKey)), a);
    EXPECT_FALSE(hasSection(a, section));
    OpItem back = item(trash, name, c.folder ? name : "red", a);
    if (c.folder) back.ext.clear();
    ASSERT_TRUE(ops->RunDocOperation(opMove, back));
    EXPECT_TRUE(exists(a + name));
    EXPECT_FALSE(hasSection(trash, section));
    EXPECT_EQ(hasSection(a, section), !c.lines.empty()) << "an empty section was left";
    EXPECT_EQ(value(a, section, std::string(kTrashOriginKey)), "<none>");
    if (!c.lines.empty()) EXPECT_EQ(value(a, section, "Flags"), "4");
  }
}

// Duplicate keeps the original's entry (colour, sticker), as a copy that is not pending.
TEST_F(OpsFixture, ADuplicateTakesACopyOfTheOriginalsEntry) {
  const std::string a = dir("Dup");
  doc(a, "pic.png", "png", {"Flags=" + std::to_string(0x0004 | 0x2000 | 0x0400), "Sticker=look", "Address=bob@x"});
  OpItem it = item(a, "pic.png", "pic");
  OpItem copy = DuplicateItem(it, "pic copy");
  ASSERT_TRUE(ops->RunDocOperation(opStoreCopy, copy));
  EXPECT_EQ(readFile(a + "pic copy.png"), "png");
  EXPECT_EQ(value(a, "pic copy.png", "Flags"), std::to_string(0x0004 | 0x2000));
  EXPECT_EQ(value(a, "pic copy.png", "Sticker"), "look");
  EXPECT_EQ(value(a, "pic copy.png", "Address"), "bob@x");
  EXPECT_EQ(value(a, "pic.png", "Flags"), std::to_string(0x0004 | 0x2000 | 0x0400));
  EXPECT_TRUE(resolver.asked.empty());
  // A taken name is asked about; the original itself holding it is not (both stay).
  doc(a, "taken.png", "other");
  OpItem onto = DuplicateItem(it, "taken");
  resolver.answers = {{CollisionAction::Skip, "", false}};
  ASSERT_TRUE(ops->RunDocOperation(opStoreCopy, onto));
  ASSERT_EQ(resolver.asked.size(), 1u);
  EXPECT_TRUE(resolver.asked[0].offerReplace);
  EXPECT_EQ(readFile(a + "taken.png"), "other");
  OpItem self = DuplicateItem(it, "pic");
  ASSERT_TRUE(ops->RunDocOperation(opStoreCopy, self));
  EXPECT_EQ(resolver.asked.size(), 1u);
  EXPECT_EQ(readFile(a + "pic (2).png"), "png");
}

}  // namespace px::store::test
