#include "desk/ui/frm_accounts.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include <optional>
#include <thread>

#include "foundation/strings.h"

namespace px::desk {

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }
}  // namespace

TfrmAccounts::TfrmAccounts(AccountEditor& editor, AccountChecker checker,
                           std::function<void(const std::string&)> notify, QWidget* parent)
    : QDialog(parent), editor_(editor), checker_(std::move(checker)), notify_(std::move(notify)),
      alive_(std::make_shared<bool>(true)) {
  setObjectName(QStringLiteral("frmAccounts"));
  setWindowTitle(QStringLiteral("External e-mail configuration"));
  auto* outer = new QVBoxLayout(this);
  auto* row = new QHBoxLayout;
  outer->addLayout(row);

  auto* left = new QVBoxLayout;
  lstAccount = new QListWidget(this);
  lstAccount->setObjectName(QStringLiteral("lstAccount"));
  left->addWidget(lstAccount);
  auto* listButtons = new QHBoxLayout;
  btnAdd = new QPushButton(QStringLiteral("Add"), this);
  btnRemove = new QPushButton(QStringLiteral("Remove"), this);
  listButtons->addWidget(btnAdd);
  listButtons->addWidget(btnRemove);
  left->addLayout(listButtons);
  row->addLayout(left, 1);

  auto* form = new QFormLayout;
  edtName = new QLineEdit(this);
  edtName->setPlaceholderText(QStringLiteral("jo@example.org"));
  form->addRow(QStringLiteral("Account name:"), edtName);
  cbProtocol = new QComboBox(this);
  cbProtocol->setObjectName(QStringLiteral("cbProtocol"));
  cbProtocol->addItem(QStringLiteral("POP3"), false);
  cbProtocol->addItem(QStringLiteral("IMAP"), true);
  form->addRow(QStringLiteral("Incoming mail protocol:"), cbProtocol);
  edtServer = new QLineEdit(this);
  edtServer->setObjectName(QStringLiteral("edtServer"));
  lblServer = new QLabel(this);
  form->addRow(lblServer, edtServer);
  cbSecurity = new QComboBox(this);
  for (auto s : SecurityChoices()) cbSecurity->addItem(Q(SecurityCaption(s)), static_cast<int>(s));
  form->addRow(QStringLiteral("Security:"), cbSecurity);
  edtFolders = new QLineEdit(this);
  edtFolders->setObjectName(QStringLiteral("edtFolders"));
  edtFolders->setPlaceholderText(QStringLiteral("INBOX"));
  edtFolders->setToolTip(QStringLiteral("The IMAP folders to receive from, separated by commas"));
  form->addRow(QStringLiteral("IMAP folders:"), edtFolders);
  connect(cbProtocol, &QComboBox::currentIndexChanged, this, [this] { UpdateProtocol(); });
  UpdateProtocol();
  edtUser = new QLineEdit(this);
  form->addRow(QStringLiteral("User name:"), edtUser);
  edtPassword = new QLineEdit(this);
  edtPassword->setEchoMode(QLineEdit::Password);
  form->addRow(QStringLiteral("Password:"), edtPassword);
  chkSavePassword = new QCheckBox(QStringLiteral("Save password"), this);
  form->addRow(QString(), chkSavePassword);
  chkKeep = new QCheckBox(QStringLiteral("Leave messages on the server"), this);
  form->addRow(QString(), chkKeep);
  chkEnabled = new QCheckBox(QStringLiteral("Check this account for new mail"), this);
  form->addRow(QString(), chkEnabled);
  edtSmtpServer = new QLineEdit(this);
  edtSmtpServer->setObjectName(QStringLiteral("edtSmtpServer"));
  edtSmtpServer->setPlaceholderText(QStringLiteral("smtp.example.org:587 (empty: none)"));
  form->addRow(QStringLiteral("Outgoing mail server (SMTP):"), edtSmtpServer);
  cbSmtpSecurity = new QComboBox(this);
  for (auto s : SmtpSecurityChoices()) cbSmtpSecurity->addItem(Q(SmtpSecurityCaption(s)), static_cast<int>(s));
  form->addRow(QStringLiteral("Outgoing security:"), cbSmtpSecurity);
  chkSmtpSameLogin = new QCheckBox(QStringLiteral("Log in with the same user name and password"), this);
  form->addRow(QString(), chkSmtpSameLogin);
  edtSmtpUser = new QLineEdit(this);
  form->addRow(QStringLiteral("Outgoing user name:"), edtSmtpUser);
  edtSmtpPassword = new QLineEdit(this);
  edtSmtpPassword->setEchoMode(QLineEdit::Password);
  form->addRow(QStringLiteral("Outgoing password:"), edtSmtpPassword);
  connect(chkSmtpSameLogin, &QCheckBox::toggled, this, [this] { UpdateSmtpLogin(); });
  connect(edtSmtpServer, &QLineEdit::textChanged, this, [this] { UpdateSmtpLogin(); });
  auto* formButtons = new QHBoxLayout;
  btnTest = new QPushButton(QStringLiteral("Test"), this);
  btnSave = new QPushButton(QStringLiteral("Save"), this);
  formButtons->addWidget(btnTest);
  formButtons->addWidget(btnSave);
  form->addRow(QString(), formButtons);
  lblResult = new QLabel(this);
  lblResult->setWordWrap(true);
  lblResult->setMinimumHeight(lblResult->fontMetrics().lineSpacing() * 4);
  form->addRow(QString(), lblResult);
  row->addLayout(form, 2);

  auto* close = new QDialogButtonBox(QDialogButtonBox::Close, this);
  connect(close, &QDialogButtonBox::rejected, this, &QDialog::reject);
  outer->addWidget(close);

  connect(btnAdd, &QPushButton::clicked, this, &TfrmAccounts::btnAddClick);
  connect(btnRemove, &QPushButton::clicked, this, &TfrmAccounts::btnRemoveClick);
  connect(btnSave, &QPushButton::clicked, this, &TfrmAccounts::btnSaveClick);
  connect(btnTest, &QPushButton::clicked, this, &TfrmAccounts::btnTestClick);
  connect(lstAccount, &QListWidget::currentRowChanged, this, &TfrmAccounts::ShowAccount);
  connect(lstAccount, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
    const std::string name = S(item->data(Qt::UserRole).toString());
    if (!editor_.SetEnabled(name, item->checkState() == Qt::Checked) && notify_)
      notify_("Sorry, but this account needs a server and a user name before it can be checked.");
    if (name == editing_) chkEnabled->setChecked(item->checkState() == Qt::Checked);
  });
  reload({});
  resize(QSize(760, 560).expandedTo(sizeHint()));
}

