// The Quickboard bar and the information pop-up as widgets: clicks in move mode, drops of
// files on buttons, the bar's height, and the pop-up's columns, sticker and cutting.
#include <gtest/gtest.h>

#include "desk/quickboard.h"
#include "desk/ui/frm_hint.h"
#include "desk/ui/quickboard_view.h"
#include "support/test_support.h"

#include <QApplication>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QScreen>
#include <QTest>
#include <QUrl>

#include <sys/stat.h>

namespace px::desk {
namespace {

struct Bar {
  test::TempHome home;
  SystemQuickboardFs fs{{}, {}};
  std::unique_ptr<Quickboard> model;
  std::unique_ptr<DashBoard> bar;

  explicit Bar(const std::string& contents) {
    test::makeDirs(home.path("Docs/Folder"));
    test::writeFile(home.path("Docs/a.txt"), "a");
    test::writeFile(home.path("Docs/b.txt"), "b");
    test::writeFile(home.path("tool.sh"), "#!/bin/sh\n");
    ::chmod(home.path("tool.sh").c_str(), 0755);
    std::string text = "[$$.Plumadex]\r\nContents=";
    for (char c : contents) text += c == '@' ? home.root() : std::string(1, c);
    test::writeFile(home.path("quickboard.ini"), text + "\r\n");
    Quickboard::Env env;
    env.iniPath = home.path("quickboard.ini");
    env.iconsFolder = home.path("Icons/");
    env.contactsFolder = home.path("Contacts/");
    env.fs = &fs;
    model = std::make_unique<Quickboard>(env);
    bar = std::make_unique<DashBoard>(*model);
    bar->resize(DashBoard::kButtonWidth * 4 + 2, 200);
    (void)model->Load();
    bar->Rebuild();
  }

