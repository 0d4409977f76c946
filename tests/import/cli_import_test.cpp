// plumadex-cli import end to end: fixtures made by Python's mailbox module (an mbox whose
// messages use different line ends, a Maildir++ tree with seen flags), imported and filed into
// the documents folder with their folders and read state; a second import adds nothing; nothing
// lands outside the target.
#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include "foundation/ini_file.h"
#include "store/index_file.h"
#include "support/test_paths.h"
#include "support/test_support.h"
#include "support/thunderbird_profile.h"

namespace px::import {
namespace {

const char kPython[] = "/usr/bin/python3";

const char kFixture[] = R"PY(
import mailbox, os, re, sys
from email.message import EmailMessage
root = sys.argv[1]

def msg(n, subject, body):
    m = EmailMessage()
    m['From'] = 'Ann Example <ann@example.org>'
    m['To'] = 'me@example.org'
    m['Subject'] = subject
    m['Date'] = 'Tue, 04 Mar 2003 10:%02d:00 +0100' % n
    m['Message-ID'] = '<%s-%d@example.org>' % (subject.replace(' ', '-'), n)
    m.set_content(body)
    return m

os.makedirs(os.path.join(root, 'mbox', 'Work.sbd'))
box = mailbox.mbox(os.path.join(root, 'mbox', 'Inbox'))
box.add(msg(1, 'plain lf', 'First line\nFrom the quoted line\n'))
box.add(msg(2, 'crlf ends', 'Second\n'))
box.add(msg(3, 'lone cr ends', 'Third\n'))
box.close()
sub = mailbox.mbox(os.path.join(root, 'mbox', 'Work.sbd', '2003'))
sub.add(msg(4, 'in a subfolder', 'Deep\n'))
sub.close()
hostile = mailbox.mbox(os.path.join(root, 'mbox', 'a\\..\\..\\escape'))
hostile.add(msg(5, 'hostile name', 'Stay inside\n'))
hostile.close()
# Line ends: the second message in CR LF, the third with lone CR and no final line end.
path = os.path.join(root, 'mbox', 'Inbox')
data = open(path, 'rb').read()
parts = re.split(rb'(?m)^(?=From )', data)
parts = [p for p in parts if p]
parts[1] = parts[1].replace(b'\n', b'\r\n')
parts[2] = parts[2].replace(b'\n', b'\r').rstrip(b'\r')
open(path, 'wb').write(b''.join(parts))

md = mailbox.Maildir(os.path.join(root, 'Maildir'), create=True)
new = mailbox.MaildirMessage(msg(6, 'not yet read', 'New\n'))
md.add(new)
seen = mailbox.MaildirMessage(msg(7, 'already read', 'Old\n'))
seen.set_subdir('cur')
seen.add_flag('S')
md.add(seen)
arch = md.add_folder('Archive')
old = mailbox.MaildirMessage(msg(8, 'archived', 'Kept\n'))
old.set_subdir('cur')
old.add_flag('S')
arch.add(old)
)PY";

class CliImportTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (!QFileInfo::exists(QStringLiteral(PX_BINARY_DIR "/src/plumadex-cli"))) GTEST_SKIP() << "no plumadex-cli";
    if (!QFileInfo::exists(kPython)) GTEST_SKIP() << "no python3";
    QProcess py;
    py.start(kPython, {"-c", kFixture, QString::fromStdString(src())});
    ASSERT_TRUE(py.waitForFinished(60000));
    ASSERT_EQ(py.exitCode(), 0) << py.readAllStandardError().toStdString();
  }
  std::string home() const { return dir_.path().toStdString() + "/home/"; }
  std::string src() const { return dir_.path().toStdString() + "/src/"; }
  std::string docs() const { return home() + "Documents/"; }

  struct Out {
    int status;
    std::string out, err;
  };
  Out Run(const QStringList& args) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PLUMADEX_HOME", QString::fromStdString(home()));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(PX_BINARY_DIR "/src/plumadex-cli"), args);
    p.waitForFinished(120000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput().toStdString(),
            p.readAllStandardError().toStdString()};
  }

  // Documents of a folder: title (or file name) -> Flags.
  std::map<std::string, std::string> Docs(const std::string& folder) {
    std::map<std::string, std::string> r;
    TPXIniBase ini(store::IndexPathOf(folder));
    StringList sections;
    ini.ReadSections(sections);
    for (const auto& s : sections) {
      std::string title = ini.ReadString(s, "Title", "");
      if (title.empty()) title = s.substr(0, s.rfind('.'));
      r[title] = ini.ReadString(s, "Flags", "");
    }
    return r;
  }

  // Every file under the home, relative.
  std::vector<std::string> AllFiles() {
    std::vector<std::string> r;
    QDirIterator it(QString::fromStdString(home()), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) r.push_back(it.next().mid(int(home().size())).toStdString());
    return r;
  }

  QTemporaryDir dir_;
};

