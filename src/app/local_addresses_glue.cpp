#include "app/local_addresses_glue.h"

#include "app/contacts_glue.h"
#include "compose/ui/message_windows.h"
#include "contacts/address_map.h"
#include "contacts/groups.h"
#include "contacts/local_addr.h"
#include "contacts/vcard.h"
#include "desk/desk_browser.h"
#include "desk/desk_state.h"
#include "desk/ui/carry_view.h"
#include "desk/ui/frm_desk.h"
#include "desk/ui/grid_view.h"
#include "desk/ui/tree_view.h"
#include "foundation/address.h"
#include "foundation/strings.h"
#include "foundation/text_case.h"
#include "store/folder_files.h"
#include "store/index_file.h"

#include <QAction>
#include <QCursor>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>

#include <memory>

namespace px::app {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// Tags of the menu's action items.
enum MenuTag { tagAdd = -2, tagEdit = -3, tagHide = -5, tagShow = -6 };

// The local address list of the desk: the worker fed after every listing of the shown folder,
// the Activity Contacts menu, and the compose windows' quick list.
class LocalAddressHost : public QObject {
public:
  LocalAddressHost(desk::TfrmDesk& desk, desk::DeskState& state, compose::ui::MessageWindows* windows)
      : QObject(&desk), desk_(desk), state_(state), windows_(windows) {
    setObjectName(QStringLiteral("localAddressHost"));
    worker_ = new contacts::TLocalAddrThread(this);
    pmActivityContacts_ = new QMenu(&desk_);
    pmActivityContacts_->setObjectName(QStringLiteral("pmActivityContacts"));
    connect(worker_, &contacts::TLocalAddrThread::Published, this, [this](quint64 generation) {
      // Only the newest run counts; an older one that still got through is not shown.
      if (generation != worker_->Generation()) return;
      if (windows_) windows_->QuickListChanged();
      if (menuWanted_) {
        menuWanted_ = false;
        ShowMenu();
      }
    });
  }

  void Wire() {
    desk::DeskBrowser* b = desk_.findChild<desk::DeskBrowser*>();
    if (!b) return;
    auto previous = b->listed;
    b->listed = [this, previous] {
      if (previous) previous();
      Wake();
    };
    desk::DeskCommand c;
    c.id = "btnActivityContacts";
    c.menus = {"Mail"};
    c.text = "Activity Contacts";
    c.separatorBefore = true;
    c.toolbar = true;
    desk_.commands().Add(std::move(c));
    desk_.commands().Provide(
        "btnActivityContacts", [this] { MenuRequested(); },
        [this] {
          desk::DeskBrowser* br = desk_.findChild<desk::DeskBrowser*>();
          return br && br->CurrentTab() == desk::GridTab::Files && !br->ShownFolder().empty();
        });
  }

  // The shown folder was listed: the worker reads its rows (a copy) and the address map (an
  // immutable snapshot).
  void Wake() {
    desk::DeskBrowser* b = desk_.findChild<desk::DeskBrowser*>();
    if (!b) return;
    contacts::LocalAddrInput in;
    in.folder = b->ShownFolder();
    for (const store::DocRecord& r : b->grid()->model().rows())
      in.rows.push_back({r.address, std::string(r.cc()), std::string(r.bcc()), r.flags});
    if (state_.addressMap) in.map = state_.addressMap->Snapshot();
    in.ownId = state_.settings.ID();
    in.firstNameFirst = state_.settings.FirstNameFirst();
    const std::string contactsFolder = store::WithSlash(state_.locations.contacts);
    const bool firstFirst = in.firstNameFirst;
    // The registry is locked: the worker may read group indexes through it.
    in.groupMembers = [contactsFolder, &registry = state_.indexRegistry, firstFirst](std::string_view section) {
      return contacts::GroupMembers(contactsFolder, registry, section, firstFirst);
    };
    in.contactEmails = [contactsFolder](std::string_view section) {
      StringList out;
      if (auto rec = contacts::ReadContactFile(contactsFolder + std::string(section))) {
        if (!rec->primaryEmail.empty()) out.push_back(rec->primaryEmail);
        for (const std::string& e : rec->OtherEmailList()) out.push_back(e);
      }
      return out;
    };
    hidden_ = ReadHidden(in.folder);
    hiddenFolder_ = in.folder;
    worker_->Wake(std::move(in));
  }

