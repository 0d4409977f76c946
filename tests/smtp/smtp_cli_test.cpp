// The headless road to the Internet: an outgoing server set with plumadex-cli accounts smtp,
// documents queued with plumadex-cli outbox, plumadex-cli send delivering them to the local
// SMTP server as one standard MIME message.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "smtp/smtp_fixture.h"
#include "foundation/ini_file.h"
#include "store/index_file.h"
#include "support/test_paths.h"
#include "support/test_support.h"

using namespace px;
using namespace px::transport::testing;

namespace {

struct Cli {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  QString program = PX_BINARY_DIR "/src/plumadex-cli";
  std::pair<int, std::string> operator()(const QStringList& args, const QByteArray& input = {}) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    p.waitForStarted();
    if (!input.isEmpty()) p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(120000);
    return {p.exitCode(), (p.readAllStandardOutput() + p.readAllStandardError()).toStdString()};
  }
};

}  // namespace

TEST(SmtpCli, QueuedDocumentsArriveAsOneMimeMessage) {
  Cli cli;
  if (!QFile::exists(cli.program)) GTEST_SKIP() << "plumadex-cli is not built";
  SmtpTestServer server;
  QTemporaryDir root;
  cli.env.insert("PLUMADEX_HOME", root.path());
  cli.env.insert("PLUMADEX_SMTP_CA", QString::fromStdString(TestCa::Get().caFile()));

  auto [rc, text] = cli({"accounts", "smtp", "ann@example.org", "--server", "127.0.0.1:" + QString::number(server.port()),
                         "--user", "alice", "--password-stdin", "--security", "starttls", "--from", "ann@example.org"},
                        "secret\n");
  ASSERT_EQ(rc, 0) << text;
  const std::string userIni = test::readFile(root.path().toStdString() + "/data/User.ini");
  EXPECT_EQ(userIni.find("secret"), std::string::npos);
  EXPECT_NE(userIni.find("[External Account Settings]"), std::string::npos);
  EXPECT_NE(userIni.find("smtp-security=starttls"), std::string::npos);
  EXPECT_EQ(text.find("secret"), std::string::npos);
  std::tie(rc, text) = cli({"accounts", "list"});
  EXPECT_NE(text.find("ann@example.org: outgoing server 127.0.0.1:"), std::string::npos) << text;
  EXPECT_EQ(text.find("secret"), std::string::npos);

  const std::string docs = root.path().toStdString() + "/Documents/";
  test::makeDirs(docs);
  test::writeFile(docs + "hello.txt", "Hello Bob\r\n");
  std::string bin(40000, '\0');
  for (size_t i = 0; i < bin.size(); ++i) bin[i] = static_cast<char>(i * 7 + (i >> 8));
  test::writeFile(docs + "data.bin", bin);
  std::tie(rc, text) = cli({"outbox", QString::fromStdString(docs + "hello.txt"), QString::fromStdString(docs + "data.bin"),
                            "--to", "Bob <bob@example.net>"});
  ASSERT_EQ(rc, 0) << text;
  std::tie(rc, text) = cli({"send"});
  EXPECT_EQ(rc, 0) << text;
  EXPECT_EQ(text.rfind("sent ", 0), 0u) << text;

  auto got = server.Messages();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(Strings(got[0].meta["rcpt_tos"].toArray()), std::vector<std::string>{"bob@example.net"});
  EXPECT_EQ(got[0].meta["mail_from"].toString(), "ann@example.org");
  QJsonObject py = ReadWithPython(got[0].path);
  EXPECT_TRUE(py["defects"].toArray().isEmpty());
  EXPECT_EQ(py["headers"].toObject()["Subject"].toString(), "hello");
  QJsonArray parts = py["parts"].toArray();
  ASSERT_EQ(parts.size(), 3);
  EXPECT_EQ(parts[1].toObject()["sha256"].toString().toStdString(), Sha256("Hello Bob\r\n"));
  EXPECT_EQ(parts[2].toObject()["filename"].toString(), "data.bin");
  EXPECT_EQ(parts[2].toObject()["sha256"].toString().toStdString(), Sha256(bin));

  // Sealed and no longer pending, as after the service route.
  TPXIniBase index(docs + "Plumadex.ini");
  StringList sections;
  index.ReadSections(sections);
  ASSERT_EQ(sections.size(), 2u);
  for (const auto& s : sections) EXPECT_EQ(index.ReadInteger(s, "Flags", 0), 0x2001) << s;
  std::tie(rc, text) = cli({"send"});
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(text.rfind("nothing to send", 0), 0u) << text;
  EXPECT_EQ(server.Messages().size(), 1u);
}