TEST_F(CliImportTest, MboxTreeIsFiledWithItsFoldersAndASecondImportAddsNothing) {
  Out o = Run({"import", "mbox", QString::fromStdString(src() + "mbox")});
  ASSERT_EQ(o.status, 0) << o.out << o.err;
  EXPECT_NE(o.out.find("Imported: 5 message(s) in 3 folder(s)"), std::string::npos) << o.out;
  const std::string base = docs() + "Imported/mbox/";
  auto inbox = Docs(base + "Inbox/");
  ASSERT_EQ(inbox.size(), 3u) << o.out << o.err;
  // Imported mail arrives read (it was read in the program it came from).
  EXPECT_EQ(inbox["plain lf"], "4097");
  EXPECT_EQ(inbox["crlf ends"], "4097");
  EXPECT_EQ(inbox["lone cr ends"], "4097");
  EXPECT_EQ(px::test::readFile(base + "Inbox/plain lf.txt"), "First line\r\nFrom the quoted line\r\n");
  EXPECT_EQ(Docs(base + "Work/2003/").size(), 1u);
  // The hostile name is one folder inside the target.
  EXPECT_EQ(Docs(base + "a_.._.._escape/").size(), 1u);
  for (const auto& f : AllFiles())
    EXPECT_TRUE(f.starts_with("Documents/Imported/mbox/") || f.starts_with("data/") || f.starts_with("Documents/TRASH"))
        << f;

  const auto before = AllFiles();
  Out again = Run({"import", "mbox", QString::fromStdString(src() + "mbox")});
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_NE(again.out.find("Imported: 0 message(s)"), std::string::npos) << again.out;
  EXPECT_NE(again.out.find("5 message(s): already imported"), std::string::npos) << again.out;
  EXPECT_EQ(Docs(base + "Inbox/").size(), 3u);
  EXPECT_EQ(AllFiles().size(), before.size());
}

TEST_F(CliImportTest, MaildirKeepsReadStateAndIntoNamesTheTarget) {
  Out dry = Run({"import", "maildir", QString::fromStdString(src() + "Maildir"), "--into", "Old mail", "--dry-run"});
  ASSERT_EQ(dry.status, 0) << dry.err;
  EXPECT_NE(dry.out.find("Would import: 3 message(s)"), std::string::npos) << dry.out;
  EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(docs() + "Old mail")));

  Out o = Run({"import", "maildir", QString::fromStdString(src() + "Maildir"), "--into", "Old mail"});
  ASSERT_EQ(o.status, 0) << o.out << o.err;
  auto inbox = Docs(docs() + "Old mail/Inbox/");
  EXPECT_EQ(inbox["not yet read"], "4609");  // received, unread
  EXPECT_EQ(inbox["already read"], "4097");  // received, read
  EXPECT_EQ(Docs(docs() + "Old mail/Archive/")["archived"], "4097");

  Out out = Run({"import", "maildir", QString::fromStdString(src() + "Maildir"), "--into", "../outside"});
  EXPECT_EQ(out.status, 2);
}

TEST_F(CliImportTest, AnLdifAddressBookImportedTwiceAddsItsPeopleAndGroupsOnce) {
  px::test::writeFile(src() + "book.ldif",
                      "dn: cn=Ann Example,mail=ann@example.org\nobjectclass: person\ngivenName: Ann\nsn: Example\n"
                      "mail: ann@example.org\n\ndn: cn=List\nobjectclass: groupOfNames\ncn: List\n"
                      "member: cn=Ann Example,mail=ann@example.org\n\n"
                      "dn: cn=..\nobjectclass: groupOfNames\ncn: ..\n");
  Out o = Run({"import", "ldif", QString::fromStdString(src() + "book.ldif")});
  ASSERT_EQ(o.status, 0) << o.out << o.err;
  EXPECT_NE(o.out.find("Imported: 0 messages, 1 contact(s), 2 group(s)"), std::string::npos) << o.out;
  // The list is a group folder holding its member; the hostile name stays inside Contacts.
  const std::string group = home() + "data/Contacts/List/";
  EXPECT_TRUE(QFileInfo(QString::fromStdString(group)).isDir());
  EXPECT_NE(px::test::readFile(group + "Plumadex.ini").find("[$$$AB."), std::string::npos);
  for (const auto& f : AllFiles())
    EXPECT_TRUE(f.starts_with("Documents/") || f.starts_with("data/")) << f;
  EXPECT_TRUE(QFileInfo(QString::fromStdString(home() + "data/Contacts/__")).isDir());
  Out again = Run({"import", "ldif", QString::fromStdString(src() + "book.ldif")});
  EXPECT_NE(again.out.find("Imported: 0 messages, 0 contact(s), 0 group(s)"), std::string::npos) << again.out;
  EXPECT_NE(again.out.find("1 card(s): already in Contacts"), std::string::npos) << again.out;
  int cards = 0;
  for (const auto& f : AllFiles()) cards += f.ends_with(".vcf");
  EXPECT_EQ(cards, 1);
}

