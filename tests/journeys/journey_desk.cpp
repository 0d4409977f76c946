#include "journeys/journey_desk.h"

#include "app/desk_parts_glue.h"
#include "compose/ui/frm_edit.h"
#include "desk/desk_state.h"
#include "desk/ui/frm_accounts.h"
#include "desk/ui/frm_desk.h"
#include "desk/ui/grid_view.h"
#include "foundation/ui/message_box_presenter.h"
#include "pop3/pop3_servers.h"
#include "smtp/smtp_fixture.h"
#include "store/doc_record.h"
#include "support/test_paths.h"
#include "transport/peer_fixture.h"
#include "transport/ui/frm_reg.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCheckBox>
#include <QCryptographicHash>
#include <QDialogButtonBox>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include <gtest/gtest.h>

namespace px::journeys {

namespace {

// A modal window nobody expected is closed after this long; one a journey acted on but that
// stays up (the act did not end it) after the longer time.
constexpr int kUnexpectedMs = 4000;
constexpr int kStuckMs = 20000;

// The desk's clock runs the start-up's steps as they come: the splash does not hold a journey
// up for its minimum time.
class PromptClock final : public desk::DeskClock {
public:
  PromptClock() { timer_.start(); }
  int64_t NowMs() const override { return timer_.elapsed(); }
  void After(int, std::function<void()> fn) override { QTimer::singleShot(0, &context_, std::move(fn)); }

private:
  QObject context_;
  QElapsedTimer timer_;
};

QString Describe(QWidget* w) {
  if (auto* box = qobject_cast<QMessageBox*>(w)) return QStringLiteral("message box: ") + box->text();
  if (auto* menu = qobject_cast<QMenu*>(w)) {
    QStringList names;
    for (QAction* a : menu->actions()) names << (a->objectName().isEmpty() ? a->text() : a->objectName());
    return QStringLiteral("menu: ") + names.join(QStringLiteral(", "));
  }
  // What the window says: its title and the texts of its labels.
  QStringList said;
  for (auto* l : w->findChildren<QLabel*>())
    if (l->isVisible() && !l->text().isEmpty()) said << l->text().left(120);
  return QStringLiteral("%1 \"%2\" (%3) saying: %4")
      .arg(w->metaObject()->className(), w->windowTitle(), w->objectName(), said.join(QStringLiteral(" | ")));
}

}  // namespace

bool WaitUntil(const std::function<bool()>& done, int ms) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > ms) return false;
    QTest::qWait(10);
  }
  return true;
}

QWidget* FindNamed(QObject* root, const QString& name, const QMetaObject& type) {
  auto fits = [&](QObject* o) { return o->objectName() == name && type.cast(o); };
  if (root) {
    for (QWidget* w : root->findChildren<QWidget*>(name))
      if (fits(w)) return w;
    return nullptr;
  }
  for (QWidget* top : QApplication::topLevelWidgets()) {
    if (fits(top)) return top;
    if (QWidget* w = FindNamed(top, name, type)) return w;
  }
  return nullptr;
}

void Click(QWidget* w) {
  if (!w) {
    ADD_FAILURE() << "nothing to click";
    return;
  }
  // A check box takes clicks on its box and its text only, at its left; it may be wider.
  const bool box = qobject_cast<QCheckBox*>(w) || qobject_cast<QRadioButton*>(w);
  const QPoint at = box ? QPoint(std::min(8, w->width() / 2), w->height() / 2) : w->rect().center();
  QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, at);
}

void ClickButtonWithText(QWidget* root, const QString& text) {
  for (auto* b : root->findChildren<QAbstractButton*>()) {
    if (b->isVisible() && b->text().remove(QLatin1Char('&')) == text) {
      Click(b);
      return;
    }
  }
  ADD_FAILURE() << "no button \"" << text.toStdString() << "\" in " << Describe(root).toStdString();
}

