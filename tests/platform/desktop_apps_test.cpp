#include "platform/desktop_apps.h"
#include "platform/process_launch.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace px::platform {
namespace {

using Args = std::vector<std::string>;

DesktopEntry Entry(const std::string& exec) {
  DesktopEntry e;
  e.name = "Viewer";
  e.exec = exec;
  e.icon = "viewer-icon";
  e.path = "/usr/share/applications/viewer.desktop";
  e.application = true;
  return e;
}

TEST(ExecTest, FieldCodesAreSubstitutedAndFileNamesStayOneArgument) {
  const std::string hostile = "/tmp/a b/\"q\" $HOME `id` %d -rf \xff.txt";
  struct Case {
    const char* exec;
    Args files;
    Args expected;
  };
  const Case cases[] = {
      {"viewer %f", {"/x/a.png"}, {"viewer", "/x/a.png"}},
      {"viewer %u", {"/x/a.png"}, {"viewer", "/x/a.png"}},
      {"viewer %F", {"/a", "/b"}, {"viewer", "/a", "/b"}},
      {"viewer %U --end", {}, {"viewer", "--end"}},
      {"viewer", {"/x/a.png"}, {"viewer", "/x/a.png"}},  // no field code: the path is appended
      {"viewer %i %c %k %%", {}, {"viewer", "--icon", "viewer-icon", "Viewer", "/usr/share/applications/viewer.desktop", "%"}},
      {"viewer %d %D %n %N %v %m %f", {"/a"}, {"viewer", "", "", "", "", "", "", "/a"}},
      {"\"/opt/my app/bin\" --open=%f", {"/a"}, {"/opt/my app/bin", "--open=/a"}},
      {"sh -c \"echo \\\"\\$1\\\"\" sh %f", {"/a"}, {"sh", "-c", "echo \"$1\"", "sh", "/a"}},
      {"viewer -- %f", {hostile}, {"viewer", "--", hostile}},
      {"viewer %f", {"-rf"}, {"viewer", "-rf"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.exec);
    const ExecCommand cmd = ExpandExec(Entry(c.exec), c.files);
    ASSERT_TRUE(cmd.ok()) << cmd.error;
    EXPECT_EQ(cmd.argv, c.expected);
  }
}

TEST(ExecTest, MalformedExecLinesGiveAClearError) {
  for (const char* exec : {"", "   ", "viewer \"unclosed %f", "viewer %z", "viewer 100%", "\"\" %f"}) {
    SCOPED_TRACE(exec);
    const ExecCommand cmd = ExpandExec(Entry(exec), {"/a"});
    EXPECT_FALSE(cmd.ok());
    EXPECT_FALSE(cmd.error.empty());
    EXPECT_TRUE(cmd.argv.empty());
  }
}

TEST(DesktopEntryTest, ReadsTheEntryGroupOnly) {
  const auto e = ParseDesktopEntry(
      "# comment\n[Desktop Entry]\nType=Application\nName=Text Editor\nName[de]=Texteditor\n"
      "Exec=edit\\sit %F\nMimeType=text/plain;text/x-csrc;\nTerminal=true\nIcon=edit\n"
      "[Desktop Action new]\nExec=other\nName=Other\n");
  ASSERT_TRUE(e);
  EXPECT_TRUE(e->application);
  EXPECT_EQ(e->name, "Text Editor");
  EXPECT_EQ(e->exec, "edit it %F");
  EXPECT_EQ(e->mimeTypes, (Args{"text/plain", "text/x-csrc"}));
  EXPECT_TRUE(e->terminal);
  std::string why;
  EXPECT_FALSE(ParseDesktopEntry("[Other]\nType=Application\n", &why));
  EXPECT_FALSE(why.empty());
  EXPECT_FALSE(ParseDesktopEntry("", &why));
}

class AppRegistryTest : public ::testing::Test {
protected:
  void SetUp() override {
    root_ = dir_.path().toStdString() + "/";
    dirs_.configHome = root_ + "config/";
    dirs_.configDirs = {root_ + "etc/"};
    dirs_.dataHome = root_ + "home/";
    dirs_.dataDirs = {root_ + "usr/"};
    app("usr/", "editor.desktop", "Editor", "text/plain;");
    app("usr/", "viewer.desktop", "Viewer", "image/png;image/jpeg;");
    app("usr/", "gallery.desktop", "Gallery", "image/png;");
    app("usr/", "kde/okular.desktop", "Okular", "application/pdf;");
    app("usr/", "hidden.desktop", "Hidden", "text/plain;", "Hidden=true\n");
    app("usr/", "missing.desktop", "Missing", "text/plain;", "TryExec=/nonexistent/program\n");
  }
  void write(const std::string& rel, const std::string& text) {
    const QString path = QString::fromStdString(root_ + rel);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text.data(), static_cast<qint64>(text.size()));
  }
  void app(const std::string& data, const std::string& rel, const std::string& name, const std::string& types,
           const std::string& extra = {}) {
    write(data + "applications/" + rel, "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + name +
                                            " %f\nMimeType=" + types + "\n" + extra);
  }
  QTemporaryDir dir_;
  std::string root_;
  XdgDirs dirs_;
};

TEST_F(AppRegistryTest, TheDefaultFollowsMimeappsListThenTheCacheThenTheEntries) {
  {
    AppRegistry reg(dirs_);
    // Nothing set up: the first entry that declares the type.
    ASSERT_TRUE(reg.DefaultFor("image/png"));
    EXPECT_EQ(reg.DefaultFor("text/plain")->id, "editor.desktop");  // hidden and TryExec-less ones skipped
    EXPECT_EQ(reg.DefaultFor("application/pdf")->id, "kde-okular.desktop");
    EXPECT_FALSE(reg.DefaultFor("application/x-unknown"));
    // A subtype falls back to its ancestors.
    EXPECT_EQ(reg.DefaultFor("text/x-csrc", {"text/plain"})->id, "editor.desktop");
  }
  write("usr/applications/mimeinfo.cache", "[MIME Cache]\nimage/png=gallery.desktop;viewer.desktop;\n");
  EXPECT_EQ(AppRegistry(dirs_).DefaultFor("image/png")->id, "gallery.desktop");
  // A program of the user's own data folder comes before the system's cache.
  app("home/", "mine.desktop", "Mine", "image/png;");
  EXPECT_EQ(AppRegistry(dirs_).DefaultFor("image/png")->id, "mine.desktop");
  QFile::remove(QString::fromStdString(root_ + "home/applications/mine.desktop"));
  write("etc/mimeapps.list", "[Default Applications]\nimage/png=viewer.desktop\n");
  EXPECT_EQ(AppRegistry(dirs_).DefaultFor("image/png")->id, "viewer.desktop");
  // The user's own file wins; an id that is not installed is passed over.
  write("config/mimeapps.list", "[Default Applications]\nimage/png=gone.desktop;gallery.desktop;\n");
  EXPECT_EQ(AppRegistry(dirs_).DefaultFor("image/png")->id, "gallery.desktop");
  // A removed association is not taken from the cache.
  write("config/mimeapps.list", "[Removed Associations]\nimage/png=gallery.desktop;viewer.desktop;\n");
  write("etc/mimeapps.list", "");
  EXPECT_FALSE(AppRegistry(dirs_).DefaultFor("image/png"));
}

TEST_F(AppRegistryTest, OpenWithListsTheTypesProgramsFirstThenAllOthers) {
  write("config/mimeapps.list", "[Default Applications]\nimage/png=gallery.desktop\n");
  AppRegistry reg(dirs_);
  const auto apps = reg.AppsFor("image/png");
  ASSERT_EQ(apps.size(), 2u);
  EXPECT_EQ(apps[0].id, "gallery.desktop");
  EXPECT_EQ(apps[1].id, "viewer.desktop");
  std::vector<std::string> others;
  for (const auto& e : reg.OtherApps(apps)) others.push_back(e.id);
  EXPECT_EQ(others, (Args{"editor.desktop", "kde-okular.desktop"}));
}

TEST(SpawnTest, ArgumentsReachTheProgramByteForByte) {
  QTemporaryDir dir;
  const std::string out = dir.path().toStdString() + "/out";
  const std::string odd = "a b \"c\" $HOME `id` \xff\xfe -x";
  const LaunchResult r = SpawnProgram({"sh", "-c", "printf '%s' \"$1\" > \"$2\"", "sh", odd, out});
  ASSERT_TRUE(r.ok()) << r.error;
  int code = -1;
  for (int i = 0; i < 200 && PollProcess(r.pid, &code) == ProcessState::Running; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(code, 0);
  QFile f(QString::fromStdString(out));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll().toStdString(), odd);
  EXPECT_FALSE(SpawnProgram({"/nonexistent/program"}).ok());
}

}  // namespace
}  // namespace px::platform