  std::string ReadHidden(const std::string& folder) {
    if (folder.empty()) return {};
    store::TPXIniFile index(state_.indexRegistry, store::IndexPathOf(folder));
    std::string v = index.ReadString(store::kFolderSection, store::kHideContactsKey, "");
    (void)index.Release();
    return v;
  }

  void WriteHidden() {
    if (hiddenFolder_.empty()) return;
    store::TPXIniFile index(state_.indexRegistry, store::IndexPathOf(hiddenFolder_));
    if (hidden_.empty()) index.DeleteKey(store::kFolderSection, store::kHideContactsKey);
    else index.WriteString(store::kFolderSection, store::kHideContactsKey, hidden_);
    const FileStatus s = index.Release();
    if (!s.ok()) {
      state_.messages.QueueMessage(MessageKind::Error, s.message);
      state_.messages.ShowQueuedMessages();
    }
  }

  // The quick list as address entries for the compose window.
  StringList QuickEntries() const {
    StringList out;
    auto r = worker_->Current();
    if (!r || !state_.addressMap) return out;
    const bool firstFirst = state_.settings.FirstNameFirst();
    for (const std::string& key : r->quickList) {
      const contacts::AddrAliasRec* rec = state_.addressMap->Find(key);
      if (!rec) continue;
      if (contacts::IsGroupSection(rec->section)) out.push_back(rec->displayName);
      else out.push_back(FormatPersonName(rec->displayName, firstFirst) + " <" + key + ">");
    }
    return out;
  }

  // The button asks for the menu: shown at once when the newest run is done, else when it is
  // published (never waited for here).
  void MenuRequested() {
    if (worker_->Current()) {
      ShowMenu();
      return;
    }
    menuWanted_ = true;
    if (QLabel* l = desk_.StatusPanel(2)) l->setText(QStringLiteral("Reading the addresses of this folder..."));
    QTimer::singleShot(30000, this, [this] { menuWanted_ = false; });
  }

  QPoint MenuPoint() const {
    // The lower right corner of the toolbar's button, else the pointer.
    for (QToolBar* tb : desk_.findChildren<QToolBar*>())
      for (QAction* a : tb->actions())
        if (a->objectName() == QLatin1String("btnActivityContacts"))
          if (QWidget* w = tb->widgetForAction(a); w && w->isVisible())
            return w->mapToGlobal(QPoint(w->width(), w->height()));
    return QCursor::pos();
  }

  void ShowMenu() {
    if (QLabel* l = desk_.StatusPanel(2)) l->clear();
    Build();
    pmActivityContacts_->popup(MenuPoint());
  }

  // The menu from the newest result and this folder's hidden list.
  void Build() {
    pmActivityContacts_->clear();
    result_ = worker_->Current();
    if (!result_) return;
    const contacts::ActivityMenuModel m = contacts::BuildActivityMenu(*result_, hidden_);
    for (const contacts::LocalPerson* p : m.top) pmActivityContacts_->addMenu(PersonMenu(*p, false));
    pmActivityContacts_->addSeparator();
    QMenu* other = pmActivityContacts_->addMenu(QStringLiteral("Other..."));
    other->setObjectName(QStringLiteral("mnuOther"));
    for (const contacts::LocalPerson* p : m.other) other->addMenu(PersonMenu(*p, true));
    other->menuAction()->setVisible(!m.other.empty());
    if (m.top.empty() && m.other.empty()) {
      QAction* none = pmActivityContacts_->addAction(QStringLiteral("(nobody in this folder)"));
      none->setEnabled(false);
    }
  }