void Type(QWidget* w, const QString& text) {
  if (!w) {
    ADD_FAILURE() << "no field to type \"" << text.toStdString() << "\" into";
    return;
  }
  w->setFocus(Qt::MouseFocusReason);
  QTest::keyClick(w, Qt::Key_A, Qt::ControlModifier);
  if (text.isEmpty()) QTest::keyClick(w, Qt::Key_Delete);
  else TypeMore(w, text);
}

void TypeMore(QWidget* w, const QString& text) {
  for (const QChar c : text) {
    if (c.unicode() < 0x7f && c.unicode() >= 0x20) {
      QTest::keyClick(w, c.toLatin1());
    } else {
      // What a keyboard layout with the letter sends: no key code, the text.
      QTest::sendKeyEvent(QTest::Press, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
      QTest::sendKeyEvent(QTest::Release, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
  }
}

void Press(QWidget* w, int key, Qt::KeyboardModifiers mods) {
  QTest::keyClick(w, static_cast<Qt::Key>(key), mods);
}

bool ClickToolbarAction(QWidget* window, const QString& actionName) {
  for (QToolBar* bar : window->findChildren<QToolBar*>()) {
    for (QAction* a : bar->actions()) {
      if (a->objectName() != actionName) continue;
      if (QWidget* b = bar->widgetForAction(a); b && b->isVisible()) {
        Click(b);
        return true;
      }
    }
  }
  return false;
}

void ClickMenuAction(QMenu* menu, QAction* action) {
  // Pointed at, then clicked: the menu takes the release over the entry it highlights.
  const QPoint at = menu->actionGeometry(action).center();
  QTest::mouseMove(menu, at);
  WaitUntil([&] { return menu->activeAction() == action; }, 1000);
  QTest::mouseClick(menu, Qt::LeftButton, Qt::NoModifier, at);
}

// ---- the scripted user ------------------------------------------------------------------------

ScriptedUser::ScriptedUser() {
  poll_.setInterval(25);
  connect(&poll_, &QTimer::timeout, this, &ScriptedUser::Poll);
  poll_.start();
}

ScriptedUser::~ScriptedUser() = default;

void ScriptedUser::Expect(const QString& what, std::function<bool(QWidget*)> matches, Act act) {
  expected_.push_back({what, std::move(matches), std::move(act)});
}

void ScriptedUser::ExpectDialog(const QString& name, Act act) {
  Expect(QStringLiteral("dialog ") + name,
         [name](QWidget* w) { return w->objectName() == name || QLatin1String(w->metaObject()->className()) == name; },
         std::move(act));
}

void ScriptedUser::ExpectMessage(const QString& part, int button) {
  Expect(QStringLiteral("message \"") + part + QStringLiteral("\""),
         [part](QWidget* w) {
           auto* box = qobject_cast<QMessageBox*>(w);
           return box && box->text().contains(part, Qt::CaseInsensitive);
         },
         [button](QWidget* w) {
           auto* box = qobject_cast<QMessageBox*>(w);
           QAbstractButton* b = box->button(static_cast<QMessageBox::StandardButton>(button ? button : QMessageBox::Ok));
           if (!b) b = box->defaultButton();
           Click(b);
         });
}

void ScriptedUser::ExpectMenuAction(const QString& actionName) {
  Expect(QStringLiteral("menu with ") + actionName,
         [actionName](QWidget* w) {
           auto* menu = qobject_cast<QMenu*>(w);
           if (!menu) return false;
           for (QAction* a : menu->actions())
             if (a->objectName() == actionName && a->isVisible()) return true;
           return false;
         },
         [actionName](QWidget* w) {
           auto* menu = qobject_cast<QMenu*>(w);
           for (QAction* a : menu->actions())
             if (a->objectName() == actionName) {
               EXPECT_TRUE(a->isEnabled()) << actionName.toStdString() << " is not enabled";
               ClickMenuAction(menu, a);
               return;
             }
         });
}

void ScriptedUser::Drop(const QString& what) {
  for (auto it = expected_.begin(); it != expected_.end(); ++it)
    if (it->what == what) {
      expected_.erase(it);
      return;
    }
}

QStringList ScriptedUser::Pending() const {
  QStringList r;
  for (const auto& e : expected_) r << e.what;
  return r;
}

void ScriptedUser::Poll() {
  // Menus and modal windows wait for an answer; other popups (a completion list) do not.
  QWidget* w = qobject_cast<QMenu*>(QApplication::activePopupWidget());
  if (!w) w = QApplication::activeModalWidget();
  if (!w) {
    watched_ = nullptr;
    return;
  }
  if (w != watched_) {
    watched_ = w;
    watchedSince_.start();
    if (auto* box = qobject_cast<QMessageBox*>(w)) messages_ << box->text();
  }
  if (w != inHand_) {
    for (size_t i = 0; i < expected_.size(); ++i) {
      if (!expected_[i].matches(w)) continue;
      Act act = std::move(expected_[i].act);
      expected_.erase(expected_.begin() + static_cast<std::ptrdiff_t>(i));
      inHand_ = w;
      watchedSince_.start();
      // From the event loop, so this poll returns first and the act may open windows of its own.
      QPointer<QWidget> target(w);
      QTimer::singleShot(0, this, [act, target] {
        if (target) act(target);
      });
      return;
    }
  }
  const int limit = w == inHand_ ? kStuckMs : kUnexpectedMs;
  if (watchedSince_.elapsed() < limit) return;
  const QString text = Describe(w);
  unexpected_ << text;
  ADD_FAILURE() << "closed a window nobody expected: " << text.toStdString()
                << (expected_.empty() ? std::string() : "; waiting for: " + Pending().join("; ").toStdString());
  watched_ = nullptr;
  if (auto* d = qobject_cast<QDialog*>(w)) d->reject();
  else w->close();
}

// ---- the desk --------------------------------------------------------------------------------

JourneyDesk::JourneyDesk() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  journey_ = info ? std::string(info->name()) : std::string("journey");
  for (char& c : journey_)
    if (c == '/') c = '-';
}

JourneyDesk::~JourneyDesk() {
  if (window_) {
    // A journey that failed half-way may leave message windows and questions open.
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w != window_.get() && w->isVisible() && qobject_cast<compose::ui::TfrmEdit*>(w)) w->close();
    state_->closing = true;
    state_->messages.Clear();
    window_.reset();
  }
  if (state_) {
    state_->messages.SetWakeUp(nullptr);
    state_->messages.SetPresenter(nullptr);
  }
  presenter_.reset();
  state_.reset();
  QApplication::processEvents();
  peer_.reset();
  smtp_.reset();
  dovecot_.reset();
  popTrust_.reset();
  qunsetenv("PLUMADEX_SMTP_CA");
  qunsetenv("PLUMADEX_SERVICE_CA");
}

test::DovecotServer& JourneyDesk::Dovecot() {
  if (!dovecot_) {
    dovecot_ = std::make_unique<test::DovecotServer>(true);
    std::string error;
    if (!dovecot_->Start(&error)) ADD_FAILURE() << "Dovecot: " << error;
    popTrust_ = std::make_unique<test::ScopedCertFile>(dovecot_->ca().caFile);
  }
  return *dovecot_;
}

transport::testing::SmtpTestServer& JourneyDesk::Smtp(const std::vector<std::string>& users) {
  if (!smtp_) {
    transport::testing::ServerOptions o;
    o.mode = "starttls";
    if (!users.empty()) o.users = users;
    smtp_ = std::make_unique<transport::testing::SmtpTestServer>(o);
    qputenv("PLUMADEX_SMTP_CA", QByteArray::fromStdString(transport::testing::TestCa::Get().caFile()));
  }
  return *smtp_;
}

test::ServicePeer& JourneyDesk::Peer(const std::vector<std::string>& users) {
  if (!peer_) {
    peer_ = std::make_unique<test::ServicePeer>(users);
    if (!peer_->Running()) ADD_FAILURE() << "the service peer did not start";
    qputenv("PLUMADEX_SERVICE_CA", QByteArray::fromStdString(peer_->CaFile()));
  }
  return *peer_;
}

OwnAccount JourneyDesk::MakeOwnAccount(const std::string& address) {
  OwnAccount a;
  a.address = address;
  a.user = Dovecot().NewUser();
  a.password = "pw-" + a.user;
  Smtp({a.user + ":" + a.password});
  return a;
}

void JourneyDesk::Launch(const std::vector<std::string>& arguments) {
  state_ = std::make_unique<desk::DeskState>();
  state_->arguments = arguments;
  // Real boxes, answered by the scripted user (the offscreen default writes them to stderr).
  presenter_ = std::make_unique<ui::MessageBoxPresenter>(false);
  state_->messages.SetPresenter(presenter_.get());
  ui::ShowFromEventLoop(state_->messages, qApp);
  desk::DeskOptions options;
  options.clock = std::make_unique<PromptClock>();
  window_ = std::make_unique<desk::TfrmDesk>(*state_, std::move(options));
  ASSERT_TRUE(app::AssembleDesk(*window_, *state_)) << "the desk did not start";
  window_->resize(1200, 800);
  window_->showMaximized();
}

bool JourneyDesk::Initialised() const { return state_ && state_->initialised; }

void JourneyDesk::StartAsOwnAccountsUser(const OwnAccount& account) {
  user.ExpectDialog(QStringLiteral("frmReg2"), [](QWidget* w) {
    auto* welcome = static_cast<transport::TfrmReg2*>(w);
    Click(welcome->Button(transport::WelcomeChoice::OwnAccountsOnly));
  });
  user.ExpectDialog(QStringLiteral("frmAccounts"), [this, account](QWidget* w) {
    auto* dlg = static_cast<desk::TfrmAccounts*>(w);
    Shot("accounts-window");
    Type(dlg->edtName, QString::fromStdString(account.address));
    if (account.imap) dlg->cbProtocol->setCurrentIndex(dlg->cbProtocol->findText(QStringLiteral("IMAP")));
    Type(dlg->edtServer,
         QStringLiteral("127.0.0.1:%1").arg(account.imap ? Dovecot().imapsPort() : Dovecot().pop3sPort()));
    if (account.imap) Shot("accounts-window-imap");
    dlg->cbSecurity->setCurrentIndex(dlg->cbSecurity->findData(static_cast<int>(transport::pop3::Security::Tls)));
    Type(dlg->edtUser, QString::fromStdString(account.user));
    Type(dlg->edtPassword,
         QString::fromStdString(account.typedPassword.empty() ? account.password : account.typedPassword));
    if (dlg->chkSavePassword->isChecked() != account.savePassword) Click(dlg->chkSavePassword);
    Type(dlg->edtSmtpServer, QStringLiteral("127.0.0.1:%1").arg(Smtp().port()));
    dlg->cbSmtpSecurity->setCurrentIndex(
        dlg->cbSmtpSecurity->findData(static_cast<int>(transport::SmtpSecurity::StartTls)));
    if (!dlg->chkSmtpSameLogin->isChecked()) Click(dlg->chkSmtpSameLogin);
    Click(dlg->btnSave);
    EXPECT_EQ(dlg->lstAccount->count(), 1) << "the account was not saved";
    auto* box = dlg->findChild<QDialogButtonBox*>();
    Click(box ? box->button(QDialogButtonBox::Close) : nullptr);
  });
  Launch();
  ASSERT_TRUE(WaitUntil([this] { return Initialised(); }, 30000))
      << "the desk did not finish starting; waiting for: " << user.Pending().join("; ").toStdString();
  EXPECT_TRUE(user.Done()) << user.Pending().join("; ").toStdString();
  Shot("desk-up");
}

void JourneyDesk::StartAsServiceUser(const std::string& name, const std::string& password) {
  test::ServicePeer& peer = Peer();
  const QString host = QString::fromStdString(peer.Host());
  auto welcome = std::make_shared<QPointer<QWidget>>();
  // The server may be named in the welcome window or in the address window.
  user.ExpectDialog(QStringLiteral("frmReg2"), [this, host, welcome](QWidget* w) {
    *welcome = w;
    Shot("welcome");
    if (auto* server = Named<QLineEdit>(w, QStringLiteral("edtServer")); server && server->isVisible())
      Type(server, host);
    Click(static_cast<transport::TfrmReg2*>(w)->Button(transport::WelcomeChoice::UseExisting));
  });
  user.ExpectDialog(QStringLiteral("frmReg"), [this, host, welcome, name, password](QWidget* w) {
    auto* reg = static_cast<transport::TfrmReg*>(w);
    auto* server = Named<QLineEdit>(reg, QStringLiteral("edtServer"));
    if (server && server->isVisible() && server->text() != host) Type(server, host);
    const bool named = (server && server->text() == host) ||
                       (*welcome && Named<QLineEdit>(*welcome, QStringLiteral("edtServer")));
    if (!named) {
      // Without a way to name the server the request would go to the public service.
      ADD_FAILURE() << "neither the welcome window nor the address window lets the user name the server";
      reg->reject();
      QTimer::singleShot(0, [welcome] {
        if (auto* d = qobject_cast<QDialog*>(welcome->data())) d->reject();
      });
      user.ExpectMessage(QStringLiteral("address has not been set up"));
      return;
    }
    Type(reg->edtName, QStringLiteral("Alice Example"));
    Type(reg->edtUser, QString::fromStdString(name));
    Type(reg->edtPassword, QString::fromStdString(password));
    if (reg->edtRepeat->isVisible()) Type(reg->edtRepeat, QString::fromStdString(password));
    Shot("address-window");
    EXPECT_TRUE(reg->btnVerify->isEnabled()) << "Verify stays off with every field filled";
    Click(reg->btnVerify);
  });
  Launch();
  ASSERT_TRUE(WaitUntil([this] { return Initialised(); }, 30000))
      << "the desk did not finish starting; waiting for: " << user.Pending().join("; ").toStdString();
  EXPECT_TRUE(user.Done()) << user.Pending().join("; ").toStdString();
  Shot("desk-up");
}

desk::GridPanel* JourneyDesk::Grid() const {
  return window_ ? window_->findChild<desk::GridPanel*>() : nullptr;
}

std::string JourneyDesk::Documents() const { return state_->locations.documents; }

std::vector<compose::ui::TfrmEdit*> JourneyDesk::MessageWindows() const {
  std::vector<compose::ui::TfrmEdit*> r;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* e = qobject_cast<compose::ui::TfrmEdit*>(w); e && e->isVisible()) r.push_back(e);
  return r;
}

