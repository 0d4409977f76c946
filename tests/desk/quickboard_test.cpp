// The Quickboard model over a fake file system: Contents in both forms, hostile files, slots,
// modes, drops and the slots following moved and removed documents.
#include "desk/quickboard.h"
#include "desk/quickboard_ranking.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

using namespace px;
using namespace px::desk;

namespace {

class FakeFs final : public QuickboardFs {
public:
  std::map<std::string, PathFacts> paths;
  std::map<std::string, DesktopFacts> desktop;
  std::map<std::string, std::string> titles;
  std::set<std::string> contactSections;
  mutable std::vector<std::string> removed;

  void File(const std::string& p, bool exec = false) { paths[p] = {PathState::File, exec, false, {}}; }
  void Folder(const std::string& p) { paths[p] = {PathState::Folder, false, false, {}}; }
  void Gone(const std::string& p) { paths[p] = {PathState::Unavailable, false, false, {}}; }

  PathFacts Stat(const std::string& path) const override {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    auto it = paths.find(p);
    return it == paths.end() ? PathFacts{} : it->second;
  }
  std::optional<DesktopFacts> DesktopEntryOf(const std::string& path) const override {
    auto it = desktop.find(path);
    if (it == desktop.end()) return std::nullopt;
    return it->second;
  }
  std::string IndexTitle(const std::string& path, std::string* charset) const override {
    auto it = titles.find(path);
    if (charset) charset->clear();
    return it == titles.end() ? std::string() : it->second;
  }
  bool ContactSection(const std::string& name) const override { return contactSections.count(name) > 0; }
  bool RemoveFile(const std::string& path) const override {
    removed.push_back(path);
    std::error_code ec;
    std::filesystem::remove(path, ec);
    return true;
  }
};

struct Board {
  test::TempHome home;
  FakeFs fs;
  std::unique_ptr<Quickboard> qb;
  std::string ini() const { return home.path("quickboard.ini"); }
  std::string icons() const { return home.path("Icons/"); }
  std::unique_ptr<Quickboard> Make() {
    Quickboard::Env env;
    env.iniPath = ini();
    env.iconsFolder = icons();
    env.contactsFolder = "/data/Contacts/";
    env.fs = &fs;
    env.templates = {{".txt", "New Text Document (.txt)"}, {".odt", "New OpenDocument Text (.odt)"}};
    return std::make_unique<Quickboard>(env);
  }
  Quickboard& Load(const std::string& text, int columns = 4) {
    test::writeFile(ini(), text);
    qb = Make();
    qb->SetColumns(columns);
    (void)qb->Load();
    return *qb;
  }
};

std::vector<std::string> PathsOf(const Quickboard& qb) {
  std::vector<std::string> out;
  for (const auto& i : qb.Items()) out.push_back(i.path);
  while (!out.empty() && out.back().empty()) out.pop_back();
  return out;
}

}  // namespace

TEST(QuickboardContents, RoundTripsBothForms) {
  struct Case {
    std::vector<std::string> paths;
    std::string text;
    bool escaped;
  } cases[] = {
      {{"/a/x.txt", "", "/b/"}, "/a/x.txt||/b/", false},
      {{"/a/x.txt", "", "", ""}, "/a/x.txt", false},                    // trailing empties dropped
      {{"/a/50%.txt"}, "/a/50%.txt", false},                            // "%" alone needs no escape
      {{"/a/x|y.txt", "/b/50%"}, "/a/x%7Cy.txt|/b/50%25", true},        // "|" escapes the whole value
      {{"", "/only"}, "|/only", false},
  };
  for (const Case& c : cases) {
    const ContentsText t = SerialiseContents(c.paths);
    EXPECT_EQ(t.contents, c.text);
    EXPECT_EQ(t.escaped, c.escaped);
    std::vector<std::string> want = c.paths;
    while (!want.empty() && want.back().empty()) want.pop_back();
    EXPECT_EQ(ParseContents(t.contents, t.escaped), want) << c.text;
  }
  // The old form: "%7C" is just text there.
  EXPECT_EQ(ParseContents("/a/%7C|/b", false), (std::vector<std::string>{"/a/%7C", "/b"}));
  EXPECT_TRUE(ParseContents("  ", false).empty());
}

