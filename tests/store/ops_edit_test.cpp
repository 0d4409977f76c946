#include "ops_fixture.h"

#include "store/desk_actions.h"
#include "store/pending_register.h"
#include "store/tree_ops.h"

#include <unistd.h>

using namespace px::store;
using namespace px::store::test;
using px::test::readFile;
using px::test::writeFile;

TEST_F(OpsFixture, DeleteRemovesFileEntryAndUnreadCount) {
  const std::string a = dir("A");
  doc(a, "d.txt", "x", {"Flags=512"});
  unread.ChangeUnreadCount(a, 1, false);
  OpItem it = item(a, "d.txt", "d");
  ASSERT_TRUE(ops->RunDocOperation(opDelete, it));
  EXPECT_FALSE(exists(a + "d.txt"));
  EXPECT_FALSE(hasSection(a, "d.txt"));
  EXPECT_EQ(unread.GetUnreadCount(a).own, 0);
}

TEST_F(OpsFixture, EmptyingTheTrashKeepsItAndNeverFollowsLinks) {
  const std::string precious = dir("Precious");
  writeFile(precious + "keep.txt", "keep");
  px::test::makeDirs(trash + "old/deeper");
  writeFile(trash + "old/deeper/f.txt", "f");
  writeFile(trash + "t.txt", "t");
  ASSERT_EQ(symlink(precious.c_str(), (trash + "link-to-precious").c_str()), 0);
  ASSERT_EQ(symlink(precious.c_str(), (trash + "old/link").c_str()), 0);
  unread.ChangeUnreadCount(trash + "old/", 2, false);
  OpItem it;
  it.folder = trash;
  ASSERT_TRUE(ops->RunDocOperation(opDeleteFolder, it));
  EXPECT_TRUE(exists(trash));
  EXPECT_FALSE(IsTrashFull(trash));
  EXPECT_EQ(readFile(precious + "keep.txt"), "keep");
  EXPECT_EQ(unread.GetUnreadCount(trash).total, 0);
}

TEST_F(OpsFixture, DeleteFolderErasesItsEntryInTheParent) {
  const std::string a = dir("A"), sub = dir("A/Sub");
  writeFile(sub + "x.txt", "x");
  {
    TPXIniFile ini(registry, IndexPathOf(a));
    ini.WriteString("Sub.", "Title", "Sub folder");
  }
  OpItem it = item(a, "Sub", "Sub folder");
  ASSERT_TRUE(ops->RunDocOperation(opDeleteFolder, it));
  EXPECT_FALSE(exists(sub));
  EXPECT_FALSE(hasSection(a, "Sub."));
}

TEST_F(OpsFixture, RenameRenamesFileAndEverySectionOfIt) {
  const std::string a = dir("A");
  doc(a, "old.txt", "o", {"Title=old", "Flags=512"});
  doc(a, "old.txt", "o", {"Flags=9216", "MsgID=r:001/001"}, "$$$7.");
  sent->WriteString("$$$LNK.r:001/001", "ID", "$$$7.old.txt");
  OpItem it = item(a, "old.txt", "old");
  it.newTitle = "New: name?";
  ASSERT_TRUE(ops->RunDocOperation(opRename, it));
  EXPECT_EQ(it.name, "New_ name_.txt");
  EXPECT_TRUE(exists(a + "New_ name_.txt"));
  EXPECT_FALSE(exists(a + "old.txt"));
  EXPECT_EQ(value(a, "New_ name_.txt", "Title"), "New: name?");
  EXPECT_EQ(value(a, "New_ name_.txt", "Flags"), "512");
  EXPECT_EQ(value(a, "$$$7.New_ name_.txt", "MsgID"), "r:001/001");
  EXPECT_EQ(value(a, "$$$7.New_ name_.txt", "Title"), "New: name?");
  EXPECT_EQ(sent->ReadString("$$$LNK.r:001/001", "ID", ""), "$$$7.New_ name_.txt");
  // Only a change of letter case: the file itself takes it.
  OpItem again = it;
  again.newTitle = "NEW_ NAME_";
  ASSERT_TRUE(ops->RunDocOperation(opRename, again));
  EXPECT_EQ(again.name, "NEW_ NAME_.txt");
  EXPECT_TRUE(exists(a + "NEW_ NAME_.txt"));
  EXPECT_FALSE(exists(a + "New_ name_.txt"));
  EXPECT_EQ(value(a, "NEW_ NAME_.txt", "Title"), "<none>");
}

