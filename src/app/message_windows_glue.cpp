#include "app/message_windows_glue.h"

#include "app/contacts_glue.h"
#include "desk/ui/carry_view.h"

#include "compose/ui/message_windows.h"
#include "desk/desk_state.h"
#include "desk/ui/frm_desk.h"
#include "desk/ui/tree_view.h"
#include "foundation/strings.h"
#include "foundation/dates.h"
#include "foundation/message_queue.h"
#include "foundation/password.h"
#include "foundation/random.h"
#include "foundation/settings.h"
#include "store/doc_record.h"
#include "transport/crypto_seam.h"
#include "transport/outgoing.h"
#include "transport/send_thread.h"
#include "transport/sent_notice.h"
#include "transport/sent_stamp.h"
#include "transport/service_protocol.h"

#include <QStatusBar>

#include <deque>
#include <memory>

namespace px::app {

namespace {

// Send Now: a send-only run over the messages just queued, one run at a time; a message
// queued while a run is active waits for the next one.
class SendNowRunner : public QObject {
public:
  SendNowRunner(px::desk::DeskState& state, std::function<void()> relist, QObject* parent)
      : QObject(parent), state_(state), relist_(std::move(relist)) {}
  // Told "Sent to ..." for each message that left.
  std::function<void(const std::string&)> sentNotice;

  void Send(const std::string& base) {
    waiting_.push_back(base);
    if (!run_ || !run_->Running()) startNext();
  }

private:
  void startNext() {
    if (waiting_.empty() || !state_.sentIni) return;
    transport::SnapshotInputs in;
    in.sent = state_.sentIni.get();
    in.registry = &state_.indexRegistry;
    in.random = &random_;
    in.crypto = &crypto_;
    in.trashFolder = state_.locations.trash;
    in.ownFromAddress = OwnFromAddress(state_.settings);
    in.onlyBases.insert(waiting_.begin(), waiting_.end());
    waiting_.clear();
    transport::SendSnapshot snap = transport::TakeSendSnapshot(in);
    for (const auto& w : snap.warnings) state_.messages.QueueMessage(MessageKind::Warning, w);
    if (!snap.saveError.empty()) state_.messages.QueueMessage(MessageKind::Error, snap.saveError);
    std::string password = UnscramblePassword(state_.settings.Password());
    if (snap.messages.empty() || state_.settings.ID().empty() || password.empty()) {
      // Without a service account the message stays pending for the next transfer.
      state_.messages.ShowQueuedMessages();
      return;
    }
    transport::SendJob job;
    job.messages = snap.messages;
    sending_ = snap.messages;
    job.service.http = transport::ServiceHttpSettings(state_.locations);
    job.service.host = transport::ServiceHost(state_.settings);
    job.service.user = state_.settings.ID();
    job.service.password = password;
    job.service.ownFromAddress = in.ownFromAddress;
    job.service.tempFolder = state_.locations.tempFolder;
    job.service.noTags = state_.settings.NoTags();
    std::fill(password.begin(), password.end(), '\0');
    transport::SendContext ctx;
    ctx.sent = state_.sentIni.get();
    ctx.registry = &state_.indexRegistry;
    ctx.random = &random_;
    ctx.crypto = &crypto_;
    ctx.messages = &state_.messages;
    ctx.dataRoot = state_.locations.dataRoot;
    run_ = std::make_unique<transport::SendRun>(ctx, this);
    connect(run_.get(), &transport::SendRun::finished, this, [this](int code) {
      const std::string notice = transport::TransferErrorNotice(code);
      if (!notice.empty() && !run_->Stopped()) state_.messages.QueueMessage(MessageKind::Error, notice);
      const auto reports = run_->Reports();
      for (size_t i = 0; i < reports.size() && i < sending_.size(); ++i)
        if (reports[i].state == transport::MessageReport::Sent && sentNotice)
          sentNotice(transport::SentNoticeText(sending_[i]));
      const transport::CommitResult commit =
          transport::CommitSentMail(*state_.sentIni, state_.indexRegistry, NowDateTime(), crypto_.Available());
      if (!commit.saveError.empty()) state_.messages.QueueMessage(MessageKind::Error, commit.saveError);
      if (relist_) relist_();
      state_.messages.ShowQueuedMessages();
      QMetaObject::invokeMethod(this, [this] { startNext(); }, Qt::QueuedConnection);
    });
    run_->Start(std::move(job));
  }

