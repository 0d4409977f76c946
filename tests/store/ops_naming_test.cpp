#include "foundation/random.h"
#include "store/collision_choice.h"
#include "store/index_file.h"
#include "store/unique_names.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cerrno>

using namespace px;
using namespace px::store;
using px::test::TempHome;
using px::test::makeDirs;
using px::test::writeFile;

namespace {

bool validUtf8(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += n;
  }
  return true;
}

}  // namespace

TEST(OpsNaming, UniqueFileNameNumbersCollisionsWithoutRegardToCase) {
  TempHome home;
  const std::string f = home.path("f/");
  makeDirs(f);
  writeFile(f + "Report.doc", "a");
  writeFile(f + "report (2).DOC", "b");
  writeFile(f + "Plan (4).txt", "c");
  struct Case { const char* title; const char* ext; const char* name; const char* outTitle; } cases[] = {
      {"Report", "doc", "Report (3).doc", "Report (3)"},
      {"REPORT", "doc", "REPORT (3).doc", "REPORT (3)"},
      {"Report", "txt", "Report.txt", "Report"},
      {"Plan (4)", "txt", "Plan (5).txt", "Plan (5)"},   // numbering restarts at the given number
      {"Plan (7)", "txt", "Plan (7).txt", "Plan (7)"},
      {"(no subject)", "txt", "(no subject).txt", "(no subject)"},
      {"Folder", "", "Folder", "Folder"},
      {"a/b:c?", "txt", "a_b_c_.txt", "a/b:c?"},
      // A title and extension that spell the index (even before it exists) or its
      // properties section never name a document.
      {"Plumadex", "ini", "Plumadex (2).ini", "Plumadex (2)"},
      {"plumadex", "INI", "plumadex (2).INI", "plumadex (2)"},
      {"$$", "Plumadex", "$$ (2).Plumadex", "$$ (2)"},
      // A title that already ends in its extension does not get it twice.
      {"att67.xls", "xls", "att67.xls", "att67"},
      {"CLOCK.BMP,69C", "bmp,69c", "CLOCK.bmp,69c", "CLOCK"},
      {"Report.DOC", "doc", "Report (3).doc", "Report (3)"},
      {"Plan (4).txt", "txt", "Plan (5).txt", "Plan (5)"},
      {".xls", "xls", "_xls.xls", ".xls"},   // nothing before the extension: the title stays
      {"notes.txt", "doc", "notes.txt.doc", "notes.txt"},
  };
  for (const auto& c : cases) {
    UniqueName u = UniqueFileName(f, c.title, c.ext);
    ASSERT_TRUE(u.ok) << c.title;
    EXPECT_EQ(u.fileName, c.name) << c.title;
    EXPECT_EQ(u.title, c.outTitle) << c.title;
  }
}

TEST(OpsNaming, HostileTitlesGiveSafeShortNames) {
  TempHome home;
  const std::string f = home.path("f/");
  makeDirs(f);
  const std::string longUtf8 = [] {
    std::string s;
    for (int i = 0; i < 400; ++i) s += "\xC3\xA9";  // é: 800 bytes
    return s;
  }();
  const std::string titles[] = {
      std::string(1000, 'x'), longUtf8, "line\r\nbreak\x01", "../../etc/passwd", "Plumadex.ini",
      "..", ".", "", "$$$LNK.x", "/", std::string("nul\0byte", 8),
  };
  for (const auto& t : titles) {
    UniqueName u = UniqueFileName(f, t, "txt");
    ASSERT_TRUE(u.ok) << t;
    EXPECT_LE(u.fileName.size(), kMaxNameBytes) << t;
    EXPECT_TRUE(validUtf8(u.fileName)) << t;
    EXPECT_EQ(u.fileName.find('/'), std::string::npos) << t;
    EXPECT_EQ(u.fileName.find('\0'), std::string::npos) << t;
    EXPECT_FALSE(IsIndexFileName(u.fileName)) << t;
    EXPECT_NE(u.fileName.substr(0, 1), ".") << t;
    for (char c : u.fileName) EXPECT_GE(static_cast<unsigned char>(c), 0x20u) << t;
  }
  // A long name that collides keeps its suffix inside the limit.
  UniqueName first = UniqueFileName(f, std::string(1000, 'y'), "txt");
  writeFile(f + first.fileName, "1");
  UniqueName second = UniqueFileName(f, std::string(1000, 'y'), "txt");
  ASSERT_TRUE(second.ok);
  EXPECT_EQ(second.fileName.size(), kMaxNameBytes);
  EXPECT_EQ(second.fileName.substr(second.fileName.size() - 8), " (2).txt");
}