TEST_F(OpsFixture, RenameEditsTheTitleInTheItemsCharset) {
  const std::string a = dir("A");
  const std::string latin = "r\xe9sum\xe9";  // "résumé" in ISO-8859-1
  doc(a, "cv.txt", "c", {"Title=" + latin, "Charset=ISO-8859-1"});
  OpItem it = item(a, "cv.txt", latin);
  it.charset = "ISO-8859-1";
  EXPECT_EQ(EditableTitle(it), "r\xc3\xa9sum\xc3\xa9");
  EXPECT_EQ(EditedTitle(it, "r\xc3\xa9sum\xc3\xa9"), latin);  // left as it was: the same bytes
  it.newTitle = EditedTitle(it, "R\xc3\xa9sum\xc3\xa9 final");
  EXPECT_EQ(it.newTitle, "R\xe9sum\xe9 final");
  ASSERT_TRUE(ops->RunDocOperation(opRename, it));
  EXPECT_EQ(it.name, "R\xc3\xa9sum\xc3\xa9 final.txt");
  EXPECT_TRUE(exists(a + "R\xc3\xa9sum\xc3\xa9 final.txt"));
  // The file name is UTF-8, the title stays in the entry's charset: it must be kept.
  EXPECT_EQ(value(a, it.name, "Title"), "R\xe9sum\xe9 final");

  // A copy elsewhere keeps the title in its charset as well.
  const std::string b = dir("B");
  OpItem c = item(a, it.name, it.newTitle, b);
  c.charset = "ISO-8859-1";
  ASSERT_TRUE(ops->RunDocOperation(opCopy, c));
  EXPECT_EQ(value(b, "R\xc3\xa9sum\xc3\xa9 final.txt", "Title"), "R\xe9sum\xe9 final");
  // The refusal looks at the name the edited text makes.
  EXPECT_EQ(RenameRefusal(b, "x.txt", "R\xc3\xa9sum\xc3\xa9 final.txt", "txt"),
            "Sorry, but you cannot rename this file to\rR\xc3\xa9sum\xc3\xa9 final.txt");
}

TEST_F(OpsFixture, DuplicateStoresACopyBesideTheDocument) {
  struct Case { bool allowed; size_t selected; bool file; DuplicateAction action; } cases[] = {
      {true, 1, true, DuplicateAction::AskName},
      {false, 1, true, DuplicateAction::Refuse},
      {true, 2, true, DuplicateAction::Nothing},
      {true, 1, false, DuplicateAction::Nothing},   // a folder, contact or group
      {true, 0, false, DuplicateAction::Nothing},
  };
  for (const auto& c : cases) EXPECT_EQ(PlanDuplicate({c.allowed, c.selected, c.file}), c.action);

  const std::string a = dir("A");
  const std::string latin = "r\xe9sum\xe9";
  doc(a, "cv.txt", "the cv", {"Title=" + latin, "Charset=ISO-8859-1", "Flags=512"});
  OpItem it = item(a, "cv.txt", latin);
  it.charset = "ISO-8859-1";
  OpItem copy = DuplicateItem(it, EditableTitle(it));
  ASSERT_TRUE(ops->RunDocOperation(opStoreCopy, copy));
  EXPECT_EQ(copy.name, "r\xc3\xa9sum\xc3\xa9.txt");
  EXPECT_EQ(readFile(a + copy.name), "the cv");
  EXPECT_EQ(value(a, copy.name, "Title"), latin);
  EXPECT_EQ(value(a, copy.name, "Charset"), "ISO-8859-1");
  // The name is taken now: the user is asked, and Keep both gives the next free name.
  OpItem again = DuplicateItem(it, EditableTitle(it));
  resolver.answers = {{CollisionAction::Rename, "", false}};
  ASSERT_TRUE(ops->RunDocOperation(opStoreCopy, again));
  ASSERT_EQ(resolver.asked.size(), 1u);
  EXPECT_EQ(resolver.asked[0].fileName, "r\xc3\xa9sum\xc3\xa9.txt");
  EXPECT_EQ(again.name, "r\xc3\xa9sum\xc3\xa9 (2).txt");
  EXPECT_EQ(readFile(a + "cv.txt"), "the cv");
}

