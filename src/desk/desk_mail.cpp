#include "desk/desk_mail.h"

#include <QTimer>

#include "foundation/strings.h"
#include "incoming/mail_filer.h"
#include "incoming/pgp_decryptor.h"
#include "store/doc_record.h"
#include "store/newmail_list.h"
#include "store/unread_list.h"

namespace px::desk {

DeskMail::DeskMail(DeskState& state, QObject* parent) : QObject(parent), state_(state) {
  if (!state_.blockedSenders) state_.blockedSenders = std::make_unique<incoming::BlockedSenders>();
  if (!state_.sortRules) state_.sortRules = std::make_unique<incoming::MailSortRules>();
}

void DeskMail::LoadLists() {
  if (state_.locations.dataRoot.empty()) return;
  blocked().Load(BlockedListPath());
  state_.sortRules->SetMessages(&state_.messages);
  state_.sortRules->SetDocumentsFolder(state_.locations.documents);
  state_.sortRules->SetTrashFolder(state_.locations.trash);
  (void)state_.sortRules->Load(state_.locations.dataRoot + std::string(incoming::kMailSortFile));
}

DeskMail::~DeskMail() = default;

std::string DeskMail::BlockedListPath() const {
  return state_.locations.dataRoot + std::string(incoming::kBlockedSendersFile);
}

std::string DeskMail::BlockableSender(const store::DocRecord& row) {
  if ((row.flags & store::dfReceived) == 0 || row.IsContact()) return {};
  return incoming::BlockedForm(row.address);
}

std::string DeskMail::BlockQuestion(const std::string& storedForm) {
  return incoming::BlockNotice(storedForm);
}

void DeskMail::Block(const std::string& storedForm) { blocked().Block(storedForm); }

void DeskMail::Unblock(const std::string& storedForm) { blocked().Unblock({storedForm}); }

bool DeskMail::StartFiling() {
  if (filer_ || (transferRunning && transferRunning())) return false;
  incoming::FilingServices s;
  s.registry = &state_.indexRegistry;
  s.random = &random_;
  s.unread = state_.unreadList.get();
  s.newMail = state_.newMailList.get();
  s.sent = state_.sentIni.get();
  s.messages = &state_.messages;
  s.spoolFolder = state_.locations.inbox;
  s.documentsFolder = state_.locations.documents;
  s.quarantineFolder = incoming::QuarantineFolderOf(state_.locations.dataRoot);
  s.trashFolder = state_.locations.trash;
  s.rules = state_.sortRules.get();
  if (state_.pgp) {
    if (!decryptor_) decryptor_ = std::make_unique<incoming::PgpDecryptor>(*state_.pgp);
    s.decryptor = decryptor_.get();
  }
  s.shownFolder = [this] { return shownFolder ? shownFolder() : std::string(); };
  s.deliveryRecorded = [this](const std::string& f, const std::string& sec) {
    if (deliveryRecorded) deliveryRecorded(f, sec);
  };
  if (s.spoolFolder.empty() || s.documentsFolder.empty()) return false;
  filer_ = std::make_unique<incoming::MailFiler>(std::move(s));
  if (!filer_->Begin()) {
    filer_->QueueReports();
    filer_.reset();
    return false;
  }
  QTimer::singleShot(0, this, [this] { step(); });
  return true;
}

size_t DeskMail::RefileQuarantine() {
  if (filer_ || (transferRunning && transferRunning())) return 0;
  std::vector<std::string> errors;
  const size_t n = incoming::RefileQuarantine(incoming::QuarantineFolderOf(state_.locations.dataRoot),
                                              state_.locations.inbox, &errors);
  for (const auto& e : errors) state_.messages.QueueMessage(MessageKind::Error, e);
  if (n > 0) StartFiling();
  return n;
}

void DeskMail::step() {
  if (!filer_) return;
  const bool more = filer_->Step(sliceMs_);
  const incoming::FilingProgress p = filer_->Progress();
  if (more) {
    emit filingProgress(p.phase, static_cast<qint64>(p.done), static_cast<qint64>(p.total));
    QTimer::singleShot(0, this, [this] { step(); });
    return;
  }
  filer_->QueueReports();
  const incoming::FilingReport& r = filer_->Report();
  const qint64 fresh = static_cast<qint64>(r.newMessages);
  const bool changed = r.documents > 0 || r.receipts > 0;
  filer_.reset();
  emit filingFinished(fresh, changed);
}

}  // namespace px::desk
