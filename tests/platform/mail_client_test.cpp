#include "platform/mail_client.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <string>

namespace px::platform {
namespace {

std::string Read(const std::string& path) {
  QFile f(QString::fromStdString(path));
  if (!f.open(QIODevice::ReadOnly)) return "<missing>";
  return f.readAll().toStdString();
}

void Write(const std::string& path, const std::string& text) {
  QDir().mkpath(QFileInfo(QString::fromStdString(path)).absolutePath());
  QFile f(QString::fromStdString(path));
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write(text.data(), static_cast<qint64>(text.size()));
}

TEST(MimeAppsTest, SettingAndRemovingTheMailtoEntryKeepsEveryOtherLine) {
  struct Case {
    const char* name;
    std::string text;
    std::string value;
    std::string expected;
  };
  const Case cases[] = {
      {"empty file gains the group", "", "me.desktop", "[Default Applications]\nx-scheme-handler/mailto=me.desktop\n"},
      {"entry replaced in place",
       "# mine\n[Default Applications]\ntext/plain=ed.desktop\nx-scheme-handler/mailto=old.desktop;\nimage/png=view.desktop\n",
       "me.desktop",
       "# mine\n[Default Applications]\ntext/plain=ed.desktop\nx-scheme-handler/mailto=me.desktop\nimage/png=view.desktop\n"},
      {"added at the end of its group, not of the file",
       "[Default Applications]\ntext/plain=ed.desktop\n\n[Added Associations]\nx-scheme-handler/mailto=other.desktop;\n",
       "me.desktop",
       "[Default Applications]\ntext/plain=ed.desktop\n\nx-scheme-handler/mailto=me.desktop\n[Added Associations]\n"
       "x-scheme-handler/mailto=other.desktop;\n"},
      {"group missing among others",
       "[Added Associations]\ntext/plain=ed.desktop;\n", "me.desktop",
       "[Added Associations]\ntext/plain=ed.desktop;\n\n[Default Applications]\nx-scheme-handler/mailto=me.desktop\n"},
      {"empty value removes the entry and its duplicates",
       "[Default Applications]\nx-scheme-handler/mailto=me.desktop\ntext/plain=ed.desktop\n x-scheme-handler/mailto = again.desktop\n",
       "", "[Default Applications]\ntext/plain=ed.desktop\n"},
      {"CR LF lines are read", "[Default Applications]\r\nx-scheme-handler/mailto=old.desktop\r\n", "me.desktop",
       "[Default Applications]\nx-scheme-handler/mailto=me.desktop\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string out = MimeAppsWithDefault(c.text, kMailtoType, c.value);
    EXPECT_EQ(out, c.expected);
    EXPECT_EQ(MimeAppsDefault(out, kMailtoType), c.value);
  }
  EXPECT_EQ(MimeAppsDefault("[Added Associations]\nx-scheme-handler/mailto=a.desktop\n", kMailtoType), "");
}

class MailClientTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    root_ = dir_.path().toStdString() + "/";
    env_.userMimeApps = root_ + "config/mimeapps.list";
    env_.systemMimeApps = {root_ + "etc/mimeapps.list"};
    env_.applicationFolders = {root_ + "apps/"};
    Write(root_ + "apps/" + kDesktopId, "[Desktop Entry]\nType=Application\nName=Plumadex\nExec=plumadex %u\n");
  }
  QTemporaryDir dir_;
  std::string root_;
  MailClientEnv env_;
};

TEST_F(MailClientTest, ClaimTakesTheHandlerAndReleaseGivesBackTheUsersFileExactly) {
  const std::string before = "# kept\n[Default Applications]\nx-scheme-handler/mailto=mutt.desktop;\ntext/plain=ed.desktop\n";
  Write(env_.userMimeApps, before);
  DefaultMailClient client(env_);
  EXPECT_EQ(client.CurrentHandler(), "mutt.desktop");
  client.ClaimMailClient();
  EXPECT_TRUE(client.Claimed());
  EXPECT_EQ(client.CurrentHandler(), kDesktopId);
  client.ReleaseMailClient();
  EXPECT_EQ(Read(env_.userMimeApps), before);
}

TEST_F(MailClientTest, AHandlerFromTheSystemFilesIsRestoredByRemovingOurEntry) {
  Write(root_ + "etc/mimeapps.list", "[Default Applications]\nx-scheme-handler/mailto=system.desktop\n");
  DefaultMailClient client(env_);
  client.ClaimMailClient();
  EXPECT_EQ(client.CurrentHandler(), kDesktopId);
  client.ReleaseMailClient();
  EXPECT_EQ(client.CurrentHandler(), "system.desktop");
  EXPECT_EQ(MimeAppsDefault(Read(env_.userMimeApps), kMailtoType), "");
}

TEST_F(MailClientTest, NothingIsWrittenWhenAlreadyTheMailProgramOrNotInstalled) {
  const std::string ours = std::string("[Default Applications]\nx-scheme-handler/mailto=") + kDesktopId + "\n";
  Write(env_.userMimeApps, ours);
  {
    DefaultMailClient client(env_);
    client.ClaimMailClient();
    EXPECT_FALSE(client.Claimed());
    client.ReleaseMailClient();
    EXPECT_EQ(Read(env_.userMimeApps), ours);  // still ours: nothing given back
  }
  QFile::remove(QString::fromStdString(env_.userMimeApps));
  QFile::remove(QString::fromStdString(root_ + "apps/" + kDesktopId));
  DefaultMailClient client(env_);
  client.ClaimMailClient();
  EXPECT_FALSE(client.Claimed());
  EXPECT_EQ(Read(env_.userMimeApps), "<missing>");
}

TEST_F(MailClientTest, AHandlerTheUserChoseWhileWeRanIsNotOverwritten) {
  Write(env_.userMimeApps, "[Default Applications]\nx-scheme-handler/mailto=mutt.desktop\n");
  DefaultMailClient client(env_);
  client.ClaimMailClient();
  const std::string chosen = "[Default Applications]\nx-scheme-handler/mailto=newer.desktop\n";
  Write(env_.userMimeApps, chosen);
  client.ReleaseMailClient();
  EXPECT_EQ(Read(env_.userMimeApps), chosen);
}

// The same lifecycle through the system's xdg-mime, in its desktop-neutral mode.
TEST_F(MailClientTest, ClaimAndReleaseThroughXdgMime) {
  const QString xdgMime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
  if (xdgMime.isEmpty()) GTEST_SKIP() << "xdg-mime is not installed";
  struct EnvGuard {
    QByteArray name, old;
    bool had;
    EnvGuard(const char* n, const std::string& v) : name(n), old(qgetenv(n)), had(qEnvironmentVariableIsSet(n)) {
      qputenv(n, QByteArray::fromStdString(v));
    }
    ~EnvGuard() { had ? (void)qputenv(name.constData(), old) : (void)qunsetenv(name.constData()); }
  };
  EnvGuard g1("XDG_CONFIG_HOME", root_ + "config"), g2("XDG_DATA_HOME", root_ + "data"),
      g3("XDG_DATA_DIRS", root_ + "none"), g4("XDG_CONFIG_DIRS", root_ + "none"), g5("XDG_CURRENT_DESKTOP", ""),
      g6("DE", ""), g7("KDE_FULL_SESSION", ""), g8("GNOME_DESKTOP_SESSION_ID", "");
  for (const char* id : {kDesktopId, "mutt.desktop"})
    Write(root_ + "data/applications/" + id, "[Desktop Entry]\nType=Application\nName=X\nExec=true %u\n");
  const std::string before = "[Default Applications]\nx-scheme-handler/mailto=mutt.desktop\n";
  Write(root_ + "config/mimeapps.list", before);
  MailClientEnv env;
  env.userMimeApps = root_ + "config/mimeapps.list";
  env.applicationFolders = {root_ + "data/applications/"};
  env.xdgMime = xdgMime.toStdString();
  DefaultMailClient client(env);
  ASSERT_EQ(client.CurrentHandler(), "mutt.desktop");
  client.ClaimMailClient();
  ASSERT_TRUE(client.Claimed());
  EXPECT_EQ(client.CurrentHandler(), kDesktopId);
  client.ReleaseMailClient();
  EXPECT_EQ(client.CurrentHandler(), "mutt.desktop");
}

}  // namespace
}  // namespace px::platform