TEST_F(OpsFixture, RenameRefusalNamesTheExistingFile) {
  const std::string a = dir("A");
  writeFile(a + "One.txt", "1");
  writeFile(a + "Two.txt", "2");
  EXPECT_EQ(RenameRefusal(a, "One.txt", "two", "txt"), "Sorry, but you cannot rename this file to\rtwo.txt");
  EXPECT_EQ(RenameRefusal(a, "One.txt", "ONE", "txt"), "");
  EXPECT_EQ(RenameRefusal(a, "One.txt", "Three", "txt"), "");
}

TEST_F(OpsFixture, RenameFolderCarriesItsCount) {
  const std::string a = dir("A"), sub = dir("A/Old");
  unread.ChangeUnreadCount(sub, 3, false);
  OpItem it = item(a, "Old", "Old");
  it.ext.clear();
  it.newTitle = "Renamed";
  ASSERT_TRUE(ops->RunDocOperation(opRename, it));
  EXPECT_TRUE(IsDirectory(a + "Renamed"));
  EXPECT_EQ(unread.GetUnreadCount(a + "Renamed/").own, 3);
  EXPECT_EQ(unread.GetUnreadCount(a).total, 3);
}

TEST_F(OpsFixture, CreateFolderAndStoreFilesNameThemAfterTheirTitles) {
  const std::string a = dir("A");
  OpItem f = item(a, "", "Projects");
  ASSERT_TRUE(ops->RunDocOperation(opCreateFolder, f));
  OpItem f2 = item(a, "", "projects");
  ASSERT_TRUE(ops->RunDocOperation(opCreateFolder, f2));
  EXPECT_TRUE(IsDirectory(a + "Projects"));
  EXPECT_EQ(f2.name, "projects (2)");
  EXPECT_EQ(value(a, "projects (2).", "Title"), "<none>");
  OpItem g = item(contacts, "", "Friends");
  ASSERT_TRUE(ops->RunDocOperation(opCreateFolder, g));
  EXPECT_EQ(value(contacts, "Friends.", "Title"), "Friends");  // an address group

  const std::string src = home.path("incoming.bin");
  writeFile(src, "payload");
  OpItem s = item(a, "", "Invoice: March");
  s.sourceFile = src;
  s.ext = "pdf";
  s.charset = "utf-8";
  ASSERT_TRUE(ops->RunDocOperation(opStoreCopy, s));
  EXPECT_EQ(readFile(a + "Invoice_ March.pdf"), "payload");
  EXPECT_EQ(value(a, "Invoice_ March.pdf", "Title"), "Invoice: March");
  EXPECT_EQ(value(a, "Invoice_ March.pdf", "Charset"), "utf-8");
  EXPECT_TRUE(exists(src));

  // Store by moving: a name that exists is asked about and may be replaced.
  resolver.answers.push_back({CollisionAction::Replace, "", false});
  OpItem m = item(a, "", "Invoice: March");
  m.sourceFile = src;
  m.ext = "pdf";
  writeFile(src, "newer");
  ASSERT_TRUE(ops->RunDocOperation(opStoreMove, m));
  ASSERT_EQ(resolver.asked.size(), 1u);
  EXPECT_FALSE(resolver.asked[0].severalItems);
  EXPECT_EQ(readFile(a + "Invoice_ March.pdf"), "newer");
  EXPECT_FALSE(exists(src));

  // Replacing an unread document takes its unread count with it.
  {
    TPXIniFile ini(registry, IndexPathOf(a));
    ini.WriteString("Invoice_ March.pdf", "Flags", "512");
  }
  unread.ChangeUnreadCount(a, 1, false);
  resolver.answers.push_back({CollisionAction::Replace, "", false});
  OpItem r = item(a, "", "Invoice: March");
  r.sourceFile = src;
  r.ext = "pdf";
  writeFile(src, "newest");
  ASSERT_TRUE(ops->RunDocOperation(opStoreMove, r));
  EXPECT_EQ(readFile(a + "Invoice_ March.pdf"), "newest");
  EXPECT_EQ(value(a, "Invoice_ March.pdf", "Flags"), "<none>");
  EXPECT_EQ(unread.GetUnreadCount(a).own, 0);
}

