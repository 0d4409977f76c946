// Listing a folder from disk: which files are listed, how tagged sections resolve, what is
// erased from the index and what is kept, unread reconciliation and the search.
#include "listing_fixture.h"
#include "store/move_journal.h"

#include "foundation/dates.h"
#include "store/unread_list.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <fcntl.h>
#include <unistd.h>

namespace px::store::listing_test {
namespace {

using ::testing::ElementsAre;

class ListingFetch : public ListingFixture {};

TEST_F(ListingFetch, ListsRegularFilesOnlyAndNeverLeavesTheFolder) {
  touch(docs + "a.txt");
  touch(docs + ".hidden");
  touch(docs + "PLUMADEX.INI.bak");  // not an index file name: listed
  test::makeDirs(docs + "sub");
  ASSERT_EQ(::mkfifo((docs + "fifo").c_str(), 0600), 0);
  {
    int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::string p = docs + "sock";
    if (p.size() < sizeof addr.sun_path) {
      std::copy(p.begin(), p.end(), addr.sun_path);
      ::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    }
    ::close(s);
  }
  touch(home.path("outside.txt"));
  ASSERT_EQ(::symlink(home.path("outside.txt").c_str(), (docs + "out-link").c_str()), 0);
  ASSERT_EQ(::symlink("a.txt", (docs + "in-link").c_str()), 0);
  ASSERT_EQ(::symlink("missing", (docs + "dangling").c_str()), 0);
  ASSERT_EQ(::symlink("loop2", (docs + "loop1").c_str()), 0);
  ASSERT_EQ(::symlink("loop1", (docs + "loop2").c_str()), 0);
  ASSERT_EQ(::symlink("sub", (docs + "dir-link").c_str()), 0);
  // A hidden file's section shows nothing; an index under another case is hidden too.
  writeIndex(docs, "[.hidden]\nTitle=secret\n\n[a.txt]\nTitle=Alpha\n");
  touch(docs + "plumadex.ini", "[x]\n");

  DocRows rows = list(docs);
  EXPECT_THAT(names(rows), ElementsAre("PLUMADEX.INI.bak", "a.txt", "in-link"));
  EXPECT_EQ(find(rows, "a.txt")->title, "Alpha");
  EXPECT_EQ(last.folderError, 0);
}

TEST_F(ListingFetch, SectionsOfGoneFilesStayAndShowNothing) {
  touch(docs + "here.txt");
  writeIndex(docs, "[gone.txt]\nTitle=Gone\n\n[here.txt]\nTitle=Here\n");
  DocRows rows = list(docs);
  EXPECT_THAT(names(rows), ElementsAre("here.txt"));
  EXPECT_TRUE(indexHas(docs, "gone.txt"));
  EXPECT_EQ(last.erased, 0u);
}

TEST_F(ListingFetch, FolderWithoutIndexListsDefaultTitles) {
  touch(docs + "Report 2024.final.pdf", "12345");
  DocRows rows = list(docs);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].title, "Report 2024.final");
  EXPECT_EQ(rows[0].ext, "pdf");
  EXPECT_EQ(rows[0].size, 5u);
  EXPECT_EQ(rows[0].folder, docs);
  // The same local time as the program's other file-date readers, to the millisecond.
  EXPECT_NEAR(rows[0].date, FileTimeOf(docs + "Report 2024.final.pdf"), 1.0 / 86400000);
  EXPECT_FALSE(test::readFile(docs + "Plumadex.ini").size());  // nothing written
}

