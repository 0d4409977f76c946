#include "app/transfer_glue.h"

#include "desk/desk_mail.h"
#include "desk/desk_state.h"
#include "desk/transfer_run.h"
#include "desk/ui/frm_desk.h"
#include "desk/ui/frm_mail.h"
#include "desk/ui/password_prompt.h"
#include "desk/ui/progress_bar.h"
#include "foundation/dates.h"
#include "foundation/ini_file.h"
#include "foundation/password.h"
#include "foundation/random.h"
#include "incoming/blocked_senders.h"
#include "incoming/mail_filer.h"
#include "mailformat/spool.h"
#include "transport/accounts.h"
#include "transport/crypto_seam.h"
#include "transport/pgp_crypto.h"
#include "transport/left_on_server.h"
#include "transport/outgoing.h"
#include "transport/imap/imap_idle.h"
#include "transport/imap/thread_recv_imap.h"
#include "transport/pop3/thread_recv_pop.h"
#include "transport/sent_stamp.h"
#include "transport/send_route.h"
#include "transport/service_protocol.h"
#include "transport/service_receive.h"
#include "transport/service_requests.h"
#include "transport/http_client.h"
#include "transport/smtp/smtp_route.h"

#include <QAction>
#include <QDesktopServices>
#include <QCoreApplication>
#include <QMessageBox>
#include <QPointer>
#include <QUrl>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QNetworkInformation>
#include <QStatusBar>
#include <QThread>
#include <QTimer>
#include <QToolButton>

#include <memory>
#include <mutex>
#include <thread>

namespace px::app {

namespace {

constexpr int kPop3TimeoutMs = 60000;

// Owns what the transfers need for the desk's lifetime.
class TransferHost : public QObject {
public:
  TransferHost(desk::TfrmDesk& desk, desk::DeskState& state)
      : QObject(&desk),
        desk_(desk),
        state_(state),
        sent_(state.locations.SentIni()),
        spool_(state.locations.inbox, random_),
        leftOnServer_(state.locations.dataRoot + "msgid.lst") {
    setObjectName(QStringLiteral("pxTransferHost"));
  }
  // The run goes first: ending it waits for its workers, whose last reports still stamp the
  // sent register and read the spool this host owns.
  ~TransferHost() override {
    idle_.StopAll();
    refresh_.stop();
    StopVersionCheck();
    if (run_) disconnect(run_, nullptr, this, nullptr);
    delete run_;
    run_ = nullptr;
  }

  // The password the next runs use (after the user changed it in the options).
  void SetServicePassword(const std::string& password) { password_ = password; }
  const std::string& Password() const { return password_; }
  bool EnsurePassword() { return ServicePassword(); }