TfrmAccounts::~TfrmAccounts() {
  *alive_ = false;
  if (checkStop_) checkStop_->Stop();
  if (check_.joinable()) check_.join();
}

AccountForm TfrmAccounts::Form() const {
  AccountForm f;
  f.name = S(edtName->text());
  f.server = S(edtServer->text());
  f.user = S(edtUser->text());
  f.password = S(edtPassword->text());
  f.savePassword = chkSavePassword->isChecked();
  f.keep = chkKeep->isChecked();
  f.enabled = chkEnabled->isChecked();
  f.security = static_cast<transport::pop3::Security>(cbSecurity->currentData().toInt());
  f.imap = cbProtocol->currentData().toBool();
  f.folders = S(edtFolders->text());
  f.smtpServer = S(edtSmtpServer->text());
  f.smtpSecurity = static_cast<transport::SmtpSecurity>(cbSmtpSecurity->currentData().toInt());
  f.smtpSameLogin = chkSmtpSameLogin->isChecked();
  f.smtpUser = S(edtSmtpUser->text());
  f.smtpPassword = S(edtSmtpPassword->text());
  return f;
}

void TfrmAccounts::SetForm(const AccountForm& f) {
  edtName->setText(Q(f.name));
  edtServer->setText(Q(f.server));
  edtUser->setText(Q(f.user));
  edtPassword->setText(Q(f.password));
  chkSavePassword->setChecked(f.savePassword);
  chkKeep->setChecked(f.keep);
  chkEnabled->setChecked(f.enabled);
  int idx = cbSecurity->findData(static_cast<int>(f.security));
  cbSecurity->setCurrentIndex(idx < 0 ? 0 : idx);  // the old automatic choice shows as TLS
  cbProtocol->setCurrentIndex(f.imap ? 1 : 0);
  edtFolders->setText(Q(f.folders));
  UpdateProtocol();
  edtSmtpServer->setText(Q(f.smtpServer));
  idx = cbSmtpSecurity->findData(static_cast<int>(f.smtpSecurity));
  cbSmtpSecurity->setCurrentIndex(idx < 0 ? 0 : idx);
  chkSmtpSameLogin->setChecked(f.smtpSameLogin);
  edtSmtpUser->setText(Q(f.smtpSameLogin ? std::string() : f.smtpUser));
  edtSmtpPassword->setText(Q(f.smtpSameLogin ? std::string() : f.smtpPassword));
  UpdateSmtpLogin();
  lblResult->clear();
}

void TfrmAccounts::UpdateProtocol() {
  const bool imap = cbProtocol->currentData().toBool();
  lblServer->setText(imap ? QStringLiteral("Incoming mail server (IMAP):") : QStringLiteral("Incoming mail server (POP3):"));
  edtServer->setPlaceholderText(imap ? QStringLiteral("imap.example.org:993") : QStringLiteral("pop.example.org:995"));
  for (int i = 0; i < cbSecurity->count(); ++i)
    cbSecurity->setItemText(i, Q(SecurityCaption(static_cast<transport::pop3::Security>(cbSecurity->itemData(i).toInt()), imap)));
  edtFolders->setEnabled(imap);
}

