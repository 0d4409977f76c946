#include "desk/opening.h"

#include "platform/window_probe.h"
#include "store/doc_record.h"

#include <gtest/gtest.h>

#include <map>

namespace px::desk {
namespace {

TEST(OpenRulesTest, EachDocumentTakesItsRoute) {
  struct Case {
    const char* name;
    OpenRequest request;
    OpenRoute route;
  };
  const int received = store::dfReceivedMail;
  const Case cases[] = {
      {"marker entry", {"txt", 0, false, true, false}, OpenRoute::Ignore},
      {"own text", {"TXT", 0, false, false, false}, OpenRoute::InternalText},
      {"received text", {"txt", received, false, false, false}, OpenRoute::InternalText},
      {"html message", {"eml", 0, false, false, false}, OpenRoute::InternalHtml},
      {"received card", {"vcf", store::dfReceivedCard, false, false, false}, OpenRoute::ContactCard},
      {"own card", {"vcf", 0, false, false, false}, OpenRoute::Associated},
      {"picture", {"png", received, false, false, false}, OpenRoute::Associated},
      {"own program", {"", 0, true, false, true}, OpenRoute::RunProgram},
      {"own menu entry", {"desktop", 0, false, false, true}, OpenRoute::RunProgram},
      {"received executable bit", {"pdf", received, true, false, false}, OpenRoute::Refuse},
      {"received script type", {"txt2", received, false, false, true}, OpenRoute::Refuse},
      {"received desktop entry", {"desktop", received, false, false, false}, OpenRoute::Refuse},
      {"received exe", {"EXE", received, false, false, false}, OpenRoute::Refuse},
      {"received shell script", {"sh", received, false, false, false}, OpenRoute::Refuse},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const OpenDecision d = DecideOpen(c.request);
    EXPECT_EQ(d.route, c.route);
    EXPECT_EQ(d.route == OpenRoute::Refuse, !d.message.empty());
  }
  EXPECT_TRUE(IsRunnableMimeType("application/x-shellscript", {}));
  EXPECT_TRUE(IsRunnableMimeType("text/x-foo", {"application/x-executable"}));
  EXPECT_FALSE(IsRunnableMimeType("image/png", {}));
}

TEST(OpenRulesTest, EditableInPlace) {
  EXPECT_TRUE(EditableInPlace(false, 0, false));
  EXPECT_FALSE(EditableInPlace(true, 0, false));
  EXPECT_FALSE(EditableInPlace(false, store::dfSealed, false));
  EXPECT_FALSE(EditableInPlace(false, 0, true));
}

TEST(OpenRulesTest, ClosingDecidesByChangeAndEditability) {
  OpenRecord r;
  r.stamp = {true, 10, 100};
  const FileStamp same = r.stamp, changed{true, 11, 200}, gone{};
  EXPECT_EQ(DecideClose(r, same, "Documents").action, CloseAction::Nothing);
  EXPECT_EQ(DecideClose(r, gone, "Documents").action, CloseAction::Nothing);
  EXPECT_EQ(DecideClose(r, changed, "Documents").action, CloseAction::ShowNewDate);

  r.editableInPlace = false;  // a sealed received message: its changes become a new document
  CloseOutcome o = DecideClose(r, changed, "Documents");
  EXPECT_EQ(o.action, CloseAction::StoreAsNew);
  EXPECT_FALSE(o.intoDocumentsFolder);
  EXPECT_EQ(o.messages, std::vector<std::string>{"You cannot change this file, therefore a new file will be created"});

  r.restrictedFolder = true;
  o = DecideClose(r, changed, "Documents");
  EXPECT_TRUE(o.intoDocumentsFolder);
  ASSERT_EQ(o.messages.size(), 2u);
  EXPECT_EQ(o.messages[1], "You cannot create files in that folder, therefore a new file will be created in Documents");

  r.kind = RecordKind::NewDocument;
  r.restrictedFolder = false;
  EXPECT_EQ(DecideClose(r, same, "Documents").action, CloseAction::Nothing);  // deleted by the caller
  EXPECT_EQ(DecideClose(r, changed, "Documents").action, CloseAction::StoreAsNew);
}

TEST(OpenRulesTest, StickerNotesReadBackAsTheyWereWritten) {
  for (const std::string& text : {std::string("one line"), std::string("two\nlines ~ with ;~ tildes"),
                                 std::string("caf\xc3\xa9 \xe2\x82\xac")}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(StickerTextForEditing(StickerValueFromText(text)), text);
  }
  EXPECT_EQ(StickerValueFromText(""), "");
  EXPECT_EQ(StickerValueFromText("  \n\n"), "");
  EXPECT_EQ(StickerValueFromText("kept\r\n\n"), StickerValueFromText("kept"));
}

class FakeProbe : public platform::WindowProbe {
public:
  std::map<std::uint32_t, std::string> windows;  // id -> title
  std::uint32_t activated = 0;
  std::uint32_t FindWindow(pid_t, const std::vector<std::string>& hints) override {
    for (const std::string& h : hints)
      for (const auto& [id, title] : windows)
        if (title.find(h) != std::string::npos) return id;
    return 0;
  }
  bool WindowExists(std::uint32_t w) override { return windows.count(w) != 0; }
  void Activate(std::uint32_t w) override { activated = w; }
};

bool g_running = true, g_quick = false;
bool FakePoll(pid_t, bool* quick, std::int64_t, std::int64_t) {
  if (quick) *quick = g_quick;
  return g_running;
}

OpenRecord Opened(const std::string& path) {
  OpenRecord r;
  r.pid = 4242;
  r.folder = "/docs/";
  r.fileName = path.substr(path.rfind('/') + 1);
  r.openedPath = path;
  return r;
}

TEST(OpenDocumentsTest, ARecordEndsWhenItsWindowCloses) {
  FakeProbe probe;
  OpenRecords docs;
  g_running = true;
  g_quick = false;
  docs.Add(Opened("/docs/report.pdf"));
  EXPECT_TRUE(docs.Tick(&probe, 0, FakePoll).empty());  // window not up yet
  probe.windows[7] = "report.pdf - Viewer";
  EXPECT_TRUE(docs.Tick(&probe, 1000, FakePoll).empty());
  EXPECT_EQ(probe.activated, 7u);  // brought forward once found
  ASSERT_TRUE(docs.Find("/docs/", "report.pdf"));
  probe.windows.clear();
  const auto closed = docs.Tick(&probe, 2000, FakePoll);
  ASSERT_EQ(closed.size(), 1u);
  EXPECT_FALSE(closed[0].windowNeverFound);
  EXPECT_TRUE(docs.Empty());
}

TEST(OpenDocumentsTest, WithoutAWindowTheProgramsLifetimeDecides) {
  OpenRecords docs;
  g_running = true;
  g_quick = false;
  docs.Add(Opened("/docs/a.odt"));
  for (int i = 0; i < 30; ++i) EXPECT_TRUE(docs.Tick(nullptr, i * 1000, FakePoll).empty());
  g_running = false;
  EXPECT_EQ(docs.Tick(nullptr, 31000, FakePoll).size(), 1u);
}

TEST(OpenDocumentsTest, InternalEditorsCloseThemselves) {
  OpenRecords docs;
  OpenRecord r = Opened("/docs/note.txt");
  r.pid = -1;
  const int id = docs.Add(r);
  EXPECT_TRUE(docs.Tick(nullptr, 0, FakePoll).empty());
  EXPECT_TRUE(docs.CloseInternal(id));
  EXPECT_TRUE(docs.Empty());
  EXPECT_FALSE(docs.CloseInternal(id));
}

}  // namespace
}  // namespace px::desk
