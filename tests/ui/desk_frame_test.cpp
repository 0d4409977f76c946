#include "desk/ui/frm_desk.h"
#include "foundation/ui/message_box_presenter.h"
#include "support/fake_desk_clock.h"
#include "support/test_support.h"

#include <QAbstractButton>
#include <QLabel>
#include <QApplication>
#include <QSplitter>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using namespace px;
using namespace px::desk;

namespace {

class DeskFrameTest : public ::testing::Test {
protected:
  void SetUp() override { MakeDesk(state, true); }
  // A desk over `st`, shown; with `turn` the event loop turns once, as after the start.
  void MakeDesk(DeskState& st, bool turn) {
    st.registry = std::make_unique<platform::MemoryRegistry>();
    DeskOptions options;
    options.singleInstance = false;
    auto c = std::make_unique<test::FakeDeskClock>(0);
    clock = c.get();
    options.clock = std::move(c);
    desk = std::make_unique<TfrmDesk>(st, std::move(options));
    desk->resize(1000, 700);
    desk->show();
    if (turn) QApplication::processEvents();
  }
  void TearDown() override { desk.reset(); }

  void Initialise() {
    desk->controller().OnApp();
    QApplication::processEvents();
  }

  test::TempHome home;
  DeskState state;
  test::FakeDeskClock* clock = nullptr;
  std::unique_ptr<TfrmDesk> desk;
};

}  // namespace

TEST_F(DeskFrameTest, CurtainCoversTheDeskUntilItIsReady) {
  desk.reset();
  DeskState fresh;
  MakeDesk(fresh, false);
  ASSERT_EQ(desk->startResult(), DeskController::StartResult::Run);
  EXPECT_TRUE(desk->CurtainShown());
  // The set-up starts as soon as the event loop turns and lifts the curtain when done.
  ASSERT_TRUE(QTest::qWaitFor([&] { return desk->controller().Initialised(); }, 5000));
  EXPECT_FALSE(desk->CurtainShown());
  EXPECT_FALSE(desk->lblClock()->text().isEmpty());
  EXPECT_GE(desk->lblClock()->width(), 120);
  desk.reset();
}

TEST_F(DeskFrameTest, SplitterKeepsTreeWidthWithinLimitsAndSavesIt) {
  Initialise();
  EXPECT_NEAR(desk->TreeWidthPerMille(), 200, 5);
  QSplitter* spl = desk->splDesk();
  const int total = spl->width();
  // Dragged far to the right: the grid keeps half the width, the tree gets 500 per mille.
  spl->setSizes({total - 10, 10});
  emit spl->splitterMoved(total - 10, 1);
  EXPECT_NEAR(desk->TreeWidthPerMille(), 500, 10);
  EXPECT_NEAR(Settings(state.locations.UserIni()).TreeWidth(), 500, 10);
  spl->setSizes({10, total - 10});
  emit spl->splitterMoved(10, 1);
  EXPECT_NEAR(desk->TreeWidthPerMille(), 100, 10);
  EXPECT_NEAR(Settings(state.locations.UserIni()).TreeWidth(), 100, 10);
}

TEST_F(DeskFrameTest, SavedTreeWidthIsClampedWhenRead) {
  desk.reset();
  test::makeDirs(home.path("data"));
  test::writeFile(home.path("data/User.ini"), "[Settings]\r\nTreeWidth=900\r\n");
  DeskState fresh;
  MakeDesk(fresh, true);
  Initialise();
  EXPECT_NEAR(desk->TreeWidthPerMille(), 500, 10);
  desk.reset();
}

TEST_F(DeskFrameTest, WindowStaysOpenWhileATransferRunsOrTheDeskIsBusy) {
  Initialise();
  desk->controller().timers().tmrIP.start();
  EXPECT_FALSE(desk->close());
  EXPECT_TRUE(desk->isVisible());
  desk->controller().timers().tmrIP.stop();
  state.busy = true;
  EXPECT_FALSE(desk->close());
  state.busy = false;
  EXPECT_TRUE(desk->close());
  EXPECT_TRUE(state.closing);
}

