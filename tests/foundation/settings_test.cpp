#include "foundation/locations.h"
#include "foundation/settings.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <functional>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace px;

namespace {

struct Case {
  const char* section;
  const char* key;
  const char* stored;  // nullptr: absent
  int64_t expected;
};

// Every bounded or defaulted numeric setting, read through its typed reader.
int64_t ReadTyped(const Settings& s, const std::string& key) {
  static const std::map<std::string, std::function<int64_t(const Settings&)>> readers = {
      {"TreeWidth", [](const Settings& s) { return s.TreeWidth(); }},
      {"FileAddressWidth", [](const Settings& s) { return s.FileAddressWidth(); }},
      {"ContactAddressWidth", [](const Settings& s) { return s.ContactAddressWidth(); }},
      {"ContactPhoneWidth", [](const Settings& s) { return s.ContactPhoneWidth(); }},
      {"Sorting", [](const Settings& s) { return s.Sorting(); }},
      {"Address Sorting", [](const Settings& s) { return s.AddressSorting(); }},
      {"NameOrder", [](const Settings& s) { return s.NameOrder(); }},
      {"Highlight Font Bold", [](const Settings& s) { return s.HighlightFontBold() ? 1 : 0; }},
      {"Use Highlight Font Color", [](const Settings& s) { return s.UseHighlightFontColor() ? 1 : 0; }},
      {"Show Size", [](const Settings& s) { return s.ShowSize() ? 1 : 0; }},
      {"Show Preview", [](const Settings& s) { return s.ShowPreview() ? 1 : 0; }},
      {"Use Sliding", [](const Settings& s) { return s.UseSliding() ? 1 : 0; }},
      {"Last Colour", [](const Settings& s) { return s.LastColour(); }},
      {"CopyMove", [](const Settings& s) { return s.CopyMove(); }},
      {"Mail Check Interval", [](const Settings& s) { return s.MailCheckInterval(); }},
      {"Message Format", [](const Settings& s) { return s.MessageFormat(); }},
      {"Auto Check Mail", [](const Settings& s) { return s.AutoCheckMail() ? 1 : 0; }},
      {"Keep On Server", [](const Settings& s) { return s.KeepOnServer() ? 1 : 0; }},
      {"Use Alternative From Address", [](const Settings& s) { return s.UseAlternativeFromAddress() ? 1 : 0; }},
      {"Use Signature", [](const Settings& s) { return s.UseSignature() ? 1 : 0; }},
      {"No Tags", [](const Settings& s) { return s.NoTags() ? 1 : 0; }},
      {"Check PGP", [](const Settings& s) { return s.CheckPGP() ? 1 : 0; }},
      {"Use Local Server", [](const Settings& s) { return s.UseLocalServer() ? 1 : 0; }},
      {"New Install", [](const Settings& s) { return s.NewInstall() ? 1 : 0; }},
      {"NextVersionCheck", [](const Settings& s) { return s.NextVersionCheck(); }},
      {"Use Dashboard Color", [](const Settings& s) { return s.UseDashboardColor() ? 1 : 0; }},
  };
  return readers.at(key)(s);
}

}  // namespace