TEST_F(OpsFixture, SmallIndexEditsKeepUnreadCountsRight) {
  const std::string a = dir("A");
  doc(a, "m.txt", "m", {"Flags=4609"});
  unread.ChangeUnreadCount(a, 1, false);
  OpItem it = item(a, "m.txt", "m");
  it.flags = 0x1001;  // read
  ASSERT_TRUE(ops->RunDocOperation(opWriteFlags, it));
  EXPECT_EQ(unread.GetUnreadCount(a).own, 0);
  it.flags = 0x1201;
  ASSERT_TRUE(ops->RunDocOperation(opWriteFlags, it));
  ASSERT_TRUE(ops->RunDocOperation(opWriteFlags, it));  // unchanged: counted once
  EXPECT_EQ(unread.GetUnreadCount(a).own, 1);
  it.sticker = "note~line";
  ASSERT_TRUE(ops->RunDocOperation(opWriteSticker, it));
  EXPECT_EQ(value(a, "m.txt", "Sticker"), "note~line");
  it.sticker.clear();
  ASSERT_TRUE(ops->RunDocOperation(opWriteSticker, it));
  EXPECT_EQ(value(a, "m.txt", "Sticker"), "<none>");
  it.charset = "koi8-r";
  ASSERT_TRUE(ops->RunDocOperation(opWriteCharset, it));
  EXPECT_EQ(value(a, "m.txt", "Charset"), "koi8-r");
  it.newTitle = "Retitled";
  ASSERT_TRUE(ops->RunDocOperation(opSetTitle, it));
  EXPECT_EQ(value(a, "m.txt", "Title"), "Retitled");
  EXPECT_TRUE(exists(a + "m.txt"));
}

TEST_F(OpsFixture, ContactEntriesAreCreatedOnceAndUpdated) {
  const std::string a = dir("A");
  OpItem c = item(a, "", "Ann");
  c.address = "ann@x";
  ASSERT_TRUE(ops->RunDocOperation(opCreateContact, c));
  EXPECT_EQ(value(contacts, c.name, "Address"), "ann@x");
  EXPECT_TRUE(hasSection(a, "$$$AB." + c.name));
  OpItem again = item(a, "", "Ann B");
  again.address = "ann@x";
  ASSERT_TRUE(ops->RunDocOperation(opCreateContact, again));
  EXPECT_EQ(again.name, c.name);  // the entry with that address is reused
  EXPECT_EQ(value(contacts, c.name, "Title"), "Ann B");
  OpItem up = item(contacts, c.name, "Ann C");
  up.address = "ann@y";
  up.addresses = "ann@z";
  ASSERT_TRUE(ops->RunDocOperation(opUpdateContact, up));
  EXPECT_EQ(value(contacts, c.name, "Addresses"), "ann@z");
  writeFile(contacts + c.name, "BEGIN:VCARD");
  ASSERT_TRUE(ops->RunDocOperation(opStampContact, up));
  EXPECT_NE(value(contacts, c.name, "Time"), "<none>");
}