  void Drop(int slot, const QList<QUrl>& urls) {
    auto* mime = new QMimeData;
    mime->setUrls(urls);
    DashBoardButton* b = bar->Button(slot);
    QDragEnterEvent enter(b->rect().center(), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(b, &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(b->rect().center()), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(b, &drop);
    delete mime;
  }
};

std::vector<std::string> Paths(const Quickboard& q) {
  std::vector<std::string> out;
  for (const auto& i : q.Items()) out.push_back(i.path);
  while (!out.empty() && out.back().empty()) out.pop_back();
  return out;
}

TEST(DashBoardTest, ButtonsRowsAndMoveMode) {
  Bar b("@Docs/a.txt|@Docs/b.txt|@tool.sh");
  EXPECT_EQ(b.model->Columns(), 4);
  EXPECT_EQ(b.bar->ButtonCount(), 8);  // two rows of four
  EXPECT_EQ(b.bar->height(), DashBoard::kButtonHeight * 2 + 2);
  EXPECT_FALSE(b.bar->Button(0)->toolTip().isEmpty());
  EXPECT_TRUE(b.model->SetRows(3));
  EXPECT_EQ(b.bar->ButtonCount(), 12);
  EXPECT_EQ(b.bar->height(), DashBoard::kButtonHeight * 3 + 2);

  std::vector<std::string> opened;
  b.bar->openItem = [&](const QuickboardItem& i) { opened.push_back(i.path); };
  QTest::mouseClick(b.bar->Button(1), Qt::LeftButton);
  EXPECT_EQ(opened, (std::vector<std::string>{b.home.path("Docs/b.txt")}));

  b.model->SetMode(QuickboardMode::Move);
  QTest::mouseClick(b.bar->Button(0), Qt::LeftButton);
  EXPECT_TRUE(b.bar->Button(0)->isDown());  // picked up
  QTest::mouseClick(b.bar->Button(5), Qt::LeftButton);
  EXPECT_EQ(Paths(*b.model), (std::vector<std::string>{"", b.home.path("Docs/b.txt"), b.home.path("tool.sh"), "", "",
                                                       b.home.path("Docs/a.txt")}));
  EXPECT_EQ(opened.size(), 1u);  // move mode opens nothing
}

TEST(DashBoardTest, DropsOnButtons) {
  Bar b("@Docs/a.txt||@tool.sh");
  std::string program;
  std::vector<std::string> files;
  b.bar->openWith = [&](const std::string& p, const std::vector<std::string>& f) {
    program = p;
    files = f;
  };
  // Documents on the program's button open there.
  b.Drop(2, {QUrl::fromLocalFile(QString::fromStdString(b.home.path("Docs/b.txt")))});
  EXPECT_EQ(program, b.home.path("tool.sh"));
  EXPECT_EQ(files, (std::vector<std::string>{b.home.path("Docs/b.txt")}));
  // A folder on an empty button: its path with one trailing "/", however the drag spelled it.
  b.Drop(1, {QUrl::fromLocalFile(QString::fromStdString(b.home.path("Docs/Folder/")))});
  EXPECT_EQ(b.model->Item(1)->path, b.home.path("Docs/Folder/"));
  EXPECT_EQ(b.model->Item(1)->kind, SlotKind::Folder);
  // A document on a document's button changes nothing.
  b.Drop(0, {QUrl::fromLocalFile(QString::fromStdString(b.home.path("Docs/b.txt")))});
  EXPECT_EQ(b.model->Item(0)->path, b.home.path("Docs/a.txt"));
  EXPECT_NE(test::readFile(b.home.path("quickboard.ini")).find("Docs/Folder/|"), std::string::npos);
}

TEST(TfrmHintTest, ColumnsStickerAndCutting) {
  TfrmHint hint;
  HintContent c;
  c.gridInfo = true;
  c.lines = {{"From: ", "ann@x"}, {"", "bob@x"}, {"To: ", "me@x"}};
  c.sticker = "remember";
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  hint.ShowFor(c, QRect(screen.left() + 10, screen.top() + 10, 300, 20), screen.left() + 10, 0, false);
  EXPECT_EQ(hint.Tag(), 2);
  EXPECT_EQ(hint.lblHead->text(), QStringLiteral("From: \n\nTo: "));
  EXPECT_EQ(hint.lblHint->text(), QStringLiteral("ann@x\nbob@x\nme@x"));
  EXPECT_TRUE(hint.pnlSticker->isVisibleTo(&hint));
  EXPECT_GE(hint.y(), screen.top() + 30);  // below the row

  // Far too long for the screen: cut, marked, and kept inside the work area.
  HintContent longOne;
  for (int i = 0; i < 400; ++i) longOne.lines.push_back({{}, "line " + std::to_string(i)});
  hint.ShowFor(longOne, QRect(screen.left() + 10, screen.center().y(), 300, 20), screen.left() + 10, 0, false);
  ASSERT_LT(hint.Content().lines.size(), 400u) << hint.height();
  EXPECT_EQ(hint.Content().lines.back().text.substr(hint.Content().lines.back().text.size() - 4), " ...");
  EXPECT_GE(hint.y(), screen.top());
  EXPECT_LE(hint.y() + hint.height(), screen.bottom() + 1 + 4);

  // A small pop-up, then a larger one with labels: the window grows to show all of it.
  HintContent small;
  small.lines = {{{}, "Quarterly report draft"}};
  hint.ShowFor(small, QRect(screen.left() + 10, screen.top() + 10, 300, 20), screen.left() + 10, 0, false);
  HintContent typed;
  typed.gridInfo = true;
  typed.lines = {{"File type: ", "Plain Text E-mail Message"}, {"Size: ", "91 bytes"}, {"Sent: ", "Thu, 10 Dec 2026"}};
  hint.ShowFor(typed, QRect(screen.left() + 10, screen.top() + 10, 300, 20), screen.left() + 10, 0, false);
  EXPECT_GE(hint.width(), hint.lblHead->sizeHint().width() + hint.lblHint->sizeHint().width());
  EXPECT_GE(hint.height(), hint.lblHint->sizeHint().height());

  // Nothing to say: hidden.
  hint.ShowFor({}, QRect(0, 0, 10, 10), 0, 0, false);
  EXPECT_FALSE(hint.isVisible());
}

}  // namespace
}  // namespace px::desk
