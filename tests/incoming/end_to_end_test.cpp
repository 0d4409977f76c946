// Two users of one loopback service, each with a data root of their own, driven through the
// command line: one queues and sends, the other receives and files; the receipt comes back.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

#include "store/index_file.h"
#include "store/list_file.h"
#include "support/test_paths.h"
#include "support/test_support.h"
#include "transport/peer_fixture.h"

namespace px::incoming::test {
namespace {

struct Cli {
  int status = -1;
  std::string out, err;
};

class User {
public:
  explicit User(const px::test::ServicePeer& peer) : peer_(peer) {}
  std::string root() const { return dir_.path().toStdString() + "/"; }
  std::string docs() const { return root() + "Documents/"; }
  std::string data() const { return root() + "data/"; }

  Cli Run(const QStringList& args, const std::string& input = {}) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PLUMADEX_HOME", dir_.path());
    env.insert("PLUMADEX_SERVICE_CA", QString::fromStdString(peer_.CaFile()));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(PX_BINARY_DIR "/src/plumadex-cli"), args);
    p.waitForStarted();
    if (!input.empty()) p.write(input.data(), static_cast<qint64>(input.size()));
    p.closeWriteChannel();
    Cli r;
    if (!p.waitForFinished(120000)) p.kill();
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput().toStdString();
    r.err = p.readAllStandardError().toStdString();
    return r;
  }
  std::string Value(const std::string& folder, const std::string& section, const std::string& key) {
    TPXIniBase ini(store::IndexPathOf(folder));
    return ini.ReadString(section, key, "<none>");
  }

private:
  const px::test::ServicePeer& peer_;
  QTemporaryDir dir_;
};

TEST(EndToEnd, SentByOneUserFiledByTheOtherWithAReceiptBack) {
  if (!QFileInfo::exists(QStringLiteral(PX_BINARY_DIR "/src/plumadex-cli"))) GTEST_SKIP();
  px::test::ServicePeer peer({"ann:annpw", "bob:bobpw"});
  ASSERT_TRUE(peer.Running());
  User ann(peer), bob(peer);
  const QString server = QString::fromStdString(peer.Host());
  ASSERT_EQ(ann.Run({"service", "set", "--user", "ann", "--server", server, "--password-stdin"}, "annpw\n").status, 0);
  ASSERT_EQ(bob.Run({"service", "set", "--user", "bob", "--server", server, "--password-stdin"}, "bobpw\n").status, 0);

  px::test::makeDirs(ann.docs());
  px::test::writeFile(ann.docs() + "Lunch on Friday.txt", "Shall we meet at noon?\r\n");
  Cli c = ann.Run({"outbox", QString::fromStdString(ann.docs() + "Lunch on Friday.txt"), "--to", "bob"});
  ASSERT_EQ(c.status, 0) << c.err;
  c = ann.Run({"send"});
  ASSERT_EQ(c.status, 0) << c.err;
  const std::string id = ann.Value(ann.docs(), "Lunch on Friday.txt", "MsgID");
  const std::string base = id.substr(0, id.find(':'));
  ASSERT_FALSE(base.empty());

  c = bob.Run({"receive"});
  ASSERT_EQ(c.status, 0) << c.err;
  EXPECT_NE(c.out.find("Lunch on Friday.txt"), std::string::npos) << c.out;
  EXPECT_EQ(px::test::readFile(bob.docs() + "Lunch on Friday.txt"), "Shall we meet at noon?\r\n");
  EXPECT_EQ(bob.Value(bob.docs(), "Lunch on Friday.txt", "Flags"), "4609");
  EXPECT_EQ(bob.Value(bob.docs(), "Lunch on Friday.txt", "MsgID").substr(0, base.size() + 1), "0" + base);
  EXPECT_NE(bob.Value(bob.docs(), "Lunch on Friday.txt", "Address").find("ann"), std::string::npos);
  EXPECT_EQ(bob.Value(bob.docs(), "Lunch on Friday.txt", "To"), "bob");
  EXPECT_EQ(store::ReadListFile(bob.data() + "unread.lst"), (StringList{bob.docs() + "=1"}));
  c = bob.Run({"list", QString::fromStdString(bob.docs())});
  EXPECT_NE(c.out.find("Lunch on Friday"), std::string::npos) << c.out;
  // Receiving again brings nothing new.
  c = bob.Run({"receive"});
  EXPECT_EQ(c.status, 0) << c.err;
  EXPECT_EQ(c.out, "");

  // Bob's confirmation asked the service for a receipt: Ann's copy records the delivery.
  c = ann.Run({"receive"});
  ASSERT_EQ(c.status, 0) << c.err;
  const std::string delivered = ann.Value(ann.docs(), "Lunch on Friday.txt", "Delivered");
  EXPECT_NE(delivered.find(" bob"), std::string::npos) << delivered;
  TPXIniBase sent(ann.data() + "sent.ini");
  EXPECT_FALSE(sent.ReadString("$$$LNK." + id, "Sent", "").empty());
  EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(ann.docs() + "Lunch on Friday (2).txt")));
}

