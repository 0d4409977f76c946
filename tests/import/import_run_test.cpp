// The import run: folders of mbox and Maildir trees become raw messages in the spool, headed by
// their target folder; the messages' own steering lines are neutralised; hostile folder names
// stay inside the target; a second import adds nothing; cancel stops at once.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QThread>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <unistd.h>

#include <atomic>
#include <map>
#include <optional>

#include "foundation/random.h"
#include "import/import_job.h"
#include "import/import_run.h"
#include "import/import_source.h"
#include "mailformat/pseudo_headers.h"
#include "mailformat/spool.h"
#include "support/test_support.h"

namespace px::import {
namespace {

using px::test::makeDirs;
using px::test::readFile;
using px::test::writeFile;

class ImportRunTest : public ::testing::Test {
protected:
  std::string root() const { return dir_.path().toStdString() + "/"; }
  std::string spoolDir() const { return root() + "spool/"; }
  std::string records() const { return root() + "records/"; }

  ImportSummary Import(const ImportSource& src, const std::string& target = "Imported\\mbox", bool dry = false) {
    RandomSource random(7);
    mailformat::MailSpool spool(spoolDir(), random);
    spool.setSync(false);
    ImportRun run(spool, records());
    ImportOptions o;
    o.target = target;
    o.dryRun = dry;
    std::atomic<bool> cancel{false};
    return run.Run(src, o, cancel);
  }

  // The raw messages in the spool: name -> content.
  std::map<std::string, std::string> Spooled() const {
    std::map<std::string, std::string> r;
    for (const QString& n : QDir(QString::fromStdString(spoolDir())).entryList(QDir::Files | QDir::Hidden))
      r[n.toStdString()] = readFile(spoolDir() + n.toStdString());
    return r;
  }

  QTemporaryDir dir_;
};

const char kMbox[] =
    "From ann@example.org Tue Mar  4 10:00:00 2003\n"
    "From: Ann <ann@example.org>\n"
    "Subject: One\n"
    "Message-ID: <one@example.org>\n"
    "_Folder: ..\\..\\Elsewhere\n"
    "X-Plumadex-Account: forged\n"
    "\n"
    ">From the start\n"
    "\n"
    "From bob@example.org Tue Mar  4 11:00:00 2003\r\n"
    "From: Bob <bob@example.org>\r\n"
    "Subject: Two\r\n"
    "\r\n"
    "no id here\r\n";

TEST_F(ImportRunTest, MboxMessagesGoToTheSpoolHeadedByTheirFolderWithTheirOwnSteeringNeutralised) {
  makeDirs(root() + "mail/Work.sbd");
  writeFile(root() + "mail/Work", kMbox);
  writeFile(root() + "mail/Work.msf", "summary, not mail");
  writeFile(root() + "mail/Work.sbd/2003", kMbox);
  writeFile(root() + "mail/notes.txt", "not a mailbox\n");
  auto src = MakeMboxSource(root() + "mail");
  ImportSummary s = Import(*src);
  ASSERT_TRUE(s.ok()) << s.error;
  EXPECT_EQ(s.messages, 4u);
  EXPECT_EQ(s.folders, 2u);
  auto files = Spooled();
  ASSERT_EQ(files.size(), 4u);
  int inWork = 0, in2003 = 0;
  for (const auto& [name, text] : files) {
    // Written by an import: the spool name marks the file as the program's own.
    EXPECT_TRUE(name.ends_with("-t.msg_")) << name;
    if (text.starts_with("_Folder: Imported\\mbox\\Work\r\n")) ++inWork;
    if (text.starts_with("_Folder: Imported\\mbox\\Work\\2003\r\n")) ++in2003;
    EXPECT_EQ(text.find("\n_Folder"), std::string::npos);
    EXPECT_EQ(text.find("\nX-Plumadex-Account"), std::string::npos);
    if (text.find("Subject: One") != std::string::npos) {
      EXPECT_NE(text.find("\r\nX-Neutralised-_Folder: ..\\..\\Elsewhere\r\n"), std::string::npos) << text;
      EXPECT_NE(text.find("\r\n\r\nFrom the start\r\n"), std::string::npos) << text;
      EXPECT_TRUE(text.ends_with("From the start\r\n")) << text;
    }
  }
  EXPECT_EQ(inWork, 2);
  EXPECT_EQ(in2003, 2);
  // The companion summary file is passed over silently; a stray text file is not a mailbox.
  EXPECT_TRUE(s.skipped.empty());
}

TEST_F(ImportRunTest, SentSideFoldersHoldOutgoingMailAndDraftsStayDrafts) {
  makeDirs(root() + "mail");
  for (const char* n : {"Sent", "sent items", "Unsent Messages", "Drafts", "Inbox"}) writeFile(root() + "mail/" + n, kMbox);
  ImportSummary s = Import(*MakeMboxSource(root() + "mail"));
  ASSERT_EQ(s.messages, 10u);
  std::map<std::string, int> outbound, drafts;
  for (const auto& [name, text] : Spooled()) {
    const std::string folder = text.substr(9, text.find('\r') - 9);
    outbound[folder] += text.find("\r\n_Outbound: *\r\n") != std::string::npos;
    drafts[folder] += text.find("\r\n_Draft: *\r\n") != std::string::npos;
  }
  EXPECT_EQ(outbound, (std::map<std::string, int>{{"Imported\\mbox\\Drafts", 0}, {"Imported\\mbox\\Inbox", 0},
                                                   {"Imported\\mbox\\Sent", 2}, {"Imported\\mbox\\Unsent Messages", 2},
                                                   {"Imported\\mbox\\sent items", 2}}));
  EXPECT_EQ(drafts["Imported\\mbox\\Drafts"], 2);
}

TEST_F(ImportRunTest, ASecondImportAddsNothingAndANewMessageOnlyItself) {
  writeFile(root() + "inbox", kMbox);
  auto src = MakeMboxSource(root() + "inbox");
  ASSERT_EQ(Import(*src).messages, 2u);
  ImportSummary again = Import(*src);
  EXPECT_EQ(again.messages, 0u);
  EXPECT_EQ(again.duplicates, 2u);
  EXPECT_EQ(Spooled().size(), 2u);
  // The same file with one more message: only that one comes.
  writeFile(root() + "inbox", std::string(kMbox) + "From c\nSubject: Three\n\nnew\n");
  ImportSummary third = Import(*src);
  EXPECT_EQ(third.messages, 1u);
  EXPECT_EQ(third.duplicates, 2u);
  EXPECT_EQ(Spooled().size(), 3u);
}

TEST_F(ImportRunTest, ADryRunCountsButWritesNothing) {
  writeFile(root() + "inbox", kMbox);
  auto src = MakeMboxSource(root() + "inbox");
  ImportSummary s = Import(*src, "Imported\\mbox", true);
  EXPECT_EQ(s.messages, 2u);
  EXPECT_TRUE(Spooled().empty());
  EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(records())));
  EXPECT_EQ(Import(*src).messages, 2u);  // the dry run recorded nothing
}