  desk::TransferRun* Make() {
    mail_ = desk_.findChild<desk::DeskMail*>();
    desk::TransferSetup s;
    s.messages = &state_.messages;
    s.sendContext.sent = &sent_;
    // The one register of the desk: messages queued since the start are in it.
    s.sentRegister = [this] { return &Sent(); };
    s.sendContext.registry = &state_.indexRegistry;
    s.sendContext.random = &random_;
    s.sendContext.crypto = &crypto_;
    s.sendContext.messages = &state_.messages;
    s.sendContext.dataRoot = state_.locations.dataRoot;
    // Someone who only uses their own accounts has no service user but still sends and receives.
    s.hasUser = [this] { return desk::HasMailSetUp(state_.settings); };
    s.prepareSend = [this] { return PrepareSend(); };
    s.prepareReceive = [this] { return PrepareReceive(); };
    s.fileMail = [this] {
      CommitSent();
      if (!mail_) return 0;
      mail_->StartFiling();
      return mail_->Filing() ? -1 : 0;
    };
    s.saveSentRegister = [this] {
      if (state_.sentIni) return state_.sentIni->UpdateFile();
      return sent_.Modified() ? sent_.UpdateFile() : FileStatus::Ok();
    };
    s.playSound = [this](const std::string& name) {
      if (desk_.hooks().playSound) desk_.hooks().playSound(name);
    };
    s.rearmAutoCheck = [this] {
      QTimer& t = desk_.controller().timers().tmrCheckMail;
      if (t.isActive()) t.start();
    };
    s.ended = [this] {
      if (run_->SendErrorCode() == transport::teAuthorisation ||
          run_->ReceiveErrorCode() == transport::teAuthorisation) {
        // The service refused the password: it is asked again next time.
        password_.clear();
        state_.settings.SetPassword("");
        (void)state_.settings.UpdateFile();  // a failure reaches the settings' save-failure handler
      }
      // The desk waited for this end to close: it closes now, with nothing new started.
      if (closeWhenEnded_) {
        QTimer::singleShot(0, &desk_, [this] { desk_.close(); });
        return;
      }
      auto& h = desk_.hooks();
      if (h.folderSelected && h.folderSelected() && h.relistFolder) h.relistFolder();
      OfferNewVersion();
      // Refresh tokens an OAuth2 provider renewed replace the old ones.
      for (const auto& v : run_->LastReceiveReport().visits)
        if (!v.result.renewedSecret.empty()) SaveAccountPassword(v.account, v.result.renewedSecret);
      // The IMAP watches follow changes of the accounts.
      idle_.Update(transport::ReadAccounts(state_.settings));
      if (receiveAgain_) {
        receiveAgain_ = false;
        QTimer::singleShot(0, this, [this] { StartRun(false, true, false); });
      }
      // Mail queued while this run was sending goes with a run of its own.
      if (sendAgain_) {
        sendAgain_ = false;
        QTimer::singleShot(0, this, [this] { StartRun(false, false, true); });
      }
    };
    s.endTimer = &desk_.controller().timers().tmrIP;
    run_ = new desk::TransferRun(std::move(s), this);

    auto& hooks = desk_.hooks();
    hooks.startTransfer = [this](desk::TransferKind kind) {
      // The automatic check and Send Now: not manual.
      StartRun(false, kind != desk::TransferKind::Send, kind != desk::TransferKind::Receive);
    };
    hooks.pollTransfer = [this] { run_->OnEndTimer(); };
    hooks.stopTransferForClose = [this] { return StopForClose(); };
    // The desk is going (also without the close question: the session ends): a run still going
    // is stopped and its workers' last reports are taken in before the registers they stamp
    // are released.
    hooks.stopThreads = [this, previous = hooks.stopThreads] {
      idle_.StopAll();
      run_->Shutdown();
      StopVersionCheck();
      if (previous) previous();
    };
    hooks.commitSentMail = [this] { return CommitSent(); };
    hooks.prepareReceiveChain = [this] { return PrepareReceive(); };
    hooks.transferRunning = [this] { return run_->Sending() || run_->Receiving(); };
    hooks.internetAvailable = [] {
      // Unknown (no backend, or it has not decided) counts as online.
      auto* info = QNetworkInformation::instance();
      if (!info) return true;
      return info->reachability() != QNetworkInformation::Reachability::Disconnected;
    };
    QNetworkInformation::loadDefaultBackend();
    // Filing belongs to the desk's mail part; it waits while a run adds files to the spool.
    if (mail_) {
      mail_->transferRunning = [this] {
        const auto& h = desk_.hooks();
        return run_->Sending() || run_->Receiving() || (h.previewRunning && h.previewRunning());
      };
      connect(mail_, &desk::DeskMail::filingFinished, this,
              [this](qint64 fresh, bool) { run_->FilingFinished(static_cast<int>(fresh)); });
    }

    // New mail announced by an IMAP server starts a receive run at once (after the one going).
    connect(&idle_, &transport::imap::ImapIdleWatch::newMail, this, [this] {
      if (run_->Receiving()) receiveAgain_ = true;
      else StartRun(false, true, false);
    });
    idle_.Update(transport::ReadAccounts(state_.settings));

    BuildIndicators();
    connect(run_, &desk::TransferRun::changed, this, [this] {
      Refresh();
      // Once the run and its filing are over, the running total of new messages shows.
      if (!run_->Sending() && !run_->Receiving() && run_->NewMailTotal() > 0)
        desk_.ShowNewMailIndication(run_->NewMailTotal());
    });
    // The bars read the run's snapshot ten times a second, however fast data comes.
    refresh_.setInterval(100);
    connect(&refresh_, &QTimer::timeout, this, [this] { Refresh(); });
    connect(run_, &desk::TransferRun::started, this, [this] {
      OpenTransferWindow();
      refresh_.start();
    });
    connect(run_, &desk::TransferRun::ended, this, [this] {
      refresh_.stop();
      if (run_->NewMailTotal() <= 0) desk_.HideNewMailIndication();
      Refresh();
      CloseTransferWindow();
    });
    return run_;
  }

private:
  // The desk's outgoing register once the start-up has opened it (the one the compose windows
  // queue into), else the file read at construction.
  TPXCustomIni& Sent() {
    if (state_.sentIni && state_.sentIni->IsOpen()) return *state_.sentIni;
    return sent_;
  }