TEST_F(OpsFixture, UnknownRequestIsReported) {
  OpItem it;
  EXPECT_FALSE(ops->RunDocOperation(99, it));
  EXPECT_EQ(lastMessage(), "Unknown request (99)");
}

TEST_F(OpsFixture, RunningFlagIsSetForTheWholeRunOnly) {
  bool running = false;
  OpServices s = ops->Services();
  s.running = &running;
  DocOperations flagged(s, collaborators());
  const std::string a = dir("A");
  doc(a, "x.txt", "x", {"Flags=0"});
  doc(a, "y.txt", "y", {"Flags=0"});
  std::vector<OpItem> items{item(a, "x.txt", "x"), item(a, "y.txt", "y")};
  items[0].flags = items[1].flags = dfUnread;
  std::vector<bool> seen;
  flagged.RunOnSelection(opWriteFlags, items, [&](OpItem&, bool) { seen.push_back(running); });
  EXPECT_EQ(seen, (std::vector<bool>{true, true}));
  EXPECT_FALSE(running);
  // A run inside a run (a message's own follow-up) leaves the outer run's flag alone.
  running = true;
  flagged.RunDocOperation(opWriteFlags, items[0]);
  EXPECT_TRUE(running);
}

TEST_F(OpsFixture, OpenDocumentsAreNotTouched) {
  struct Open : OpenDocuments {
    std::string path, raised;
    bool IsOpen(const std::string& p) const override { return p == path; }
    bool AnyOpenBelow(const std::string& f) const override { return path.rfind(f, 0) == 0; }
    void BringForward(const std::string& p) override { raised = p; }
  } open;
  DocOperations guarded(ops->Services(), {resolver, open, noQuickboard, noRules, noPending});
  const std::string a = dir("A");
  doc(a, "o.txt", "o", {"Flags=0"});
  open.path = a + "o.txt";
  std::vector<OpItem> items{item(a, "o.txt", "o")};
  EXPECT_EQ(guarded.RunOnSelection(opDelete, items), 0u);
  EXPECT_EQ(open.raised, a + "o.txt");
  EXPECT_TRUE(exists(a + "o.txt"));
  OpItem t;
  t.folder = a;
  EXPECT_FALSE(guarded.RunDocOperation(opDeleteFolder, t));
  EXPECT_TRUE(exists(a + "o.txt"));
}

TEST(OpsDeskActions, DeletePlans) {
  struct Case {
    DeleteRequest r;
    DeleteAction action;
    int code;
    std::string_view refusal;
  };
  auto req = [](auto f) {
    DeleteRequest r;
    f(r);
    return r;
  };
  const Case cases[] = {
      {req([](DeleteRequest& r) { r.onQuickboardButton = true; r.anySelected = true; }), DeleteAction::ClearQuickboardButton, 0, ""},
      {req([](DeleteRequest& r) { r.trashFull = true; }), DeleteAction::AskEmptyTrash, opDeleteFolder, ""},
      {req([](DeleteRequest& r) { r.trashFull = true; r.openInTrash = true; }), DeleteAction::Refuse, 0, kOpenInTrash},
      {req([](DeleteRequest&) {}), DeleteAction::Nothing, 0, ""},
      {req([](DeleteRequest& r) { r.onFolder = true; r.folderDeletable = false; }), DeleteAction::Refuse, 0, kCannotDeleteFolder},
      {req([](DeleteRequest& r) { r.onFolder = true; r.openBelowFolder = true; }), DeleteAction::Refuse, 0, kOpenBelowFolder},
      {req([](DeleteRequest& r) { r.onFolder = true; }), DeleteAction::MoveToTrash, opMove, ""},
      {req([](DeleteRequest& r) { r.onFolder = true; r.insideTrash = true; }), DeleteAction::DeleteFinal, opDeleteFolder, ""},
      {req([](DeleteRequest& r) { r.anySelected = true; r.filesDeletable = false; }), DeleteAction::Refuse, 0, kCannotDeleteFiles},
      {req([](DeleteRequest& r) { r.anySelected = true; r.onSticker = true; }), DeleteAction::RemoveSticker, opWriteSticker, ""},
      {req([](DeleteRequest& r) { r.anySelected = true; }), DeleteAction::MoveToTrash, opMove, ""},
      {req([](DeleteRequest& r) { r.anySelected = true; r.contactsTab = true; }), DeleteAction::DeleteFinal, opDelete, ""},
  };
  int i = 0;
  for (const auto& c : cases) {
    DeletePlan p = PlanDelete(c.r);
    EXPECT_EQ(p.action, c.action) << i;
    EXPECT_EQ(p.code, c.code) << i;
    EXPECT_EQ(p.refusal, c.refusal) << i;
    ++i;
  }
  EXPECT_EQ(TrashImagesFor(true).toolbarImage, 5);
  EXPECT_EQ(TrashImagesFor(false).treeImage, 5);
  EXPECT_FALSE(TrashImagesFor(false).expandButton);
}

