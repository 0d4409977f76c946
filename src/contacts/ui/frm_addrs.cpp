#include "contacts/ui/frm_addrs.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QApplication>
#include <QPainter>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "contacts/ui/frm_addr.h"
#include "foundation/address.h"
#include "foundation/strings.h"

namespace px::contacts::ui {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

constexpr int kFolderRole = Qt::UserRole + 1;
constexpr int kActionColumn = 2;

QPushButton* Button(QWidget* owner, const char* name, const QString& caption) {
  auto* b = new QPushButton(caption, owner);
  b->setObjectName(QLatin1String(name));
  b->setAutoDefault(false);
  return b;
}

// The Action column: its text drawn as a small framed button, centred.
class ActionButtonDelegate : public QStyledItemDelegate {
public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QStyleOptionButton button;
    const QSize text = option.fontMetrics.size(Qt::TextSingleLine, index.data().toString());
    const int w = std::min(option.rect.width() - 4, text.width() + 10);
    const int h = std::min(option.rect.height() - 2, text.height() + 2);
    button.rect = QRect(option.rect.center().x() - w / 2, option.rect.center().y() - h / 2, w, h);
    button.text = index.data().toString();
    button.state = QStyle::State_Enabled | QStyle::State_Raised;
    button.fontMetrics = option.fontMetrics;
    QStyle* style = option.widget ? option.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_PushButton, &button, painter, option.widget);
  }
};

}  // namespace

// ---- Add Contact ----

TfrmAddrs3::TfrmAddrs3(const std::string& addressText, std::vector<std::string> entries, QWidget* parent)
    : QDialog(parent), addressText_(addressText), entries_(std::move(entries)) {
  setObjectName(QStringLiteral("TfrmAddrs3"));
  setWindowTitle(QStringLiteral("Add Contact"));
  warn = [this](const std::string& t) { QMessageBox::warning(this, QStringLiteral("Plumadex"), Q(t)); };
  auto* top = new QVBoxLayout(this);
  lblAddress = new QLabel(Q(addressText), this);
  lblAddress->setObjectName(QStringLiteral("lblAddress"));
  lblAddress->setTextFormat(Qt::PlainText);
  lblAddress->setAlignment(Qt::AlignCenter);
  QFont bold = lblAddress->font();
  bold.setBold(true);
  lblAddress->setFont(bold);
  top->addWidget(lblAddress);

  btnCreateNew = Button(this, "btnCreateNew", QStringLiteral("Create new Contact record"));
  btnAddToExisting = Button(this, "btnAddToExisting", QStringLiteral("Add new address to existing Contact record"));
  btnCancel = Button(this, "btnCancel", QStringLiteral("Cancel"));
  top->addWidget(btnCreateNew);
  top->addWidget(btnAddToExisting);
  top->addWidget(btnCancel);

  lblWillBeAdded = new QLabel(QStringLiteral("will be added to"), this);
  lblWillBeAdded->setAlignment(Qt::AlignCenter);
  lstContact = new QListWidget(this);
  lstContact->setObjectName(QStringLiteral("lstContact"));
  btnAdd = Button(this, "btnAdd", QStringLiteral("Add"));
  btnCancel2 = Button(this, "btnCancel2", QStringLiteral("Cancel"));
  auto* row = new QHBoxLayout;
  row->addStretch(1);
  row->addWidget(btnAdd);
  row->addWidget(btnCancel2);
  top->addWidget(lblWillBeAdded);
  top->addWidget(lstContact, 1);
  top->addLayout(row);
  for (QWidget* w : {static_cast<QWidget*>(lblWillBeAdded), static_cast<QWidget*>(lstContact),
                     static_cast<QWidget*>(btnAdd), static_cast<QWidget*>(btnCancel2)})
    w->hide();

  connect(btnCreateNew, &QPushButton::clicked, this, [this] {
    outcome_ = AddContactOutcome::CreateNew;
    accept();
  });
  connect(btnAddToExisting, &QPushButton::clicked, this, [this] { ShowSecondPage(); });
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(btnCancel2, &QPushButton::clicked, this, &QDialog::reject);
  connect(lstContact, &QListWidget::currentRowChanged, this, [this](int r) { btnAdd->setEnabled(r >= 0); });
  connect(lstContact, &QListWidget::itemDoubleClicked, this, [this] { btnAdd->click(); });
  connect(btnAdd, &QPushButton::clicked, this, [this] {
    const int r = lstContact->currentRow();
    if (r < 0) return;
    const std::string error = onAdd ? onAdd(entries_[r]) : std::string();
    if (!error.empty()) {
      if (warn) warn(error);
      return;
    }
    outcome_ = AddContactOutcome::AddedToExisting;
    accept();
  });
  resize(420, 160);
}

void TfrmAddrs3::ShowSecondPage() {
  for (QWidget* w : {btnCreateNew, btnAddToExisting, btnCancel}) w->hide();
  lblWillBeAdded->show();
  lstContact->show();
  btnAdd->show();
  btnCancel2->show();
  btnAdd->setDefault(true);
  lstContact->clear();
  for (const std::string& e : entries_) lstContact->addItem(Q(e));
  const int pre = PreselectedEntry(entries_, addressText_);
  lstContact->setCurrentRow(pre);
  btnAdd->setEnabled(pre >= 0);
  lstContact->setFocus();
  resize(width(), 420);
}

