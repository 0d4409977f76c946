#include "app/contacts_glue.h"

#include "compose/ui/message_windows.h"
#include "contacts/address_map.h"
#include "contacts/contact_book.h"
#include "contacts/contact_dialogs.h"
#include "contacts/contact_folder.h"
#include "contacts/groups.h"
#include "contacts/ui/frm_addr.h"
#include "contacts/ui/frm_addrs.h"
#include "contacts/ui/frm_shared_address.h"
#include "desk/desk_state.h"
#include "desk/grid_layout.h"
#include "desk/ui/carry_view.h"
#include "desk/ui/frm_desk.h"
#include "desk/ui/grid_view.h"
#include "desk/ui/tree_view.h"
#include "foundation/strings.h"
#include "foundation/text_case.h"
#include "store/doc_record.h"
#include "store/folder_files.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QObject>
#include <QTimer>

namespace px::app {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// Owns the address map for the life of the desk and opens the contact windows.
class ContactsHost : public QObject {
public:
  ContactsHost(desk::TfrmDesk& desk, desk::DeskState& state) : QObject(&desk), desk_(desk), state_(state) {
    setObjectName(QStringLiteral("contactsHost"));
    state_.addressMap = &map_;
  }
  ~ContactsHost() override {
    if (state_.addressMap == &map_) state_.addressMap = nullptr;
  }

  void Sync() {
    if (state_.locations.contacts.empty()) return;
    contacts::SyncResult r = contacts::SynchroniseContacts(
        state_.locations.contacts, state_.indexRegistry, map_, state_.settings.FirstNameFirst());
    for (const FileStatus& e : r.errors) state_.messages.QueueMessage(MessageKind::Error, e.message);
    indexStamp_ = IndexStamp();
  }

  // The Contacts index as last read into the map: its modification time and size.
  std::pair<qint64, qint64> IndexStamp() const {
    if (state_.locations.contacts.empty()) return {};
    const QFileInfo info(Q(store::IndexPathOf(store::WithSlash(state_.locations.contacts))));
    return info.exists() ? std::make_pair(info.lastModified().toMSecsSinceEpoch(), info.size()) : std::make_pair(qint64(0), qint64(0));
  }

  // Groups made in the tree, contacts imported by another process: the map follows the
  // Contacts index whenever it changed on disk.
  void RebuildWhenChanged() {
    const auto stamp = IndexStamp();
    if (stamp == indexStamp_) return;
    indexStamp_ = stamp;
    store::TPXIniFile index(state_.indexRegistry, store::IndexPathOf(store::WithSlash(state_.locations.contacts)));
    map_.Build(index, state_.settings.FirstNameFirst());
    (void)index.Release();  // only read
  }

  contacts::ContactBook Book() {
    contacts::ContactBook b;
    b.contactsFolder = store::WithSlash(state_.locations.contacts);
    b.registry = &state_.indexRegistry;
    b.map = &map_;
    b.random = &random_;
    b.firstNameFirst = state_.settings.FirstNameFirst();
    // The contact editor offers "always encrypt" only where encryption works.
    if (state_.pgp && state_.pgp->Available()) b.alwaysEncrypt = &alwaysEncrypt_;
    return b;
  }

  desk::DeskBrowser* Browser() const { return desk_.findChild<desk::DeskBrowser*>(); }
  desk::DeskBrowserView* View() const { return desk_.findChild<desk::DeskBrowserView*>(); }

  void Wire() {
    desk::DeskBrowser* b = Browser();
    if (!b) return;
    auto previousOpen = b->openDocument;
    b->openDocument = [this, previousOpen](const store::DocRecord& r) {
      if (OpenContact(r)) return true;
      return previousOpen ? previousOpen(r) : false;
    };
    desk::DeskBrowserView* view = View();
    if (view) {
      auto previousMenu = view->extendContextMenu;
      view->extendContextMenu = [this, previousMenu](QMenu& menu, const store::DocRecord* row) {
        if (previousMenu) previousMenu(menu, row);
        ExtendMenu(menu, row);
      };
    }
    auto previousListed = b->listed;
    b->listed = [this, previousListed] {
      if (previousListed) previousListed();
      RebuildWhenChanged();
    };
    if (desk::GridPanel* grid = view ? view->grid() : nullptr) {
      connect(grid, &desk::GridPanel::composeTo, this, [this](int record) { ComposeTo(record); });
      // The lock mark on encrypted mail and always-encrypt contacts.
      grid->encryptionPresent = [this] { return state_.pgp && state_.pgp->Available(); };
    }
    desk_.hooks().importContactCards = [this](const std::vector<std::string>& paths) {
      ImportCards(paths, state_.locations.contacts);
    };
    desk_.hooks().importContacts = [this] { ImportContactsCommand(); };
    b->importCards = [this](const std::vector<std::string>& cards, const std::string& folder) {
      ImportCards(cards, folder);
    };
    b->sendToGroup = [this](const std::vector<std::string>& files, const std::string& groupFolder) {
      SendToGroup(files, groupFolder);
    };
    if (!b->sendToPerson)
      b->sendToPerson = [this](const std::vector<std::string>& files, const std::string& to) {
        StartMessage(to, files);
      };
  }