TEST_F(OpsFixture, OutboxOnAPendingDocumentActsOnItsEntry) {
  const std::string a = dir("A");
  doc(a, "d.txt", "d", {"Title=D"});
  OpItem it = item(a, "d.txt", "D");
  it.address = "bob@x";
  std::vector<OpItem> one{it};
  ASSERT_EQ(ops->RunOnSelection(opOutbox, one), 1u);
  const std::string section = one[0].Section();
  const std::string msgId = one[0].msgId;
  ASSERT_FALSE(msgId.empty());
  const size_t entries = sections(a).size();

  // Put into the outbox again, as it is and with other recipients: still one outgoing entry
  // under the same MsgID, one link in sent.ini.
  for (const char* address : {"", "ann@x, carl@x"}) {
    SCOPED_TRACE(address);
    OpItem again = item(a, one[0].name, "D");
    again.prefix = one[0].prefix;
    again.flags = one[0].flags;
    again.address = address;
    std::vector<OpItem> sel{again};
    ASSERT_EQ(ops->RunOnSelection(opOutbox, sel), 1u);
    EXPECT_EQ(sel[0].msgId, msgId);
    EXPECT_EQ(sel[0].Section(), section);
    EXPECT_EQ(sections(a).size(), entries);
    EXPECT_EQ(value(a, section, "MsgID"), msgId);
    px::StringList links;
    sent->ReadSections(links);
    EXPECT_EQ(links.size(), 1u);
  }
  EXPECT_EQ(value(a, section, "Address"), "ann@x, carl@x");
}

TEST_F(OpsFixture, PendingFoldersFollowTheOperations) {
  std::vector<std::string> pending;
  int repaints = 0;
  PendingRegisterRefresh refresh([this]() -> px::TPXCustomIni* { return sent.get(); }, pending,
                                 [&repaints] { ++repaints; });
  OpServices s;
  s.registry = &registry;
  s.random = &random;
  s.messages = &messages;
  s.unread = &unread;
  s.sent = sent.get();
  s.documentsFolder = docs;
  s.trashFolder = trash;
  s.contactsFolder = contacts;
  DocOperations withRefresh(std::move(s), {resolver, noOpenDocs, noQuickboard, noRules, refresh});
  const std::string a = dir("A");
  doc(a, "d.txt", "d");
  OpItem it = item(a, "d.txt", "D");
  it.address = "bob@x";
  std::vector<OpItem> sel{it};
  ASSERT_EQ(withRefresh.RunOnSelection(opOutbox, sel), 1u);
  EXPECT_EQ(pending, std::vector<std::string>{a});
  EXPECT_EQ(repaints, 1);
  // Moved on: the mark follows it.
  const std::string b = dir("B");
  sel[0].targetFolder = b;
  ASSERT_EQ(withRefresh.RunOnSelection(opMove, sel), 1u);
  EXPECT_EQ(pending, std::vector<std::string>{b});
  // Deleted: no pending mail is left.
  ASSERT_EQ(withRefresh.RunOnSelection(opDelete, sel), 1u);
  EXPECT_TRUE(pending.empty());
  EXPECT_EQ(repaints, 3);
}