TEST_F(ListingFetch, FileDatesAreLocalTimeAcrossTheYear) {
  // Winter, summer, and the hours around a change of the clocks share the offset cache.
  const int64_t stamps[] = {1700000000, 1690000000, 1711846800, 1711850400, 1729990800, 1729994400, 0, 4102444800};
  for (int64_t t : stamps) {
    const std::string path = docs + "t" + std::to_string(t) + ".txt";
    touch(path);
    timespec times[2] = {{static_cast<time_t>(t), 500000000}, {static_cast<time_t>(t), 500000000}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  }
  DocRows rows = list(docs);
  ASSERT_EQ(rows.size(), std::size(stamps));
  for (const DocRecord& r : rows)
    EXPECT_NEAR(r.date, FileTimeOf(docs + r.name), 1.0 / 86400000) << r.name;
}

TEST_F(ListingFetch, NamesMatchSectionsWithoutRegardToCase) {
  touch(docs + "Mixed.TXT");
  touch(docs + "Ünïcode.txt");
  touch(docs + "Same.txt");
  touch(docs + "same.txt");
  touch(docs + "plain.txt");
  writeIndex(docs, "[mixed.txt]\nTitle=Found\n\n[üNÏCODE.TXT]\nTitle=Found too\n\n"
                   "[SAME.TXT]\nTitle=Shared\nFlags=4096\nTime=01/02/03 04:05:06\n\n[stale.txt]\nTitle=x\n");
  DocRows rows = list(docs);
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(find(rows, "Mixed.TXT")->title, "Found");
  EXPECT_EQ(find(rows, "Ünïcode.txt")->title, "Found too");
  // Names that differ only in letter case share their section.
  for (const char* n : {"Same.txt", "same.txt"}) {
    const DocRecord* r = find(rows, n);
    ASSERT_NE(r, nullptr) << n;
    EXPECT_EQ(r->title, "Shared");
    EXPECT_DOUBLE_EQ(r->date, MakeDateTime(2003, 1, 2, 4, 5, 6));
  }
  EXPECT_EQ(find(rows, "plain.txt")->title, "plain");
}

TEST_F(ListingFetch, ContactReferences) {
  touch(docs + "doc.txt");
  touch(contacts + "ann.vcf");
  touch(contacts + "kept.vcf");  // file there, section missing: the contacts index is damaged
  writeIndex(contacts, "[ann.vcf]\nTitle=Ann Lee\nAddress=ann@x.org\nFlags=70\n");
  writeIndex(docs,
             "[$$$AB.ann.vcf]\nFlags=4614\nSticker=note\n\n"
             "[$$$AB.deleted.vcf]\nFlags=2\n\n"
             "[$$$AB.kept.vcf]\nFlags=2\n");
  DocRows rows = list(docs);
  const DocRecord* ann = find(rows, "ann.vcf", "$$$AB.");
  ASSERT_NE(ann, nullptr);
  EXPECT_EQ(ann->title, ",Ann Lee");
  EXPECT_EQ(ann->ext, "vcf");
  EXPECT_EQ(ann->address, "ann@x.org");
  EXPECT_EQ(ann->shownAddress, "ann@x.org");
  EXPECT_EQ(ann->folder, docs);
  EXPECT_EQ(ann->size, 0u);
  // Colour from this folder's entry, the encryption bit from the contact; nothing else.
  EXPECT_EQ(ann->flags, (4614 & dfColourMask) | dfEncrypted);
  EXPECT_EQ(ann->sticker, "note");
  EXPECT_GT(ann->date, NowDateTime() + 99999);
  EXPECT_EQ(find(rows, "kept.vcf", "$$$AB."), nullptr);
  EXPECT_FALSE(indexHas(docs, "$$$AB.deleted.vcf"));
  EXPECT_TRUE(indexHas(docs, "$$$AB.kept.vcf"));
  EXPECT_EQ(last.erased, 1u);
}

TEST_F(ListingFetch, EntryOfAMissingFileStaysWhileABatchJournalNamesIt) {
  // A batch stopped by a crash moved moved.txt away before its entry was saved: the entry is
  // found again by the journal at the next start and must not be erased before that.
  writeIndex(docs, "[$$$7.moved.txt]\nTitle=Moved\n\n[$$$8.gone.txt]\nTitle=Gone\n");
  test::makeDirs(ctx.dataRoot);
  JournalItem item;
  item.folder = docs;
  item.name = "moved.txt";
  item.section = "$$$7.moved.txt";
  item.targetFolder = home.path("Documents/G/");
  item.lines = {"Title=Moved"};
  BatchJournal journal(JournalFolderOf(ctx.dataRoot));
  ASSERT_EQ(journal.Begin({item}, true), 0);
  list(docs);
  EXPECT_EQ(last.erased, 1u);
  EXPECT_TRUE(indexHas(docs, "$$$7.moved.txt"));
  EXPECT_FALSE(indexHas(docs, "$$$8.gone.txt"));
}

TEST_F(ListingFetch, ContactReferencesSurviveAMissingContactsFolder) {
  touch(docs + "doc.txt");
  writeIndex(docs, "[$$$AB.ann.vcf]\nFlags=2\n");
  ctx.contactsFolder = home.path("unmounted/Contacts/");
  list(docs);
  ctx.contactsFolder.clear();
  list(docs);
  EXPECT_TRUE(indexHas(docs, "$$$AB.ann.vcf"));
}

TEST_F(ListingFetch, ContactReferencesAreSkippedDuringASearchOffTheContactsTab) {
  touch(contacts + "ann.vcf");
  writeIndex(contacts, "[ann.vcf]\nTitle=Ann\n");
  writeIndex(docs, "[$$$AB.ann.vcf]\nFlags=2\n");
  ctx.searchMatches = [](const DocRecord&) { return true; };
  EXPECT_EQ(find(list(docs), "ann.vcf", "$$$AB."), nullptr);
  ctx.contactsTabShown = true;
  EXPECT_NE(find(list(docs), "ann.vcf", "$$$AB."), nullptr);
}

TEST_F(ListingFetch, Links) {
  const std::string other = home.path("Documents/Other/");
  test::makeDirs(other);
  touch(other + "target.pdf", "123456");
  touch(other + "nosection.doc");
  touch(other + "tagged.jpg");
  writeIndex(other, "[target.pdf]\nTitle=Target title\nFlags=8\n\n[$$$T.tagged.jpg]\nTitle=Tagged\n");
  writeIndex(docs,
             "[$$$LNK.good]\nPath=" + other + "\nID=target.pdf\n\n"
             "[$$$LNK.tag]\nPath=" + other + "\nID=$$$T.tagged.jpg\n\n"
             "[$$$LNK.nosection]\nPath=" + other + "\nID=nosection.doc\n\n"
             "[$$$LNK.filegone]\nPath=" + other + "\nID=vanished.doc\n\n"
             "[$$$LNK.unmounted]\nPath=" + home.path("media/usb/") + "\nID=x.doc\n\n"
             "[$$$LNK.windows]\nPath=C:\\Documents\\Mail\\\nID=x.doc\n\n"
             "[$$$LNK.escape]\nPath=" + other + "\nID=../Other/target.pdf\n");
  DocRows rows = list(docs);

  const DocRecord* good = find(rows, "good", "$$$LNK.");
  ASSERT_NE(good, nullptr);
  EXPECT_EQ(good->title, "Target title");
  EXPECT_EQ(good->flags, 8);
  EXPECT_EQ(good->size, 6u);
  EXPECT_EQ(good->target, other + "target.pdf");
  EXPECT_EQ(good->ext, "pdf");
  EXPECT_EQ(good->folder, docs);
  const DocRecord* tag = find(rows, "tag", "$$$LNK.");
  ASSERT_NE(tag, nullptr);
  EXPECT_EQ(tag->title, "Tagged");
  EXPECT_EQ(tag->ext, "jpg");

  EXPECT_EQ(rows.size(), 2u);
  // A target with no entry and a target whose file is gone are dropped; a folder that is not
  // there (or not a Linux path) proves nothing, and neither does a name that is not a file name.
  EXPECT_FALSE(indexHas(docs, "$$$LNK.nosection"));
  EXPECT_FALSE(indexHas(docs, "$$$LNK.filegone"));
  EXPECT_TRUE(indexHas(docs, "$$$LNK.unmounted"));
  EXPECT_TRUE(indexHas(docs, "$$$LNK.windows"));
  EXPECT_TRUE(indexHas(docs, "$$$LNK.escape"));
  EXPECT_TRUE(indexHas(docs, "$$$LNK.good"));
  EXPECT_EQ(last.erased, 2u);
}

TEST_F(ListingFetch, LinkWithoutPathOrIdPointsIntoThisFolder) {
  touch(docs + "real.txt");
  writeIndex(docs, "[$$$LNK.real.txt]\nTitle=ignored\n\n[real.txt]\nTitle=Real\n");
  DocRows rows = list(docs);
  const DocRecord* link = find(rows, "real.txt", "$$$LNK.");
  ASSERT_NE(link, nullptr);
  EXPECT_EQ(link->title, "Real");
  EXPECT_EQ(link->target, docs + "real.txt");
}

TEST_F(ListingFetch, TaggedDocumentsOfThisFolder) {
  touch(docs + "Photo.JPG");
  writeIndex(docs,
             "[$$$PIC.photo.jpg]\nTitle=Holiday\nFlags=4\n\n"
             "[$$$PIC.gone.jpg]\nTitle=Gone\n\n"
             "[$$$PIC.sub/x.jpg]\nTitle=Not a file name\n");
  DocRows rows = list(docs);
  const DocRecord* tagged = find(rows, "photo.jpg", "$$$PIC.");
  ASSERT_NE(tagged, nullptr);
  EXPECT_EQ(tagged->title, "Holiday");
  EXPECT_EQ(tagged->size, 1u);
  EXPECT_NE(find(rows, "Photo.JPG"), nullptr);  // the file itself is listed too
  EXPECT_FALSE(indexHas(docs, "$$$PIC.gone.jpg"));
  EXPECT_TRUE(indexHas(docs, "$$$PIC.sub/x.jpg"));
}

TEST_F(ListingFetch, UnreadCountIsReconciled) {
  for (const char* f : {"msg.txt", "a1.pdf", "a2.pdf", "other.txt", "read.txt"}) touch(docs + f);
  writeIndex(docs,
             "[msg.txt]\nFlags=4609\nMsgID=b:001/003\n\n"
             "[a1.pdf]\nFlags=4609\nMsgID=b:002/003\n\n"
             "[a2.pdf]\nFlags=4609\nMsgID=b:003/003\n\n"
             "[other.txt]\nFlags=512\n\n"
             "[read.txt]\nFlags=4097\n");
  UnreadList unread;
  unread.ChangeUnreadCount(docs, 9, false);
  UnreadListCounter counter(unread);
  ctx.unread = &counter;
  list(docs);
  EXPECT_EQ(last.unread, 2);
  EXPECT_EQ(unread.GetUnreadCount(docs).own, 2);
  // A search lists only part of the folder: the count is left alone.
  unread.ChangeUnreadCount(docs, 5, false);
  ctx.searchMatches = [](const DocRecord&) { return false; };
  list(docs);
  EXPECT_EQ(unread.GetUnreadCount(docs).own, 5);
}

TEST_F(ListingFetch, UnreadableIndexLeavesTheUnreadCountAlone) {
  touch(docs + "msg.txt");
  test::makeDirs(docs + "Plumadex.ini");  // cannot be read as a file
  UnreadList unread;
  unread.ChangeUnreadCount(docs, 3, false);
  UnreadListCounter counter(unread);
  ctx.unread = &counter;
  DocRows rows = list(docs);
  EXPECT_EQ(rows.size(), 1u);
  EXPECT_EQ(last.unread, -1);
  EXPECT_EQ(unread.GetUnreadCount(docs).own, 3);
}

TEST_F(ListingFetch, LargeIndexIsReadBesideTheFolder) {
  // An index this size is loaded while another thread reads the folder.
  std::string index;
  for (int i = 0; i < 3000; ++i) {
    index += "[f" + std::to_string(i) + ".txt]\nTitle=Title " + std::to_string(i) + "\nFlags=4609\nAddress=" +
             std::string(80, 'a') + "@x.org\nMsgID=m" + std::to_string(i) + ":001/001\n\n";
    if (i % 60 == 0) touch(docs + "f" + std::to_string(i) + ".txt");
  }
  touch(docs + "no-section.txt");
  writeIndex(docs, index);
  ASSERT_GT(test::readFile(docs + "Plumadex.ini").size(), 256u * 1024);
  UnreadList unread;
  UnreadListCounter counter(unread);
  ctx.unread = &counter;
  DocRows rows = list(docs);
  ASSERT_EQ(rows.size(), 51u);
  EXPECT_EQ(find(rows, "f120.txt")->title, "Title 120");
  EXPECT_EQ(find(rows, "no-section.txt")->title, "no-section");
  EXPECT_EQ(unread.GetUnreadCount(docs).own, 50);
}

TEST_F(ListingFetch, HiddenContactsAreRead) {
  writeIndex(docs, "[$$.Plumadex]\nHide Contacts=Ann@X.org, bob ,ann@x.org\n");
  StringList hidden = {"stale"};
  ctx.hiddenContacts = &hidden;
  list(docs);
  EXPECT_THAT(hidden, ElementsAre("ann@x.org", "bob"));
  writeIndex(docs, "");
  list(docs);
  EXPECT_TRUE(hidden.empty());
}

TEST_F(ListingFetch, ForeignAndDamagedInputNeverLosesSections) {
  // Names with a line break, a tab and invalid UTF-8 are listed as they are.
  touch(docs + "line\nbreak.txt");
  touch(docs + std::string("bad\xff\xfe.txt"));
  touch(docs + "tab\there.txt");
  std::string index =
      "junk before any section\r\n"
      "[bad\xff\xfe.txt]\r\nTitle=Bytes\r\n\r\n"
      "[dup.txt]\r\nTitle=first\r\n[DUP.TXT]\r\nTitle=second\r\n"
      "[$$$]\r\nTitle=no dot\r\n"
      "[$$$.]\r\nTitle=empty name\r\n"
      "[$$$LNK.]\r\nPath=\r\n"
      "[$$$AB.../../etc/passwd]\r\n"
      "[$$$LNK.huge]\r\nPath=" + std::string(5000, '/') + "\r\nID=" + std::string(70000, 'a') + "\r\n"
      "no equals sign here\r\n"
      "[$$$PIC.gone.jpg]\r\nTitle=erased, so the index is saved\r\n"
      "[binary]\r\n" + std::string("\x01\x02=\x03\x00\x04", 6) + "\r\n";
  test::writeFile(docs + "Plumadex.ini", index);
  touch(contacts + "x.vcf");
  DocRows rows = list(docs);
  EXPECT_NE(find(rows, "line\nbreak.txt"), nullptr);
  EXPECT_NE(find(rows, "tab\there.txt"), nullptr);
  const DocRecord* bad = find(rows, std::string("bad\xff\xfe.txt"));
  ASSERT_NE(bad, nullptr);
  EXPECT_EQ(bad->title, "Bytes");
  EXPECT_EQ(rows.size(), 3u);
  EXPECT_EQ(last.erased, 1u);
  EXPECT_TRUE(last.saveStatus.ok());
  const std::string after = readIndex(docs);
  for (const char* kept : {"[$$$]", "[$$$.]", "[$$$LNK.]", "[$$$AB.../../etc/passwd]", "[$$$LNK.huge]", "[binary]"})
    EXPECT_NE(after.find(kept), std::string::npos) << kept;
  // The temporary folder's clean-up cannot remove a name that is not UTF-8.
  ::unlink((docs + std::string("bad\xff\xfe.txt")).c_str());
}

TEST_F(ListingFetch, MissingFolderIsAnErrorNotAnEmptyIndex) {
  DocRows rows = list(home.path("nowhere/"));
  EXPECT_TRUE(rows.empty());
  EXPECT_EQ(last.folderError, ENOENT);
  struct stat st;
  EXPECT_NE(::stat(home.path("nowhere").c_str(), &st), 0);
}

TEST_F(ListingFetch, RowsAreAppendedAndSortedWithWhatWasThere) {
  touch(docs + "b.txt");
  writeIndex(docs, "[b.txt]\nTitle=B\n");
  DocRows rows(1);
  rows[0].folder = "/elsewhere/";
  rows[0].name = rows[0].title = "A";
  ctx.sorting = 4;
  last = FetchDocs(ctx, false, docs, rows);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].title, "A");
  EXPECT_EQ(rows[1].title, "B");
  EXPECT_EQ(last.added, 1u);
}

