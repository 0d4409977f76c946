#include "app/mail_sort_glue.h"

#include <QApplication>
#include <QMenu>
#include <QTimer>

#include "desk/desk_browser.h"
#include "desk/desk_mail.h"
#include "desk/desk_state.h"
#include "desk/ui/folder_chooser.h"
#include "desk/ui/frm_desk.h"
#include "desk/ui/tree_view.h"
#include "foundation/strings.h"
#include "incoming/blocked_senders.h"
#include "incoming/mail_sort_apply.h"
#include "incoming/ui/frm_mail_preview.h"
#include "incoming/ui/frm_mail_sort.h"
#include "store/doc_operations.h"
#include "store/doc_record.h"
#include "transport/receive_chain.h"

namespace px::app {

namespace {

desk::DeskBrowser* BrowserOf(desk::TfrmDesk& desk) { return desk.findChild<desk::DeskBrowser*>(); }

bool StartsWith(const std::string& s, const std::string& prefix) {
  return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

// ---- the rules --------------------------------------------------------------------------

MailSortHost::MailSortHost(desk::TfrmDesk& desk, desk::DeskState& state) : QObject(&desk), desk_(desk), state_(state) {
  setObjectName(QStringLiteral("pxMailSortHost"));
  auto& c = desk.commands();
  auto filesFolder = [this] {
    desk::DeskBrowser* b = BrowserOf(desk_);
    return b && b->FilesTabShown() && b->FolderSelected();
  };
  c.Provide("actMailSortRules", [this] { OpenRules(); }, [this] { return state_.sortRules != nullptr; });
  c.Provide("actApplyRules", [this] { ApplyRulesNow(); },
            [this, filesFolder] { return state_.sortRules && !state_.sortRules->Rules().empty() && filesFolder(); });
  // With nothing selected it opens the rules window, as a person would expect of it.
  c.Provide("actSortMail", [this] {
    if (!SortSelectedMail()) OpenRules();
  }, [this] { return state_.sortRules != nullptr; });
  c.Provide("actRefileQuarantine", [this] { RefileQuarantine(); });
  QTimer::singleShot(0, this, [this] { Wire(); });
}

void MailSortHost::Wire() {
  auto* view = desk_.findChild<desk::DeskBrowserView*>();
  if (!view) return;
  auto previous = view->extendContextMenu;
  view->extendContextMenu = [this, previous](QMenu& menu, const store::DocRecord* row) {
    if (previous) previous(menu, row);
    if (!row || desk::DeskMail::BlockableSender(*row).empty()) return;
    QAction* a = menu.addAction(QStringLiteral("Sort Mail..."));
    a->setObjectName(QStringLiteral("aSortMail"));
    // After the menu has gone: the folder chooser and the rules window open over the desk.
    connect(a, &QAction::triggered, this, [this] { QTimer::singleShot(0, this, [this] { SortSelectedMail(); }); });
  };
}

void MailSortHost::OpenRules(const std::string& rule) {
  if (!state_.sortRules) return;
  if (rulesWindow) {
    rulesWindow->raise();
    rulesWindow->activateWindow();
    return;
  }
  auto* w = new incoming::TfrmMailSort(*state_.sortRules, state_.indexRegistry, state_.locations.documents,
                                       state_.locations.trash, &desk_);
  w->setAttribute(Qt::WA_DeleteOnClose);
  if (!rule.empty()) w->SelectRule(rule);
  rulesWindow = w;
  w->open();
}

void MailSortHost::ApplyRulesNow() {
  desk::DeskBrowser* b = BrowserOf(desk_);
  if (!b || !state_.sortRules || !b->FilesTabShown() || !b->FolderSelected()) return;
  const std::string folder = b->ShownFolder();
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const incoming::ApplyRulesResult r = incoming::ApplyRulesToFolder(*state_.sortRules, b->Operations().Services(), folder);
  QApplication::restoreOverrideCursor();
  for (const auto& e : r.errors) state_.messages.QueueMessage(MessageKind::Error, e);
  for (const auto& f : r.missingFolders)
    state_.messages.QueueMessage(MessageKind::Warning,
                                 "The folder " + f + " of a sorting rule no longer exists: nothing was placed there.");
  std::string text;
  if (r.copied + r.moved + r.trashed == 0) {
    text = "No message in this folder meets the conditions of a sorting rule.";
  } else {
    text = SubstituteArgs("Messages copied: %1, moved: %2, moved to the Trash Bin: %3.",
                          {std::to_string(r.copied), std::to_string(r.moved), std::to_string(r.trashed)});
  }
  state_.messages.QueueMessage(MessageKind::Information, text);
  b->AfterOperation(false);
}

std::vector<std::string> MailSortHost::SelectedSenders() const {
  std::vector<std::string> out;
  desk::DeskBrowser* b = BrowserOf(desk_);
  if (!b || !b->FilesTabShown()) return out;
  for (const auto& row : b->grid()->model().rows()) {
    if (!row.selected) continue;
    const std::string form = desk::DeskMail::BlockableSender(row);
    if (!form.empty() && std::find(out.begin(), out.end(), form) == out.end()) out.push_back(form);
  }
  return out;
}

bool MailSortHost::SortSelectedMail() {
  desk::DeskBrowser* b = BrowserOf(desk_);
  const std::vector<std::string> senders = SelectedSenders();
  if (!b || senders.empty() || !state_.sortRules) return false;
  const std::string documents = state_.locations.documents;
  std::string folder;
  if (chooseFolder) {
    folder = chooseFolder();
  } else {
    folder = desk::ChooseCarryFolder(&desk_, QStringLiteral("Sort mail into"), b->environment(),
                                     [&](const desk::TreeNode* n) -> std::string {
                                       if (!n || n->path.empty() || n->restricted || !StartsWith(n->path, documents) ||
                                           StartsWith(n->path, state_.locations.trash))
                                         return "Sorry, but you cannot sort mail into this folder.";
                                       return {};
                                     });
  }
  if (folder.empty()) return true;  // cancelled
  if (!StartsWith(folder, documents) || StartsWith(folder, state_.locations.trash)) {
    state_.messages.QueueMessage(MessageKind::Warning, "Sorry, but you cannot sort mail into this folder.");
    state_.messages.ShowQueuedMessages();
    return true;
  }
  // The rules say where the mail will go (through the message window).
  const std::string rule = state_.sortRules->QuickSort(senders, folder);
  state_.messages.ShowQueuedMessages();
  OpenRules(rule);
  return true;
}

void MailSortHost::RefileQuarantine() {
  auto* mail = desk_.findChild<desk::DeskMail*>();
  if (!mail) return;
  const size_t n = mail->RefileQuarantine();
  state_.messages.QueueMessage(
      MessageKind::Information,
      n == 0 ? std::string("There is no quarantined mail that can be filed now.")
             : SubstituteArgs("%1 messages were put back and are being filed again.", {std::to_string(n)}));
  state_.messages.ShowQueuedMessages();
}

// ---- the preview ------------------------------------------------------------------------

MailPreviewHost::MailPreviewHost(desk::TfrmDesk& desk, desk::DeskState& state)
    : QObject(&desk), desk_(desk), state_(state) {
  setObjectName(QStringLiteral("pxMailPreviewHost"));
  auto& hooks = desk.hooks();
  hooks.previewRunning = [this] { return Running(); };
  hooks.showServerPreview = [this] { Preview(); };
  desk.commands().Provide("actPreviewMail", [this] { Preview(); }, [this] {
    const auto& h = desk_.hooks();
    return !Running() && h.prepareReceiveChain && !(h.transferRunning && h.transferRunning());
  });
}

MailPreviewHost::~MailPreviewHost() {
  if (chain_) {
    chain_->disconnect(this);
    delete chain_;
  }
}

void MailPreviewHost::Preview() {
  if (window) {
    window->raise();
    return;
  }
  list_.Clear();
  StartRun(false);
}

bool MailPreviewHost::StartRun(bool action, const std::string& account, bool deleteOnly) {
  const auto& h = desk_.hooks();
  if (chain_ || !h.prepareReceiveChain) return false;
  if (h.transferRunning && h.transferRunning()) {
    state_.messages.QueueMessage(MessageKind::Warning,
                                 "Sorry, but mail is being sent or received. Please try again when it is done.");
    state_.messages.ShowQueuedMessages();
    return false;
  }
  std::unique_ptr<transport::ThreadRecvChain> chain = h.prepareReceiveChain();
  if (!chain || chain->LinkCount() == 0) return false;
  using Mode = transport::PreviewOrder::Mode;
  for (int i = 0; i < chain->LinkCount(); ++i) {
    transport::PreviewOrder order;
    if (!action) {
      order.mode = Mode::Listing;
    } else {
      // The other accounts are not visited: their order has no rows.
      order.mode = deleteOnly ? Mode::Delete : Mode::Receive;
      if (chain->AccountName(i) == account) {
        order.items = list_.Ticked(account);
        chain->SetTicked(i, true);
      }
    }
    if (!chain->SetPreview(i, std::move(order))) chain->SetTicked(i, false);
  }
  chain_ = chain.release();
  chain_->setParent(this);
  spooled_ = 0;
  connect(chain_, &transport::ThreadRecvChain::previewListed, this,
          [this](const transport::TMailPreviewItem& item) { list_.Listed(item); });
  connect(chain_, &transport::ThreadRecvChain::previewHandled, this,
          [this](const QString& acc, const QString& key) { list_.Handled(acc.toStdString(), key.toStdString()); });
  connect(chain_, &transport::ThreadRecvChain::messageSpooled, this, [this] { ++spooled_; });
  connect(chain_, &transport::ThreadRecvChain::finished, this, [this, action] { RunFinished(action); });
  if (!action) QApplication::setOverrideCursor(Qt::BusyCursor);
  chain_->Start();
  return true;
}

void MailPreviewHost::RunFinished(bool action) {
  if (!chain_) return;
  const transport::ChainReport report = chain_->Report();
  chain_->Wait(5000);
  chain_->deleteLater();
  chain_ = nullptr;
  if (!action) QApplication::restoreOverrideCursor();
  if (!report.stopped) {
    if (!report.connectFailures.empty())
      state_.messages.QueueMessage(MessageKind::Error, "Cannot connect to " + report.connectFailures);
    if (!report.receiveFailures.empty())
      state_.messages.QueueMessage(MessageKind::Error,
                                   "An error occurred during communication with " + report.receiveFailures);
    if (!report.wrongPasswords.empty())
      state_.messages.QueueMessage(MessageKind::Error, "The server refused the password of " + report.wrongPasswords);
  }
  // What was received is filed at once, rules and all.
  if (spooled_ > 0)
    if (auto* mail = desk_.findChild<desk::DeskMail*>()) mail->StartFiling();
  if (!action) {
    if (list_.Empty()) {
      if (report.connectFailures.empty() && report.receiveFailures.empty() && report.wrongPasswords.empty())
        state_.messages.QueueMessage(MessageKind::Information, "There are no new messages in your mailbox");
    } else {
      OpenWindow();
    }
  } else if (window) {
    window->RunEnded();
  }
  state_.messages.ShowQueuedMessages();
  emit runEnded();
}

void MailPreviewHost::OpenWindow() {
  if (!state_.blockedSenders) return;
  auto* w = new incoming::TfrmMailPreview(list_, *state_.blockedSenders, &desk_);
  w->setAttribute(Qt::WA_DeleteOnClose);
  w->startAction = [this](const std::string& account, bool deleteOnly) {
    if (!StartRun(true, account, deleteOnly) && window) window->RunEnded();
  };
  window = w;
  w->open();
}

void InstallMailSorting(desk::TfrmDesk& desk, desk::DeskState& state) {
  new MailSortHost(desk, state);
  new MailPreviewHost(desk, state);
}

}  // namespace px::app