TEST(Settings, DefaultsAndClampsAsOneTable) {
  const Case cases[] = {
      {"Settings", "TreeWidth", nullptr, 200},   {"Settings", "TreeWidth", "50", 100},
      {"Settings", "TreeWidth", "900", 500},     {"Settings", "TreeWidth", "321", 321},
      {"Settings", "TreeWidth", "wide", 200},    {"Settings", "FileAddressWidth", nullptr, 200},
      {"Settings", "FileAddressWidth", "99", 100}, {"Settings", "ContactAddressWidth", "501", 500},
      {"Settings", "ContactPhoneWidth", nullptr, 250}, {"Settings", "ContactPhoneWidth", "0", 100},
      {"Settings", "Sorting", nullptr, -1},      {"Settings", "Sorting", "0", -1},
      {"Settings", "Sorting", "9", -1},          {"Settings", "Sorting", "-7", -7},
      {"Settings", "Sorting", "7", 7},           {"Settings", "Sorting", "-8", -1},
      {"Settings", "Address Sorting", nullptr, 4}, {"Settings", "Address Sorting", "3", 4},
      {"Settings", "Address Sorting", "-2", -2}, {"Settings", "Address Sorting", "-4", -4},
      {"Settings", "NameOrder", nullptr, 1},     {"Settings", "NameOrder", "2", 2},
      {"Settings", "NameOrder", "7", 1},         {"Settings", "Highlight Font Bold", nullptr, 1},
      {"Settings", "Highlight Font Bold", "0", 0}, {"Settings", "Use Highlight Font Color", nullptr, 0},
      {"Settings", "Show Size", nullptr, 0},     {"Settings", "Show Preview", nullptr, 1},
      {"Settings", "Use Sliding", nullptr, 1},   {"Settings", "Last Colour", nullptr, 0},
      {"Settings", "Last Colour", "8", 8},       {"Settings", "Last Colour", "9", 9},
      {"Settings", "Last Colour", "12", 0},      {"Settings", "CopyMove", nullptr, 0},
      {"User", "Mail Check Interval", nullptr, 15}, {"User", "Mail Check Interval", "5", 5},
      {"User", "Mail Check Interval", "0", 15},  {"User", "Mail Check Interval", "x", 15},
      {"User", "Message Format", nullptr, 0},    {"User", "Message Format", "1", 1},
      {"User", "Auto Check Mail", nullptr, 0},   {"User", "Auto Check Mail", "1", 1},
      {"User", "Auto Check Mail", "yes", 0},     {"User", "Keep On Server", "2", 0},
      {"User", "Use Alternative From Address", "1", 1},
      {"User", "Use Signature", nullptr, 0},      {"User", "Use Signature", "1", 1},
      {"User", "No Tags", nullptr, 0},            {"User", "No Tags", "1", 1},
      {"User", "Check PGP", nullptr, 0},          {"User", "Check PGP", "1", 1},
      {"User", "Use Local Server", nullptr, 0},   {"User", "Use Local Server", "1", 1},
      {"User", "New Install", nullptr, 0},        {"User", "New Install", "1", 1},
      {"User", "NextVersionCheck", nullptr, 0},   {"User", "NextVersionCheck", "38000", 38000},
      {"Settings", "Use Dashboard Color", nullptr, 0}, {"Settings", "Use Dashboard Color", "1", 1},
  };
  for (const Case& c : cases) {
    Settings s;
    if (c.stored) s.Ini().WriteString(c.section, c.key, c.stored);
    EXPECT_EQ(ReadTyped(s, c.key), c.expected)
        << c.section << "/" << c.key << "=" << (c.stored ? c.stored : "(absent)");
  }
}

TEST(Settings, TextDefaultsAndCaseInsensitiveKeys) {
  Settings s;
  EXPECT_EQ(s.ID(), "");
  EXPECT_EQ(s.DefaultCharset(), "utf-8");
  EXPECT_EQ(s.HighlightFontColor(), kDefaultHighlightColor);
  EXPECT_EQ(s.DashboardColor(), kDefaultColor);
  s.Ini().WriteString("user", "id", "anna");
  s.Ini().WriteString("SETTINGS", "treewidth", "300");
  EXPECT_EQ(s.ID(), "anna");
  EXPECT_EQ(s.TreeWidth(), 300);
}

TEST(Settings, WritesAreSavedAtOnceAndValuesKeptVerbatim) {
  test::TempHome home;
  const std::string path = home.path("User.ini");
  {
    Settings s(path);
    s.SetName("  Anna Berg ");
    s.SetTreeWidth(800);  // clamped on writing too
    s.SetESize(1280, 700, 2000);
  }
  Settings again(path);
  EXPECT_EQ(again.Name(), "  Anna Berg ");
  EXPECT_EQ(again.TreeWidth(), 500);
  EXPECT_EQ(again.EWidth(1280, 800), 700);
  EXPECT_EQ(again.EHeight(1280, 800), 800);  // limited to the screen
  // A compose size saved at one screen width is not used at another.
  EXPECT_EQ(again.EWidth(1920, 1080), -1);
  EXPECT_EQ(again.EHeight(1920, 1080), -1);
  EXPECT_TRUE(again.LastError().ok());
}