compose::ui::TfrmEdit* JourneyDesk::WaitForNewMessageWindow(const std::vector<compose::ui::TfrmEdit*>& before,
                                                            int ms) {
  compose::ui::TfrmEdit* found = nullptr;
  WaitUntil(
      [&] {
        for (auto* w : MessageWindows())
          if (std::find(before.begin(), before.end(), w) == before.end()) found = w;
        return found != nullptr;
      },
      ms);
  return found;
}

int JourneyDesk::GridRowOf(const QString& title) const {
  desk::GridPanel* g = Grid();
  if (!g) return -1;
  const desk::GridModel& m = g->model();
  for (size_t v = 0; v < m.VisibleCount(); ++v)
    if (QString::fromStdString(m.rows()[m.RecordOfVisible(v)].title) == title) return static_cast<int>(v);
  return -1;
}

bool JourneyDesk::GridRowBold(int visibleRow) const {
  const desk::GridModel& m = Grid()->model();
  const store::DocRecord& r = m.rows()[m.RecordOfVisible(static_cast<size_t>(visibleRow))];
  return (r.flags & store::dfUnread) != 0 && Grid()->look().highlightBold;
}

namespace {
QPoint RowPoint(desk::GridPanel* g, int visibleRow) {
  desk::TheGrid* grid = g->grid();
  grid->setTopRow(std::max(0, visibleRow - 2));
  const auto& cols = g->columns();
  int x = 0;
  for (int i = 0; i < desk::fsName && i < static_cast<int>(cols.sections.size()); ++i) x += cols.sections[i];
  x += desk::fsName < static_cast<int>(cols.sections.size()) ? cols.sections[desk::fsName] / 2 : 40;
  const int y = (visibleRow - grid->topRow()) * grid->rowHeight() + grid->rowHeight() / 2;
  return QPoint(x, y);
}
}  // namespace