  // A send asked for while the send side runs waits for the end of the run and goes then.
  void StartRun(bool manual, bool receive, bool send) {
    // A preview run uses the same spool and list of fetched mail: the run waits for its end.
    const auto& h = desk_.hooks();
    if (h.previewRunning && h.previewRunning()) return;
    if (send && run_->Sending()) sendAgain_ = true;
    run_->Start(manual, receive, send);
  }

  std::optional<transport::SendJob> PrepareSend() {
    transport::SnapshotInputs in;
    in.sent = &Sent();
    in.registry = &state_.indexRegistry;
    in.random = &random_;
    in.crypto = &crypto_;
    in.trashFolder = state_.locations.trash;
    in.ownFromAddress = OwnFromAddress(state_.settings);
    if (!transport::HasPendingMail(Sent())) return std::nullopt;
    transport::SmtpRouteSettings smtp = transport::ReadSmtpRouteSettings(state_.settings, state_.locations.tempFolder);
    transport::SendSnapshot snap = transport::TakeSendSnapshot(in);
    for (const auto& w : snap.warnings) state_.messages.QueueMessage(MessageKind::Warning, w);
    if (!snap.saveError.ok()) {
      state_.messages.QueueMessage(MessageKind::Error, snap.saveError.message);
      return std::nullopt;
    }
    if (snap.messages.empty()) return std::nullopt;
    bool needService = false;
    for (const auto& m : snap.messages)
      needService = needService || transport::RouteOf(m, smtp) == transport::SendRoute::Service;
    if (needService && !ServicePassword()) return std::nullopt;
    transport::SendJob job;
    job.messages = std::move(snap.messages);
    job.service.http = transport::ServiceHttpSettings(state_.locations);
    job.service.host = transport::ServiceHost(state_.settings);
    job.service.user = state_.settings.ID();
    job.service.password = password_;
    job.service.ownFromAddress = in.ownFromAddress;
    job.service.tempFolder = state_.locations.tempFolder;
    job.service.noTags = state_.settings.NoTags();
    job.withdrawKey = needService && state_.settings.CheckPGP() && !crypto_.Available();
    job.smtp = std::move(smtp);
    job.smtp.tempFolder = state_.locations.tempFolder;
    return job;
  }

  // The service password: in memory, else saved, else asked. False when the user gave none.
  bool ServicePassword() {
    if (password_.empty()) password_ = UnscramblePassword(state_.settings.Password());
    if (password_.empty()) {
      const auto answer = desk::AskPassword(&desk_, QStringLiteral("Enter password for Plumadex server"));
      if (!answer) return false;
      password_ = answer->password;
      if (answer->save) {
        state_.settings.SetPassword(ScramblePassword(password_, random_));
        (void)state_.settings.UpdateFile();  // a failure reaches the settings' save-failure handler
      }
    }
    return true;
  }