TEST_F(ImportRunTest, CancelStopsAtOnceAndTheRestComesNextTime) {
  makeDirs(root() + "mail");
  std::string first, second;
  for (int i = 0; i < 20; ++i) first += "From x\nSubject: a" + std::to_string(i) + "\n\nbody\n\n";
  for (int i = 0; i < 30; ++i) second += "From x\nSubject: b" + std::to_string(i) + "\n\nbody\n\n";
  writeFile(root() + "mail/a", first);
  writeFile(root() + "mail/b", second);
  auto src = MakeMboxSource(root() + "mail");
  RandomSource random(3);
  mailformat::MailSpool spool(spoolDir(), random);
  spool.setSync(false);
  ImportRun run(spool, records());
  ImportOptions o;
  o.target = "Imported";
  std::atomic<bool> cancel{false};
  // Cancel is pressed as the second folder begins.
  ImportSummary s = run.Run(*src, o, cancel, [&](const ImportProgress& p) {
    if (p.folder == "b") cancel = true;
  });
  EXPECT_TRUE(s.cancelled);
  EXPECT_EQ(s.messages, 20u);
  EXPECT_EQ(Spooled().size(), 20u);  // nothing half written
  // What was written is recorded: the next run brings exactly the rest.
  std::atomic<bool> go{false};
  ImportSummary rest = run.Run(*src, o, go);
  EXPECT_EQ(rest.messages, 30u);
  EXPECT_EQ(rest.duplicates, 20u);
}