  // The contact editor over a card of the Contacts folder; a card received elsewhere is
  // offered to the contacts. False when the row is not a contact card.
  bool OpenContact(const store::DocRecord& r) {
    if (!SameText(r.ext, "vcf") || state_.locations.contacts.empty()) return false;
    const std::string root = store::WithSlash(state_.locations.contacts);
    if (r.IsContactRef() || (r.prefix.empty() && store::WithSlash(r.folder) == root)) {
      EditContact(r.name);
      return true;
    }
    if (r.prefix.empty() && (r.flags & store::dfReceived)) return OfferReceivedCard(r.folder + r.name);
    return false;
  }

  void EditContact(const std::string& name) {
    contacts::ContactBook book = Book();
    contacts::LoadedContact c = contacts::LoadContact(book, name);
    if (!c.ok) {
      state_.messages.QueueMessage(MessageKind::Error, "Cannot read " + book.contactsFolder + name);
      state_.messages.ShowQueuedMessages();
      return;
    }
    ShowEditor(c.rec, name, book.contactsFolder);
  }

  void NewContact(const std::string& shownFolder, contacts::AddrRec rec = {}) {
    ShowEditor(std::move(rec), {}, shownFolder);
  }

  void ShowEditor(contacts::AddrRec rec, const std::string& name, const std::string& shownFolder) {
    contacts::ContactBook book = Book();
    contacts::ui::TfrmAddr dlg(std::move(rec), book.firstNameFirst, book.alwaysEncrypt != nullptr, &desk_);
    dlg.onSave = [book, name, shownFolder](const contacts::AddrRec& edited) {
      contacts::SaveResult s = contacts::SaveContact(book, edited, name, shownFolder);
      return s.saved ? std::string() : (s.refusal.empty() ? s.error : s.refusal);
    };
    if (dlg.exec() == QDialog::Accepted) Relist();
  }

  bool OfferReceivedCard(const std::string& path) {
    std::optional<contacts::AddrRec> rec = contacts::ReadContactFile(path);
    if (!rec || contacts::ContactIsEmpty(*rec)) return false;
    const std::string key = contacts::AddressKey(rec->primaryEmail);
    if (!key.empty() && map_.Find(key)) return false;
    const std::string who = contacts::ContactTitle(*rec).empty() ? rec->primaryEmail : contacts::ContactTitle(*rec);
    const std::string question = SubstituteArgs("Would you like to add %1 to Contacts?", {who});
    if (QMessageBox::question(&desk_, QStringLiteral("Plumadex"), Q(question), QMessageBox::Yes | QMessageBox::No) !=
        QMessageBox::Yes)
      return false;  // the card opens as any document
    rec->encrypt = false;
    contacts::ContactBook book = Book();
    contacts::SaveResult s = contacts::SaveContact(book, *rec, "", book.contactsFolder);
    if (!s.saved) state_.messages.QueueMessage(MessageKind::Warning, s.refusal.empty() ? s.error : s.refusal);
    state_.messages.ShowQueuedMessages();
    return true;
  }

  void ExtendMenu(QMenu& menu, const store::DocRecord* row) {
    desk::DeskBrowser* b = Browser();
    if (!b || state_.locations.contacts.empty()) return;
    if (b->CurrentTab() == desk::GridTab::Contacts) {
      menu.addSeparator();
      const std::string shown = b->ShownFolder();
      QAction* add = menu.addAction(QStringLiteral("New Contact..."));
      connect(add, &QAction::triggered, this, [this, shown] { NewContact(shown); });
      QAction* import = menu.addAction(QStringLiteral("Import Contacts..."));
      connect(import, &QAction::triggered, this, [this] { ImportContactsCommand(); });
      if (row && row->IsContact() && !(row->address.empty() && row->ext != std::string(1, kGroupMarkerExt))) {
        QAction* send = menu.addAction(QStringLiteral("New Message"));
        const std::string to = RecipientOf(*row);
        connect(send, &QAction::triggered, this, [this, to] { StartMessage(to); });
      }
      return;
    }
    if (b->CurrentTab() != desk::GridTab::Files) return;
    std::vector<std::string> texts = SelectedAddressTexts();
    if (texts.empty()) return;
    menu.addSeparator();
    QAction* add = menu.addAction(QStringLiteral("Add to Contacts..."));
    connect(add, &QAction::triggered, this, [this, texts] { ShowAddToContacts(texts, &desk_); });
  }

