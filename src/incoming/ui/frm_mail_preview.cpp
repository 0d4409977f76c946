#include "incoming/ui/frm_mail_preview.h"

#include <QApplication>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QTabBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "incoming/blocked_senders.h"

namespace px::incoming {

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }
constexpr int kKeyRole = Qt::UserRole + 1;
}  // namespace

TfrmMailPreview::TfrmMailPreview(MailPreviewList& list, BlockedSenders& blocked, QWidget* parent)
    : QDialog(parent), list_(list), blocked_(blocked) {
  setWindowTitle("Plumadex Mail");
  setObjectName("frmMailPreview");
  setModal(true);
  auto* top = new QVBoxLayout(this);
  tabAccounts = new QTabBar;
  tabAccounts->setObjectName("tabAccounts");
  tabAccounts->setExpanding(false);
  top->addWidget(tabAccounts);
  lstMessages = new QTreeWidget;
  lstMessages->setObjectName("lstMessages");
  lstMessages->setRootIsDecorated(false);
  lstMessages->setUniformRowHeights(true);
  lstMessages->setHeaderLabels({"From", "Subject", "Received", "Size"});
  lstMessages->header()->setStretchLastSection(false);
  lstMessages->header()->setSectionResizeMode(1, QHeaderView::Stretch);
  lstMessages->setColumnWidth(0, 200);
  {
    // Wide enough for a whole date and time in the locale's short form.
    transport::TMailPreviewItem sample;
    sample.date = 46387.9583;  // 31 Dec 2026 23:00
    lstMessages->setColumnWidth(2, lstMessages->fontMetrics().horizontalAdvance(Q(PreviewReceived(sample))) + 24);
  }
  lstMessages->setColumnWidth(3, 60);
  top->addWidget(lstMessages, 1);
  auto* buttons = new QHBoxLayout;
  auto button = [&](const char* text, const char* name) {
    auto* b = new QPushButton(text);
    b->setObjectName(name);
    b->setAutoDefault(false);
    buttons->addWidget(b);
    return b;
  };
  btnSelectAll = button("Select All", "btnSelectAll");
  btnUnselectAll = button("Unselect All", "btnUnselectAll");
  buttons->addStretch();
  btnReceive = button("Receive Selected", "btnReceive");
  btnDelete = button("Delete Selected", "btnDelete");
  btnBlock = button("Block Selected", "btnBlock");
  buttons->addStretch();
  btnClose = button("Close", "btnClose");
  top->addLayout(buttons);
  resize(760, 440);

  confirmDelete = [this] {
    return QMessageBox::question(this, "Plumadex", "Delete selected messages from server?",
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
  };
  inform = [this](const std::string& text) {
    QString t = Q(text);
    t.replace('\r', '\n');
    QMessageBox::information(this, "Plumadex", t);
  };

  connect(tabAccounts, &QTabBar::currentChanged, this, [this] {
    if (!filling_) fillRows();
  });
  connect(lstMessages, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* it, int column) {
    if (filling_ || column != 0) return;
    filling_ = true;
    list_.SetTicked(shown_, it->data(0, kKeyRole).toString().toStdString(), it->checkState(0) == Qt::Checked);
    filling_ = false;
    updateButtons();
  });
  connect(btnSelectAll, &QPushButton::clicked, this, [this] { list_.TickAll(CurrentAccount(), true); });
  connect(btnUnselectAll, &QPushButton::clicked, this, [this] { list_.TickAll(CurrentAccount(), false); });
  connect(btnReceive, &QPushButton::clicked, this, [this] { act(false); });
  connect(btnDelete, &QPushButton::clicked, this, [this] {
    if (confirmDelete && confirmDelete()) act(true);
  });
  connect(btnBlock, &QPushButton::clicked, this, [this] {
    const auto forms = list_.BlockTicked(CurrentAccount(), blocked_);
    if (!forms.empty() && inform) inform(PreviewBlockedText(forms));
    if (list_.Empty()) close();
  });
  connect(btnClose, &QPushButton::clicked, this, &QDialog::close);

  // Every change of the list (a run's report, a tick, blocking) shows at once.
  list_.changed = [this] {
    if (filling_) return;
    fillTabs();
  };
  fillTabs();
}

TfrmMailPreview::~TfrmMailPreview() { list_.changed = nullptr; }

std::string TfrmMailPreview::CurrentAccount() const {
  const int i = tabAccounts->currentIndex();
  return i < 0 ? std::string() : tabAccounts->tabData(i).toString().toStdString();
}

void TfrmMailPreview::fillTabs() {
  const std::string was = CurrentAccount();
  filling_ = true;
  const auto accounts = list_.Accounts();
  while (tabAccounts->count() > 0) tabAccounts->removeTab(0);
  int select = 0;
  for (size_t i = 0; i < accounts.size(); ++i) {
    tabAccounts->addTab(Q("  " + accounts[i] + "  "));
    tabAccounts->setTabData(static_cast<int>(i), Q(accounts[i]));
    if (accounts[i] == was) select = static_cast<int>(i);
  }
  if (!accounts.empty()) tabAccounts->setCurrentIndex(select);
  filling_ = false;
  fillRows();
}

void TfrmMailPreview::fillRows() {
  filling_ = true;
  shown_ = CurrentAccount();
  const int top = lstMessages->indexOfTopLevelItem(lstMessages->itemAt(0, 0));
  lstMessages->clear();
  QList<QTreeWidgetItem*> items;
  for (const auto* row : list_.Rows(shown_)) {
    auto* it = new QTreeWidgetItem(QStringList{Q(PreviewSender(*row)), Q(PreviewSubject(*row)),
                                               Q(PreviewReceived(*row)), Q(PreviewSize(row->size))});
    it->setData(0, kKeyRole, Q(row->fileName));
    it->setFlags(it->flags() | Qt::ItemIsUserCheckable);
    it->setCheckState(0, row->ticked ? Qt::Checked : Qt::Unchecked);
    it->setTextAlignment(3, Qt::AlignRight | Qt::AlignVCenter);
    items.push_back(it);
  }
  lstMessages->addTopLevelItems(items);
  if (top > 0 && top < lstMessages->topLevelItemCount())
    lstMessages->scrollToItem(lstMessages->topLevelItem(top), QAbstractItemView::PositionAtTop);
  filling_ = false;
  updateButtons();
}

void TfrmMailPreview::updateButtons() {
  const bool any = !running_ && list_.AnyTicked(shown_);
  btnReceive->setEnabled(any);
  btnDelete->setEnabled(any);
  btnBlock->setEnabled(any);
  btnSelectAll->setEnabled(!running_);
  btnUnselectAll->setEnabled(!running_);
  tabAccounts->setEnabled(!running_);
}

void TfrmMailPreview::act(bool deleteOnly) {
  const std::string account = CurrentAccount();
  if (account.empty() || !list_.AnyTicked(account) || !startAction) return;
  running_ = true;
  updateButtons();
  QApplication::setOverrideCursor(Qt::BusyCursor);
  startAction(account, deleteOnly);
}

void TfrmMailPreview::RunEnded() {
  if (running_) QApplication::restoreOverrideCursor();
  running_ = false;
  updateButtons();
  if (list_.Empty()) close();
}

}  // namespace px::incoming