TEST_F(ImportRunTest, ProgressComesAtMostTenTimesASecond) {
  std::string many;
  for (int i = 0; i < 3000; ++i) many += "From x\nSubject: m" + std::to_string(i) + "\n\nbody\n";
  writeFile(root() + "inbox", many);
  auto src = MakeMboxSource(root() + "inbox");
  RandomSource random(3);
  mailformat::MailSpool spool(spoolDir(), random);
  spool.setSync(false);
  ImportRun run(spool, records());
  ImportOptions o;
  o.target = "Imported";
  o.dryRun = true;
  std::atomic<bool> cancel{false};
  std::vector<std::chrono::steady_clock::time_point> at;
  ImportProgress lastSeen;
  ImportSummary s = run.Run(*src, o, cancel, [&](const ImportProgress& p) {
    at.push_back(std::chrono::steady_clock::now());
    lastSeen = p;
  });
  EXPECT_EQ(s.messages, 3000u);
  EXPECT_EQ(lastSeen.messages, 3000u);  // the last report is the final count
  // Between the folder's first report and the final one, reports are 100 ms apart.
  for (size_t i = 2; i + 1 < at.size(); ++i) EXPECT_GE(at[i] - at[i - 1], ImportRun::kProgressInterval);
}

TEST_F(ImportRunTest, MaildirTreesKeepFoldersAndReadState) {
  const std::string md = root() + "Maildir/";
  for (const char* d : {"cur", "new", "tmp", ".Archive/cur", ".Archive/new", ".Archive.2020/cur", ".Archive.2020/new", "Lists/dev/cur", "Lists/dev/new"})
    makeDirs(md + d);
  writeFile(md + "new/1000.a.host", "Subject: fresh\n\nunseen\n");
  writeFile(md + "cur/1001.b.host:2,S", "Subject: seen\n\nread\n");
  writeFile(md + "cur/1002.c.host:2,", "Subject: looked at\n\nnot read\n");
  writeFile(md + "cur/1003.d.host:2,DS", "Subject: draft\n\nunsent\n");
  writeFile(md + ".Archive/cur/2000.e.host:2,RS", "Subject: old\n\narchived\n");
  writeFile(md + ".Archive.2020/cur/3000.f.host:2,S", "Subject: older\n\n2020\n");
  writeFile(md + "Lists/dev/new/4000.g.host", "Subject: list\n\npost\n");
  auto src = MakeMaildirSource(md);
  std::vector<SkippedItem> skipped;
  std::vector<std::string> names;
  for (const auto& f : src->Folders(skipped)) {
    std::string n;
    for (const auto& p : f.names) n += (n.empty() ? "" : "/") + p;
    names.push_back(n);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"Inbox", "Archive", "Archive/2020", "Lists/dev"}));

  ImportSummary s = Import(*src, "Imported\\maildir");
  ASSERT_TRUE(s.ok()) << s.error;
  EXPECT_EQ(s.messages, 7u);
  std::map<std::string, std::string> bySubject;
  for (const auto& [name, text] : Spooled()) {
    size_t p = text.find("Subject: ");
    bySubject[text.substr(p + 9, text.find('\r', p) - p - 9)] = text.substr(0, p);
  }
  EXPECT_EQ(bySubject["fresh"], "_Folder: Imported\\maildir\\Inbox\r\n_Unread: *\r\n");
  EXPECT_EQ(bySubject["seen"], "_Folder: Imported\\maildir\\Inbox\r\n");
  EXPECT_EQ(bySubject["looked at"], "_Folder: Imported\\maildir\\Inbox\r\n_Unread: *\r\n");
  EXPECT_EQ(bySubject["draft"], "_Folder: Imported\\maildir\\Inbox\r\n_Draft: *\r\n");
  EXPECT_EQ(bySubject["old"], "_Folder: Imported\\maildir\\Archive\r\n");
  EXPECT_EQ(bySubject["older"], "_Folder: Imported\\maildir\\Archive\\2020\r\n");
  EXPECT_EQ(bySubject["list"], "_Folder: Imported\\maildir\\Lists\\dev\r\n_Unread: *\r\n");
  EXPECT_EQ(Import(*src, "Imported\\maildir").messages, 0u);
}

