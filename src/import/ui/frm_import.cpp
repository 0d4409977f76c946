#include "import/ui/frm_import.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace px::import::ui {

namespace {

const char kNotice[] =
    "Depending on the number of e-mail messages you will be importing and the speed of your computer, this "
    "operation could take from a few minutes to a significant amount of time. If you don't have the time for "
    "import right now, you can always do it later from the File menu or the Import page of the Options.";

}  // namespace

TfrmImport::TfrmImport(ImportModel& model, ImportContext context, QWidget* parent)
    : QDialog(parent), model_(model), context_(std::move(context)) {
  setObjectName(QStringLiteral("frmImport"));
  setWindowTitle(QStringLiteral("Import to Plumadex"));
  auto* v = new QVBoxLayout(this);

  choosing_ = new QWidget(this);
  auto* cv = new QVBoxLayout(choosing_);
  cv->setContentsMargins(0, 0, 0, 0);
  lblSelect = new QLabel(QStringLiteral("Select items you wish to import to Plumadex"), choosing_);
  lblSelect->setObjectName(QStringLiteral("lblSelect"));
  cv->addWidget(lblSelect);
  lstImport = new QListWidget(choosing_);
  lstImport->setObjectName(QStringLiteral("lstImport"));
  lstImport->setMinimumSize(560, 160);
  cv->addWidget(lstImport, 2);
  lblAccounts = new QLabel(QStringLiteral("Select e-mail accounts you would like to use with Plumadex"), choosing_);
  cv->addWidget(lblAccounts);
  lstAccounts = new QListWidget(choosing_);
  lstAccounts->setObjectName(QStringLiteral("lstAccounts"));
  cv->addWidget(lstAccounts, 1);
  lblInfo = new QLabel(QString::fromUtf8(kNotice), choosing_);
  lblInfo->setObjectName(QStringLiteral("lblInfo"));
  lblInfo->setWordWrap(true);
  cv->addWidget(lblInfo);
  auto* row = new QHBoxLayout;
  btnBrowse = new QPushButton(QStringLiteral("Browse..."), choosing_);
  btnBrowse->setObjectName(QStringLiteral("btnBrowse"));
  auto* menu = new QMenu(btnBrowse);
  for (const auto& [kind, label] : ImportModel::BrowseKinds()) {
    QAction* a = menu->addAction(QString::fromStdString(label));
    a->setObjectName(QString::fromStdString("actBrowse_" + kind));
    connect(a, &QAction::triggered, this, [this, k = kind] { Browse(k); });
  }
  btnBrowse->setMenu(menu);
  btnSelect = new QPushButton(QStringLiteral("Select All"), choosing_);
  btnSelect->setObjectName(QStringLiteral("btnSelect"));
  btnUnselect = new QPushButton(QStringLiteral("Unselect All"), choosing_);
  btnUnselect->setObjectName(QStringLiteral("btnUnselect"));
  row->addWidget(btnBrowse);
  row->addStretch(1);
  row->addWidget(btnSelect);
  row->addWidget(btnUnselect);
  cv->addLayout(row);
  v->addWidget(choosing_, 1);

  working_ = new QWidget(this);
  auto* wv = new QVBoxLayout(working_);
  wv->setContentsMargins(0, 0, 0, 0);
  lblWorking = new QLabel(working_);
  lblWorking->setObjectName(QStringLiteral("lblWorking"));
  lblWorking->setWordWrap(true);
  lblCount = new QLabel(QStringLiteral("0 messages processed"), working_);
  lblCount->setObjectName(QStringLiteral("lblCount"));
  pbDone = new QProgressBar(working_);
  pbDone->setObjectName(QStringLiteral("pbDone"));
  pbDone->setRange(0, 0);  // the number of messages is not known before they are read
  wv->addStretch(1);
  wv->addWidget(lblWorking);
  wv->addWidget(lblCount);
  wv->addWidget(pbDone);
  wv->addStretch(1);
  working_->hide();
  v->addWidget(working_, 1);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  btnImport = new QPushButton(QStringLiteral("Import"), this);
  btnImport->setObjectName(QStringLiteral("btnImport"));
  btnImport->setDefault(true);
  btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
  btnCancel->setObjectName(QStringLiteral("btnCancel"));
  buttons->addWidget(btnImport);
  buttons->addWidget(btnCancel);
  v->addLayout(buttons);

  choosePath = [this](const std::string&, bool folder, const QString& caption) {
    return folder ? QFileDialog::getExistingDirectory(this, caption, QDir::homePath())
                  : QFileDialog::getOpenFileName(this, caption, QDir::homePath());
  };

  connect(lstImport, &QListWidget::itemChanged, this, [this](QListWidgetItem* it) {
    if (filling_) return;
    model_.SetChecked(static_cast<size_t>(lstImport->row(it)), it->checkState() == Qt::Checked);
  });
  connect(lstAccounts, &QListWidget::itemChanged, this, [this](QListWidgetItem* it) {
    if (filling_) return;
    model_.SetAccountChecked(static_cast<size_t>(it->data(Qt::UserRole).toInt()),
                             static_cast<size_t>(it->data(Qt::UserRole + 1).toInt()), it->checkState() == Qt::Checked);
  });
  connect(btnSelect, &QPushButton::clicked, this, [this] { model_.SetAllChecked(true); });
  connect(btnUnselect, &QPushButton::clicked, this, [this] { model_.SetAllChecked(false); });
  connect(btnImport, &QPushButton::clicked, this, [this] { StartImport(); });
  connect(btnCancel, &QPushButton::clicked, this, [this] { reject(); });
  connect(&model_, &ImportModel::changed, this, [this] { Fill(); });
  connect(&model_, &ImportModel::progress, this, [this](const QString& w, quint64 c) { ShowProgress(w, c); });
  connect(&model_, &ImportModel::finished, this, [this] { accept(); });
  Fill();
  resize(660, 460);
}

