// Filing under attack: a full disk, a stop between splitting a message and deleting it, a
// message that arrives twice. Every message ends filed exactly once, or waits in the spool.
#include <QByteArray>

#include <dirent.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <sys/time.h>
#include <unistd.h>

#include <map>
#include <regex>

#include "incoming/filer_fixture.h"
#include "mailformat/mime_reader.h"
#include "store/leftover_sweep.h"
#include "foundation/locations.h"

namespace px::incoming::test {
namespace {

using mailformat::kContentExt;
using mailformat::kDescriptorExt;
using mailformat::kFailedExt;
using mailformat::kRawExt;

// A small file system of its own (tmpfs), so a test can fill it. Needs root; skipped elsewhere.
class SmallDisk {
public:
  SmallDisk(const std::string& path, size_t bytes) : path_(path) {
    px::test::makeDirs(path);
    const std::string opt = "size=" + std::to_string(bytes);
    mounted_ = ::mount("tmpfs", path.c_str(), "tmpfs", 0, opt.c_str()) == 0;
  }
  ~SmallDisk() {
    if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }
  bool Resize(size_t bytes) {
    const std::string opt = "size=" + std::to_string(bytes);
    return ::mount("tmpfs", path_.c_str(), "tmpfs", MS_REMOUNT, opt.c_str()) == 0;
  }
  // Writes a filler file until the disk is full but for about `leave` bytes.
  void FillLeaving(size_t leave) {
    std::string filler(4096, 'f');
    FILE* f = std::fopen((path_ + "filler").c_str(), "wb");
    if (!f) return;
    for (;;) {
      struct statvfs vfs{};
      ::statvfs(path_.c_str(), &vfs);
      const uint64_t avail = uint64_t(vfs.f_bavail) * vfs.f_frsize;
      if (avail <= leave + filler.size()) break;
      if (std::fwrite(filler.data(), 1, filler.size(), f) != filler.size()) break;
      std::fflush(f);
    }
    std::fclose(f);
  }
  void Unfill() { ::unlink((path_ + "filler").c_str()); }

private:
  std::string path_;
  bool mounted_ = false;
};

// A message with a text body and an attached file of `size` bytes, both named after `subject`.
std::string MessageWithFile(const std::string& subject, size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7919 + subject.size()) & 0xFF);
  QByteArray b64 = QByteArray::fromStdString(bytes).toBase64();
  std::string wrapped;
  for (qsizetype i = 0; i < b64.size(); i += 76) wrapped += b64.mid(i, 76).toStdString() + "\r\n";
  return "From: Ann <ann@example.org>\r\nTo: bob@example.org\r\nSubject: " + subject +
         "\r\nMessage-ID: <" + subject + "@example.org>\r\nMIME-Version: 1.0\r\n"
         "Content-Type: multipart/mixed; boundary=\"bnd\"\r\n\r\n--bnd\r\nContent-Type: text/plain\r\n\r\n"
         "Hello from " + subject + "\r\n--bnd\r\nContent-Type: application/octet-stream; name=\"" + subject +
         ".bin\"\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment; filename=\"" +
         subject + ".bin\"\r\n\r\n" + wrapped + "--bnd--\r\n";
}