TEST(ImportTarget, HostileFolderNamesStayInsideTheTarget) {
  const std::vector<std::vector<std::string>> hostile = {
      {".."}, {"."}, {"..", "..", "etc"}, {"a/../../b"}, {"..\\..\\x"}, {"/abs"}, {"C:"}, {"C:\\Windows"},
      {"\x01\x02"}, {"line\r\nbreak"}, {"Plumadex.ini"}, {"$$$_"}, {"  "}, {""}, {std::string(300, 'x')},
      {"\xff\xfe"}, {"TRASH"}, {".hidden"}, {"a", "..", "b"}};
  for (const auto& names : hostile) {
    auto v = TargetFolderOf("Imported\\mbox", names);
    ASSERT_TRUE(v.has_value()) << names[0];
    EXPECT_TRUE(v->starts_with("Imported\\mbox\\")) << *v;
    auto safe = mailformat::SafeFolderValue(*v);
    ASSERT_TRUE(safe.has_value()) << *v;
    EXPECT_EQ(*safe, *v);
    // One folder level per source name, none of them special.
    size_t levels = 0;
    size_t start = std::string("Imported\\mbox\\").size();
    for (size_t i = start; i <= v->size(); ++i)
      if (i == v->size() || (*v)[i] == '\\') {
        std::string piece = v->substr(start, i - start);
        EXPECT_FALSE(piece.empty() || piece == "." || piece == ".." || piece[0] == '.') << *v;
        EXPECT_NE(piece, "Plumadex.ini");
        EXPECT_FALSE(piece.starts_with("$$$")) << piece;
        EXPECT_LE(piece.size(), 100u);
        start = i + 1;
        ++levels;
      }
    EXPECT_EQ(levels, names.size()) << *v;
  }
  // A target that leads out of the documents folder is refused.
  for (const char* t : {"..", "../x", "/etc", "C:\\x", "a\\..\\..\\b"}) EXPECT_FALSE(TargetFolderOf(t, {"Inbox"})) << t;
}

TEST(ImportDiscovery, FindsTheSystemMailboxAndMaildirInTheHome) {
  QTemporaryDir d;
  const std::string home = d.path().toStdString() + "/";
  makeDirs(home + "Maildir/cur");
  makeDirs(home + "Maildir/new");
  makeDirs(home + "Mail");
  writeFile(home + "spoolfile", "From a\n\nx\n");
  DiscoveryPlaces p{home, home + "spoolfile"};
  auto all = DiscoverSources(p);
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0]->kind(), "mbox");
  EXPECT_EQ(all[0]->root(), home + "spoolfile");
  EXPECT_EQ(all[1]->root(), home + "Mail");
  EXPECT_EQ(all[2]->kind(), "maildir");
  EXPECT_EQ(DiscoverSource(p, "maildir")->root(), home + "Maildir/");
  // A link given as the source is followed; links inside a tree are not.
  makeDirs(home + "real/cur");
  writeFile(home + "real/cur/1.x:2,S", "Subject: s\n\nx\n");
  ASSERT_EQ(::symlink((home + "real").c_str(), (home + "link").c_str()), 0);
  ASSERT_EQ(::symlink((home + "real").c_str(), (home + "Maildir/.Linked").c_str()), 0);
  std::vector<SkippedItem> skipped;
  EXPECT_EQ(MakeMaildirSource(home + "link")->Folders(skipped).size(), 1u);
  EXPECT_EQ(MakeMaildirSource(home + "Maildir")->Folders(skipped).size(), 1u);  // .Linked is not read
  DiscoveryPlaces none{home + "nowhere", home + "missing"};
  EXPECT_TRUE(DiscoverSources(none).empty());
}

TEST_F(ImportRunTest, TheJobRunsOnAWorkerAndReportsItsEnd) {
  writeFile(root() + "inbox", kMbox);
  ImportJob job(spoolDir(), records());
  std::optional<ImportSummary> done;
  QObject::connect(&job, &ImportJob::finished, [&](const ImportSummary& s) { done = s; });
  ImportOptions o;
  o.target = "Imported";
  ASSERT_TRUE(job.Start(MakeMboxSource(root() + "inbox"), o));
  EXPECT_FALSE(job.Start(MakeMboxSource(root() + "inbox"), o));
  for (int i = 0; i < 500 && !done; ++i) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(2);
  }
  ASSERT_TRUE(done.has_value());
  EXPECT_EQ(done->messages, 2u);
  EXPECT_FALSE(job.running());
}

}  // namespace
}  // namespace px::import