// ---- Contacts ----

TfrmAddrs2::TfrmAddrs2(ContactsDialogModel model, ContactBook book, bool contactsTabShown, QWidget* parent)
    : QDialog(parent), model_(std::move(model)), book_(std::move(book)), contactsTab_(contactsTabShown) {
  setObjectName(QStringLiteral("TfrmAddrs2"));
  setWindowTitle(QStringLiteral("Contacts"));
  inform = [this](const std::string& t) { QMessageBox::information(this, QStringLiteral("Plumadex"), Q(t)); };
  warn = [this](const std::string& t) { QMessageBox::warning(this, QStringLiteral("Plumadex"), Q(t)); };
  askGroupName = [this] {
    bool ok = false;
    const QString name = QInputDialog::getText(this, QStringLiteral("New Address Group"),
                                               QStringLiteral("Enter name for new address group"),
                                               QLineEdit::Normal, QString(), &ok);
    return ok ? S(name) : std::string();
  };
  askAddContact = [this](const std::string& text) {
    TfrmAddrs3 dlg(text, ExistingContactEntries(*book_.map, book_.firstNameFirst), this);
    dlg.onAdd = [this, text](const std::string& entry) {
      SaveResult r = AddToExistingContact(book_, entry, text);
      return r.saved ? std::string() : (r.refusal.empty() ? r.error : r.refusal);
    };
    dlg.exec();
    return dlg.Outcome();
  };
  editContact = [this](AddrRec rec, const std::function<std::string(const AddrRec&)>& onSave) {
    TfrmAddr dlg(std::move(rec), book_.firstNameFirst, book_.alwaysEncrypt != nullptr, this);
    dlg.onSave = onSave;
    return dlg.exec() == QDialog::Accepted;
  };

  auto* top = new QHBoxLayout(this);
  auto* left = new QVBoxLayout;
  top->addLayout(left, 3);
  lstAddrs = new QTreeWidget(this);
  lstAddrs->setObjectName(QStringLiteral("lstAddrs"));
  lstAddrs->setColumnCount(3);
  lstAddrs->setHeaderHidden(true);
  lstAddrs->setRootIsDecorated(false);
  lstAddrs->header()->setStretchLastSection(false);
  lstAddrs->header()->setSectionResizeMode(0, QHeaderView::Fixed);
  lstAddrs->header()->setSectionResizeMode(1, QHeaderView::Stretch);
  lstAddrs->header()->setSectionResizeMode(kActionColumn, QHeaderView::Fixed);
  lstAddrs->setColumnWidth(0, 24);
  lstAddrs->setColumnWidth(kActionColumn, 45);
  lstAddrs->setItemDelegateForColumn(kActionColumn, new ActionButtonDelegate(lstAddrs));
  left->addWidget(lstAddrs, 1);
  auto* ticks = new QHBoxLayout;
  btnSelectAll = Button(this, "btnSelectAll", QStringLiteral("Select All"));
  btnUnselectAll = Button(this, "btnUnselectAll", QStringLiteral("Unselect All"));
  ticks->addWidget(btnSelectAll);
  ticks->addWidget(btnUnselectAll);
  ticks->addStretch(1);
  left->addLayout(ticks);

  auto* middle = new QVBoxLayout;
  top->addLayout(middle);
  middle->addStretch(1);
  btnAddTo = Button(this, "btnAddTo", QStringLiteral("Add ->"));
  middle->addWidget(btnAddTo);
  middle->addStretch(1);

  auto* right = new QVBoxLayout;
  top->addLayout(right, 2);
  tvContacts = new QTreeWidget(this);
  tvContacts->setObjectName(QStringLiteral("tvContacts"));
  tvContacts->setHeaderHidden(true);
  right->addWidget(tvContacts, 1);
  btnCreateGroup = Button(this, "btnCreateGroup", QStringLiteral("Create New Group"));
  btnClose = Button(this, "btnClose", QStringLiteral("Close"));
  right->addWidget(btnCreateGroup);
  right->addWidget(btnClose);

  FillRows();
  FillGroups({});

  connect(lstAddrs, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
    if (filling_ || column != 0) return;
    model_.SetTicked(lstAddrs->indexOfTopLevelItem(item), item->checkState(0) == Qt::Checked);
    btnAddTo->setEnabled(model_.AddEnabled());
  });
  connect(lstAddrs, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item, int column) {
    if (column == kActionColumn) actionClick(lstAddrs->indexOfTopLevelItem(item));
  });
  connect(btnSelectAll, &QPushButton::clicked, this, [this] {
    model_.TickAll(true);
    FillRows();
  });
  connect(btnUnselectAll, &QPushButton::clicked, this, [this] {
    model_.TickAll(false);
    FillRows();
  });
  connect(btnAddTo, &QPushButton::clicked, this, [this] { btnAddToClick(); });
  connect(btnCreateGroup, &QPushButton::clicked, this, [this] { btnCreateGroupClick(); });
  connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);
  resize(640, 420);
}

