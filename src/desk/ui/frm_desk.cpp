#include "desk/ui/frm_desk.h"
#include "desk/ui/tree_view.h"  // grid and trees
#include "desk/ui/desk_mail_view.h"  // received mail
#include "desk/ui/desk_menu_bar.h"

#include "platform/registry.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLoggingCategory>
#include <QDateTime>
#include <QPainter>
#include <QPainterPath>
#include <QRegularExpression>
#include <QLinearGradient>
#include <QMessageBox>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace px::desk {

namespace {

Q_LOGGING_CATEGORY(lcStartup, "plumadex.startup", QtWarningMsg)


// A locale format without its day-name patterns ("dddd", "ddd") and the separators they leave.
QString WithoutDayNames(QString fmt) {
  static const QRegularExpression dayNames(QStringLiteral("d{3,4}[,.]?\\s*"));
  fmt.remove(dayNames);
  return fmt.trimmed();
}

QPainterPath QuillPath() {
  QPainterPath quill;
  quill.moveTo(40, 150);
  quill.cubicTo(60, 90, 100, 50, 150, 30);
  quill.cubicTo(130, 80, 100, 120, 40, 150);
  return quill;
}

QFont LogoTitleFont(const QFont& base) {
  QFont title = base;
  title.setPointSize(28);
  title.setBold(true);
  return title;
}

QPixmap MakeLogo(const QFont& base) {
  const TfrmDesk::LogoLayout lay = TfrmDesk::LayOutLogo(base);
  const int w = lay.size.width(), h = lay.size.height();
  QPixmap pm(w, h);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient g(0, 0, 0, h);
  g.setColorAt(0, QColor(0x3b, 0x5f, 0x9e));
  g.setColorAt(1, QColor(0x1d, 0x33, 0x5c));
  QPainterPath frame;
  frame.addRoundedRect(QRectF(0.5, 0.5, w - 1, h - 1), 14, 14);
  p.fillPath(frame, g);
  // A quill: the mark of the program, left of the text.
  p.fillPath(QuillPath(), QColor(0xf2, 0xc1, 0x4e));
  p.setPen(QPen(QColor(0xf2, 0xc1, 0x4e), 2));
  p.drawLine(QPointF(40, 150), QPointF(30, 165));
  p.setFont(LogoTitleFont(base));
  p.setPen(Qt::white);
  p.drawText(lay.title, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Plumadex"));
  QFont small = base;
  small.setPointSize(11);
  p.setFont(small);
  p.setPen(QColor(0xdd, 0xe6, 0xf5));
  const QRect line1(lay.title.left() + 4, 115, w - lay.title.left() - 14, 30);
  p.drawText(line1, Qt::AlignLeft | Qt::AlignVCenter,
             QStringLiteral("Version %1").arg(QString::fromLatin1(platform::kProgramVersion.data(),
                                                                   platform::kProgramVersion.size())));
  p.drawText(line1.translated(0, 25), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Documents, mail and contacts"));
  return pm;
}

}  // namespace

TfrmDesk::LogoLayout TfrmDesk::LayOutLogo(const QFont& base) {
  LogoLayout lay;
  lay.quill = QuillPath().boundingRect().adjusted(-12, 0, 0, 24);  // with the nib below it
  // The text starts clear of the quill, and the logo is as wide as the text needs.
  const int left = static_cast<int>(std::ceil(lay.quill.right())) + 14;
  const QFontMetrics fm(LogoTitleFont(base));
  const int titleWidth = fm.horizontalAdvance(QStringLiteral("Plumadex")) + 8;
  QFont small = base;
  small.setPointSize(11);
  const int lineWidth = QFontMetrics(small).horizontalAdvance(QStringLiteral("Documents, mail and contacts")) + 12;
  lay.title = QRect(left, 60, std::max(titleWidth, lineWidth), 60);
  lay.size = QSize(std::max(400, lay.title.right() + 20), 200);
  return lay;
}

QString TfrmDesk::ClockText(const QDateTime& now, const QLocale& locale) {
  const QString timeFmt = WithoutDayNames(locale.timeFormat(QLocale::ShortFormat));
  const QString dateFmt = WithoutDayNames(locale.dateFormat(QLocale::ShortFormat));
  const QString weekday = locale.dayName(now.date().dayOfWeek(), QLocale::LongFormat);
  return locale.toString(now.time(), timeFmt) + QStringLiteral("   ") + weekday + QLatin1Char('\n') +
         locale.toString(now.date(), dateFmt);
}

TfrmDesk::TfrmDesk(DeskState& state, DeskOptions options, QWidget* parent)
    : QMainWindow(parent), state_(state) {
  setObjectName(QStringLiteral("frmDesk"));
  controller_ = std::make_unique<DeskController>(state_, hooks_, std::move(options.clock), this);
  controller_->SetEventLog(options.eventLog);

  // 1. Hour-glass; the standard UI font is the application font.
  QApplication::setOverrideCursor(Qt::WaitCursor);
  waitCursor_ = true;
  // 2. The window fills the screen's work area; the curtain covers it until the desk is ready.
  if (QScreen* screen = QGuiApplication::primaryScreen()) setGeometry(screen->availableGeometry());
  BuildFrame();
  // 3. (The skin engine plugs in here.)
  // 4. Captions.
  setWindowTitle(QStringLiteral("Plumadex"));
  WireHooks();
  // The menu bar and the toolbar over the command table; the parts below provide the commands.
  menuBar_ = new DeskMenuBar(commands_, this);
  menuBar_->SetReady(false);  // until the curtain goes
  commands_.Provide("actExit", [this] { close(); });
  commands_.Provide("actAbout", [this] {
    QMessageBox::about(this, QStringLiteral("About Plumadex"),
                       QStringLiteral("Plumadex %1\nDocuments, mail and contacts.")
                           .arg(QString::fromLatin1(platform::kProgramVersion.data(),
                                                    static_cast<int>(platform::kProgramVersion.size()))));
  });
  // --- grid and trees: the folder trees and the document grid fill pnlTrees and pnlGrid ---
  DeskBrowser* browser = InstallDeskBrowser(*this, state_);
  // --- received mail: tmrTraffic files the spool, blocked senders ---
  InstallDeskMail(*this, state_, browser);

  startResult_ = controller_->FormCreate(options.singleInstance);
  if (startResult_ != DeskController::StartResult::Run) {
    QApplication::restoreOverrideCursor();
    waitCursor_ = false;
    return;
  }
  // 8. The application-wide message hook.
  qApp->installEventFilter(this);
  treeWidth_ = state_.settings.TreeWidth();
}

TfrmDesk::~TfrmDesk() {
  qApp->removeEventFilter(this);
  if (startResult_ == DeskController::StartResult::Run) controller_->Destroy();
  if (waitCursor_) QApplication::restoreOverrideCursor();
}

void TfrmDesk::BuildFrame() {
  central_ = new QWidget(this);
  auto* outer = new QVBoxLayout(central_);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->setSpacing(0);

  pnlTop_ = new QFrame(central_);
  pnlTop_->setObjectName(QStringLiteral("pnlTop"));
  pnlTop_->setFrameShape(QFrame::StyledPanel);
  auto* top = new QHBoxLayout(pnlTop_);
  top->setContentsMargins(6, 4, 6, 4);
  pnlQuickboard_ = new QFrame(pnlTop_);
  pnlQuickboard_->setObjectName(QStringLiteral("pnlQuickboard"));
  pnlQuickboard_->setMinimumHeight(56);
  auto* qbLayout = new QHBoxLayout(pnlQuickboard_);
  auto* qbHint = new QLabel(QStringLiteral("Quickboard"), pnlQuickboard_);
  qbHint->setEnabled(false);
  qbLayout->addWidget(qbHint);
  qbLayout->addStretch();
  top->addWidget(pnlQuickboard_, 1);
  imgNewMail_ = new QLabel(pnlTop_);
  imgNewMail_->setObjectName(QStringLiteral("imgNewMail"));
  imgNewMail_->setPixmap(QIcon::fromTheme(QStringLiteral("mail-unread")).pixmap(24, 24));
  imgNewMail_->hide();
  top->addWidget(imgNewMail_);
  lblNewMail_ = new QLabel(pnlTop_);
  lblNewMail_->setObjectName(QStringLiteral("lblNewMail"));
  lblNewMail_->hide();
  top->addWidget(lblNewMail_);
  lblClock_ = new QLabel(pnlTop_);
  lblClock_->setObjectName(QStringLiteral("lblClock"));
  lblClock_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  top->addWidget(lblClock_);
  outer->addWidget(pnlTop_);

  splDesk_ = new QSplitter(Qt::Horizontal, central_);
  splDesk_->setObjectName(QStringLiteral("splDesk"));
  splDesk_->setChildrenCollapsible(false);
  pnlTrees_ = new QTabWidget(splDesk_);
  pnlTrees_->setObjectName(QStringLiteral("pnlTrees"));
  for (const char* tab : {"Files", "Contacts", "Tools"}) {
    auto* page = new QFrame(pnlTrees_);
    page->setFrameShape(QFrame::NoFrame);
    pnlTrees_->addTab(page, QString::fromLatin1(tab));
  }
  pnlGrid_ = new QFrame(splDesk_);
  pnlGrid_->setObjectName(QStringLiteral("pnlGrid"));
  pnlGrid_->setFrameShape(QFrame::StyledPanel);
  pnlGrid_->setAutoFillBackground(true);
  pnlGrid_->setBackgroundRole(QPalette::Base);
  splDesk_->addWidget(pnlTrees_);
  splDesk_->addWidget(pnlGrid_);
  splDesk_->setStretchFactor(0, 0);
  splDesk_->setStretchFactor(1, 1);
  connect(splDesk_, &QSplitter::splitterMoved, this, [this] { OnSplitterMoved(); });
  outer->addWidget(splDesk_, 1);
  setCentralWidget(central_);

  for (int i = 0; i < 4; ++i) {
    status_[i] = new QLabel(this);
    status_[i]->setObjectName(QStringLiteral("stbPanel%1").arg(i));
    statusBar()->addWidget(status_[i], i == 2 ? 1 : 0);
  }
  status_[0]->setMinimumWidth(160);
  status_[1]->setMinimumWidth(120);

  // The curtain: a plain cover over the whole client area with the splash in its middle.
  pnlCurtain_ = new QWidget(this);
  pnlCurtain_->setObjectName(QStringLiteral("pnlCurtain"));
  pnlCurtain_->setAutoFillBackground(true);
  pnlCurtain_->setBackgroundRole(QPalette::Window);
  auto* cl = new QVBoxLayout(pnlCurtain_);
  lblSplash_ = new QLabel(pnlCurtain_);
  lblSplash_->setObjectName(QStringLiteral("lblSplash"));
  lblSplash_->setAlignment(Qt::AlignCenter);
  lblSplash_->hide();
  cl->addWidget(lblSplash_, 0, Qt::AlignCenter);
  pnlCurtain_->setGeometry(rect());
  pnlCurtain_->raise();
}

void TfrmDesk::WireHooks() {
  hooks_.showSplash = [this] { showSplash(); };
  hooks_.removeSplash = [this] { removeSplash(); };
  hooks_.showClock = [this] { UpdateClock(); };
  hooks_.repaint = [this] { update(); };
  hooks_.readLayout = [this] {
    // The start can come before the window's first layout: place the panels now so the tree
    // width is taken of the real width.
    if (layout()) layout()->activate();
    treeWidth_ = state_.settings.TreeWidth();
    ApplyTreeWidth(treeWidth_);
  };
  hooks_.initLayout = [this] { LayoutClock(); };
  hooks_.terminate = [] { QApplication::quit(); };
  hooks_.checkDefaultMailProgram = [this] {
    state_.mailClient.emplace(platform::MailClientEnv::FromSystem());
    state_.mailClient->ClaimMailClient();
  };
  hooks_.restoreMailProgram = [this] {
    if (state_.mailClient) state_.mailClient->ReleaseMailClient();
  };
  hooks_.bringToFront = [this] {
    if (isMinimized()) showMaximized();
    raise();
    activateWindow();
  };
}

bool TfrmDesk::CurtainShown() const { return pnlCurtain_ && pnlCurtain_->isVisible(); }

void TfrmDesk::showSplash() {
  lblSplash_->setPixmap(MakeLogo(font()));
  lblSplash_->show();
  pnlCurtain_->setGeometry(rect());
  pnlCurtain_->raise();
  pnlCurtain_->show();
  // The steps that follow run without returning to the event loop: paint the splash now so it is
  // seen while they run.
  if (isVisible()) pnlCurtain_->repaint();
}

void TfrmDesk::removeSplash() {
  lblSplash_->hide();
  pnlCurtain_->hide();
  if (menuBar_) menuBar_->SetReady(true);
  if (waitCursor_) {
    QApplication::restoreOverrideCursor();
    waitCursor_ = false;
  }
  // The start-up benchmark reads when the desk was uncovered and when its queue first ran dry.
  if (lcStartup().isDebugEnabled()) {
    qCDebug(lcStartup) << "desk ready at epoch ms" << QDateTime::currentMSecsSinceEpoch();
    QTimer::singleShot(0, this, [] { qCDebug(lcStartup) << "desk idle at epoch ms" << QDateTime::currentMSecsSinceEpoch(); });
  }
}

void TfrmDesk::UpdateClock() { lblClock_->setText(ClockText(QDateTime::currentDateTime(), QLocale())); }

void TfrmDesk::LayoutClock() {
  // As wide as the widest of today's date and 23:59 with the weekday, at least 120 pixels.
  const QFontMetrics fm(lblClock_->font());
  const QLocale locale;
  const QDateTime now = QDateTime::currentDateTime();
  const QString widest = ClockText(QDateTime(now.date(), QTime(23, 59)), locale);
  int w = 120;
  for (const QString& line : widest.split(QLatin1Char('\n'))) w = std::max(w, fm.horizontalAdvance(line) + 8);
  lblClock_->setFixedWidth(w);
  UpdateClock();
}

int TfrmDesk::TreeWidthPerMille() const {
  const int total = central_ ? central_->width() : width();
  if (total <= 0) return treeWidth_;
  const QList<int> sizes = splDesk_->sizes();
  if (sizes.isEmpty()) return treeWidth_;
  return static_cast<int>(std::lround(sizes[0] * 1000.0 / total));
}

void TfrmDesk::ApplyTreeWidth(int perMille) {
  treeWidth_ = std::clamp(perMille, 100, 500);
  UpdateSplitterLimits();
  const int total = splDesk_->width() > 0 ? splDesk_->width() : width();
  const int left = static_cast<int>(std::lround(total * treeWidth_ / 1000.0));
  splDesk_->setSizes({left, std::max(0, total - left - splDesk_->handleWidth())});
}

void TfrmDesk::UpdateSplitterLimits() {
  // Tree widths of 100 to 500 per mille only: the splitter cannot be dragged beyond them.
  const int total = central_ ? central_->width() : width();
  if (total <= 0) return;
  pnlTrees_->setMinimumWidth(total / 10);
  pnlGrid_->setMinimumWidth(total / 2 - splDesk_->handleWidth());
}

void TfrmDesk::OnSplitterMoved() {
  const int perMille = std::clamp(TreeWidthPerMille(), 100, 500);
  if (perMille == treeWidth_) return;
  treeWidth_ = perMille;
  state_.settings.SetTreeWidth(perMille);
}

void TfrmDesk::resizeEvent(QResizeEvent* e) {
  QMainWindow::resizeEvent(e);
  if (pnlCurtain_) pnlCurtain_->setGeometry(rect());
  if (splDesk_) ApplyTreeWidth(treeWidth_);
}

void TfrmDesk::changeEvent(QEvent* e) {
  QMainWindow::changeEvent(e);
  if (e->type() == QEvent::WindowStateChange && isVisible() &&
      !(windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen))) {
    // The desk ignores "restore": it always fills the work area.
    QTimer::singleShot(0, this, [this] { setWindowState(Qt::WindowMaximized); });
  }
}

void TfrmDesk::ShowNewMailIndication(int total) {
  if (total <= 0) {
    HideNewMailIndication();
    return;
  }
  lblNewMail_->setText(QString::number(total));
  lblNewMail_->show();
  imgNewMail_->show();
  status_[3]->setText(QStringLiteral(" New mail "));
}

void TfrmDesk::HideNewMailIndication() {
  status_[3]->clear();
  lblNewMail_->hide();
  imgNewMail_->hide();
}

bool TfrmDesk::eventFilter(QObject* watched, QEvent* e) { return QMainWindow::eventFilter(watched, e); }

void TfrmDesk::closeEvent(QCloseEvent* e) {
  if (state_.closing) {
    e->accept();
    return;
  }
  if (!controller_->CanClose()) {
    e->ignore();
    return;
  }
  e->accept();
}

}  // namespace px::desk