  px::desk::DeskState& state_;
  std::function<void()> relist_;
  RandomSource random_;
  transport::NoCrypto crypto_;
  std::unique_ptr<transport::SendRun> run_;
  std::deque<std::string> waiting_;
  std::vector<transport::OutgoingMessage> sending_;
};

}  // namespace

px::compose::ui::MessageWindows* InstallMessageWindows(px::desk::TfrmDesk& desk, px::desk::DeskState& state) {
  using namespace px::compose::ui;
  MessageWindowsConfig cfg;
  cfg.settings = &state.settings;
  cfg.messages = &state.messages;
  cfg.tempFolder = state.locations.tempFolder;
  cfg.dataRoot = state.locations.dataRoot;
  cfg.documentsFolder = state.locations.documents;
  auto* browser = desk.findChild<px::desk::DeskBrowser*>();
  // The lists and sent.ini are made during the desk's initialisation: read them when filing.
  store::OpServices& ops = cfg.opServices;
  ops.registry = &state.indexRegistry;
  ops.messages = &state.messages;
  ops.documentsFolder = state.locations.documents;
  ops.trashFolder = state.locations.trash;
  ops.contactsFolder = state.locations.contacts;
  cfg.online = [&desk] { return !desk.hooks().internetAvailable || desk.hooks().internetAvailable(); };
  auto* sender = new SendNowRunner(state, [browser] {
    if (browser) browser->Relist();
  }, &desk);
  sender->sentNotice = [&desk](const std::string& text) {
    desk.statusBar()->showMessage(QString::fromStdString(text), 15000);
  };
  cfg.sendNow = [sender](const std::string& base) { sender->Send(base); };
  cfg.filed = [browser] {
    if (browser) browser->Relist();
  };
  // The lists and sent.ini exist only once the desk has initialised.
  cfg.refreshServices = [&state](store::OpServices& s) {
    s.unread = state.unreadList.get();
    s.newMail = state.newMailList.get();
    s.sent = state.sentIni.get();
    s.ownFromAddress = state.ownFromAddress;
  };
  cfg.contactEntries = [&desk, &state] { return ContactEntries(desk, state); };
  cfg.groupMembers = GroupMembersOf(state);
  cfg.addToContacts = [&desk](const std::string& addresses, QWidget* parent) {
    AddToContacts(desk, {addresses}, parent);
  };
  auto* windows = new MessageWindows(std::move(cfg), &desk);
  desk.hooks().openMailto = [windows, &state](const std::string& url) {
    windows->NewMessage(state.locations.documents, url);
  };
  if (browser) {
    browser->openDocument = [windows](const store::DocRecord& r) {
      if (!IsMessageExt(r.ext) || r.IsContact()) return false;
      if (r.IsLink()) {
        const std::string path = r.FilePath();
        const size_t slash = path.rfind('/');
        return windows->OpenDocument(path.substr(0, slash + 1), path.substr(slash + 1)) != nullptr;
      }
      return windows->OpenDocument(r.folder, r.name, r.prefix) != nullptr;
    };
    // Documents carried onto a person: a new message to that person with them attached.
    auto* view = desk.findChild<px::desk::DeskBrowserView*>();
    if (px::desk::DeskCarry* carry = view ? view->carry() : nullptr) {
      carry->sendToPerson = [windows, browser](const std::vector<std::string>& files, const std::string& to) {
        const std::string folder = browser->ShownFolder();
        TfrmEdit* w = windows->NewMessage(folder, to);
        if (!w) return;
        QStringList list;
        for (const auto& f : files) list << QString::fromStdString(f);
        w->AttachFiles(list);
      };
    }
  }
  return windows;
}

}  // namespace px::app