TEST_F(DeskFrameTest, NewMailIndicationIsShownAndHidden) {
  ASSERT_NE(desk->StatusPanel(3), nullptr);
  EXPECT_TRUE(desk->lblNewMail()->isHidden());
  desk->ShowNewMailIndication(3);
  EXPECT_FALSE(desk->lblNewMail()->isHidden());
  EXPECT_FALSE(desk->imgNewMail()->isHidden());
  EXPECT_EQ(desk->lblNewMail()->text(), QStringLiteral("3"));
  EXPECT_FALSE(desk->StatusPanel(3)->text().isEmpty());
  desk->HideNewMailIndication();
  EXPECT_TRUE(desk->lblNewMail()->isHidden());
  EXPECT_TRUE(desk->imgNewMail()->isHidden());
  EXPECT_TRUE(desk->StatusPanel(3)->text().isEmpty());
  desk->ShowNewMailIndication(0);  // nothing new: nothing shown
  EXPECT_TRUE(desk->lblNewMail()->isHidden());
}

TEST(DeskSplash, TheQuillStaysClearOfTheTitle) {
  for (int size : {8, 10, 14, 20}) {
    QFont f = QApplication::font();
    f.setPointSize(size);
    const TfrmDesk::LogoLayout lay = TfrmDesk::LayOutLogo(f);
    EXPECT_FALSE(lay.quill.intersects(QRectF(lay.title))) << size;
    EXPECT_LE(lay.title.right(), lay.size.width()) << size;
  }
}

TEST(DeskClockText, TimeWithWeekdayThenDateWithoutDayNames) {
  const QDateTime at(QDate(2026, 12, 10), QTime(9, 5));
  for (const QLocale& locale : {QLocale(QLocale::English, QLocale::UnitedStates),
                                QLocale(QLocale::German, QLocale::Germany), QLocale(QLocale::C)}) {
    const QStringList lines = TfrmDesk::ClockText(at, locale).split('\n');
    ASSERT_EQ(lines.size(), 2);
    const QString weekday = locale.dayName(4);
    EXPECT_TRUE(lines[0].endsWith("   " + weekday)) << lines[0].toStdString();
    EXPECT_TRUE(lines[0].contains("9")) << lines[0].toStdString();
    EXPECT_FALSE(lines[1].contains(locale.dayName(4, QLocale::ShortFormat))) << lines[1].toStdString();
    EXPECT_TRUE(lines[1].contains("10")) << lines[1].toStdString();
  }
}

TEST(DeskMessageBox, TitledPlumadexWithOneOkButtonAndPlainText) {
  ui::MessageBoxPresenter presenter(false);
  MessageQueue queue(&presenter);
  QString title, text;
  int buttons = 0;
  Qt::TextFormat format = Qt::AutoText;
  QTimer::singleShot(0, [&] {
    QMessageBox* box = presenter.Box();
    ASSERT_NE(box, nullptr);
    title = box->windowTitle();
    text = box->text();
    buttons = box->buttons().size();
    format = box->textFormat();
    // A second message waits until this box is closed.
    queue.QueueMessage(MessageKind::Information, "next");
    EXPECT_EQ(queue.Pending().size(), 1u);
    presenter.CloseBox();
  });
  // The second box is closed whenever it appears (no waiting on a fixed delay).
  bool sawSecond = false;
  QTimer closer;
  closer.setInterval(5);
  QObject::connect(&closer, &QTimer::timeout, [&] {
    if (presenter.Box() && presenter.Box()->text() == "next") {
      sawSecond = true;
      presenter.CloseBox();
    }
  });
  closer.start();
  queue.QueueMessage(MessageKind::Warning, "Cannot delete <b>x</b>\r\rError 13: denied");
  queue.ShowQueuedMessages();
  EXPECT_EQ(title, "Plumadex");
  EXPECT_EQ(buttons, 1);
  EXPECT_EQ(format, Qt::PlainText);
  EXPECT_EQ(text, "Cannot delete <b>x</b>\n\nError 13: denied");
  EXPECT_TRUE(sawSecond);
  EXPECT_FALSE(queue.Busy());
}