TEST(QuickboardIni, RowsAndHostileFiles) {
  struct Case {
    std::string text;
    int rows;
    std::vector<std::string> paths;
  } cases[] = {
      {"[$$.Plumadex]\r\nRows=0\r\n", 1, {}},
      {"[$$.Plumadex]\r\nRows=9\r\n", 6, {}},
      {"[$$.Plumadex]\r\nRows=-5\r\n", 1, {}},
      {"[$$.Plumadex]\r\nRows=abc\r\n", 2, {}},
      {"", 2, {}},
      // Unknown targets vanish; a binary value reads as a missing path.
      {"[$$.Plumadex]\r\nContents=/nope|\x01\x02|/docs/a.txt\r\n", 2, {"", "", "/docs/a.txt"}},
      // An absurd number of bars still gives one slot per piece, no crash.
      {"[$$.Plumadex]\r\nContents=" + std::string(5000, '|') + "/docs/a.txt\r\n", 2,
       [] {
         std::vector<std::string> v(5000, "");
         v.push_back("/docs/a.txt");
         return v;
       }()},
  };
  for (const Case& c : cases) {
    Board b;
    b.fs.File("/docs/a.txt");
    Quickboard& qb = b.Load(c.text);
    EXPECT_EQ(qb.Rows(), c.rows);
    EXPECT_EQ(PathsOf(qb), c.paths);
  }
}

TEST(QuickboardIni, IconOutsideTheIconsFolderIsNeverTouched) {
  Board b;
  b.fs.File("/docs/a.txt");
  test::makeDirs(b.home.path("Icons"));
  test::writeFile(b.home.path("victim.ico"), "keep me");
  const std::string text = "[$$.Plumadex]\r\nContents=/docs/a.txt|/docs/gone.txt\r\n"
                           "[/docs/a.txt]\r\nIcon=../victim.ico\r\nCaption=Mine\r\n"
                           "[/docs/gone.txt]\r\nIcon=../../victim.ico\r\n";
  Quickboard& qb = b.Load(text);
  ASSERT_EQ(PathsOf(qb), (std::vector<std::string>{"/docs/a.txt"}));
  EXPECT_EQ(qb.Item(0)->icon, "");        // not used
  EXPECT_EQ(qb.Item(0)->label, "Mine");
  EXPECT_TRUE(b.fs.removed.empty());      // the gone item's "icon" is not deleted
  EXPECT_EQ(test::readFile(b.home.path("victim.ico")), "keep me");
  qb.Remove(0);
  EXPECT_TRUE(b.fs.removed.empty());
  EXPECT_EQ(test::readFile(b.home.path("victim.ico")), "keep me");
  for (const char* bad : {"", ".hidden.ico", "a/b.ico", "..\\x.ico", "x.exe", "x.ico\n"}) EXPECT_FALSE(IsSafeIconName(bad)) << bad;
  EXPECT_TRUE(IsSafeIconName("2026121105000012345.ico"));
}