class FilerFaultTest : public FilerFixture {
protected:
  // Moves the spool, the documents and the quarantine below `root` (a disk of the test's own).
  void MoveTo(const std::string& root, bool spoolToo, bool docsToo) {
    if (spoolToo) {
      spoolDir = root + "Inbox/";
      quarantine = root + "Quarantine/";
      px::test::makeDirs(spoolDir);
      spool = std::make_unique<mailformat::MailSpool>(spoolDir, random);
      spool->setSync(false);
    }
    if (docsToo) {
      docs = root + "Documents/";
      trash = docs + "TRASH/";
      px::test::makeDirs(trash);
    }
  }
  std::string PutRaw(const std::string& bytes, const std::string& name = {}) {
    std::string n = name.empty() ? spool->NewName() : name;
    EXPECT_TRUE(spool->WriteFile(n, kRawExt, bytes));
    return n;
  }
  // How many documents of the documents folder have each file name, a " (2)" and the like
  // (a second document of the same name) left out.
  std::map<std::string, int> Filed() {
    std::map<std::string, int> count;
    static const std::regex numbered(R"( \(\d+\)(\.[^.]*)$)");
    for (const auto& s : sections(docs)) ++count[std::regex_replace(s, numbered, "$1")];
    return count;
  }
  std::vector<std::string> FilesOf(const std::string& folder) {
    std::vector<std::string> out;
    if (DIR* d = ::opendir(folder.c_str())) {
      while (dirent* e = ::readdir(d))
        if (e->d_name[0] != '.') out.emplace_back(e->d_name);
      ::closedir(d);
    }
    return out;
  }
  // No pair without its other half, no raw message turned into ".err_".
  void ExpectNothingHalfDone() {
    for (const auto& n : spool->List(kDescriptorExt)) EXPECT_TRUE(spool->Exists(n, kContentExt)) << n;
    for (const auto& n : spool->List(kContentExt)) EXPECT_TRUE(spool->Exists(n, kDescriptorExt)) << n;
    EXPECT_TRUE(spool->List(kFailedExt).empty());
    EXPECT_TRUE(FilesOf(quarantine).empty()) << ::testing::PrintToString(FilesOf(quarantine));
  }
};

// A full disk while messages are split (spool and documents on one full disk) or while parts
// are moved into a documents folder on another, full disk: the run stops and says the disk is
// full; nothing is quarantined or half filed; once there is room every message is filed once.
TEST_F(FilerFaultTest, FullDiskStopsTheRunAndLosesNothing) {
  struct Case {
    const char* name;
    bool spoolOnDisk, docsOnDisk;
  };
  for (const Case c : {Case{"one full disk", true, true}, Case{"full documents disk", false, true}}) {
    SCOPED_TRACE(c.name);
    SetUp();
    filed.clear();
    const std::string root = home.path(std::string("disk-") + (c.spoolOnDisk ? "a" : "b") + "/");
    SmallDisk disk(root, 4u << 20);
    if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
    MoveTo(root, c.spoolOnDisk, c.docsOnDisk);
    std::vector<std::string> subjects;
    for (int i = 1; i <= 6; ++i) {
      subjects.push_back("msg" + std::to_string(i));
      PutRaw(MessageWithFile(subjects.back(), 150000));
    }
    disk.FillLeaving(400000);
    FilingReport r = runFiler();
    EXPECT_TRUE(r.noRoom);
    EXPECT_TRUE(r.unreadable.empty());
    EXPECT_TRUE(r.quarantined.empty());
    bool told = false;
    for (const auto& m : messages.Pending())
      if (m.find("no room on the disk") != std::string::npos) told = true;
    EXPECT_TRUE(told);
    ExpectNothingHalfDone();
    // What was filed was filed whole (body and file), the rest waits in the spool.
    auto first = Filed();
    for (const auto& s : subjects) {
      EXPECT_EQ(first[s + ".txt"], first[s + ".bin"]) << s;
      EXPECT_LE(first[s + ".txt"], 1) << s;
    }
    size_t firstFiled = 0;
    for (const auto& [name, n] : first) firstFiled += n;
    EXPECT_LT(firstFiled, 2 * subjects.size());
    disk.Unfill();
    FilingReport again = runFiler();
    EXPECT_FALSE(again.noRoom);
    EXPECT_TRUE(again.errors.empty()) << ::testing::PrintToString(again.errors);
    auto all = Filed();
    for (const auto& s : subjects) {
      EXPECT_EQ(all[s + ".txt"], 1) << s;
      EXPECT_EQ(all[s + ".bin"], 1) << s;
    }
    EXPECT_TRUE(spoolFiles().empty()) << ::testing::PrintToString(spoolFiles());
  }
}