void TfrmImport::Fill() {
  filling_ = true;
  const auto& items = model_.items();
  if (lstImport->count() != static_cast<int>(items.size())) {
    lstImport->clear();
    for (size_t i = 0; i < items.size(); ++i) lstImport->addItem(QString::fromStdString(items[i].text));
  }
  for (size_t i = 0; i < items.size(); ++i) {
    QListWidgetItem* it = lstImport->item(static_cast<int>(i));
    it->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsSelectable);
    it->setCheckState(items[i].checked ? Qt::Checked : Qt::Unchecked);
  }
  // The accounts of the ticked account items.
  lstAccounts->clear();
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i].kind != ImportItem::Kind::Accounts || !items[i].checked) continue;
    for (size_t a = 0; a < items[i].accounts.size(); ++a) {
      const ForeignAccount& f = items[i].accounts[a];
      auto* it = new QListWidgetItem(QString::fromStdString(f.address + "  (" + f.type + ", " + f.server + ")"), lstAccounts);
      it->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
      it->setCheckState(items[i].accountChecked[a] ? Qt::Checked : Qt::Unchecked);
      it->setData(Qt::UserRole, static_cast<int>(i));
      it->setData(Qt::UserRole + 1, static_cast<int>(a));
    }
  }
  lblAccounts->setVisible(lstAccounts->count() > 0);
  lstAccounts->setVisible(lstAccounts->count() > 0);
  if (items.empty())
    lblSelect->setText(QStringLiteral("No mail program was found in the usual places. Use \"Browse...\" to name "
                                      "a profile, a mailbox or an address book."));
  else
    lblSelect->setText(QStringLiteral("Select items you wish to import to Plumadex"));
  filling_ = false;
  UpdateButtons();
}

void TfrmImport::UpdateButtons() {
  btnImport->setEnabled(model_.CanImport());
  const bool idle = !model_.running();
  btnSelect->setEnabled(idle && !model_.items().empty());
  btnUnselect->setEnabled(idle && !model_.items().empty());
  btnBrowse->setEnabled(idle);
}

void TfrmImport::Browse(const std::string& kind) {
  QString caption;
  for (const auto& [k, label] : ImportModel::BrowseKinds())
    if (k == kind) caption = QString::fromStdString(label).remove(QStringLiteral("..."));
  const QString path = choosePath ? choosePath(kind, ImportModel::KindIsFolder(kind), caption) : QString();
  if (path.isEmpty()) return;
  std::string error;
  if (model_.AddSource(kind, path.toStdString(), &error) == 0)
    QMessageBox::information(this, windowTitle(), QString::fromStdString(error));
}

void TfrmImport::StartImport() {
  if (!model_.CanImport()) return;
  choosing_->hide();
  btnImport->hide();
  working_->show();
  lblCount->setText(QStringLiteral("0 messages processed"));
  model_.Start(context_);
}

void TfrmImport::ShowProgress(const QString& working, quint64 count) {
  lblWorking->setText(working);
  lblCount->setText(QString::number(count) + QStringLiteral(" messages processed"));
}

void TfrmImport::reject() {
  // While the import runs, Cancel stops it; the window closes once the running step has ended
  // (what was imported so far stays and is filed).
  if (model_.running()) {
    btnCancel->setEnabled(false);
    lblWorking->setText(QStringLiteral("Cancelling ..."));
    model_.Cancel();
    return;
  }
  QDialog::reject();
}

void TfrmImport::closeEvent(QCloseEvent* e) {
  if (model_.running()) {
    e->ignore();
    reject();
    return;
  }
  QDialog::closeEvent(e);
}

}  // namespace px::import::ui