namespace px::import {
namespace {

TEST(ThunderbirdProfiles, TheDefaultProfileComesFirstFromEveryPlace) {
  QTemporaryDir d;
  const std::string home = d.path().toStdString() + "/";
  const std::string flat = home + ".var/app/org.mozilla.Thunderbird/.thunderbird/";
  px::test::makeDirs(flat);
  px::test::writeFile(flat + "profiles.ini",
                      "[General]\r\nStartWithLastProfile=1\r\n\r\n"
                      "[Profile1]\r\nName=old\r\nIsRelative=1\r\nPath=abc.old\r\nDefault=1\r\n\r\n"
                      "[Profile0]\r\nName=elsewhere\r\nIsRelative=0\r\nPath=/srv/tb/xyz\r\n\r\n"
                      "[Install4F96D1932A9F858E]\r\nDefault=def.default-release\r\nLocked=1\r\n\r\n"
                      "[Profile2]\r\nName=default-release\r\nIsRelative=1\r\nPath=def.default-release\r\n");
  auto lists = ThunderbirdProfileLists(home);
  ASSERT_EQ(lists, std::vector<std::string>{flat + "profiles.ini"});
  EXPECT_EQ(ThunderbirdProfiles(lists[0]),
            (std::vector<std::string>{flat + "def.default-release/", flat + "abc.old/", "/srv/tb/xyz/"}));
  // Without an install section, the profile marked Default=1 leads.
  px::test::makeDirs(home + ".thunderbird");
  px::test::writeFile(home + ".thunderbird/profiles.ini",
                      "[Profile0]\nPath=a.one\n[Profile1]\nPath=b.two\nDefault=1\n[Profile2]\nPath=\n");
  EXPECT_EQ(ThunderbirdProfiles(home + ".thunderbird/profiles.ini"),
            (std::vector<std::string>{home + ".thunderbird/b.two/", home + ".thunderbird/a.one/"}));
}

TEST_F(ImportRunTest, ThunderbirdAccountsAndMailboxStatusLines) {
  const std::string p = root() + "profile/";
  makeDirs(p + "Mail/Local Folders/Inbox.sbd");
  makeDirs(p + "ImapMail/imap.example.org");
  writeFile(p + "Mail/Local Folders/Inbox",
            "From - Tue Mar  4 10:00:00 2003\nX-Mozilla-Status: 0001\nSubject: read one\n\nx\n\n"
            "From - Tue Mar  4 10:00:00 2003\nX-Mozilla-Status: 0000\nSubject: unread one\n\nx\n\n"
            "From - Tue Mar  4 10:00:00 2003\nX-Mozilla-Status: 0009\nSubject: deleted one\n\nx\n");
  writeFile(p + "Mail/Local Folders/Inbox.msf", "// <!-- <mdb:mork:z v=\"1.4\"/> -->\n");
  writeFile(p + "Mail/Local Folders/Inbox.sbd/Sub", "From a\nStatus: O\nSubject: old unread\n\nx\n\nFrom b\nStatus: RO\nSubject: seen\n\ny\n");
  writeFile(p + "ImapMail/imap.example.org/INBOX", "From a\nSubject: cached\n\nz\n");
  auto src = MakeThunderbirdSource(p);
  ImportSummary s = Import(*src, "Imported\\thunderbird");
  ASSERT_TRUE(s.ok()) << s.error;
  EXPECT_EQ(s.messages, 5u);
  EXPECT_EQ(s.deleted, 1u);
  std::map<std::string, std::string> bySubject;
  for (const auto& [name, text] : Spooled()) {
    size_t at = text.find("Subject: ");
    bySubject[text.substr(at + 9, text.find('\r', at) - at - 9)] = text.substr(0, text.find("\r\n") + 2) +
                                                                  (text.find("_Unread: *") != std::string::npos ? "unread" : "read");
  }
  EXPECT_EQ(bySubject["read one"], "_Folder: Imported\\thunderbird\\Local Folders\\Inbox\r\nread");
  EXPECT_EQ(bySubject["unread one"], "_Folder: Imported\\thunderbird\\Local Folders\\Inbox\r\nunread");
  EXPECT_EQ(bySubject.count("deleted one"), 0u);
  EXPECT_EQ(bySubject["old unread"], "_Folder: Imported\\thunderbird\\Local Folders\\Inbox\\Sub\r\nunread");
  EXPECT_EQ(bySubject["seen"], "_Folder: Imported\\thunderbird\\Local Folders\\Inbox\\Sub\r\nread");
  EXPECT_EQ(bySubject["cached"], "_Folder: Imported\\thunderbird\\imap.example.org\\INBOX\r\nread");
  // A profiles.ini given as the source stands for its default profile.
  writeFile(root() + "profiles.ini", "[Profile0]\nPath=profile\nDefault=1\n");
  EXPECT_EQ(MakeSource("thunderbird", root() + "profiles.ini")->root(), p);
}

}  // namespace
}  // namespace px::import