  QMenu* PersonMenu(const contacts::LocalPerson& p, bool hidden) {
    auto* menu = new QMenu(Q(p.name), pmActivityContacts_);
    menu->setObjectName(QStringLiteral("person"));
    if (p.group) menu->setIcon(QIcon::fromTheme(QStringLiteral("system-users")));
    else if (!p.unknown) menu->setIcon(QIcon::fromTheme(QStringLiteral("contact-new")));
    if (p.group) {
      AddressItem(*menu, Q(p.name), p.entry);
      menu->addSeparator();
    }
    for (const auto& a : p.addresses) AddressItem(*menu, Q(a.shown), a.entry);
    // The actions come when the submenu first opens with no document selected.
    const contacts::LocalPerson person = p;
    connect(menu, &QMenu::aboutToShow, this, [this, menu, person, hidden] {
      if (person.group || menu->property("actions").toBool() || SelectedFiles().size()) return;
      menu->setProperty("actions", true);
      menu->addSeparator();
      if (person.unknown)
        menu->addAction(QStringLiteral("Add to Contacts"), this, [this, person] {
          AddToContacts(desk_, {person.entry}, &desk_);
          Wake();
        });
      else
        menu->addAction(QStringLiteral("Edit Contact Information"), this, [this, person] { EditContact(person); });
      menu->addSeparator();
      menu->addAction(hidden ? QStringLiteral("Show") : QStringLiteral("Hide"), this, [this, person, hidden] {
        if (hidden ? contacts::ShowPerson(person, hidden_) : contacts::HidePerson(person, hidden_)) WriteHidden();
      });
    });
    return menu;
  }

  void AddressItem(QMenu& menu, const QString& text, const std::string& entry) {
    QAction* a = menu.addAction(text, this, [this, entry] { Choose(entry); });
    a->setIcon(QIcon::fromTheme(QStringLiteral("mail-message-new")));
  }

  std::vector<std::string> SelectedFiles() const {
    std::vector<std::string> out;
    auto* view = desk_.findChild<desk::DeskBrowserView*>();
    desk::DeskCarry* carry = view ? view->carry() : nullptr;
    if (!carry) return out;
    desk::DeskBrowser* b = desk_.findChild<desk::DeskBrowser*>();
    bool any = false;
    if (b)
      for (const auto& r : b->grid()->model().rows()) any = any || r.selected;
    if (!any) return out;
    std::unique_ptr<QMimeData> mime(carry->MimeOfSelection());
    for (const QUrl& u : mime->urls())
      if (u.isLocalFile()) out.push_back(u.toLocalFile().toStdString());
    return out;
  }

  // An address chosen: a new message to it, with the selected documents attached.
  void Choose(const std::string& entry) {
    const std::vector<std::string> files = SelectedFiles();
    auto* view = desk_.findChild<desk::DeskBrowserView*>();
    desk::DeskCarry* carry = view ? view->carry() : nullptr;
    desk::DeskBrowser* b = desk_.findChild<desk::DeskBrowser*>();
    if (!files.empty() && carry && b && b->sendToPerson) {
      b->sendToPerson(files, entry);
      carry->PutDown();
      return;
    }
    if (windows_) windows_->NewMessage(b && !b->ShownRestricted() ? b->ShownFolder() : state_.locations.documents, entry);
  }

  void EditContact(const contacts::LocalPerson& p) {
    const contacts::AddrAliasRec* rec =
        state_.addressMap && !p.addresses.empty() ? state_.addressMap->FindAddress(p.addresses.front().bare) : nullptr;
    desk::DeskBrowser* b = desk_.findChild<desk::DeskBrowser*>();
    if (!rec || !b || !b->openDocument) return;
    store::DocRecord r;
    r.folder = store::WithSlash(state_.locations.contacts);
    r.name = rec->section;
    r.ext = "vcf";
    b->openDocument(r);
    Wake();
  }

  contacts::TLocalAddrThread* Worker() const { return worker_; }

private:
  desk::TfrmDesk& desk_;
  desk::DeskState& state_;
  compose::ui::MessageWindows* windows_;
  contacts::TLocalAddrThread* worker_ = nullptr;
  QMenu* pmActivityContacts_ = nullptr;
  std::shared_ptr<const contacts::LocalAddrResult> result_;
  std::string hidden_;
  std::string hiddenFolder_;
  bool menuWanted_ = false;
};

}  // namespace

void InstallLocalAddresses(desk::TfrmDesk& desk, desk::DeskState& state, compose::ui::MessageWindows* windows) {
  auto* host = new LocalAddressHost(desk, state, windows);
  if (windows) windows->SetQuickListSource([host] { return host->QuickEntries(); });
  // After the other parts have set their listing handlers.
  QTimer::singleShot(0, host, [host] {
    host->Wire();
    host->Wake();
  });
}

}  // namespace px::app