TEST(OpsNaming, NoRoomForTheExtensionIsReportedNotLooped) {
  TempHome home;
  const std::string f = home.path("f/");
  makeDirs(f);
  UniqueName u = UniqueFileName(f, "Title", std::string(300, 'e'));
  EXPECT_FALSE(u.ok);
  EXPECT_EQ(u.error, ENAMETOOLONG);
}

TEST(OpsNaming, ManyEqualTitlesAreNumberedInOrder) {
  TempHome home;
  const std::string f = home.path("f/");
  makeDirs(f);
  FolderNames names(f);
  for (int i = 1; i <= 300; ++i) {
    UniqueName u = UniqueFileName(names, "(no subject)", "txt");
    ASSERT_TRUE(u.ok);
    EXPECT_EQ(u.fileName, i == 1 ? "(no subject).txt" : "(no subject) (" + std::to_string(i) + ").txt");
    names.Add(u.fileName);
  }
}

TEST(OpsNaming, CutUtf8KeepsWholeCharacters) {
  EXPECT_EQ(CutUtf8("ab\xC3\xA9", 3), "ab");
  EXPECT_EQ(CutUtf8("ab\xC3\xA9", 4), "ab\xC3\xA9");
  EXPECT_EQ(CutUtf8("\xE2\x82\xAC\xE2\x82\xAC", 5), "\xE2\x82\xAC");
}

TEST(OpsNaming, UniqueSectionPrefixGivesUpInsteadOfLooping) {
  TempHome home;
  TPXIniBase ini(home.path("Plumadex.ini"));
  px::RandomSource random(7);
  EXPECT_EQ(UniqueSectionPrefix(ini, "a.txt", false, random), std::optional<std::string>(""));
  EXPECT_EQ(UniqueSectionPrefix(ini, "a.txt", true, random), std::optional<std::string>("$$$1."));
  ini.WriteString("a.txt", "Title", "x");
  ini.WriteString("$$$1.a.txt", "Title", "x");
  auto p = UniqueSectionPrefix(ini, "a.txt", true, random);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->substr(0, 3), "$$$");
  EXPECT_FALSE(ini.SectionExists(*p + "a.txt"));
  for (int i = 0; i < 10000; ++i) ini.WriteString("$$$" + std::to_string(i) + ".a.txt", "T", "x");
  EXPECT_FALSE(UniqueSectionPrefix(ini, "a.txt", true, random).has_value());
}

namespace {
struct CountingResolver : CollisionResolver {
  CollisionAnswer answer;
  int calls = 0;
  CollisionAnswer Ask(const CollisionQuestion&) override {
    ++calls;
    return answer;
  }
};
}  // namespace

TEST(OpsNaming, CollisionChoiceKeepsApplyToAllForOneOperation) {
  CountingResolver r;
  r.answer = {CollisionAction::Replace, {}, true};
  CollisionChoice choice(&r);
  CollisionQuestion q{"a.txt", "a (2)", "", true, true};
  EXPECT_EQ(choice.Decide(q).action, CollisionAction::Replace);
  q.proposedTitle = "b (2)";
  CollisionAnswer second = choice.Decide(q);
  EXPECT_EQ(second.action, CollisionAction::Replace);
  EXPECT_EQ(r.calls, 1);
  // A folder cannot be replaced: the kept choice falls back to a new name.
  q.offerReplace = false;
  CollisionAnswer third = choice.Decide(q);
  EXPECT_EQ(third.action, CollisionAction::Rename);
  EXPECT_EQ(third.title, "b (2)");

  // Skip for all skips the rest without asking; a dismissed dialog (Skip alone) asks again;
  // "for all" on a single item is not kept either.
  CountingResolver r2;
  r2.answer = {CollisionAction::Skip, {}, true};
  CollisionChoice c2(&r2);
  EXPECT_EQ(c2.Decide(q).action, CollisionAction::Skip);
  EXPECT_EQ(c2.Decide(q).action, CollisionAction::Skip);
  EXPECT_EQ(r2.calls, 1);
  CountingResolver r4;
  r4.answer = {CollisionAction::Skip, {}, false};
  CollisionChoice c4(&r4);
  c4.Decide(q);
  c4.Decide(q);
  EXPECT_EQ(r4.calls, 2);
  CountingResolver r3;
  r3.answer = {CollisionAction::Rename, "", true};
  CollisionChoice c3(&r3);
  CollisionQuestion single{"a.txt", "a (2)", "", false, true};
  EXPECT_EQ(c3.Decide(single).title, "a (2)");
  c3.Decide(single);
  EXPECT_EQ(r3.calls, 2);
  // Nobody to ask: never overwrite.
  CollisionChoice none(nullptr);
  EXPECT_EQ(none.Decide(q).action, CollisionAction::Rename);
}