TEST(Settings, FontValues) {
  FontValue f;
  ApplyFontValue("Arial,255,10,bu", f);
  EXPECT_EQ(f.name, "Arial");
  EXPECT_EQ(f.color, 255u);  // red
  EXPECT_EQ(f.size, 10);
  EXPECT_TRUE(f.bold);
  EXPECT_FALSE(f.italic);
  EXPECT_TRUE(f.underline);
  EXPECT_EQ(FormatFontValue(f), "Arial,255,10,bu");

  // Missing or broken parts leave the attributes unchanged.
  FontValue base;
  base.name = "Tahoma";
  base.size = 8;
  base.italic = true;
  FontValue g = base;
  ApplyFontValue("Verdana", g);
  EXPECT_EQ(g.name, "Verdana");
  EXPECT_EQ(g.size, 8);
  EXPECT_TRUE(g.italic);
  g = base;
  ApplyFontValue(",red,-3,xyz", g);
  EXPECT_EQ(g, base);
  g = base;
  ApplyFontValue("", g);
  EXPECT_EQ(g, base);

  Settings s;
  EXPECT_EQ(s.FileFont(base), base);  // absent: the UI font
  s.SetFileFont(f);
  EXPECT_EQ(s.FileFont(base), f);
}

TEST(Settings, OwnFromAddress) {
  Settings s;
  s.SetID("anna");
  EXPECT_EQ(OwnFromAddress(s), "anna");
  s.SetName("Anna Berg");
  EXPECT_EQ(OwnFromAddress(s), "\"Anna Berg\" <anna>");
  s.SetAlternativeFromAddress("anna@example.org");
  EXPECT_EQ(OwnFromAddress(s), "\"Anna Berg\" <anna>");  // not chosen
  s.SetUseAlternativeFromAddress(true);
  EXPECT_EQ(OwnFromAddress(s), "anna@example.org");
  s.SetAlternativeFromAddress("");
  EXPECT_EQ(OwnFromAddress(s), "\"Anna Berg\" <anna>");
}