// Stopped after the pairs of a message were made but before the message was deleted (all of
// them, or only some contents): the next run files the message once.
TEST_F(FilerFaultTest, InterruptedSplitIsNotFiledTwice) {
  for (int cut : {0, 1, 2}) {
    SCOPED_TRACE(cut);
    SetUp();
    const std::string subject = "cut" + std::to_string(cut);
    const std::string name = PutRaw(MessageWithFile(subject, 3000));
    mailformat::SplitOptions opt;
    mailformat::SplitResult split = mailformat::SplitSpoolMessage(*spool, name, opt, /*keepRaw=*/true);
    ASSERT_TRUE(split.ok());
    ASSERT_EQ(split.parts.size(), 2u);
    // cut 1: the descriptors were not all written; cut 2: none was.
    if (cut >= 1) spool->Remove(split.parts[1], kDescriptorExt);
    if (cut >= 2) spool->Remove(split.parts[0], kDescriptorExt);
    FilingReport r = runFiler();
    EXPECT_TRUE(r.errors.empty()) << ::testing::PrintToString(r.errors);
    auto all = Filed();
    EXPECT_EQ(all[subject + ".txt"], 1);
    EXPECT_EQ(all[subject + ".bin"], 1);
    EXPECT_EQ(r.newMessages, 1u);
    EXPECT_TRUE(spoolFiles().empty()) << ::testing::PrintToString(spoolFiles());
  }
}

// A message fetched twice (its deletion never reached the server) carries the same key in both
// spool names: the second copy is dropped, in the same run and in a later one.
TEST_F(FilerFaultTest, MessageFetchedAgainIsFiledOnce) {
  const std::string key = "ann@pop.example.org uidl:0001";
  PutRaw(MessageWithFile("twice", 100), mailformat::KeyedRawName(spool->NewName(), key));
  PutRaw(MessageWithFile("twice", 100), mailformat::KeyedRawName(spool->NewName(), key));
  PutRaw(MessageWithFile("other", 100), mailformat::KeyedRawName(spool->NewName(), key + "2"));
  FilingReport r = runFiler();
  EXPECT_EQ(r.repeats, 1u);
  PutRaw(MessageWithFile("twice", 100), mailformat::KeyedRawName(spool->NewName(), key));
  FilingReport later = runFiler();
  EXPECT_EQ(later.repeats, 1u);
  auto all = Filed();
  EXPECT_EQ(all["twice.txt"], 1);
  EXPECT_EQ(all["other.txt"], 1);
  EXPECT_TRUE(spoolFiles().empty());
}

// The service offers a message again when its confirmation was lost, and a sender whose upload
// was stored but not confirmed uploads it again: one document per sender, message id and part.
TEST_F(FilerFaultTest, ServiceRepeatsAreDroppedPerSenderMessageAndPart) {
  struct Down {
    std::string from, msgid, parts, currpart, subject;
  };
  const std::vector<Down> downs = {
      {"ann", "500", "", "", "first"},        {"ann", "500", "", "", "first"},  // a repeat
      {"ANN", "500", "", "", "first"},                                          // the same sender
      {"ann", "501", "2", "1", "two parts"},  {"ann", "501", "2", "2", "second part"},
      {"ann", "501", "2", "2", "second part"},                                  // a repeat
      {"eve", "500", "", "", "same id, other sender"},
  };
  for (const auto& d : downs) {
    EnvelopeSpec e;
    e.from = d.from;
    e.msgid = d.msgid;
    e.parts = d.parts;
    e.currpart = d.currpart;
    e.subject = d.subject;
    download(Container(Envelope(e), "body of " + d.subject));
  }
  FilingReport r = runFiler();
  EXPECT_EQ(r.repeats, 3u);
  auto all = Filed();
  EXPECT_EQ(all["first.txt"], 1);
  EXPECT_EQ(all["two parts.txt"], 1);
  EXPECT_EQ(all["second part.txt"], 1);
  EXPECT_EQ(all["same id, other sender.txt"], 1);
  // Offered again in a later run: dropped too.
  EnvelopeSpec e;
  e.msgid = "500";
  e.subject = "first";
  download(Container(Envelope(e), "body"));
  EXPECT_EQ(runFiler().repeats, 1u);
  EXPECT_EQ(Filed()["first.txt"], 1);
  EXPECT_TRUE(spoolFiles().empty());
}