TEST(EndToEnd, AForgottenPasswordThatCannotBeSavedIsTold) {
  if (!QFileInfo::exists(QStringLiteral(PX_BINARY_DIR "/src/plumadex-cli"))) GTEST_SKIP();
  if (::geteuid() == 0) GTEST_SKIP() << "root writes everywhere";
  px::test::ServicePeer peer({"ann:annpw"});
  ASSERT_TRUE(peer.Running());
  User ann(peer);
  const QString server = QString::fromStdString(peer.Host());
  ASSERT_EQ(ann.Run({"service", "set", "--user", "ann", "--server", server, "--password-stdin"}, "wrong\n").status, 0);
  // The refused password is forgotten, but the data root takes no new file.
  ASSERT_EQ(::chmod(ann.data().c_str(), 0500), 0);
  const Cli c = ann.Run({"receive"});
  ::chmod(ann.data().c_str(), 0700);
  EXPECT_EQ(c.status, 1);
  EXPECT_NE(c.err.find("plumadex-cli receive: Cannot "), std::string::npos) << c.err;
  EXPECT_NE(c.err.find(ann.data() + "User.ini"), std::string::npos) << c.err;
}

}  // namespace
}  // namespace px::incoming::test

namespace px::incoming::test {
namespace {

TEST(EndToEnd, ReceivedMailIsSortedByTheRulesOnce) {
  if (!QFileInfo::exists(QStringLiteral(PX_BINARY_DIR "/src/plumadex-cli"))) GTEST_SKIP();
  px::test::ServicePeer peer({"ann:annpw", "bob:bobpw"});
  ASSERT_TRUE(peer.Running());
  User ann(peer), bob(peer);
  const QString server = QString::fromStdString(peer.Host());
  ASSERT_EQ(ann.Run({"service", "set", "--user", "ann", "--server", server, "--password-stdin"}, "annpw\n").status, 0);
  ASSERT_EQ(bob.Run({"service", "set", "--user", "bob", "--server", server, "--password-stdin"}, "bobpw\n").status, 0);
  px::test::makeDirs(bob.docs() + "Friends/");
  Cli c = bob.Run({"rules", "add", "Friends", "--move", "Friends", "F < ANN@plumadex.net"});
  ASSERT_EQ(c.status, 0) << c.err;
  c = bob.Run({"rules", "add", "Junk", "--delete", "S < casino"});
  ASSERT_EQ(c.status, 0) << c.err;

  px::test::makeDirs(ann.docs());
  px::test::writeFile(ann.docs() + "Dinner.txt", "At eight?\r\n");
  px::test::writeFile(ann.docs() + "casino night.txt", "Bring chips\r\n");
  for (const char* f : {"Dinner.txt", "casino night.txt"}) {
    c = ann.Run({"outbox", QString::fromStdString(ann.docs() + f), "--to", "bob"});
    ASSERT_EQ(c.status, 0) << c.err;
  }
  ASSERT_EQ(ann.Run({"send"}).status, 0);

  c = bob.Run({"receive"});
  ASSERT_EQ(c.status, 0) << c.err;
  EXPECT_EQ(px::test::readFile(bob.docs() + "Friends/Dinner.txt"), "At eight?\r\n");
  EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(bob.docs() + "Dinner.txt")));
  // Both rules take the casino message: a copy in Friends, the original in the trash.
  EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(bob.docs() + "Friends/casino night.txt")));
  EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(bob.docs() + "TRASH/casino night.txt")));
  EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(bob.docs() + "casino night.txt")));
  EXPECT_EQ(bob.Value(bob.docs() + "Friends/", "Dinner.txt", "Flags"), "4609");

  // Once: a second receive brings and sorts nothing again.
  c = bob.Run({"receive"});
  EXPECT_EQ(c.status, 0) << c.err;
  EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(bob.docs() + "Friends/Dinner (2).txt")));
  EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(bob.docs() + "Dinner.txt")));
  QDir friends(QString::fromStdString(bob.docs() + "Friends/"));
  QStringList files = friends.entryList(QDir::Files);
  files.sort();
  EXPECT_EQ(files, (QStringList{"Dinner.txt", "Plumadex.ini", "casino night.txt"}));

  // Renaming the folder takes its rule along.
  c = bob.Run({"rename", QString::fromStdString(bob.docs() + "Friends"), "Family"});
  ASSERT_EQ(c.status, 0) << c.err;
  c = bob.Run({"rules", "list"});
  EXPECT_NE(c.out.find("Friends|OM " + bob.docs() + "Family/|F < ann"), std::string::npos) << c.out;
}

}  // namespace
}  // namespace px::incoming::test