void JourneyDesk::DoubleClickGridRow(int visibleRow) {
  desk::GridPanel* g = Grid();
  const QPoint p = RowPoint(g, visibleRow);
  QTest::mouseClick(g->grid()->viewport(), Qt::LeftButton, Qt::NoModifier, p);
  QTest::mouseDClick(g->grid()->viewport(), Qt::LeftButton, Qt::NoModifier, p);
}

void JourneyDesk::RightClickGridRow(int visibleRow) {
  desk::GridPanel* g = Grid();
  QTest::mouseClick(g->grid()->viewport(), Qt::RightButton, Qt::NoModifier, RowPoint(g, visibleRow));
}

void JourneyDesk::RightClickGridEmptySpace() {
  desk::GridPanel* g = Grid();
  QWidget* vp = g->grid()->viewport();
  QTest::mouseClick(vp, Qt::RightButton, Qt::NoModifier, QPoint(vp->width() / 2, vp->height() - 5));
}

bool JourneyDesk::TransferRunning() const {
  auto& t = window_->controller().timers().tmrIP;
  return t.isActive();
}

QString JourneyDesk::StatusText() const {
  auto* l = Named<QLabel>(window_.get(), QStringLiteral("stbState"));
  return l ? l->text() : QString();
}

void JourneyDesk::RunTransfer(const QString& actionName, int ms) {
  ASSERT_TRUE(ClickToolbarAction(window_.get(), actionName)) << "no tool button " << actionName.toStdString();
  ASSERT_TRUE(WaitUntil([this] { return TransferRunning(); }, 5000)) << "no transfer started";
  ASSERT_TRUE(WaitUntil([this] { return !TransferRunning(); }, ms)) << "the transfer did not end";
}