// A content file whose descriptor a crash took, and the hidden temporaries of a writer that was
// stopped, are cleared: the orphan kept aside, the temporaries removed, in the spool as in the
// contacts.
TEST_F(FilerFaultTest, LeftoversOfAStoppedRunAreSwept) {
  const std::string orphan = spool->NewName();
  ASSERT_TRUE(spool->WriteFile(orphan, kContentExt, "orphan"));
  const std::string keep = spool->NewName();  // a raw message's pair, undone when it is split
  PutRaw(MessageWithFile("whole", 10), keep);
  ASSERT_TRUE(spool->WriteFile(keep + "_001", kContentExt, "half"));
  px::test::writeFile(spoolDir + ".px-tmp-123", "temp");
  px::test::writeFile(spoolDir + ".4711.$$7.part", "part");
  const std::string contacts = data + "Contacts/";
  px::test::makeDirs(contacts);
  px::test::writeFile(contacts + ".px-tmp-456", "temp");
  // Left alone long enough to be nobody's work in progress.
  const timeval old[2] = {{std::time(nullptr) - 3600, 0}, {std::time(nullptr) - 3600, 0}};
  ASSERT_EQ(::utimes(spool->PathOf(orphan, kContentExt).c_str(), old), 0);
  ASSERT_EQ(::utimes(spool->PathOf(keep + "_001", kContentExt).c_str(), old), 0);
  Locations loc;
  loc.documents = docs;
  loc.inbox = spoolDir;
  loc.contacts = contacts;
  store::SweepAllLeftovers(loc, registry, std::time(nullptr) + 3600);
  EXPECT_FALSE(exists(spoolDir + ".px-tmp-123"));
  EXPECT_FALSE(exists(spoolDir + ".4711.$$7.part"));
  EXPECT_FALSE(exists(contacts + ".px-tmp-456"));
  FilingReport r = runFiler();
  EXPECT_EQ(r.orphans, 1u);
  EXPECT_TRUE(exists(quarantine + orphan + ".$$2"));
  auto all = Filed();
  EXPECT_EQ(all["whole.txt"], 1);
  EXPECT_EQ(all.size(), 2u);  // the body and its file, not the half pair
  EXPECT_TRUE(spoolFiles().empty()) << ::testing::PrintToString(spoolFiles());
}

// What the quarantine keeps goes back into the spool and is filed by the next run.
TEST_F(FilerFaultTest, QuarantineIsFiledAgainOnRequest) {
  px::test::makeDirs(quarantine);
  px::test::writeFile(quarantine + "1234-n.err_", MessageWithFile("kept raw", 10));
  mailformat::PartDescriptor d;
  d.from = "ann";
  d.kind = "txt";
  d.name = "kept pair";
  px::test::writeFile(quarantine + "5678.$$2", "content");
  px::test::writeFile(quarantine + "5678.$$1", mailformat::FormatPartDescriptor(d));
  px::test::writeFile(quarantine + "9999.$$1", mailformat::FormatPartDescriptor(d));  // no content
  std::vector<std::string> errors;
  EXPECT_EQ(RefileQuarantine(quarantine, spoolDir, &errors), 2u);
  EXPECT_TRUE(errors.empty());
  FilingReport r = runFiler();
  auto all = Filed();
  EXPECT_EQ(all["kept raw.txt"], 1);
  EXPECT_EQ(all["kept pair.txt"], 1);
  EXPECT_EQ(FilesOf(quarantine), std::vector<std::string>{"9999.$$1"});
}

// The log of keys taken in: a line cut short by a crash is dropped (and never glued to the next
// one), keys older than the keeping time are forgotten, the rest survive.
TEST(ReceivedKeysTest, TornLinesAndOldKeys) {
  px::test::TempHome home;
  const std::string path = home.path("keys");
  px::test::writeFile(path, "20000101\told key\n" + std::string("29991231\tkept key\n") + "29991231\ttorn ke");
  ReceivedKeys keys;
  ASSERT_TRUE(keys.Load(path));
  EXPECT_TRUE(keys.Contains("kept key"));
  EXPECT_FALSE(keys.Contains("old key"));
  EXPECT_FALSE(keys.Contains("torn ke"));
  keys.setSync(false);
  keys.Add("new key");
  ASSERT_TRUE(keys.Flush());
  ReceivedKeys again;
  ASSERT_TRUE(again.Load(path));
  EXPECT_TRUE(again.Contains("kept key"));
  EXPECT_TRUE(again.Contains("new key"));
  EXPECT_FALSE(again.Contains("torn ke"));
  EXPECT_EQ(px::test::readFile(path).find("torn"), std::string::npos);
}

}  // namespace
}  // namespace px::incoming::test