TEST_F(OpsFixture, OutboxFlagsAndRecipientsOfAPendingMessage) {
  const std::string a = dir("A");
  // A received message sent on: kept bits, resent, encrypted, draft.
  doc(a, "m.txt", "m", {"Title=Hello", "Flags=" + std::to_string(0x1201 | 0x0100 | 0x8000)});
  OpItem it = item(a, "m.txt", "Hello");
  it.flags = 0x1201 | 0x0100 | 0x8000;
  it.address = "\"Friends (GROUP)\", bob@x";
  it.excludeTo = "ann@x,carl@x";
  it.encrypt = true;
  it.draft = true;
  ASSERT_TRUE(ops->RunDocOperation(opOutbox, it));
  const int want = ((0x1201 | 0x0100 | 0x8000) & 0xC921) | 0x2400 | 0x0080 | 0x0040 | 0x4000;
  EXPECT_EQ(it.flags, want);
  EXPECT_EQ(value(a, it.Section(), "Flags"), std::to_string(want));
  EXPECT_EQ(sent->ReadString("$$$LNK." + it.msgId, "Flags", ""), std::to_string(want));
  EXPECT_EQ(value(a, "m.txt", "Flags"), std::to_string(0x1201 | 0x0100 | 0x8000));  // own entry kept

  // A plain pending message: an address is added once, a removed group takes its members
  // out of ExcludeTo, and with no group left ExcludeTo goes.
  doc(a, "p.txt", "p", {"Title=P", "Flags=" + std::to_string(0x2400),
                         "Address=Friends (GROUP), Team (GROUP), bob@x", "ExcludeTo=ann@x,tom@x"});
  OpItem add = item(a, "p.txt", "P");
  add.flags = 0x2400;
  add.dropAddress = "eve@x";
  ASSERT_TRUE(ops->RunDocOperation(opOutbox, add));
  ASSERT_TRUE(ops->RunDocOperation(opOutbox, add));
  EXPECT_EQ(value(a, "p.txt", "Address"), "Friends (GROUP), Team (GROUP), bob@x, eve@x");
  OpItem drop = add;
  drop.removeAddress = true;
  drop.dropAddress = "Friends (GROUP)";
  drop.dropMembers = {"\"Ann\" <ann@x>", "bob@x"};
  ASSERT_TRUE(ops->RunDocOperation(opOutbox, drop));
  EXPECT_EQ(value(a, "p.txt", "ExcludeTo"), "tom@x");
  EXPECT_EQ(value(a, "p.txt", "Address").find("Friends"), std::string::npos);
  drop.dropAddress = "Team (GROUP)";
  drop.dropMembers = {"tom@x"};
  ASSERT_TRUE(ops->RunDocOperation(opOutbox, drop));
  EXPECT_EQ(value(a, "p.txt", "ExcludeTo"), "<none>");
  EXPECT_FALSE(hasSection(a, "$$$1.p.txt"));  // no second outgoing entry was made
  EXPECT_EQ(sections(a).size(), 3u);

  // A contact card in the documents folder goes out under its own entry.
  doc(docs, "Bob.vcf", "BEGIN:VCARD", {"Title=Bob"});
  OpItem card = item(docs, "Bob.vcf", "Bob");
  card.address = "ann@x";
  ASSERT_TRUE(ops->RunDocOperation(opOutbox, card));
  EXPECT_EQ(card.prefix, "");
  EXPECT_EQ(value(docs, "Bob.vcf", "Flags"), std::to_string(0x2400));
}