TEST_F(ListingFetch, ForegroundSearchKeepsBundlesTogether) {
  for (const char* f : {"msg.txt", "att.pdf", "plain.doc", "other.txt"}) touch(docs + f);
  writeIndex(docs,
             "[att.pdf]\nTitle=zzz attachment\nMsgID=b:002/002\n\n"
             "[msg.txt]\nTitle=hit message\nMsgID=b:001/002\n\n"
             "[plain.doc]\nTitle=miss\n\n"
             "[other.txt]\nTitle=miss too\nMsgID=c:001/001\n");
  ctx.searchMatches = [](const DocRecord& r) { return r.title.find("hit") != std::string::npos; };
  DocRows rows = list(docs);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(find(rows, "msg.txt")->searchState, 0);
  EXPECT_EQ(find(rows, "att.pdf")->searchState, 0);
  EXPECT_EQ(find(rows, "plain.doc")->searchState, rsSearchMiss);
  EXPECT_EQ(find(rows, "other.txt")->searchState, rsSearchMiss);

  ctx.bundlesTogether = false;
  rows = list(docs);
  EXPECT_EQ(find(rows, "att.pdf")->searchState, rsSearchMiss);
}

TEST_F(ListingFetch, BackgroundSearchHoldsBackBundleMembersUntilOneMatches) {
  for (const char* f : {"msg.txt", "att.pdf", "plain.doc"}) touch(docs + f);
  writeIndex(docs,
             "[att.pdf]\nTitle=hit attachment\nMsgID=b:002/002\n\n"
             "[msg.txt]\nTitle=message\nMsgID=b:001/002\n\n"
             "[plain.doc]\nTitle=miss\n");
  ctx.searchMatches = [](const DocRecord& r) { return r.title.find("hit") != std::string::npos; };
  int filtered = 0;
  ctx.viewFilter = [&](DocRows&) { ++filtered; };
  DocRows rows = list(docs, true);
  EXPECT_THAT(names(rows), ElementsAre("att.pdf", "msg.txt"));
  for (const DocRecord& r : rows) EXPECT_EQ(r.searchState, rsBundleMatch);
  EXPECT_EQ(filtered, 1);

  ctx.bundlesTogether = false;
  rows = list(docs, true);
  EXPECT_THAT(names(rows), ElementsAre("att.pdf"));
}

}  // namespace
}  // namespace px::store::listing_test