void JourneyDesk::Shot(const std::string& name) {
  const QByteArray dir = qgetenv("PLUMADEX_JOURNEY_SHOTS");
  if (dir.isEmpty() || QGuiApplication::platformName() != QLatin1String("xcb")) return;
  // Let the windows paint and the window manager place them first.
  QTest::qWait(400);
  char num[16];
  std::snprintf(num, sizeof num, "%02d", ++shots_);
  const QString file = QString::fromUtf8(dir) + "/" + QString::fromStdString(journey_ + "-" + num + "-" + name) + ".png";
  QProcess p;
  p.start(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), file});
  p.waitForFinished(15000);
}

std::string JourneyDesk::ReadDocument(const std::string& name) const { return test::readFile(Documents() + name); }

std::string JourneyDesk::IndexText(const std::string& folder) const { return test::readFile(folder + "Plumadex.ini"); }

// ---- reading back ----------------------------------------------------------------------------

ReadBack ReadWithPython(const std::string& emlPath) {
  const QJsonObject o = transport::testing::ReadWithPython(emlPath);
  ReadBack r;
  const QJsonObject h = o.value("headers").toObject();
  auto header = [&](const char* n) { return h.value(QLatin1String(n)).toString().toStdString(); };
  r.from = header("From");
  r.to = header("To");
  r.cc = header("Cc");
  r.subject = header("Subject");
  r.messageId = header("Message-ID");
  r.date = o.value("date_ok").toBool() ? header("Date") : std::string();
  r.inReplyTo = header("In-Reply-To");
  r.references = header("References");
  r.body = o.value("body").toString().toStdString();
  for (const auto& v : o.value("parts").toArray()) {
    const QJsonObject p = v.toObject();
    if (p.value("filename").isString())
      r.attachments.push_back({p.value("filename").toString().toStdString(), p.value("sha256").toString().toStdString()});
  }
  return r;
}

std::string Sha256(const std::string& bytes) { return transport::testing::Sha256(bytes); }

}  // namespace px::journeys