TEST(Locations, FromPlumadexHomeAndFirstUse) {
  test::TempHome home;
  test::makeDirs(home.path("prog"));
  test::writeFile(home.path("prog/user0.ini"), "[User]\r\nMail Check Interval=20\r\n");
  qputenv("PLUMADEX_PROGRAM_DIR", QByteArray::fromStdString(home.path("prog")));
  Locations loc = ComputeLocations();
  qunsetenv("PLUMADEX_PROGRAM_DIR");
  EXPECT_EQ(loc.dataRoot, home.path("data/"));
  EXPECT_EQ(loc.documents, home.path("Documents/"));
  EXPECT_EQ(loc.trash, home.path("Documents/TRASH/"));
  EXPECT_EQ(loc.inbox, home.path("data/Inbox/"));
  EXPECT_EQ(loc.programFolder, home.path("prog/"));

  // An existing "contacts" folder keeps its content and gets its proper name.
  test::makeDirs(home.path("data/contacts"));
  test::writeFile(home.path("data/contacts/a.vcf"), "x");
  MakeDataFolders(loc);
  for (const char* dir : {"data/Contacts", "data/Inbox", "data/Icons", "Documents/TRASH"}) {
    struct stat st {};
    EXPECT_EQ(::stat(home.path(dir).c_str(), &st), 0) << dir;
    EXPECT_TRUE(S_ISDIR(st.st_mode)) << dir;
  }
  EXPECT_EQ(test::readFile(home.path("data/Contacts/a.vcf")), "x");

  struct stat st {};
  ASSERT_EQ(::stat(loc.UserIni().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  Settings s(loc.UserIni());
  EXPECT_EQ(s.MailCheckInterval(), 20);
  s.SetName("Anna");  // saving keeps the private mode
  ASSERT_EQ(::stat(loc.UserIni().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // A second start never overwrites the user's settings with the template.
  MakeDataFolders(loc);
  EXPECT_EQ(Settings(loc.UserIni()).Name(), "Anna");
}

TEST(Locations, MissingTemplateGivesEmptySettingsAndTempFolderIsPrivate) {
  test::TempHome home;
  qputenv("PLUMADEX_PROGRAM_DIR", QByteArray::fromStdString(home.path("nowhere")));
  Locations loc = ComputeLocations();
  qunsetenv("PLUMADEX_PROGRAM_DIR");
  MakeDataFolders(loc);
  EXPECT_EQ(test::readFile(loc.UserIni()), "");

  MakeTempFolder(loc);
  ASSERT_TRUE(loc.tempFolderCreated);
  EXPECT_EQ(loc.tempFolder.back(), '/');
  struct stat st {};
  ASSERT_EQ(::stat(loc.tempFolder.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  test::writeFile(loc.tempFolder + "x.tmp", "1");
  const std::string made = loc.tempFolder;
  RemoveTempFolder(loc);
  EXPECT_NE(::stat(made.c_str(), &st), 0);
}

TEST(Locations, ProgramFolderOfTheBuildTreeHoldsTheTemplate) {
  qunsetenv("PLUMADEX_PROGRAM_DIR");
  const std::string folder = ProgramFolder();
  EXPECT_EQ(folder.back(), '/');
  EXPECT_FALSE(test::readFile(folder + "user0.ini").empty());
}

TEST(Locations, FirstUseCopyIsWholeOrNothing) {
  test::TempHome home;
  test::makeDirs(home.path("prog"));
  const std::string templ = "[User]\r\nName=" + std::string(8000, 'a') + "\r\n";
  test::writeFile(home.path("prog/user0.ini"), templ);
  qputenv("PLUMADEX_PROGRAM_DIR", QByteArray::fromStdString(home.path("prog")));
  Locations loc = ComputeLocations();
  qunsetenv("PLUMADEX_PROGRAM_DIR");

  // A disk that fills up during the copy: no cut settings file is left behind.
  struct rlimit old {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  struct rlimit small = old;
  small.rlim_cur = 1024;
  auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  MakeDataFolders(loc);
  ::setrlimit(RLIMIT_FSIZE, &old);
  ::signal(SIGXFSZ, oldHandler);
  struct stat st {};
  EXPECT_NE(::stat(loc.UserIni().c_str(), &st), 0);
  int files = 0;
  if (DIR* d = ::opendir(loc.dataRoot.c_str())) {
    while (dirent* e = ::readdir(d))
      if (e->d_type == DT_REG) ++files;
    ::closedir(d);
  }
  EXPECT_EQ(files, 0);  // no temporary file left either

  // The next start copies the template whole.
  MakeDataFolders(loc);
  EXPECT_EQ(test::readFile(loc.UserIni()), templ);
  ASSERT_EQ(::stat(loc.UserIni().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(Settings, FileMadeByTheFirstSaveIsPrivate) {
  test::TempHome home;
  const std::string path = home.path("User.ini");
  Settings s(path);
  struct stat st {};
  s.UpdateFile();  // nothing changed: no file
  EXPECT_NE(::stat(path.c_str(), &st), 0);
  s.SetPassword("ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGH");
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(Settings(path).Password().size(), 60u);
}

TEST(Settings, SaveFailureIsToldOnceUntilASaveSucceeds) {
  test::TempHome home;
  const std::string path = home.path("gone/User.ini");
  Settings s(path);
  std::vector<std::string> told;
  s.SetSaveFailureHandler([&](const FileStatus& st) { told.push_back(st.message); });
  s.SetName("Anna");
  s.SetTreeWidth(300);
  ASSERT_EQ(told.size(), 1u);
  EXPECT_TRUE(told[0].starts_with("Cannot ")) << told[0];
  EXPECT_FALSE(s.LastError().ok());

  // Nothing written in memory is lost: the next save that works writes it all.
  test::makeDirs(home.path("gone"));
  s.SetName("Berit");
  EXPECT_EQ(Settings(path).Name(), "Berit");
  EXPECT_EQ(Settings(path).TreeWidth(), 300);
  EXPECT_EQ(told.size(), 1u);
}