  // The run is going: asks whether to stop it and exit. The close never waits here: on Yes the
  // run stops, and its end (ended) closes the desk.
  bool StopForClose() {
    if (closeWhenEnded_) return false;  // stopping already: the end of the run closes the desk
    const auto answer = QMessageBox::question(
        &desk_, QStringLiteral("Plumadex"),
        QStringLiteral("Mail is being sent or received. Stop the transfer and exit Plumadex?"),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes) return false;
    // The workers check the stop flag between blocks: a stopped run ends within a second or two,
    // and its end closes the desk.
    closeWhenEnded_ = true;
    run_->StopSend();
    run_->StopReceive();
    return false;
  }

  void OpenTransferWindow() {
    if (frmMail_) return;
    frmMail_ = new desk::TfrmMail(&desk_);
    frmMail_->setAttribute(Qt::WA_DeleteOnClose);
    frmMail_->onStop = [this] { run_->StopSend(); };
    frmMail_->onSkip = [this] { run_->Skip(); };
    frmMail_->Refresh(run_->Snapshot());
    frmMail_->showMinimized();
  }

  void CloseTransferWindow() {
    if (!frmMail_) return;
    frmMail_->SetRunActive(false);
    frmMail_->close();
    frmMail_ = nullptr;
  }

  // At the start of a receive run from the service, at most once a day: the published
  // version is fetched on its own thread and read when the run ends.
  struct VersionFetch {
    explicit VersionFetch(const transport::HttpSettings& http) : client(http) {}
    transport::HttpClient client;
    std::mutex mutex;
    bool done = false;
    bool ok = false;
    std::string body;
    std::thread thread;  // joined when the result is read or the desk goes
  };

  void StartVersionCheck() {
    if (state_.settings.ID().empty() || versionFetch_ || !transport::VersionCheckDue(state_.settings, NowDateTime()))
      return;
    versionFetch_ = std::make_unique<VersionFetch>(transport::ServiceHttpSettings(state_.locations));
    VersionFetch* fetch = versionFetch_.get();
    const std::string url = transport::PublishedVersionUrl(transport::ServiceHost(state_.settings));
    fetch->thread = std::thread([fetch, url] {
      const transport::HttpResult r = fetch->client.Get(url, true);
      std::lock_guard<std::mutex> lock(fetch->mutex);
      fetch->ok = r.Ok();
      fetch->body = r.body.substr(0, 256);
      fetch->done = true;
    });
  }

  // The desk is going: a fetch still on its way is aborted and its thread joined.
  void StopVersionCheck() {
    if (!versionFetch_) return;
    versionFetch_->client.Abort();
    if (versionFetch_->thread.joinable()) versionFetch_->thread.join();
    versionFetch_.reset();
  }

