#include "ops_fixture.h"

#include "foundation/dates.h"
#include "store/file_errors.h"
#include "store/tree_ops.h"
#include "store/unique_names.h"

#include <cstdio>
#include <filesystem>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace px;
using namespace px::store;
using namespace px::store::test;
using px::test::readFile;
using px::test::writeFile;

namespace {

// A small tmpfs mounted inside the test's home; skipped where mounting is not permitted.
struct SmallDisk {
  std::string path;
  bool mounted = false;
  SmallDisk(const std::string& where, const char* size) : path(where) {
    px::test::makeDirs(path);
    std::string opts = std::string("size=") + size;
    mounted = ::mount("tmpfs", path.c_str(), "tmpfs", 0, opts.c_str()) == 0;
  }
  ~SmallDisk() {
    if (mounted) ::umount2(path.c_str(), MNT_DETACH);
  }
};

}  // namespace

TEST_F(OpsFixture, VanishedSourceIsReportedAndLosesNothing) {
  const std::string a = dir("A"), b = dir("B");
  doc(a, "gone.txt", "g", {"Title=Gone", "Flags=512"});
  ::unlink((a + "gone.txt").c_str());
  for (int code : {opMove, opCopy, opRename}) {
    messages.Clear();
    OpItem it = item(a, "gone.txt", "Gone", b);
    it.newTitle = "x";
    EXPECT_FALSE(ops->RunDocOperation(code, it)) << code;
    EXPECT_EQ(lastMessage(), kAbsentFileText) << code;
    EXPECT_EQ(value(a, "gone.txt", "Title"), "Gone") << code;
  }
  EXPECT_TRUE(sections(b).empty());
}

TEST_F(OpsFixture, MailTitlesNeverEscapeTheTargetFolder) {
  const std::string a = dir("A"), b = dir("B");
  const std::string titles[] = {"../../escape", std::string(1000, 'T'), "tab\there\x7f", "Plumadex.ini",
                                "$$$LNK.evil", "/etc/passwd"};
  int n = 0;
  for (const auto& t : titles) {
    const std::string name = "m" + std::to_string(n++) + ".txt";
    doc(a, name, t.substr(0, 10), {"Flags=4609"});
    OpItem it = item(a, name, t, b);
    ASSERT_TRUE(ops->RunDocOperation(opMove, it)) << t << " " << lastMessage();
    EXPECT_EQ(it.folder, b);
    EXPECT_EQ(it.name.find('/'), std::string::npos);
    EXPECT_TRUE(exists(b + it.name)) << it.name;
    EXPECT_FALSE(IsIndexFileName(it.name));
    EXPECT_LE(it.name.size(), kMaxNameBytes);
    EXPECT_EQ(value(b, it.name, "Flags"), "4609");
    // The title survives whole: as the Title key, or as the file name when that is the same.
    std::string shown = value(b, it.name, "Title");
    if (shown.empty()) shown = it.name.substr(0, it.name.size() - 4);
    EXPECT_EQ(shown, t) << it.name;
  }
  EXPECT_EQ(sections(a).size(), 0u);
  EXPECT_EQ(sections(b).size(), std::size(titles));
}