TEST(QuickboardIni, GoneItemLosesSectionAndIconButUnmountedStays) {
  Board b;
  b.fs.File("/docs/a.txt");
  b.fs.Gone("/media/usb/song.ogg");
  test::makeDirs(b.home.path("Icons"));
  test::writeFile(b.home.path("Icons/1.ico"), "icon");
  test::writeFile(b.home.path("Icons/2.ico"), "icon");
  Quickboard& qb = b.Load("[$$.Plumadex]\r\nContents=/docs/deleted.txt|/media/usb/song.ogg|/docs/a.txt\r\n"
                          "[/docs/deleted.txt]\r\nIcon=1.ico\r\n[/media/usb/song.ogg]\r\nIcon=2.ico\r\n");
  EXPECT_EQ(PathsOf(qb), (std::vector<std::string>{"", "/media/usb/song.ogg", "/docs/a.txt"}));
  EXPECT_TRUE(qb.Item(1)->unavailable);
  EXPECT_EQ(qb.Click(1).action, SlotClick::Nothing);  // disabled, not removed
  const std::string saved = test::readFile(b.ini());
  EXPECT_NE(saved.find("Contents=|/media/usb/song.ogg|/docs/a.txt"), std::string::npos) << saved;
  EXPECT_EQ(saved.find("[/docs/deleted.txt]"), std::string::npos);
  EXPECT_NE(saved.find("[/media/usb/song.ogg]"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(b.home.path("Icons/1.ico")));
  EXPECT_TRUE(std::filesystem::exists(b.home.path("Icons/2.ico")));
}

TEST(QuickboardIni, AbsentMediumIsToldFromAGoneFile) {
  const std::vector<std::string> fstab = {"/", "/srv/share"};
  EXPECT_TRUE(SystemQuickboardFs::OnAbsentMedium("/srv/share/a.txt", fstab, {"/"}));
  EXPECT_FALSE(SystemQuickboardFs::OnAbsentMedium("/srv/share/a.txt", fstab, {"/", "/srv/share"}));
  EXPECT_TRUE(SystemQuickboardFs::OnAbsentMedium("/media/me/USB/a.txt", fstab, {"/"}));
  EXPECT_FALSE(SystemQuickboardFs::OnAbsentMedium("/media/me/USB/a.txt", fstab, {"/", "/media/me/USB"}));
  EXPECT_FALSE(SystemQuickboardFs::OnAbsentMedium("/home/me/a.txt", fstab, {"/"}));
}

TEST(QuickboardModel, KindsTitlesAndSlots) {
  Board b;
  b.fs.File("/docs/report.odt");
  b.fs.titles["/docs/report.odt"] = "Quarterly report";
  b.fs.Folder("/docs/Projects");
  b.fs.File("/home/me/Desktop/editor.desktop");
  b.fs.desktop["/home/me/Desktop/editor.desktop"] = {"Text Editor", "accessories-text-editor", false};
  b.fs.File("/usr/bin/tool", true);
  b.fs.contactSections = {"ann.vcf", "Friends."};
  Quickboard& qb = b.Load(
      "[$$.Plumadex]\r\nRows=3\r\nContents=/docs/report.odt|/docs/Projects/|/home/me/Desktop/editor.desktop|"
      "/usr/bin/tool|/data/Contacts/ann.vcf|/data/Contacts/Friends.|.odt|.xyz|/data/Contacts/bob.vcf\r\n",
      3);
  ASSERT_EQ(qb.Items().size(), 18u);  // 3 columns x 6 rows always backed
  EXPECT_EQ(qb.ShownSlots(), 9);
  const std::pair<SlotKind, std::string> want[] = {
      {SlotKind::Document, "Quarterly report"}, {SlotKind::Folder, "Projects"},
      {SlotKind::Program, "Text Editor"},       {SlotKind::Program, "tool"},
      {SlotKind::Contact, "ann"},               {SlotKind::Group, "Friends"},
      {SlotKind::Template, "New OpenDocument Text (.odt)"}, {SlotKind::Empty, ""}, {SlotKind::Empty, ""},
  };
  for (size_t i = 0; i < std::size(want); ++i) {
    EXPECT_EQ(qb.Items()[i].kind, want[i].first) << i;
    EXPECT_EQ(qb.Items()[i].title, want[i].second) << i;
  }
  EXPECT_EQ(qb.Items()[4].image, kImageContact);
  EXPECT_EQ(qb.Items()[5].image, kImageGroup);
  EXPECT_EQ(qb.Items()[2].themeIcon, "accessories-text-editor");
  EXPECT_FALSE(qb.SetRows(7));
  EXPECT_TRUE(qb.SetRows(6));
  EXPECT_FALSE(qb.SetRows(6));
  EXPECT_NE(test::readFile(b.ini()).find("Rows=6"), std::string::npos);
}

TEST(QuickboardModel, ModesOfAClick) {
  Board b;
  b.fs.File("/d/a.txt");
  b.fs.File("/d/b.txt");
  b.fs.Folder("/d/F");
  Quickboard& qb = b.Load("[$$.Plumadex]\r\nContents=/d/a.txt|/d/b.txt|/d/F/\r\n");
  EXPECT_EQ(qb.Click(0).action, SlotClick::Open);
  EXPECT_EQ(qb.Click(5).action, SlotClick::Nothing);  // empty slot

  qb.SetMode(QuickboardMode::Move);
  EXPECT_EQ(qb.Click(5).action, SlotClick::Nothing);  // nothing to pick up there
  EXPECT_EQ(qb.Click(0).action, SlotClick::Picked);
  EXPECT_EQ(qb.PickedSlot(), 0);
  const SlotClick swapped = qb.Click(4);  // onto an empty slot: the item moves there
  EXPECT_EQ(swapped.action, SlotClick::Swapped);
  EXPECT_EQ(PathsOf(qb), (std::vector<std::string>{"", "/d/b.txt", "/d/F/", "", "/d/a.txt"}));
  EXPECT_NE(test::readFile(b.ini()).find("Contents=|/d/b.txt|/d/F/||/d/a.txt"), std::string::npos);
  EXPECT_EQ(qb.Click(1).action, SlotClick::Picked);
  EXPECT_EQ(qb.Click(1).action, SlotClick::EndMode);
  EXPECT_EQ(qb.Mode(), QuickboardMode::Normal);

  qb.SetMode(QuickboardMode::Customise);
  EXPECT_EQ(qb.Click(1).action, SlotClick::Customise);

  qb.SetMode(QuickboardMode::MailSort);
  EXPECT_EQ(qb.Click(1).action, SlotClick::Nothing);  // a document is no rule's folder
  const SlotClick rule = qb.Click(2);
  EXPECT_EQ(rule.action, SlotClick::SortRule);
  EXPECT_EQ(rule.path, "/d/F/");
  EXPECT_EQ(qb.Mode(), QuickboardMode::Normal);
}

TEST(QuickboardModel, DropsOnSlots) {
  Board b;
  b.fs.File("/d/a.txt");
  b.fs.File("/apps/editor.desktop");
  b.fs.desktop["/apps/editor.desktop"] = {"Editor", "gedit", false};
  b.fs.Folder("/data/Contacts/Friends");
  b.fs.contactSections = {"Friends.", "ann.vcf"};
  Quickboard& qb = b.Load("[$$.Plumadex]\r\nContents=/apps/editor.desktop|/d/a.txt\r\n");

  SlotDrop docs;
  docs.paths = {"/d/a.txt", "/d/b.txt"};
  DropPlan p = qb.PlanDrop(0, docs);
  EXPECT_EQ(p.action, DropPlan::OpenWith);
  EXPECT_EQ(p.program, "/apps/editor.desktop");
  EXPECT_EQ(p.files, docs.paths);
  EXPECT_EQ(qb.PlanDrop(1, docs).action, DropPlan::Refuse);  // a document slot opens nothing
  p = qb.PlanDrop(3, docs);
  EXPECT_EQ(p.action, DropPlan::Place);
  EXPECT_EQ(p.item.path, "/d/a.txt");

  SlotDrop group;
  group.kind = SlotDrop::Folder;
  group.paths = {"/data/Contacts/Friends/"};
  group.fromContactsTree = true;
  p = qb.PlanDrop(3, group);
  ASSERT_EQ(p.action, DropPlan::Place);
  EXPECT_EQ(p.item.path, "/data/Contacts/Friends.");
  EXPECT_EQ(p.item.kind, SlotKind::Group);

  SlotDrop contact;
  contact.kind = SlotDrop::Contacts;
  contact.paths = {"/data/Contacts/ann.vcf"};
  p = qb.PlanDrop(3, contact);
  ASSERT_EQ(p.action, DropPlan::Place);
  qb.Place(3, p.item);
  EXPECT_EQ(PathsOf(qb), (std::vector<std::string>{"/apps/editor.desktop", "/d/a.txt", "", "/data/Contacts/ann.vcf"}));

  SlotDrop tool;
  tool.kind = SlotDrop::Tool;
  tool.paths = {".odt"};
  p = qb.PlanDrop(2, tool);
  ASSERT_EQ(p.action, DropPlan::Place);
  EXPECT_EQ(p.item.kind, SlotKind::Template);

  qb.SetMode(QuickboardMode::Move);
  EXPECT_EQ(qb.PlanDrop(2, docs).action, DropPlan::Refuse);
}

TEST(QuickboardModel, FollowsMovesRenamesAndDeletes) {
  Board b;
  b.fs.Folder("/d/F");
  b.fs.File("/d/F/in.txt");
  b.fs.File("/d/F/sub/deep|bar.txt");
  b.fs.File("/d/x.txt");
  Quickboard& qb = b.Load("[$$.Plumadex]\r\nContents=/d/F/|/d/F/in.txt|/d/x.txt\r\n[/d/F/in.txt]\r\nCaption=Mine\r\n");
  qb.Place(3, qb.MakeItem("/d/F/sub/deep|bar.txt"));

  // The folder is renamed: everything in it follows; the caption goes with the item.
  b.fs.Folder("/d/G");
  b.fs.File("/d/G/in.txt");
  b.fs.File("/d/G/sub/deep|bar.txt");
  qb.PathMoved("/d/F/", "/d/G/", true);
  EXPECT_EQ(PathsOf(qb), (std::vector<std::string>{"/d/G/", "/d/G/in.txt", "/d/x.txt", "/d/G/sub/deep|bar.txt"}));
  EXPECT_EQ(qb.Item(1)->label, "Mine");
  std::string saved = test::readFile(b.ini());
  EXPECT_NE(saved.find("Contents=/d/G/|/d/G/in.txt|/d/x.txt|/d/G/sub/deep%7Cbar.txt"), std::string::npos) << saved;
  EXPECT_NE(saved.find("Escaped=1"), std::string::npos);
  EXPECT_NE(saved.find("[/d/G/in.txt]\r\nCaption=Mine"), std::string::npos) << saved;
  EXPECT_EQ(saved.find("[/d/F/in.txt]"), std::string::npos);

  // Read back: the "|" name survives.
  Board again;
  again.fs = b.fs;
  test::writeFile(again.ini(), saved);
  again.qb = again.Make();
  (void)again.qb->Load();
  EXPECT_EQ(PathsOf(*again.qb), PathsOf(qb));

  // A file renamed; a title changed.
  qb.PathMoved("/d/x.txt", "/d/y.txt", false);
  EXPECT_EQ(qb.Item(2)->path, "/d/y.txt");
  qb.CaptionChanged("/d/y.txt", "Why");
  EXPECT_EQ(qb.Item(2)->title, "Why");

  // Deleting the folder empties every slot in it; "Escaped" goes once no "|" is left.
  qb.PathRemoved("/d/G/", true);
  EXPECT_EQ(PathsOf(qb), (std::vector<std::string>{"", "", "/d/y.txt"}));
  saved = test::readFile(b.ini());
  EXPECT_NE(saved.find("Contents=||/d/y.txt"), std::string::npos) << saved;
  EXPECT_EQ(saved.find("Escaped"), std::string::npos);
  EXPECT_EQ(saved.find("Caption=Mine"), std::string::npos);
}

TEST(QuickboardRanking, TemplatesProgramsAndPeople) {
  TemplateEvidence e;
  e.inDocuments = {{".odt", 4}, {".pdf", 1}, {".png", 2}};
  e.inRecent = {{".odt", 1}, {".png", 1}};
  e.onDesktop = {{".pdf", 1}, {".png", 1}};
  const std::vector<std::string> tmpl = {".txt", ".odt", ".pdf", ".png", ".ods"};
  // .png 25, .odt 20, .pdf 15: above 10, highest first; then the usual list in its order.
  EXPECT_EQ(RankTemplates(tmpl, e), (std::vector<std::string>{".png", ".odt", ".pdf", ".txt", ".ods"}));
  EXPECT_EQ(RankTemplates({".xyz"}, {}), (std::vector<std::string>{".txt"}));

  const std::string xbel = R"(<?xml version="1.0"?><xbel version="1.0">
    <bookmark href="file:///home/me/a%20b.odt" added="x"/><bookmark href="https://example.invalid/x"/>
    <bookmark href="file:///tmp/c.pdf"/></xbel>)";
  EXPECT_EQ(ReadRecentlyUsed(xbel), (std::vector<std::string>{"/home/me/a b.odt", "/tmp/c.pdf"}));
  EXPECT_TRUE(ReadRecentlyUsed("<xbel><bookmark href=").empty());  // malformed: what was read

  EXPECT_EQ(PickPrograms({{"/d/mail.desktop", "Mail", true}, {"/d/plumadex.desktop", "P", false},
                          {"/d/gimp.desktop", "GIMP", false}}),
            (std::vector<std::string>{"/d/gimp.desktop"}));

  std::map<std::string, int> counts = {{"ann@x", 3}, {"bob@x", 9}, {"stranger@x", 20}};
  for (int i = 0; i < 10; ++i) counts["p" + std::to_string(i) + "@x"] = 1;
  const auto people = RankPeople(counts, [](const std::string& k) { return k != "stranger@x"; });
  ASSERT_EQ(people.size(), kWizardCandidates);
  EXPECT_EQ(people[0], "bob@x");
  EXPECT_EQ(people[1], "ann@x");
}