// Every source the command reads, imported twice: the second time adds nothing, and nothing is
// written outside the documents and data folders.
TEST_F(CliImportTest, EverySourceImportedTwiceAddsNothingTheSecondTime) {
  const test::ThunderbirdProfile tb = test::MakeThunderbirdProfile(src() + "tbhome/");
  // Evolution: local mail as Maildir++, an address book in contacts.db.
  const std::string evo = src() + "evolution/";
  px::test::makeDirs(evo + "mail/local/cur");
  px::test::makeDirs(evo + "mail/local/new");
  px::test::makeDirs(evo + "mail/local/.Lists/cur");
  px::test::makeDirs(evo + "mail/local/.Lists/new");
  px::test::writeFile(evo + "mail/local/cur/1.host:2,S", "From: a@x.org\nSubject: evo read\nMessage-ID: <e1@x>\n\nhi\n");
  px::test::writeFile(evo + "mail/local/.Lists/new/2.host", "From: b@x.org\nSubject: evo list\n\nho\n");
  px::test::makeDirs(evo + "addressbook/system");
  {
    sqlite3* db = nullptr;
    sqlite3_open((evo + "addressbook/system/contacts.db").c_str(), &db);
    sqlite3_exec(db,
                 "CREATE TABLE folder_id (uid TEXT PRIMARY KEY, vcard TEXT);"
                 "INSERT INTO folder_id VALUES ('p1', 'BEGIN:VCARD\nVERSION:3.0\nFN:Evo Person\nEMAIL:evo@x.org\nEND:VCARD');",
                 nullptr, nullptr, nullptr);
    sqlite3_close(db);
  }
  // Netscape: mailbox files with .snm summaries and a .sbd subfolder.
  const std::string ns = src() + "netscape/";
  px::test::makeDirs(ns + "Inbox.sbd");
  px::test::writeFile(ns + "Inbox", "From - Mon Jan 1 00:00:00 2001\r\nSubject: ns one\r\n\r\nbody\r\n");
  px::test::writeFile(ns + "Inbox.snm", std::string("\x00\x01binary summary", 17));
  px::test::writeFile(ns + "Inbox.sbd/Old", "From - Mon Jan 1 00:00:00 2001\nSubject: ns two\n\nbody\n");
  px::test::writeFile(src() + "cards.vcf",
                      "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Card One\r\nEMAIL:one@x.org\r\nEND:VCARD\r\n"
                      "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Card Two\r\nEMAIL:two@x.org\r\nEND:VCARD\r\n");
  const struct {
    const char* source;
    std::string path;
    const char* first;
  } cases[] = {
      {"thunderbird", tb.profile, "Imported: 4 message(s) in 3 folder(s), 3 contact(s), 1 account(s)"},
      {"evolution", evo, "Imported: 2 message(s) in 2 folder(s), 1 contact(s), 0 account(s)"},
      {"netscape", ns, "Imported: 2 message(s) in 2 folder(s), 0 contact(s), 0 account(s)"},
      {"vcard", src() + "cards.vcf", "Imported: 0 messages, 2 contact(s)"},
  };
  for (const auto& c : cases) {
    Out o = Run({"import", c.source, QString::fromStdString(c.path)});
    EXPECT_EQ(o.status, 0) << c.source << o.out << o.err;
    EXPECT_NE(o.out.find(c.first), std::string::npos) << c.source << "\n" << o.out;
    Out again = Run({"import", c.source, QString::fromStdString(c.path)});
    const bool mail = std::string(c.source) != "vcard";
    EXPECT_NE(again.out.find(mail ? "Imported: 0 message(s)" : "Imported: 0 messages, 0 contact(s)"), std::string::npos)
        << c.source << "\n" << again.out;
    EXPECT_NE(again.out.find(", 0 contact(s)"), std::string::npos) << c.source << "\n" << again.out;
    EXPECT_EQ(again.out.find("1 account(s)"), std::string::npos) << c.source << "\n" << again.out;
    // A name from outside never breaks the summary's lines.
    EXPECT_EQ(again.out.find("\n[Settings]"), std::string::npos) << again.out;
  }
  for (const auto& f : AllFiles())
    EXPECT_TRUE(f.starts_with("Documents/") || f.starts_with("data/")) << f;
  EXPECT_EQ(Docs(docs() + "Imported/netscape/Inbox/Old/").count("ns two"), 1u);
  EXPECT_EQ(Docs(docs() + "Imported/evolution/Lists/").count("evo list"), 1u);

  // Outlook stores say why they cannot be read, and change nothing.
  Out pst = Run({"import", "pst", QString::fromStdString(src() + "x.pst")});
  EXPECT_EQ(pst.status, 2);
  EXPECT_NE(pst.err.find("cannot be read"), std::string::npos) << pst.err;
}

}  // namespace
}  // namespace px::import