TEST_F(OpsFixture, ReadOnlyTargetKeepsTheDocumentWhereItWas) {
  const std::string a = dir("A");
  std::string b = dir("B");
  doc(a, "r.txt", "r", {"Title=R", "Flags=512"});
  ::chmod(b.c_str(), 0555);
  std::unique_ptr<SmallDisk> readOnly;
  if (::access(b.c_str(), W_OK) == 0) {
    // Permissions do not stop this user: a read-only file system does.
    ::chmod(b.c_str(), 0755);
    readOnly = std::make_unique<SmallDisk>(home.path("ro"), "64k");
    if (!readOnly->mounted ||
        ::mount(nullptr, readOnly->path.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0)
      GTEST_SKIP() << "no way to make a read-only folder here";
    b = readOnly->path + "/";
  }
  OpItem it = item(a, "r.txt", "R", b);
  EXPECT_FALSE(ops->RunDocOperation(opMove, it));
  ::chmod(b.c_str(), 0755);
  EXPECT_EQ(lastMessage().rfind("Cannot move " + a + "r.txt\rto " + b + "R.txt\r\rError ", 0), 0u)
      << lastMessage();
  EXPECT_TRUE(exists(a + "r.txt"));
  EXPECT_EQ(value(a, "r.txt", "Title"), "R");
}

TEST_F(OpsFixture, FullDiskKeepsSourceAndTarget) {
  SmallDisk disk(home.path("small"), "64k");
  if (!disk.mounted) GTEST_SKIP() << "cannot mount a tmpfs here";
  const std::string a = dir("A");
  const std::string small = disk.path + "/";
  doc(a, "big.bin", std::string(200 * 1024, 'x'), {"Title=Big", "Flags=512"});
  writeFile(small + "Big.bin", "old contents");
  unread.ChangeUnreadCount(a, 1, false);
  resolver.answers.push_back({CollisionAction::Replace, "", false});
  OpItem it = item(a, "big.bin", "Big", small);
  EXPECT_FALSE(ops->RunDocOperation(opMove, it));
  EXPECT_NE(lastMessage().find("Error 28: "), std::string::npos) << lastMessage();
  EXPECT_EQ(px::FileSizeOf(a + "big.bin"), 200 * 1024);
  EXPECT_EQ(readFile(small + "Big.bin"), "old contents");  // the replaced file is intact
  EXPECT_EQ(value(a, "big.bin", "Title"), "Big");
  EXPECT_EQ(unread.GetUnreadCount(a).own, 1);
  auto noCopyLeft = [&small] {
    // A copy cut short leaves no temporary file (".px-tmp-XXXXXXXXXXXXXXXX") behind.
    for (const auto& entry : std::filesystem::directory_iterator(small))
      EXPECT_FALSE(entry.path().filename().string().starts_with(".px-tmp-")) << entry.path();
  };
  noCopyLeft();

  // A folder moved onto the small disk: the copy fails half-way, the source stays whole.
  const std::string tree = dir("Tree");
  writeFile(tree + "a.txt", "small");
  writeFile(tree + "b.bin", std::string(200 * 1024, 'y'));
  {
    TPXIniFile ini(registry, IndexPathOf(docs));
    ini.WriteString("Tree.", "Title", "Tree");
  }
  OpItem t = item(docs, "Tree", "Tree", small);
  t.ext.clear();
  EXPECT_FALSE(ops->RunDocOperation(opMove, t));
  EXPECT_EQ(readFile(tree + "a.txt"), "small");
  EXPECT_EQ(px::FileSizeOf(tree + "b.bin"), 200 * 1024);
  EXPECT_TRUE(hasSection(docs, "Tree."));
  EXPECT_FALSE(exists(small + "Tree"));
  noCopyLeft();
}

TEST_F(OpsFixture, FullDiskWhileSavingTheIndexPutsTheDocumentBack) {
  SmallDisk disk(home.path("small"), "16k");
  if (!disk.mounted) GTEST_SKIP() << "cannot mount a tmpfs here";
  const std::string a = dir("A");
  const std::string small = disk.path + "/";
  doc(a, "note.txt", "n", {"Title=Note", "Flags=512", "Sticker=" + std::string(8000, 's')});
  // Fill the disk, then free one page: the document fits but its index entry does not.
  int pages = 0;
  for (;; ++pages) {
    const std::string f = small + "filler" + std::to_string(pages);
    FILE* out = std::fopen(f.c_str(), "wb");
    if (!out) break;
    std::string page(4096, 'f');
    bool full = std::fwrite(page.data(), 1, page.size(), out) != page.size();
    full = (std::fclose(out) != 0) || full;
    if (full) {
      ::unlink(f.c_str());
      break;
    }
  }
  ASSERT_GT(pages, 0);
  ::unlink((small + "filler0").c_str());
  unread.ChangeUnreadCount(a, 1, false);
  OpItem it = item(a, "note.txt", "Note", small);
  EXPECT_FALSE(ops->RunDocOperation(opMove, it));
  EXPECT_NE(lastMessage().find("Error 28"), std::string::npos) << lastMessage();
  EXPECT_EQ(readFile(a + "note.txt"), "n");
  EXPECT_FALSE(exists(small + "Note.txt"));
  EXPECT_EQ(value(a, "note.txt", "Title"), "Note");
  EXPECT_EQ(unread.GetUnreadCount(a).own, 1);
  EXPECT_EQ(unread.GetUnreadCount(small).own, 0);
}

TEST_F(OpsFixture, MoveAcrossFileSystemsCopiesWithTimeThenRemoves) {
  char tmpl[] = "/dev/shm/pxops-XXXXXX";
  if (!::mkdtemp(tmpl)) GTEST_SKIP() << "no /dev/shm";
  const std::string other = std::string(tmpl) + "/";
  struct stat s1{}, s2{};
  ::stat(other.c_str(), &s1);
  ::stat(docs.c_str(), &s2);
  if (s1.st_dev == s2.st_dev) {
    EXPECT_TRUE(DeleteTree(other, false).ok());
    GTEST_SKIP() << "/dev/shm is on the same file system";
  }
  const std::string a = dir("A");
  doc(a, "x.txt", "cross", {"Title=Cross"});
  const px::DateTime before = px::FileTimeOf(a + "x.txt");
  OpItem it = item(a, "x.txt", "Cross", other);
  EXPECT_TRUE(ops->RunDocOperation(opMove, it));
  EXPECT_FALSE(exists(a + "x.txt"));
  EXPECT_EQ(readFile(other + "Cross.txt"), "cross");
  EXPECT_EQ(px::FileTimeOf(other + "Cross.txt"), before);
  // A folder across file systems, with a link inside that must stay a link.
  const std::string tree = dir("T");
  writeFile(tree + "f.txt", "f");
  ASSERT_EQ(::symlink(docs.c_str(), (tree + "up").c_str()), 0);
  OpItem t = item(docs, "T", "T", other);
  t.ext.clear();
  EXPECT_TRUE(ops->RunDocOperation(opMove, t)) << lastMessage();
  EXPECT_FALSE(exists(tree));
  EXPECT_EQ(readFile(other + "T/f.txt"), "f");
  struct stat ls{};
  EXPECT_EQ(::lstat((other + "T/up").c_str(), &ls), 0);
  EXPECT_TRUE(S_ISLNK(ls.st_mode));
  EXPECT_TRUE(DeleteTree(other, false).ok());
  EXPECT_TRUE(exists(docs));  // the link was removed, not followed
}

TEST_F(OpsFixture, EmptyingTheTrashNeverEntersAnotherFileSystem) {
  SmallDisk disk(trash + "mounted", "64k");
  if (!disk.mounted) GTEST_SKIP() << "cannot mount a tmpfs here";
  writeFile(disk.path + "/elsewhere.txt", "keep");
  writeFile(trash + "junk.txt", "junk");
  OpItem it;
  it.folder = trash;
  EXPECT_FALSE(ops->RunDocOperation(opDeleteFolder, it));
  EXPECT_EQ(readFile(disk.path + "/elsewhere.txt"), "keep");
  EXPECT_NE(lastMessage().find("Error 18: "), std::string::npos) << lastMessage();
  EXPECT_TRUE(exists(trash));
}

// An index that cannot be written (here: a folder where the index file belongs) fails the
// operation; the document, its entries, the unread counts and sent.ini are all put back.
TEST_F(OpsFixture, UnwritableTargetIndexPutsBackDocumentAndSentRegister) {
  const std::string a = dir("A"), b = dir("B");
  px::test::makeDirs(IndexPathOf(b));
  doc(a, "Out.txt", "o", {"Title=Out", "Flags=" + std::to_string(0x2600), "MsgID=s:001/001",
                          "Address=x@y"});
  sent->WriteString("$$$LNK.s:001/001", "Path", a);
  sent->WriteString("$$$LNK.s:001/001", "ID", "Out.txt");
  sent->WriteString("$$$LNK.s:001/001", "Flags", std::to_string(0x2600));
  unread.ChangeUnreadCount(a, 1, false);
  OpItem it = item(a, "Out.txt", "Out", b);
  EXPECT_FALSE(ops->RunDocOperation(opMove, it));
  EXPECT_EQ(readFile(a + "Out.txt"), "o");
  EXPECT_FALSE(exists(b + "Out.txt"));
  EXPECT_EQ(value(a, "Out.txt", "MsgID"), "s:001/001");
  EXPECT_EQ(sent->ReadString("$$$LNK.s:001/001", "Path", ""), a);
  EXPECT_EQ(sent->ReadString("$$$LNK.s:001/001", "ID", ""), "Out.txt");
  EXPECT_EQ(unread.GetUnreadCount(a).own, 1);
  EXPECT_EQ(unread.GetUnreadCount(b).own, 0);

  // A document whose identical twin waits in the target comes back when the index fails.
  doc(a, "Twin.txt", "tt", {"Flags=4608", "Address=q@r"});
  writeFile(b + "Twin.txt", "tt");
  struct timespec times[2] = {{1200000000, 0}, {1200000000, 0}};
  ::utimensat(AT_FDCWD, (a + "Twin.txt").c_str(), times, 0);
  ::utimensat(AT_FDCWD, (b + "Twin.txt").c_str(), times, 0);
  OpItem twin = item(a, "Twin.txt", "Twin", b);
  EXPECT_FALSE(ops->RunDocOperation(opMove, twin));
  EXPECT_EQ(readFile(a + "Twin.txt"), "tt");
  EXPECT_EQ(px::FileTimeOf(a + "Twin.txt"), px::FileTimeOf(b + "Twin.txt"));
  EXPECT_EQ(value(a, "Twin.txt", "Address"), "q@r");

  // A folder moved into it goes back with its counts.
  const std::string sub = dir("A/Sub");
  doc(sub, "m.txt", "m", {"Flags=512"});
  {
    TPXIniFile ini(registry, IndexPathOf(a));
    ini.WriteString("Sub.", "Flags", "256");  // the folder's entry has to go along
  }
  unread.ChangeUnreadCount(sub, 1, false);
  newMail.Add(sub);
  OpItem f = item(a, "Sub", "Sub", b);
  f.ext.clear();
  EXPECT_FALSE(ops->RunDocOperation(opMove, f));
  EXPECT_TRUE(exists(sub + "m.txt"));
  EXPECT_FALSE(exists(b + "Sub"));
  EXPECT_EQ(unread.GetUnreadCount(sub).own, 1);
  EXPECT_EQ(unread.GetUnreadCount(b).total, 0);
  EXPECT_TRUE(newMail.Contains(sub));

  // A folder copied into it leaves no counts behind.
  OpItem c = item(a, "Sub", "Sub", b);
  c.ext.clear();
  EXPECT_FALSE(ops->RunDocOperation(opCopy, c));
  EXPECT_FALSE(exists(b + "Sub"));
  EXPECT_EQ(unread.GetUnreadCount(b).total, 0);
}

TEST_F(OpsFixture, DeleteOnAFullDiskKeepsTheDocumentWithItsEntry) {
  SmallDisk disk(home.path("small"), "64k");
  if (!disk.mounted) GTEST_SKIP() << "cannot mount a tmpfs here";
  const std::string small = disk.path + "/";
  doc(small, "gone.txt", "keep me", {"Title=Gone", "Flags=512"});
  doc(small, "stays.txt", "s", {"Title=" + std::string(2000, 's')});  // the index stays non-empty
  unread.ChangeUnreadCount(small, 1, false);
  for (int i = 0;; ++i) {
    FILE* out = std::fopen((small + ".filler" + std::to_string(i)).c_str(), "wb");
    if (!out) break;
    std::string page(4096, 'f');
    const bool full = std::fwrite(page.data(), 1, page.size(), out) != page.size();
    if ((std::fclose(out) != 0) || full) break;
  }
  OpItem it = item(small, "gone.txt", "Gone");
  EXPECT_FALSE(ops->RunDocOperation(opDelete, it));
  EXPECT_EQ(readFile(small + "gone.txt"), "keep me");
  EXPECT_EQ(value(small, "gone.txt", "Title"), "Gone");
  EXPECT_EQ(unread.GetUnreadCount(small).own, 1);
}

TEST_F(OpsFixture, UnwritableSentRegisterLeavesNoOutgoingEntry) {
  // sent.ini in a folder that does not exist cannot be saved.
  TPXIniBase lost(home.path("missing/sent.ini"));
  OpServices s = ops->Services();
  s.sent = &lost;
  DocOperations withLostSent(s, collaborators());
  const std::string a = dir("A");
  doc(a, "Plan.doc", "p", {"Title=Plan"});
  OpItem send = item(a, "Plan.doc", "Plan");
  send.address = "friend@example.org";
  EXPECT_FALSE(withLostSent.RunDocOperation(opOutbox, send));
  EXPECT_EQ(sections(a), px::StringList{"Plan.doc"});
  EXPECT_EQ(value(a, "Plan.doc", "Title"), "Plan");
  EXPECT_FALSE(messages.Pending().empty());
}

namespace {

// Fills the disk at `folder` to the last page; true when it is full.
bool FillDisk(const std::string& folder) {
  for (int n = 0;; ++n) {
    FILE* out = std::fopen((folder + ".filler" + std::to_string(n)).c_str(), "wb");
    if (!out) return true;
    std::string page(4096, 'f');
    bool full = std::fwrite(page.data(), 1, page.size(), out) != page.size();
    full = (std::fclose(out) != 0) || full;
    if (full) return true;
    if (n > 100000) return false;
  }
}

}  // namespace

// Deleting is how a user makes room on a full disk: the document goes first and the index,
// which shrinks, is written after it. A document too small to make room for the index stays,
// with its entry, and the message names the index and the cause.
TEST_F(OpsFixture, DeletingOnAFullDiskMakesRoomForTheIndex) {
  struct Case {
    const char* name;
    size_t bytes;
    bool deleted;
  } cases[] = {{"large document", 64 * 1024, true}, {"empty document", 0, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SmallDisk disk(home.path(std::string("full-") + (c.deleted ? "a" : "b")), "256k");
    if (!disk.mounted) GTEST_SKIP() << "cannot mount a tmpfs here";
    const std::string small = disk.path + "/";
    // An index of several pages, so the new one needs room of its own.
    for (int i = 0; i < 6; ++i)
      doc(small, "keep" + std::to_string(i) + ".txt", "k",
          {"Title=Keep " + std::to_string(i), "Sticker=" + std::string(3000, 's')});
    doc(small, "gone.bin", std::string(c.bytes, 'g'), {"Title=Gone", "Flags=512"});
    unread.ChangeUnreadCount(small, 1, false);
    const std::string indexBefore = readFile(small + "Plumadex.ini");
    ASSERT_TRUE(FillDisk(small));
    messages.Clear();
    OpItem it = item(small, "gone.bin", "Gone");
    it.flags = 512;
    EXPECT_EQ(ops->RunDocOperation(opDelete, it), c.deleted) << lastMessage();
    if (c.deleted) {
      EXPECT_FALSE(exists(small + "gone.bin"));
      EXPECT_FALSE(hasSection(small, "gone.bin"));
      EXPECT_EQ(unread.GetUnreadCount(small).own, 0);
    } else {
      EXPECT_EQ(lastMessage().rfind("Cannot write " + small + "Plumadex.ini", 0), 0u) << lastMessage();
      EXPECT_NE(lastMessage().find("Error 28: "), std::string::npos) << lastMessage();
      EXPECT_TRUE(exists(small + "gone.bin"));
      EXPECT_EQ(readFile(small + "Plumadex.ini"), indexBefore);
      EXPECT_EQ(unread.GetUnreadCount(small).own, 1);
    }
    // Every other entry is whole, and nothing hidden is left behind.
    for (int i = 0; i < 6; ++i)
      EXPECT_EQ(value(small, "keep" + std::to_string(i) + ".txt", "Title"), "Keep " + std::to_string(i));
    for (const auto& entry : std::filesystem::directory_iterator(small)) {
      const std::string n = entry.path().filename().string();
      EXPECT_FALSE(n.starts_with(".px-")) << n;
    }
  }
}

namespace {

std::vector<std::string> DamagedCopies(const std::string& folder) {
  std::vector<std::string> r;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string n = entry.path().filename().string();
    if (n.starts_with("Plumadex.ini.damaged-")) r.push_back(n);
  }
  return r;
}

template <size_t N>
std::string NulBytes(const char (&s)[N]) {
  return std::string(s, N - 1);
}

}  // namespace

// A folder index that holds NUL bytes is kept aside once; the new index keeps what the moved
// entry carries and everything of the old that could be read, and holds no NUL itself (else
// every later save would keep another copy aside and drop more).
TEST_F(OpsFixture, MovingIntoAnIndexWithNulBytesKeepsTheMovedEntry) {
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"in a value", NulBytes("[old.txt]\r\nTitle=Old\0\0\r\nFlags=0\r\n")},
      {"a line of NULs", NulBytes("[old.txt]\r\nTitle=Old\r\n\0\0\0\0\r\nFlags=0\r\n")},
      {"in a header", NulBytes("[old.txt]\r\nTitle=Old\r\n[odd\0name.txt]\r\nTitle=Odd\r\n")},
      {"in the moved name's header", NulBytes("[old.txt]\r\nTitle=Old\r\n[Re_ figures\0.eml]\r\nTitle=X\r\n")},
      {"a zeroed tail", NulBytes("[old.txt]\r\nTitle=Old\r\n\0\0\0\0\0\0\0\0")},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string a = dir("A" + std::to_string(n)), b = dir("B" + std::to_string(n));
    ++n;
    doc(a, "m.eml", "mail", {"Title=Re: figures", "Address=\"Bob\" <bob@example.net>", "Charset=UTF-8",
                             "Flags=4609", "Time=12/01/26 10:00:00"});
    doc(a, "n.eml", "mail 2", {"Title=Next", "Address=carol@example.com", "Flags=4609"});
    writeFile(b + "old.txt", "old");
    writeFile(b + "Plumadex.ini", c.bytes);
    OpItem it = item(a, "m.eml", "Re: figures", b);
    it.flags = 4609;
    ASSERT_TRUE(ops->RunDocOperation(opMove, it)) << lastMessage();
    EXPECT_EQ(value(b, it.name, "Title"), "Re: figures");
    EXPECT_EQ(value(b, it.name, "Address"), "\"Bob\" <bob@example.net>");
    EXPECT_EQ(value(b, it.name, "Charset"), "UTF-8");
    EXPECT_EQ(value(b, it.name, "Time"), "12/01/26 10:00:00");
    EXPECT_EQ(value(b, "old.txt", "Title").substr(0, 3), "Old");
    std::string live = readFile(b + "Plumadex.ini");
    EXPECT_EQ(live.find('\0'), std::string::npos);
    ASSERT_EQ(DamagedCopies(b).size(), 1u);
    EXPECT_EQ(readFile(b + DamagedCopies(b)[0]), c.bytes);
    // The next move in is an ordinary save.
    OpItem next = item(a, "n.eml", "Next", b);
    ASSERT_TRUE(ops->RunDocOperation(opMove, next)) << lastMessage();
    EXPECT_EQ(value(b, next.name, "Address"), "carol@example.com");
    EXPECT_EQ(value(b, it.name, "Address"), "\"Bob\" <bob@example.net>");
    EXPECT_EQ(DamagedCopies(b).size(), 1u);
  }
}

