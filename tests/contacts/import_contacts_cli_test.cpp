// plumadex-cli import-contacts: cards sharing an address are left out unless --on-shared says
// to merge them or keep both.
#include "support/test_paths.h"
#include "support/test_support.h"

#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

struct CliResult {
  int status = -1;
  std::string out, err;
};

CliResult RunCli(const QStringList& args) {
  CliResult r;
  QProcess p;
  p.start(QStringLiteral(PX_BINARY_DIR "/src/plumadex-cli"), args);
  if (!p.waitForFinished(30000)) return r;
  r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.out = p.readAllStandardOutput().toStdString();
  r.err = p.readAllStandardError().toStdString();
  return r;
}

size_t Cards(const std::string& folder) {
  size_t n = 0;
  for (const auto& e : std::filesystem::directory_iterator(folder)) n += e.path().extension() == ".vcf";
  return n;
}

TEST(ImportContactsCli, SharedAddressesAreLeftOutUnlessAskedOtherwise) {
  if (!QFileInfo::exists(QStringLiteral(PX_BINARY_DIR "/src/plumadex-cli")))
    GTEST_SKIP() << "plumadex-cli is not built";
  px::test::TempHome home;
  const QString rolodex = QStringLiteral(PX_TEST_DATA "/vcards/rolodex.vcf");
  // The third card lists the first card's address too.
  CliResult plain = RunCli({"import-contacts", rolodex});
  EXPECT_EQ(plain.status, 0) << plain.err;
  EXPECT_NE(plain.out.find("2 contact(s) imported, 1 already in Contacts"), std::string::npos) << plain.out;
  const std::string contacts = home.path("data/Contacts/");
  EXPECT_EQ(Cards(contacts), 2u);

  CliResult merged = RunCli({"import-contacts", "--on-shared=merge", rolodex});
  EXPECT_EQ(merged.status, 0) << merged.err;
  EXPECT_NE(merged.out.find("0 contact(s) imported, 3 merged"), std::string::npos) << merged.out;
  EXPECT_EQ(Cards(contacts), 2u);

  CliResult both = RunCli({"import-contacts", "--on-shared=keep-both", rolodex});
  EXPECT_NE(both.out.find("3 contact(s) imported (3 beside a contact with the same address)"), std::string::npos)
      << both.out;
  EXPECT_EQ(Cards(contacts), 5u);

  CliResult wrong = RunCli({"import-contacts", "--on-shared=ask", rolodex});
  EXPECT_EQ(wrong.status, 2);
  EXPECT_NE(wrong.err.find("skip, merge or keep-both"), std::string::npos);
}

}  // namespace