  void OfferNewVersion() {
    if (!versionFetch_) return;
    bool ok = false;
    std::string body;
    {
      std::lock_guard<std::mutex> lock(versionFetch_->mutex);
      if (!versionFetch_->done) return;  // still on its way: read at the end of a later run
      ok = versionFetch_->ok;
      body = versionFetch_->body;
    }
    versionFetch_->thread.join();  // done: the thread is past its last step
    versionFetch_.reset();
    const DateTime now = NowDateTime();
    const transport::PublishedVersionResult r = transport::ReadPublishedVersion(ok, body, state_.settings, now);
    (void)state_.settings.UpdateFile();  // a failure reaches the settings' save-failure handler
    if (r.step != transport::PublishedVersionStep::Offer) return;
    QString text = QString::fromStdString(transport::NewVersionQuestion(r.version));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    const bool yes = QMessageBox::question(&desk_, QStringLiteral("Plumadex"), text,
                                           QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    transport::AnswerNewVersion(yes, state_.settings, now);
    (void)state_.settings.UpdateFile();  // a failure reaches the settings' save-failure handler
    if (yes)
      QDesktopServices::openUrl(
          QUrl(QString::fromStdString(transport::DownloadPageUrl(transport::ServiceHost(state_.settings)))));
  }

  std::unique_ptr<transport::ThreadRecvChain> PrepareReceive() {
    transport::ChainSetup cs;
    cs.spool = &spool_;
    cs.leftOnServer = &leftOnServer_;
    // The desk's own list (locked): the chain reads it on its thread. An empty list asks for no
    // sender checks at all.
    incoming::BlockedSenders* b = state_.blockedSenders.get();
    if (b && b->Size() > 0) cs.isBlocked = [b](std::string_view key) { return b->IsBlocked(key); };
    auto chain = std::make_unique<transport::ThreadRecvChain>(cs);
    // The chain's worker asks for a password and waits for the answer (or for Stop); the
    // question is shown here, and nothing on this thread waits for the worker meanwhile.
    QPointer<transport::ThreadRecvChain> asking(chain.get());
    connect(chain.get(), &transport::ThreadRecvChain::passwordWanted, this,
            [this, asking](int, const QString& account, bool again) {
              const QString prompt =
                  again ? QStringLiteral("The server refused the password of %1.\nEnter password for %1").arg(account)
                        : QStringLiteral("Enter password for ") + account;
              const auto a = desk::AskPassword(&desk_, prompt);
              if (a && a->save) SaveAccountPassword(account.toStdString(), a->password);
              // The run may have been stopped or ended while the question was open.
              if (asking) asking->AnswerPassword(a ? std::optional<std::string>(a->password) : std::nullopt);
            });
    StartVersionCheck();
    // The mail service's account first; its password is asked now, on the main thread.
    if (!state_.settings.ID().empty() && ServicePassword()) {
      transport::ServiceAccount account;
      account.user = state_.settings.ID();
      account.password = password_;
      account.host = transport::ServiceHost(state_.settings);
      account.http = transport::ServiceHttpSettings(state_.locations);
      account.keepOnServer = state_.settings.KeepOnServer();
      chain->AddLink(std::make_unique<transport::ServiceReceiveLink>(std::move(account)));
    }
    transport::imap::AddExternalLinks(*chain, transport::ReadAccounts(state_.settings), kPop3TimeoutMs);
    return chain;
  }

  void SaveAccountPassword(const std::string& name, const std::string& password) {
    auto account = transport::ReadAccount(state_.settings, name);
    if (!account) return;
    account->password = password;
    transport::WriteAccount(state_.settings, *account, random_);
    (void)state_.settings.UpdateFile();  // a failure reaches the settings' save-failure handler
  }

  bool CommitSent() {
    const transport::CommitResult c =
        transport::CommitSentMail(Sent(), state_.indexRegistry, NowDateTime(), crypto_.Available());
    if (!c.saveError.ok()) state_.messages.QueueMessage(MessageKind::Error, c.saveError.message);
    return c.changed;
  }

  void BuildIndicators() {
    // The menu bar's and the toolbar's transfer commands.
    auto provide = [&](const char* id, bool receive, bool send) {
      desk_.commands().Provide(id, [this, receive, send] { StartRun(true, receive, send); });
    };
    provide("actSendReceive", true, true);
    provide("actReceive", true, false);
    provide("actSend", false, true);

    QStatusBar* sb = desk_.statusBar();
    auto side = [&](const QString& caption, const char* barName, const char* stopName, desk::TPXProgressBar*& pb,
                    QToolButton*& stop, QLabel*& connecting) {
      auto* box = new QWidget(&desk_);
      auto* lay = new QHBoxLayout(box);
      lay->setContentsMargins(0, 0, 0, 0);
      lay->addWidget(new QLabel(caption, box));
      pb = new desk::TPXProgressBar(box);
      pb->setObjectName(QLatin1String(barName));
      pb->setFixedWidth(160);
      lay->addWidget(pb);
      connecting = new QLabel(QStringLiteral("Connecting..."), box);
      lay->addWidget(connecting);
      stop = new QToolButton(box);
      stop->setObjectName(QLatin1String(stopName));
      stop->setText(QStringLiteral("Stop"));
      lay->addWidget(stop);
      box->hide();
      sb->addPermanentWidget(box);
      return box;
    };
    sendBox_ = side(QStringLiteral("Send"), "pbSend", "btnAbortSending", pbSend_, stopSend_, sendConnecting_);
    receiveBox_ = side(QStringLiteral("Receive"), "pbReceive", "btnAbortReceiving", pbReceive_, stopReceive_,
                       receiveConnecting_);
    stopSend_->setToolTip(QStringLiteral("Abort sending"));
    stopReceive_->setToolTip(QStringLiteral("Abort receiving"));
    connect(stopSend_, &QToolButton::clicked, this, [this] {
      stopSend_->hide();
      run_->StopSend();
    });
    connect(stopReceive_, &QToolButton::clicked, this, [this] {
      stopReceive_->hide();
      run_->StopReceive();
    });
    lblState_ = new QLabel(&desk_);
    lblState_->setObjectName(QStringLiteral("stbState"));
    sb->addPermanentWidget(lblState_);
  }

  void Refresh() {
    const desk::TransferSnapshot s = run_->Snapshot();
    auto show = [](QWidget* box, desk::TPXProgressBar* pb, QLabel* connecting, QToolButton* stop, bool on,
                   bool isConnecting, int64_t pos, int64_t max) {
      if (!on) {
        box->hide();
        stop->show();
        return;
      }
      box->show();
      connecting->setVisible(isConnecting);
      pb->setVisible(!isConnecting);
      pb->SetRange(0, max);
      pb->SetPosition(pos);
    };
    show(sendBox_, pbSend_, sendConnecting_, stopSend_, s.sending, s.sendConnecting, s.sendPosition, s.sendMaximum);
    show(receiveBox_, pbReceive_, receiveConnecting_, stopReceive_, s.receiving, s.receiveConnecting,
         s.receivePosition, s.receiveMaximum);
    lblState_->setText(s.status);
    if (frmMail_) frmMail_->Refresh(s);
  }

  desk::TfrmDesk& desk_;
  desk::DeskState& state_;
  RandomSource random_;
  transport::PgpCrypto crypto_{[this] { return state_.pgp.get(); }};
  TPXIniBase sent_;
  mailformat::MailSpool spool_;
  transport::LeftOnServerList leftOnServer_;
  std::string password_;
  bool sendAgain_ = false;
  bool receiveAgain_ = false;
  transport::imap::ImapIdleWatch idle_;
  desk::DeskMail* mail_ = nullptr;
  desk::TransferRun* run_ = nullptr;
  QTimer refresh_;
  QWidget* sendBox_ = nullptr;
  QWidget* receiveBox_ = nullptr;
  desk::TPXProgressBar* pbSend_ = nullptr;
  desk::TPXProgressBar* pbReceive_ = nullptr;
  QToolButton* stopSend_ = nullptr;
  QToolButton* stopReceive_ = nullptr;
  QLabel* sendConnecting_ = nullptr;
  QLabel* receiveConnecting_ = nullptr;
  QLabel* lblState_ = nullptr;
  QPointer<desk::TfrmMail> frmMail_;
  std::unique_ptr<VersionFetch> versionFetch_;
  bool closeWhenEnded_ = false;  // the close question was answered Yes: the run's end closes the desk
};

}  // namespace

void SetServicePassword(desk::TfrmDesk& desk, const std::string& password) {
  if (auto* host = dynamic_cast<TransferHost*>(desk.findChild<QObject*>(QStringLiteral("pxTransferHost"))))
    host->SetServicePassword(password);
}

std::optional<std::string> ServicePasswordOf(desk::TfrmDesk& desk) {
  auto* host = dynamic_cast<TransferHost*>(desk.findChild<QObject*>(QStringLiteral("pxTransferHost")));
  if (!host || !host->EnsurePassword()) return std::nullopt;
  return host->Password();
}

desk::TransferRun* InstallTransfers(desk::TfrmDesk& desk, desk::DeskState& state) {
  auto* host = new TransferHost(desk, state);
  return host->Make();
}

}  // namespace px::app