// The damaged index cannot be replaced on a full disk: it stays in place, whole, beside its
// copy, so the folder never goes without an index.
TEST_F(OpsFixture, ADamagedIndexOnAFullDiskStaysInPlace) {
  SmallDisk disk(home.path("small"), "64k");
  if (!disk.mounted) GTEST_SKIP() << "cannot mount a tmpfs here";
  const std::string a = dir("A");
  const std::string small = disk.path + "/";
  std::string damaged = "[old.txt]\r\nTitle=Old\r\nSticker=" + std::string(6000, 's') + "\r\n";
  damaged += std::string(4, '\0');
  writeFile(small + "old.txt", "old");
  writeFile(small + "Plumadex.ini", damaged);
  doc(a, "m.txt", "m", {"Title=Moved", "Address=bob@example.net"});
  ASSERT_TRUE(FillDisk(small));
  // Room for the document, not for a new index.
  ::unlink((small + ".filler0").c_str());
  OpItem it = item(a, "m.txt", "Moved", small);
  EXPECT_FALSE(ops->RunDocOperation(opMove, it));
  EXPECT_NE(lastMessage().find("Error 28"), std::string::npos) << lastMessage();
  EXPECT_EQ(readFile(small + "Plumadex.ini"), damaged);
  EXPECT_EQ(readFile(a + "m.txt"), "m");
  EXPECT_EQ(value(a, "m.txt", "Address"), "bob@example.net");
  // The copy is kept; the notice that a new index replaced it waits until one did.
  EXPECT_EQ(DamagedCopies(small).size(), 1u);
  for (const auto& m : messages.Pending()) EXPECT_EQ(m.find("written in its place"), std::string::npos) << m;
  for (int i = 1; i <= 8; ++i) ::unlink((small + ".filler" + std::to_string(i)).c_str());
  OpItem again = item(a, "m.txt", "Moved", small);
  ASSERT_TRUE(ops->RunDocOperation(opMove, again)) << lastMessage();
  EXPECT_EQ(value(small, again.name, "Address"), "bob@example.net");
  EXPECT_EQ(value(small, "old.txt", "Title"), "Old");
  EXPECT_EQ(DamagedCopies(small).size(), 1u);
  EXPECT_NE(messages.Pending().back().find("written in its place"), std::string::npos);
}