void TfrmAddrs2::FillRows() {
  filling_ = true;
  lstAddrs->clear();
  for (const ContactsDialogRow& r : model_.Rows()) {
    auto* item = new QTreeWidgetItem(lstAddrs);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(0, r.ticked ? Qt::Checked : Qt::Unchecked);
    item->setText(1, Q(r.text));
    item->setText(kActionColumn, r.known ? QStringLiteral("Edit") : QStringLiteral("Add"));
    item->setTextAlignment(kActionColumn, Qt::AlignCenter);
    item->setToolTip(kActionColumn, r.known ? QStringLiteral("Edit the contact") : QStringLiteral("Add as a contact"));
  }
  btnAddTo->setEnabled(model_.AddEnabled());
  filling_ = false;
}

void TfrmAddrs2::FillGroups(const std::string& select) {
  tvContacts->clear();
  auto* root = new QTreeWidgetItem(tvContacts, QStringList(QStringLiteral("My Contacts")));
  root->setData(0, kFolderRole, Q(book_.contactsFolder));
  QTreeWidgetItem* chosen = root;
  for (const GroupInfo& g : ListGroups(book_.contactsFolder, *book_.registry)) {
    auto* item = new QTreeWidgetItem(root, QStringList(Q(g.caption)));
    item->setData(0, kFolderRole, Q(g.folder));
    if (!select.empty() && g.folder == select) chosen = item;
  }
  root->setExpanded(true);
  tvContacts->setCurrentItem(chosen);
}

std::string TfrmAddrs2::targetFolder() const {
  QTreeWidgetItem* item = tvContacts->currentItem();
  return item ? S(item->data(0, kFolderRole).toString()) : book_.contactsFolder;
}

std::string TfrmAddrs2::targetCaption() const {
  QTreeWidgetItem* item = tvContacts->currentItem();
  return item ? S(item->text(0)) : std::string("My Contacts");
}

void TfrmAddrs2::changed() {
  model_.SetContactsChanged();
  if (contactsTab_) stale_ = true;
}

void TfrmAddrs2::btnAddToClick() {
  if (!model_.AddEnabled()) return;
  std::vector<std::string> errors;
  const std::string message = model_.AddTicked(book_, targetFolder(), targetCaption(), &errors);
  if (!message.empty()) {
    changed();
    FillRows();
    if (inform) inform(message);
  }
  for (const std::string& e : errors)
    if (warn) warn(e);
}

void TfrmAddrs2::btnCreateGroupClick() {
  const std::string name = askGroupName ? askGroupName() : std::string();
  if (Trim(name).empty()) return;
  std::string error;
  GroupInfo g = CreateGroup(book_.contactsFolder, *book_.registry, name, &error);
  if (g.folder.empty()) {
    if (!error.empty() && warn) warn(error);
    return;
  }
  // The new group's entry is known in address fields at once.
  store::TPXIniFile index(*book_.registry, store::IndexPathOf(book_.contactsFolder));
  book_.map->Build(index, book_.firstNameFirst);
  (void)index.Release();  // only read
  changed();
  FillGroups(g.folder);
  tvContacts->setFocus();
}

void TfrmAddrs2::actionClick(int row) {
  if (row < 0 || row >= static_cast<int>(model_.Rows().size())) return;
  const ContactsDialogRow r = model_.Rows()[row];
  const std::string address = ContactsDialogModel::RowAddress(r);
  if (!r.known) {
    const AddContactOutcome outcome = askAddContact ? askAddContact(r.text) : AddContactOutcome::Nothing;
    if (outcome == AddContactOutcome::Nothing) return;
    if (outcome == AddContactOutcome::AddedToExisting) {
      const AddrAliasRec* hit = book_.map->Find(AddressKey(address));
      model_.MarkKnown(row, hit ? hit->displayName : std::string());
      changed();
      FillRows();
      return;
    }
  }
  // The contact editor: the known contact, or a new one for the address.
  const AddrAliasRec* hit = book_.map->Find(AddressKey(address));
  std::string existing;
  AddrRec rec;
  if (hit && !IsGroupSection(hit->section)) {
    LoadedContact c = LoadContact(book_, hit->section);
    if (!c.ok) {
      if (warn) warn("Cannot read " + book_.contactsFolder + hit->section);
      return;
    }
    existing = hit->section;
    rec = c.rec;
  } else {
    rec = RecordForAddress(r.text);
  }
  const std::string target = targetFolder();
  const bool saved = editContact && editContact(rec, [this, existing, target](const AddrRec& edited) {
                       SaveResult s = SaveContact(book_, edited, existing, existing.empty() ? target : book_.contactsFolder);
                       return s.saved ? std::string() : (s.refusal.empty() ? s.error : s.refusal);
                     });
  if (!saved) return;
  const AddrAliasRec* now = book_.map->Find(AddressKey(address));
  if (now) model_.MarkKnown(row, now->displayName);
  changed();
  FillRows();
}

}  // namespace px::contacts::ui