void TfrmAccounts::UpdateSmtpLogin() {
  const bool any = !edtSmtpServer->text().trimmed().isEmpty();
  cbSmtpSecurity->setEnabled(any);
  chkSmtpSameLogin->setEnabled(any);
  const bool own = any && !chkSmtpSameLogin->isChecked();
  edtSmtpUser->setEnabled(own);
  edtSmtpPassword->setEnabled(own);
}

void TfrmAccounts::reload(const std::string& select) {
  const QSignalBlocker block(lstAccount);
  lstAccount->clear();
  int selectRow = -1;
  for (const auto& a : editor_.Forms()) {
    auto* item = new QListWidgetItem(Q(a.name), lstAccount);
    item->setData(Qt::UserRole, Q(a.name));
    // An account that only sends has nothing to check for new mail.
    if (!Trim(a.server).empty()) {
      item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
      item->setCheckState(a.enabled ? Qt::Checked : Qt::Unchecked);
    }
    if (a.name == select) selectRow = lstAccount->count() - 1;
  }
  if (selectRow < 0 && lstAccount->count() > 0 && select.empty()) selectRow = 0;
  lstAccount->setCurrentRow(selectRow);
  if (selectRow >= 0)
    ShowAccount(selectRow);
  else
    btnAddClick();
}

void TfrmAccounts::ShowAccount(int row) {
  if (row < 0) return;
  const std::string name = S(lstAccount->item(row)->data(Qt::UserRole).toString());
  for (const auto& f : editor_.Forms())
    if (f.name == name) {
      editing_ = name;
      SetForm(f);
      return;
    }
}

void TfrmAccounts::btnAddClick() {
  editing_.clear();
  {
    const QSignalBlocker block(lstAccount);
    lstAccount->setCurrentRow(-1);
  }
  AccountForm f;
  f.savePassword = true;
  SetForm(f);
  edtName->setFocus();
}

void TfrmAccounts::btnRemoveClick() {
  if (editing_.empty()) return;
  editor_.Remove(editing_);
  reload({});
}

void TfrmAccounts::btnSaveClick() {
  const std::string problem = editor_.Save(Form(), editing_);
  if (!problem.empty()) {
    if (notify_) notify_(problem);
    return;
  }
  reload(AccountEditor::AccountOf(Form()).name);
}

void TfrmAccounts::btnTestClick() {
  if (testing_) return;
  const std::string problem = CheckConnectionFields(Form());
  if (!problem.empty()) {
    if (notify_) notify_(problem);
    return;
  }
  testing_ = true;
  btnTest->setEnabled(false);
  lblResult->setText(QStringLiteral("Checking this account..."));
  const AccountForm form = Form();
  std::optional<transport::ExternalAccount> account;
  if (!Trim(form.server).empty()) account = AccountEditor::AccountOf(form);
  const std::optional<transport::SmtpServerSetting> smtp = AccountEditor::SmtpOf(form);
  // The check may wait on the network for minutes: it runs on its own thread and reports back
  // to this window only while it still exists.
  QPointer<TfrmAccounts> self(this);
  if (check_.joinable()) check_.join();  // the last check has reported: its worker is done
  checkStop_ = std::make_shared<transport::StopSwitch>();
  check_ = std::thread([self, account, smtp, checker = checker_, smtpChecker = smtpChecker_, stop = checkStop_]() {
    auto line = [](const char* what, const transport::pop3::AccountCheck& r) {
      QString text = QLatin1String(what) + Q(r.message);
      if (!r.works && !r.detail.empty()) text += QStringLiteral(" (") + Q(r.detail) + QStringLiteral(")");
      return text;
    };
    QStringList lines;
    if (account) {
      const auto r = checker ? checker(*account, *stop) : transport::pop3::AccountCheck{};
      lines << (smtp ? line("Incoming: ", r) : line("", r));
    }
    if (smtp) {
      transport::pop3::AccountCheck r;
      if (smtpChecker)
        r = smtpChecker(*smtp, *stop);
      else
        r.message = "The outgoing server cannot be checked here.";
      lines << (account ? line("Outgoing: ", r) : line("", r));
    }
    QMetaObject::invokeMethod(qApp, [self, lines] {
      if (!self) return;
      self->testing_ = false;
      self->btnTest->setEnabled(true);
      self->lblResult->setText(lines.join(QStringLiteral("\n")));
    }, Qt::QueuedConnection);
  });
}

}  // namespace px::desk