  // For each selected document with a sender: its Address, To, Cc and Bcc.
  std::vector<std::string> SelectedAddressTexts() const {
    std::vector<std::string> texts;
    desk::DeskBrowser* b = Browser();
    if (!b) return texts;
    for (const store::DocRecord& r : b->grid()->model().rows()) {
      if (!r.selected || r.address.empty() || r.IsContact()) continue;
      texts.push_back(r.address);
      for (std::string_view v : {r.to(), r.cc(), r.bcc()})
        if (!v.empty()) texts.emplace_back(v);
    }
    return texts;
  }

  void ShowAddToContacts(const std::vector<std::string>& texts, QWidget* parent) {
    contacts::ContactBook book = Book();
    contacts::ContactsDialogModel model(texts, map_, state_.settings.ID(), book.firstNameFirst);
    if (model.Rows().empty()) return;
    desk::DeskBrowser* b = Browser();
    const bool contactsTab = b && b->CurrentTab() == desk::GridTab::Contacts;
    contacts::ui::TfrmAddrs2 dlg(std::move(model), book, contactsTab, parent);
    dlg.inform = [this](const std::string& text) {
      state_.messages.QueueMessage(MessageKind::Information, text);
      state_.messages.ShowQueuedMessages();
    };
    dlg.exec();
    if (dlg.ContactsViewStale()) Relist();
  }

  std::string RecipientOf(const store::DocRecord& r) const {
    if (r.ext.size() == 1 && r.ext[0] == kGroupMarkerExt) {
      std::string title = r.title.empty() ? r.name : r.title;
      if (!title.empty() && title.back() == '.') title.pop_back();
      return title + std::string(kGroupSuffix);
    }
    if (r.address.empty()) return {};
    // Contact rows carry "Last, First" (a lone first name as ", First").
    std::string title = Trim(r.title);
    if (!title.empty() && title.front() == ',') title = Trim(title.substr(1));
    const std::string name = contacts::ContactDisplayName(title, state_.settings.FirstNameFirst());
    return FormatAddressElement(name, r.address);
  }

  void ComposeTo(int record) {
    desk::DeskBrowser* b = Browser();
    if (!b || record < 0 || static_cast<size_t>(record) >= b->grid()->model().rows().size()) return;
    const std::string to = RecipientOf(b->grid()->model().rows()[record]);
    if (!to.empty()) StartMessage(to);
  }

  void StartMessage(const std::string& to, const std::vector<std::string>& files = {}) {
    auto* windows = desk_.findChild<compose::ui::MessageWindows*>();
    if (!windows) return;
    compose::ui::TfrmEdit* w = windows->NewMessage(state_.locations.documents, to);
    if (!w || files.empty()) return;
    QStringList attach;
    for (const std::string& f : files) attach << Q(f);
    w->AttachFiles(attach);
  }

  // Documents dropped on a group: a message to its members and those of its subgroups.
  void SendToGroup(const std::vector<std::string>& files, const std::string& groupFolder) {
    if (state_.locations.contacts.empty()) return;
    const std::string to = contacts::GroupRecipientText(state_.locations.contacts, state_.indexRegistry, groupFolder,
                                                        state_.settings.FirstNameFirst());
    if (to.empty()) {
      state_.messages.QueueMessage(MessageKind::Warning,
                                   "Sorry, but this address group has no members with an e-mail address.");
      state_.messages.ShowQueuedMessages();
      return;
    }
    StartMessage(to, files);
  }

  // "Import contacts...": vCard files chosen in a file dialog go into the Contacts folder, or
  // into the group the contacts tab shows; the contacts tab then shows them.
  void ImportContactsCommand() {
    if (state_.locations.contacts.empty()) return;
    desk::DeskBrowser* b = Browser();
    std::string folder = state_.locations.contacts;
    if (b && b->CurrentTab() == desk::GridTab::Contacts && !b->ShownFolder().empty()) folder = b->ShownFolder();
    const QStringList files = QFileDialog::getOpenFileNames(
        &desk_, QStringLiteral("Import Contacts"), lastImportFolder_.isEmpty() ? QDir::homePath() : lastImportFolder_,
        QStringLiteral("vCard files (*.vcf *.vcard *.VCF);;All files (*)"));
    if (files.isEmpty()) return;
    lastImportFolder_ = QFileInfo(files.front()).absolutePath();
    std::vector<std::string> paths;
    for (const QString& f : files) paths.push_back(f.toStdString());
    if (b && b->CurrentTab() != desk::GridTab::Contacts) b->SwitchTab(desk::GridTab::Contacts);
    ImportCards(paths, folder);
  }

