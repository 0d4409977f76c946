#include "store/index_file.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QFile>
#include <thread>

namespace px::store {
namespace {

using px::test::makeDirs;
using px::test::readFile;
using px::test::TempHome;
using px::test::writeFile;

bool exists(const std::string& p) { return QFile::exists(QString::fromStdString(p)); }

TEST(IniRegistry, HandlesShareOneCopyAndEveryReleaseSaves) {
  TempHome home;
  IniRegistry reg;
  std::string path = home.path("Plumadex.ini");
  TPXIniFile a(reg, path);
  {
    TPXIniFile b(reg, path);
    b.WriteString("Doc.txt", "Title", "Hello");
    EXPECT_EQ(a.ReadString("doc.TXT", "title", ""), "Hello");  // before either is released
    EXPECT_FALSE(exists(path));
    EXPECT_EQ(reg.OpenCount(), 1u);
  }
  // b's release saved, although a is still open.
  EXPECT_EQ(readFile(path), "[Doc.txt]\r\nTitle=Hello\r\n\r\n");
  EXPECT_TRUE(reg.IsOpen(path));
  a.WriteString("Doc.txt", "Flags", "512");
  EXPECT_TRUE(a.Release().ok());
  EXPECT_FALSE(a.IsOpen());
  EXPECT_FALSE(reg.IsOpen(path));
  EXPECT_EQ(readFile(path), "[Doc.txt]\r\nTitle=Hello\r\nFlags=512\r\n\r\n");
  // A released handle reads defaults and ignores writes.
  EXPECT_EQ(a.ReadString("Doc.txt", "Title", "-"), "-");
  a.WriteString("x", "y", "z");
  EXPECT_TRUE(a.Release().ok());
}

TEST(IniRegistry, SavesWithChangesAreToldToTheObserver) {
  TempHome home;
  IniRegistry reg;
  std::vector<std::string> saved;
  reg.SetSaveObserver([&saved](const std::string& p) { saved.push_back(p); });
  const std::string path = home.path("Plumadex.ini");
  { TPXIniFile reader(reg, path); }  // read only: nothing written, nothing told
  EXPECT_TRUE(saved.empty());
  {
    TPXIniFile h(reg, path);
    h.WriteString("Doc.txt", "Title", "Hello");
    EXPECT_TRUE(h.UpdateFile().ok());
    EXPECT_EQ(saved, std::vector<std::string>{path});
  }  // the release has nothing left to write
  EXPECT_EQ(saved.size(), 1u);
  {
    TPXIniFile h(reg, path);
    h.WriteString("Doc.txt", "Flags", "512");
  }
  EXPECT_EQ(saved.size(), 2u);
  // A save that fails is not a change.
  makeDirs(home.path("ro/Plumadex.ini"));
  {
    TPXIniFile h(reg, home.path("ro/Plumadex.ini"));
    h.WriteString("a", "b", "c");
  }
  (void)reg.TakeSaveErrors();
  EXPECT_EQ(saved.size(), 2u);
}

TEST(IniRegistry, FileIsReReadOnlyWhenNoHandleIsOpen) {
  TempHome home;
  IniRegistry reg;
  std::string path = home.path("Plumadex.ini");
  writeFile(path, "[a]\r\nk=1\r\n");
  {
    TPXIniFile h(reg, path);
    EXPECT_EQ(h.ReadString("a", "k", ""), "1");  // read when first asked
    writeFile(path, "[a]\r\nk=2\r\n");
    TPXIniFile h2(reg, path);
    EXPECT_EQ(h2.ReadString("a", "k", ""), "1");  // shares the copy already in memory
  }
  TPXIniFile h3(reg, path);
  EXPECT_EQ(h3.ReadString("a", "k", ""), "2");
}

TEST(IniRegistry, IndexNameCaseSharesButFolderCaseDoesNot) {
  TempHome home;
  IniRegistry reg;
  makeDirs(home.path("Mail"));
  makeDirs(home.path("mail"));
  TPXIniFile a(reg, home.path("Mail/Plumadex.ini"));
  TPXIniFile b(reg, home.path("Mail/PLUMADEX.INI"));
  TPXIniFile c(reg, home.path("mail/Plumadex.ini"));
  TPXIniFile d(reg, home.path("Mail/./Plumadex.ini"));
  a.WriteString("s", "k", "v");
  EXPECT_EQ(b.ReadString("s", "k", ""), "v");
  EXPECT_EQ(d.ReadString("s", "k", ""), "v");
  EXPECT_EQ(c.ReadString("s", "k", ""), "");  // another folder on a case-sensitive disk
  EXPECT_EQ(reg.OpenCount(), 2u);
}

TEST(IniRegistry, DesktopIndexIsKeptInTheDataRoot) {
  TempHome home;
  IniRegistry reg;
  std::string desktop = home.path("Desktop/");
  std::string data = home.path("data/");
  makeDirs(desktop);
  makeDirs(data);
  reg.SetDesktopAlias(desktop.substr(0, desktop.size() - 1), data);
  EXPECT_EQ(reg.MapPath(IndexPathOf(desktop)), data + "WinDesktop.ini");
  {
    TPXIniFile ini(reg, IndexPathOf(desktop));
    ini.WriteString("note.txt", "Title", "Note");
    EXPECT_EQ(ini.FileName(), data + "WinDesktop.ini");
  }
  EXPECT_FALSE(exists(desktop + "Plumadex.ini"));
  EXPECT_EQ(readFile(data + "WinDesktop.ini"), "[note.txt]\r\nTitle=Note\r\n\r\n");
  reg.RemoveAlias(desktop + "plumadex.ini");
  EXPECT_EQ(reg.MapPath(desktop + "Plumadex.ini"), desktop + "Plumadex.ini");
}

TEST(IniRegistry, FailedSavesReachTheCaller) {
  TempHome home;
  IniRegistry reg;
  std::string path = home.path("gone/Plumadex.ini");  // its folder does not exist
  {
    TPXIniFile ini(reg, path);
    ini.WriteString("a", "k", "1");
    FileStatus st = ini.UpdateFile();
    EXPECT_EQ(st.error, ENOENT);
    EXPECT_EQ(ini.LastError().error, ENOENT);
    TPXIniFile other(reg, path);
    EXPECT_EQ(other.Release().error, ENOENT);  // every release tries again
    EXPECT_EQ(other.LastError().error, ENOENT);
    EXPECT_TRUE(reg.TakeSaveErrors().empty());
  }
  // The destructor cannot return it: the registry keeps it for the operation.
  std::vector<FileStatus> errors = reg.TakeSaveErrors();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].message.find("Cannot write " + path), std::string::npos);
  EXPECT_TRUE(reg.TakeSaveErrors().empty());
  EXPECT_EQ(reg.OpenCount(), 0u);
}

TEST(IniRegistry, ThreadsWritingThroughTheirOwnHandlesLoseNothing) {
  TempHome home;
  IniRegistry reg;
  std::string path = home.path("Plumadex.ini");
  constexpr int kThreads = 4, kWrites = 20;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kWrites; ++i) {
        TPXIniFile ini(reg, path);
        ini.WriteString("doc" + std::to_string(i), "k" + std::to_string(t), std::to_string(i));
        StringList names;
        ini.ReadSections(names);
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(reg.OpenCount(), 0u);
  TPXIniBase result(path);
  EXPECT_EQ(result.SectionCount(), size_t(kWrites));
  for (int t = 0; t < kThreads; ++t)
    EXPECT_EQ(result.ReadString("doc" + std::to_string(kWrites - 1), "k" + std::to_string(t), ""),
              std::to_string(kWrites - 1));
}

}  // namespace
}  // namespace px::store