  // Cards into the Contacts folder; dropped on (or imported while showing) a group, the
  // contacts also become the group's members. A card whose address a contact has is asked about.
  void ImportCards(const std::vector<std::string>& paths, const std::string& folder) {
    if (state_.locations.contacts.empty()) return;
    const bool firstFirst = state_.settings.FirstNameFirst();
    contacts::SharedAddressQuestioner questioner([this, firstFirst](const contacts::SharedAddressQuestion& q) {
      return contacts::ui::TfrmSharedAddress::Ask(q, firstFirst, &desk_);
    });
    contacts::DropImportResult r = contacts::ImportDroppedCards(Book(), paths, questioner.Resolver());
    const std::string root = store::WithSlash(state_.locations.contacts);
    if (!folder.empty() && store::WithSlash(folder) != root && !r.contacts.empty()) {
      FileStatus err;
      contacts::AddGroupMembers(state_.indexRegistry, store::WithSlash(folder), r.contacts, &err);
      if (!err.ok()) r.errors.push_back(err.message);
    }
    for (const std::string& e : r.errors) state_.messages.QueueMessage(MessageKind::Error, e);
    if (const std::string s = r.Summary(); !s.empty()) state_.messages.QueueMessage(MessageKind::Information, s);
    if (r.imported || r.merged) {
      indexStamp_ = IndexStamp();
      Relist();
    }
    state_.messages.ShowQueuedMessages();
  }

  void Relist() {
    if (desk::DeskBrowser* b = Browser()) b->Relist();
  }

  contacts::AddressMap& Map() { return map_; }

private:
  StringList alwaysEncrypt_;  // kept by the contact book as contacts are saved
  desk::TfrmDesk& desk_;
  desk::DeskState& state_;
  contacts::AddressMap map_;
  RandomSource random_;
  std::pair<qint64, qint64> indexStamp_;
  QString lastImportFolder_;
};

ContactsHost* HostOf(desk::TfrmDesk& desk) {
  return dynamic_cast<ContactsHost*>(desk.findChild<QObject*>(QStringLiteral("contactsHost"), Qt::FindDirectChildrenOnly));
}

}  // namespace

void InstallContacts(desk::TfrmDesk& desk, desk::DeskState& state) {
  auto* host = new ContactsHost(desk, state);
  auto previous = desk.hooks().syncContacts;
  desk.hooks().syncContacts = [host, previous] {
    if (previous) previous();
    host->Sync();
  };
  // The desk has started by the time the glue is installed: build the map now.
  host->Sync();
  // The document opener wires its handlers once the event loop runs: go on top of them.
  QTimer::singleShot(0, host, [host] { host->Wire(); });
}

StringList ContactEntries(desk::TfrmDesk& desk, desk::DeskState& state) {
  if (ContactsHost* host = HostOf(desk)) host->RebuildWhenChanged();
  StringList out;
  if (!state.addressMap) return out;
  const bool firstFirst = state.settings.FirstNameFirst();
  for (const auto& [key, rec] : state.addressMap->Sorted()) {
    if (!rec.isPrimary) continue;
    if (contacts::IsGroupSection(rec.section)) out.push_back(rec.displayName);
    else out.push_back(FormatPersonName(rec.displayName, firstFirst) + " <" + key + ">");
  }
  return out;
}

std::function<bool(std::string_view)> AlwaysEncryptOf(desk::DeskState& state) {
  return [&state](std::string_view address) {
    if (!state.pgp || !state.pgp->Available() || state.locations.contacts.empty()) return false;
    store::TPXIniFile index(state.indexRegistry, store::IndexPathOf(store::WithSlash(state.locations.contacts)));
    const StringList list = contacts::BuildAlwaysEncryptList(index);
    (void)index.Release();  // only read
    const std::string want = contacts::AddressKey(BareAddressOf(address));
    return std::binary_search(list.begin(), list.end(), want);
  };
}

GroupMembersFn GroupMembersOf(desk::DeskState& state) {
  return [&state](std::string_view name) {
    return contacts::GroupMembers(state.locations.contacts, state.indexRegistry, name, state.settings.FirstNameFirst());
  };
}

void AddToContacts(desk::TfrmDesk& desk, const std::vector<std::string>& addressTexts, QWidget* parent) {
  if (ContactsHost* host = HostOf(desk)) host->ShowAddToContacts(addressTexts, parent);
}

}  // namespace px::app
